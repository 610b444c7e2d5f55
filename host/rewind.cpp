#include "host/rewind.h"

#include <algorithm>

#include "core/snapshot.h"

void RewindRing::push() {
  if (slots_.empty()) {
    // A snapshot's size changes only with the cartridge (its character RAM), which starts a new
    // ring; a little room above it keeps the reused buffers from growing.
    const size_t size = snapshot_save().size() + 256;
    slots_.resize(std::max<size_t>(2, std::min(REWIND_FRAMES, REWIND_MAX_BYTES / size)));
    for (std::vector<uint8_t>& s : slots_) s.reserve(size);
  }
  snapshot_save(slots_[next_]);
  next_ = (next_ + 1) % slots_.size();
  count_ = std::min(count_ + 1, slots_.size());
}

void RewindRing::drop_newest() {
  if (count_ == 0) return;
  next_ = (next_ + slots_.size() - 1) % slots_.size();
  --count_;
}

const std::vector<uint8_t>& RewindRing::newest() const {
  return slots_[(next_ + slots_.size() - 1) % slots_.size()];
}

size_t RewindRing::bytes() const {
  size_t total = 0;
  for (const std::vector<uint8_t>& s : slots_) total += s.capacity();
  return total;
}
