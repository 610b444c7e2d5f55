// The rewind ring: a snapshot of the machine at the start of every frame played, the newest last,
// as many as fit in REWIND_SECONDS and REWIND_MAX_BYTES. Its buffers are made once and reused, so
// keeping a frame costs one snapshot_save and no allocation.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t REWIND_SECONDS = 30;
constexpr size_t REWIND_FRAMES = REWIND_SECONDS * 60;
constexpr size_t REWIND_MAX_BYTES = size_t{64} << 20;

class RewindRing {
 public:
  // Keeps the machine's state as the newest entry, dropping the oldest when full.
  void push();
  // Forgets the newest entry (none when empty).
  void drop_newest();
  // The newest entry's snapshot; the ring must not be empty.
  const std::vector<uint8_t>& newest() const;
  size_t size() const { return count_; }
  size_t capacity() const { return slots_.size(); }
  // Forgets every entry and the buffers' size: for another cartridge.
  void clear() {
    slots_.clear();
    next_ = count_ = 0;
  }
  // Bytes held by the snapshots' buffers.
  size_t bytes() const;

 private:
  std::vector<std::vector<uint8_t>> slots_;  // sized at the first push, from the snapshot's size
  size_t next_ = 0;                          // where the next push goes
  size_t count_ = 0;
};
