// The cartridge bank map: which 8 KiB of program ROM the CPU sees in each slot of its address
// space, which 1 KiB of character memory and nametable RAM the PPU sees, and the PPU memory map.
#pragma once
#include <cstdint>

struct BankMap {
  uint8_t* prg_slots[8] = {};        // CPU $0000-$FFFF in 8 KiB steps (slots 2 and 4-7 are read)
  uint8_t* chr_slots[8] = {};        // PPU $0000-$1FFF in 1 KiB steps
  uint8_t* nametable_slots[4] = {};  // PPU $2000, $2400, $2800, $2C00
  uint8_t* cartridge_ram_slot = {};  // CPU $6000-$7FFF: the bank of cartridge RAM shown there
  uint8_t nametable_ram[4096] = {};  // four 1 KiB pages
  uint8_t palette_ram[32] = {};      // PPU palette
  // Nametables a board builds from its registers rather than keeps in memory (the MMC5's fill
  // mode, and the zeros its ExRAM reads as while the CPU owns it): rebuilt with the slots.
  uint8_t board_nametables[2][1024] = {};
  uint8_t rom_nametables = 0;        // bit k: nametable k shows character ROM (set_nametable_chr_page)
};
extern BankMap banks;

// Maps `size` bytes of program ROM, bank `index` counted in units of `size` (-1: the last), at
// CPU address `base`. Indexes past the end wrap around modulo the ROM's length.
void set_prg_pages(uint32_t size, uint32_t base, uint32_t index);
// The same for character memory at PPU address `base`.
void set_chr_pages(uint32_t size, uint32_t base, uint32_t index);
// The same for the character RAM that some boards carry beside character ROM (cartridge.chr_ram).
void set_chr_ram_pages(uint32_t size, uint32_t base, uint32_t index);
// Points the four nametables at pages of nametable RAM (page numbers wrap at 4).
void set_nametable_pages(int p0, int p1, int p2, int p3);
// Shows 8 KiB bank `bank` of cartridge RAM at $6000 (wrapping at the cartridge's RAM size).
void set_cartridge_ram_bank(uint32_t bank);
// Boards that can show character memory as a nametable and nametable RAM as patterns (the Namco
// 163): nametable `slot` (0-3) shows 1 KiB of character memory, bank `index` (wrapping), and the
// 1 KiB pattern slot at PPU address `base` shows nametable RAM page `page` (wrapping at 4).
void set_nametable_chr_page(int slot, uint32_t index);
void set_chr_nametable_page(uint32_t base, int page);

// Power-on arrangement: the first 8 KiB of character memory, the first 16 KiB of program ROM at
// $8000 and the last at $C000, the first bank of cartridge RAM at $6000, and the nametable
// arrangement that the header states.
void mapper_power_on();

// The byte that a PPU address names: pattern memory, a nametable or the palette.
inline uint8_t* vram_map(uint32_t a) {
  a &= 0x3FFF;
  if (a >= 0x3F00) return banks.palette_ram + ((a & 3) ? (a & 0x1F) : (a & 0x0F));
  if (a < 0x2000) return banks.chr_slots[(a >> 10) & 7] + (a & 0x3FF);
  return banks.nametable_slots[(a >> 10) & 3] + (a & 0x3FF);
}
// Whether a PPUDATA write at PPU address `a` stores its byte: everywhere but in a nametable that
// shows character ROM, which the write leaves as it is. (Pattern memory takes the write whatever it
// is, as it always has here.)
inline bool vram_writable(uint32_t a) {
  a &= 0x3FFF;
  return a < 0x2000 || a >= 0x3F00 || !((banks.rom_nametables >> ((a >> 10) & 3)) & 1);
}
// The same for an address known to lie in the pattern tables ($0000-$1FFF) or in the nametables
// ($2000-$2FFF and its mirrors below $3F00): the PPU's tile fetches, which skip the tests.
inline uint8_t pattern_byte(uint32_t a) { return banks.chr_slots[(a >> 10) & 7][a & 0x3FF]; }
inline uint8_t nametable_byte(uint32_t a) { return banks.nametable_slots[(a >> 10) & 3][a & 0x3FF]; }
