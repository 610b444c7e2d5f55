// Addressing modes as bus-cycle patterns. Each mode computes its operand address with exactly the
// reads and idle cycles the 6502 makes, which depend on the access kind: reads skip the wrong-page
// read when no page is crossed, writes and read-modify-writes always make it.
#pragma once
#include <cstdint>

#include "cpu/bus_access.h"
#include "cpu/cpu.h"

enum class Mode { Zp, ZpX, ZpY, Abs, AbsX, AbsY, IndX, IndY };
enum class Access { Read, Write, Modify, None };  // None: the NOPs that leave their operand unread

// The indexed address without the carry into the high byte.
inline uint16_t same_page_address(uint16_t base, uint16_t effective) {
  return static_cast<uint16_t>((base & 0xFF00) | (effective & 0x00FF));
}

// The read a 6502 makes in the wrong page while it fixes up the high byte; only on a page cross.
inline void page_cross_dummy_read(uint16_t base, uint16_t effective) {
  const uint16_t wrong = same_page_address(base, effective);
  if (wrong != effective) (void)cpu_read(wrong);
}

inline uint16_t fetch_word() {
  const uint8_t lo = operand_fetch();
  const uint8_t hi = operand_fetch();
  return static_cast<uint16_t>(lo | (hi << 8));
}

template <Mode M>
inline uint8_t index_register() {
  return (M == Mode::ZpY || M == Mode::AbsY || M == Mode::IndY) ? cpu.Y : cpu.X;
}

// The fix-up cycle of an indexed access.
template <Access K>
inline void index_fixup(uint16_t base, uint16_t effective) {
  if constexpr (K == Access::Read || K == Access::None) page_cross_dummy_read(base, effective);
  else (void)cpu_read(same_page_address(base, effective));
}

// Runs the cycles that lead to the operand address and returns it.
template <Mode M, Access K>
inline uint16_t operand_address() {
  if constexpr (M == Mode::Zp) {
    return operand_fetch();
  } else if constexpr (M == Mode::ZpX || M == Mode::ZpY) {
    const uint8_t zp = operand_fetch();
    system_tick();
    return static_cast<uint8_t>(zp + index_register<M>());
  } else if constexpr (M == Mode::Abs) {
    return fetch_word();
  } else if constexpr (M == Mode::AbsX || M == Mode::AbsY) {
    const uint16_t base = fetch_word();
    const uint16_t effective = static_cast<uint16_t>(base + index_register<M>());
    index_fixup<K>(base, effective);
    return effective;
  } else if constexpr (M == Mode::IndX) {
    const uint8_t zp = operand_fetch();
    system_tick();
    const uint8_t pointer = static_cast<uint8_t>(zp + cpu.X);
    const uint8_t lo = cpu_read(pointer);
    const uint8_t hi = cpu_read(static_cast<uint8_t>(pointer + 1));
    return static_cast<uint16_t>(lo | (hi << 8));
  } else {  // IndY
    const uint8_t zp = operand_fetch();
    const uint8_t lo = cpu_read(zp);
    const uint8_t hi = cpu_read(static_cast<uint8_t>(zp + 1));
    const uint16_t base = static_cast<uint16_t>(lo | (hi << 8));
    const uint16_t effective = static_cast<uint16_t>(base + cpu.Y);
    index_fixup<K>(base, effective);
    return effective;
  }
}
