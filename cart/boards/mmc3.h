// The MMC3's register record and its watch on the PPU's address bus, inline because the PPU calls it
// for every fetch it makes while an MMC3 board is in.
#pragma once
#include <cstdint>

#include "cart/board.h"

struct Mmc3Registers {
  uint64_t a12_low_since;     // dot time at which PPU A12 last went low
  uint8_t bank_select;        // bits 0-2: the register $8001 writes; 5: MMC6 RAM enable; 6: PRG
                              // mode; 7: CHR A12 inversion
  uint8_t banks[8];           // R0-R7
  uint8_t mirroring;          // bit 0: 0 vertical, 1 horizontal
  uint8_t mirroring_written;  // until the first $A000 write the header's arrangement stands
  uint8_t ram_protect;        // $A001: MMC3 bit 7 enable, bit 6 write protect; MMC6 HhLl xxxx
  uint8_t irq_latch;
  uint8_t irq_counter;
  uint8_t irq_reload;         // the next clock loads the latch
  uint8_t irq_enabled;
  uint8_t a12;                // PPU A12 as last seen, 0 or 1
};
inline Mmc3Registers& mmc3_registers() { return board_registers<Mmc3Registers>(); }

// A rise of A12 counts once A12 has been low for this many dots (see cart/boards/mmc3.cpp).
constexpr uint64_t MMC3_A12_LOW_DOTS = 10;

// One clock of the IRQ counter, at dot time `time`.
void mmc3_clock_counter(uint64_t time);

// `address` on the PPU's bus from dot time `time` on: only the changes of A12 matter.
inline void mmc3_ppu_bus(uint16_t address, uint64_t time) {
  Mmc3Registers& m = mmc3_registers();
  const uint8_t level = (address >> 12) & 1;
  if (level == m.a12) [[likely]] return;
  m.a12 = level;
  if (!level) {
    m.a12_low_since = time;
    return;
  }
  if (time < m.a12_low_since || time - m.a12_low_since >= MMC3_A12_LOW_DOTS) mmc3_clock_counter(time);
}
