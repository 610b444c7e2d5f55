// A cartridge sound chip's closed form (what the APU's quiet runs pay) held to stepping it one CPU
// cycle at a time: the chip is stepped `cycles` times, keeping the level and the record after each
// cycle; then, from the same record, walked in the APU's way (the quiet stretch paid at once, then
// one stepped cycle); then jumped over the whole stretch at once. Levels and records must agree.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "apu/apu.h"

namespace sound_chip_walk {

// The chip's whole state as bytes, and putting such bytes back.
using Record = std::vector<uint8_t> (*)();
using Restore = void (*)(const std::vector<uint8_t>&);

struct Walk {
  std::vector<int32_t> levels;  // the level before the first cycle, then after each
  int32_t events = 0;           // cycles the walk stepped (where the quiet stretches ended)
  // Changes of level between cycles.
  int32_t changes() const {
    int32_t n = 0;
    for (size_t c = 1; c < levels.size(); ++c) n += levels[c] != levels[c - 1];
    return n;
  }
};

inline Walk walk(const CartridgeSound& chip, Record record, Restore restore, int32_t cycles) {
  Walk w;
  const std::vector<uint8_t> start = record();
  const size_t size = start.size();
  std::vector<uint8_t> records(start);  // the record after each cycle, one after the other
  records.reserve(size * (static_cast<size_t>(cycles) + 1));
  auto recorded = [&](int32_t cycle) {
    return std::vector<uint8_t>(records.begin() + static_cast<std::ptrdiff_t>(size * static_cast<size_t>(cycle)),
                                records.begin() + static_cast<std::ptrdiff_t>(size * static_cast<size_t>(cycle + 1)));
  };
  w.levels.push_back(chip.level());
  for (int32_t c = 0; c < cycles; ++c) {
    w.levels.push_back(chip.tick());
    const std::vector<uint8_t> now = record();
    records.insert(records.end(), now.begin(), now.end());
  }
  restore(start);
  int32_t pos = 0;
  while (pos < cycles) {
    const int32_t quiet = std::min(chip.quiet_cycles(), cycles - pos);
    EXPECT_GE(quiet, 0) << "cycle " << pos;
    for (int32_t c = 1; c <= quiet; ++c) {
      if (w.levels[pos + c] != w.levels[pos]) {
        ADD_FAILURE() << "the level changes in cycle " << pos + c << " inside a quiet stretch from " << pos;
        return w;
      }
    }
    chip.advance(quiet);
    pos += quiet;
    if (record() != recorded(pos)) {
      ADD_FAILURE() << "the closed form's record differs from the stepped one after cycle " << pos;
      return w;
    }
    if (pos == cycles) break;
    if (chip.tick() != w.levels[pos + 1]) {
      ADD_FAILURE() << "the level of cycle " << pos + 1 << " differs";
      return w;
    }
    ++pos;
    ++w.events;
  }
  restore(start);
  chip.advance(cycles);
  EXPECT_TRUE(record() == recorded(cycles)) << "one jump over all " << cycles << " cycles";
  return w;
}

}  // namespace sound_chip_walk
