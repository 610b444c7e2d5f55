// FNV-1a, 64 bits: the hash of the frame logs and the checksum of snapshots.
#pragma once
#include <cstddef>
#include <cstdint>

struct Fnv1a {
  static constexpr uint64_t BASIS = 0xcbf29ce484222325ull, PRIME = 0x100000001b3ull;
  uint64_t hash = BASIS;
  void add(uint8_t byte) { hash = (hash ^ byte) * PRIME; }
  void add(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) add(bytes[i]);
  }
  void add16(int16_t v) {
    add(static_cast<uint8_t>(v));
    add(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
  }
  void add32(uint32_t v) {
    for (int k = 0; k < 4; ++k) add(static_cast<uint8_t>(v >> (8 * k)));
  }
};
