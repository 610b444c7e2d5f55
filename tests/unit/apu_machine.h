// Helpers of the APU tests: a fresh APU and sample stream, and a small powered machine (32 KiB of
// program ROM filled by the test, CPU, bus and PPU) for the cases that need the CPU and the bus.
#pragma once
#include <cstdint>
#include <vector>

#include "apu/apu.h"
#include "cart/cartridge.h"
#include "tests/unit/test_machine.h"

namespace apu_test {

inline void reset_apu() {
  apu = Apu{};
  irq_line = false;
  audio_sink = nullptr;
  sample_stream.current_buffer = 0;
  sample_stream.sample_pos = 0;
  apu_rebuild_derived();
}

// A generator called by the test itself rather than by apu_tick: a DMC fetch's bus cycles inside it
// may run quiet, so their countdowns are paid before the test looks, and the next event is found
// again from the generator's new state.
template <typename Generator>
int32_t generator_cycle(Generator tick) {
  const int32_t level = tick();
  apu_sync();
  apu_rebuild_derived();
  return level;
}

// Program ROM at $8000-$FFFF: `fill` everywhere, `program` from `origin`, every vector at `origin`.
inline void power_on_machine(const std::vector<uint8_t>& program, uint16_t origin = 0x8000,
                             uint8_t fill = 0xEA /* NOP */) {
  cartridge = Cartridge{};
  cartridge.prg_rom.assign(2 * PRG_UNIT, fill);
  cartridge.prg_units = 2;
  cartridge.chr_units = 1;
  for (size_t i = 0; i < program.size(); ++i) cartridge.prg_rom[origin - 0x8000 + i] = program[i];
  for (uint16_t vector = 0x7FFA; vector < 0x8000; vector += 2) {
    cartridge.prg_rom[vector] = static_cast<uint8_t>(origin);
    cartridge.prg_rom[vector + 1u] = static_cast<uint8_t>(origin >> 8);
  }
  test_machine::power_on_cartridge();
  audio_sink = nullptr;
  cpu = Cpu{};
  cpu.PC = origin;
  cpu.P = FLAG_I;
  cpu.S = 0xFD;
}

// The PPU starts in the vertical blank (scanline 241); the tests that count its dots stay within
// those 20 lines.
using test_machine::ppu_position;

}  // namespace apu_test
