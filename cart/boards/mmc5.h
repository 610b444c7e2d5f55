// The MMC5's side of the PPU: it supplies every byte rendering reads (nametables, attributes and
// patterns), since its fill mode, extended attributes, vertical split and separate sprite and
// background pattern banks all replace what the PPU would read, and it counts lines from the
// fetches it hears. The PPU calls these only while an MMC5 board is in (PpuWatch::MMC5).
#pragma once
#include <cstdint>

// A nametable or attribute fetch of rendering at `address` ($2000-$2FFF), made at dot `dot` of the
// current line: the byte the PPU reads.
uint8_t mmc5_nametable_fetch(uint16_t address, int32_t dot);
// A pattern fetch at `address` ($0000-$1FFF) at dot `dot`: sprite rows at dots 256-319, background
// tiles elsewhere.
uint8_t mmc5_pattern_fetch(uint16_t address, int32_t dot);
// A CPU write to PPUCTRL (index 0) or PPUMASK (1) at $2000 or $2001, which the chip hears on the
// bus (the mirrors it does not decode).
void mmc5_ppu_register_write(uint16_t index, uint8_t value);
// The fetches stopped at the end of the visible lines (the chip sees the reads stop).
void mmc5_rendering_stopped();
