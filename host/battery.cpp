// The battery save's two halves: noticing changes on the emulation thread, writing on its own thread.
#include "host/battery.h"

#include <vector>

#include "core/machine.h"
#include "host/save_files.h"

BatterySave::~BatterySave() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

void BatterySave::open(const std::string& path, bool write_back) {
  close();
  const size_t size = battery_image_size();
  if (size == 0) return;
  std::vector<uint8_t> saved;
  std::string error;
  switch (read_file(path, size, true, saved, error)) {
    case ReadResult::ok: battery_image_load(saved.data()); break;
    case ReadResult::missing: break;
    case ReadResult::refused:
      report_(error + "; the game starts with empty RAM and this file is left as it is");
      return;
  }
  if (!write_back) return;
  {
    std::lock_guard lock(mutex_);
    path_ = path;
    pending_.resize(size);
    last_write_ok_ = true;  // a new file: its first failure is said
  }
  if (!writer_.joinable()) writer_ = std::thread(&BatterySave::writer_loop, this);
  cartridge_ram_changed = false;
  unsaved_ = false;
  active_ = true;
}

void BatterySave::close() {
  active_ = false;
  unsaved_ = false;
}

void BatterySave::frame_end(uint64_t frame) {
  if (!active_) return;
  if (cartridge_ram_changed) {
    cartridge_ram_changed = false;
    if (!unsaved_) first_unsaved_frame_ = frame;
    unsaved_ = true;
  }
  if (unsaved_ && frame - first_unsaved_frame_ >= BATTERY_SAVE_DELAY_FRAMES) hand_over();
}

void BatterySave::hand_over() {
  unsaved_ = false;
  {
    std::lock_guard lock(mutex_);
    battery_image_save(pending_.data());
    has_pending_ = true;
  }
  wake_.notify_all();
}

bool BatterySave::flush() {
  if (!active_) return true;
  if (unsaved_ || cartridge_ram_changed) {
    cartridge_ram_changed = false;
    hand_over();
  }
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return !has_pending_ && !writing_; });
  return last_write_ok_;
}

void BatterySave::writer_loop() {
  std::vector<uint8_t> copy;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return has_pending_ || stop_; });
    if (!has_pending_) return;
    copy = pending_;
    const std::string path = path_;
    has_pending_ = false;
    writing_ = true;
    const bool failure_said = !last_write_ok_;
    lock.unlock();
    std::string error;
    const bool ok = write_file_atomically(path, copy.data(), copy.size(), error);
    // A failure is said once, until a write succeeds again (a full disk fails every second).
    if (!ok && !failure_said) report_("battery save not written: " + error);
    lock.lock();
    writing_ = false;
    last_write_ok_ = ok;
    wake_.notify_all();
  }
}
