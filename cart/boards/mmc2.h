// The MMC2's and MMC4's latches as the PPU's pattern reads switch them: inline, because the PPU
// calls it after every pattern fetch it makes while one of these boards is in.
#pragma once
#include <cstdint>

// A read of the high plane of tile $FD or $FE in either pattern table ($0FD8-$0FDF, $0FE8-$0FEF,
// $1FD8-$1FDF, $1FE8-$1FEF) may switch a latch; the chip tells which exactly.
void mmc2_latch_read(uint16_t address);

// `address` ($0000-$1FFF) has just been read by the PPU. The test lets through the high planes of
// tiles $FC-$FF only (bits 11-6 and 3 set), one pattern read in 64 of an ordinary picture.
inline void mmc2_ppu_read(uint16_t address) {
  if ((address & 0x0FC8) != 0x0FC8) [[likely]] return;
  mmc2_latch_read(address);
}
