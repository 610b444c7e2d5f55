// Battery-backed cartridge RAM kept in a file between runs. The emulation thread never waits on the
// disk: once per frame it notices whether the game has written its RAM, and about one second (60
// frames) after the first change not yet saved it hands a copy to a writer thread, which replaces
// the file atomically.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

constexpr uint64_t BATTERY_SAVE_DELAY_FRAMES = 60;

class BatterySave {
 public:
  // Receives a one-line message for the player (a failed write, a refused file).
  using Report = std::function<void(const std::string&)>;
  explicit BatterySave(Report report) : report_(std::move(report)) {}
  ~BatterySave();

  // Takes over what the loaded cartridge keeps (battery_image_size: the battery-backed part of its
  // RAM, 8192 bytes for iNES 1.0, or its board's EEPROM or flash) for `path`, right after power-on,
  // when it keeps anything (otherwise nothing is read or written): when the file exists and is
  // exactly that size it is loaded. Any other file there is left untouched and reported, the game
  // keeps its empty memory, and nothing is written for this run.
  // With `write_back` false the file is only read: this run keeps the RAM to itself.
  void open(const std::string& path, bool write_back = true);
  // Stops keeping the RAM (another cartridge, or one without a battery); writes nothing.
  void close();
  bool active() const { return active_; }

  // On the emulation thread after every frame.
  void frame_end(uint64_t frame);
  // Hands over what changed and waits until the writer has written it: at exit and before the
  // cartridge changes. Returns false when the last write failed.
  bool flush();

 private:
  void hand_over();
  void writer_loop();

  Report report_;
  bool active_ = false;
  bool unsaved_ = false;        // RAM changed since the last hand-over
  uint64_t first_unsaved_frame_ = 0;

  std::mutex mutex_;            // guards everything below, between the emulation and writer threads
  std::condition_variable wake_;
  std::string path_;
  std::vector<uint8_t> pending_;  // the file's next contents
  bool has_pending_ = false;
  bool writing_ = false;
  bool stop_ = false;
  bool last_write_ok_ = true;
  std::thread writer_;
};
