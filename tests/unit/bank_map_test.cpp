// The bank map: page mapping in units of the bank size with wrap-around, the power-on arrangement
// (program, character and nametable slots from the header), the PPU memory map with its palette
// and nametable mirrors, mapper cases that our cartridges (roms/mapper*.s) do not reach (images of
// 256 KiB, a single character bank), and the bank map of any register record a save state can hold.
#include <gtest/gtest.h>

#include <algorithm>

#include "apu/apu.h"
#include "core/snapshot.h"
#include "core_test_machine.h"

namespace {

using namespace core_test;

const uint8_t* prg(size_t offset) { return cartridge.prg_rom.data() + offset; }
const uint8_t* chr(size_t offset) { return cartridge.chr_rom.data() + offset; }
const uint8_t* page(int n) { return banks.nametable_ram + 0x400 * n; }

TEST(BankMap, PowerOnShowsFirstAndLastProgramUnitsAndTheFirstCharacterBank) {
  power_on(1, 1, 0);
  const uint8_t* one_unit[8] = {prg(0), prg(0x2000), prg(0), prg(0x2000),
                                prg(0), prg(0x2000), prg(0), prg(0x2000)};
  for (int s = 0; s < 8; ++s) EXPECT_EQ(banks.prg_slots[s], one_unit[s]) << s;
  power_on(8, 2, 0);
  const uint8_t* eight_units[8] = {prg(0), prg(0x2000), prg(0),       prg(0x2000),
                                   prg(0), prg(0x2000), prg(0x1C000), prg(0x1E000)};
  for (int s = 0; s < 8; ++s) EXPECT_EQ(banks.prg_slots[s], eight_units[s]) << s;
  for (int s = 0; s < 8; ++s) EXPECT_EQ(banks.chr_slots[s], chr(0x400 * s)) << s;
}

TEST(BankMap, PowerOnNametablesFollowTheHeader) {
  struct Case {
    uint8_t ctrlbyte;
    int pages[4];
  };
  const Case cases[] = {{0x00, {0, 0, 1, 1}}, {0x01, {0, 1, 0, 1}}, {0x08, {0, 1, 2, 3}},
                        {0x09, {0, 1, 2, 3}}, {0xF6, {0, 0, 1, 1}}};
  for (const Case& c : cases) {
    power_on(1, 1, 0, c.ctrlbyte);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(banks.nametable_slots[k], page(c.pages[k])) << int{c.ctrlbyte} << " " << k;
  }
}

TEST(BankMap, BankIndexesCountInUnitsOfTheSizeAndWrap) {
  power_on(8, 4, 0);                   // 128 KiB program, 32 KiB character memory
  set_prg_pages(16384, 0x8000, 3);
  EXPECT_EQ(banks.prg_slots[4], prg(3 * 0x4000));
  EXPECT_EQ(banks.prg_slots[5], prg(3 * 0x4000 + 0x2000));
  set_prg_pages(16384, 0x8000, 9);     // 9 modulo 8
  EXPECT_EQ(banks.prg_slots[4], prg(0x4000));
  set_prg_pages(32768, 0x8000, ~0u);   // -1: the last 32 KiB
  EXPECT_EQ(banks.prg_slots[4], prg(0x18000));
  EXPECT_EQ(banks.prg_slots[7], prg(0x1E000));
  set_chr_pages(4096, 0x1000, 5);
  for (int s = 4; s < 8; ++s) EXPECT_EQ(banks.chr_slots[s], chr(5 * 0x1000 + 0x400 * (s - 4))) << s;
  set_chr_pages(8192, 0x0000, 6);      // 6 modulo 4
  EXPECT_EQ(banks.chr_slots[0], chr(2 * 0x2000));

  power_on(1, 1, 0);                   // 16 KiB mapped as 32 KiB repeats within the range
  set_prg_pages(32768, 0x8000, 1);
  const uint8_t* repeated[4] = {prg(0), prg(0x2000), prg(0), prg(0x2000)};
  for (int s = 4; s < 8; ++s) EXPECT_EQ(banks.prg_slots[s], repeated[s - 4]) << s;
}

TEST(VramMap, PaletteAndNametableMirrors) {
  power_on(1, 1, 0, 0x01);  // vertical
  EXPECT_EQ(vram_map(0x3F10), vram_map(0x3F00));
  EXPECT_EQ(vram_map(0x3F1C), vram_map(0x3F0C));
  EXPECT_NE(vram_map(0x3F11), vram_map(0x3F01));
  EXPECT_EQ(vram_map(0x3F11), banks.palette_ram + 0x11);
  EXPECT_EQ(vram_map(0x3FE5), banks.palette_ram + 0x05);  // 32 bytes repeat up to $3FFF
  EXPECT_EQ(vram_map(0x7F05), vram_map(0x3F05));
  EXPECT_EQ(vram_map(0x2C05), vram_map(0x2405));
  EXPECT_EQ(vram_map(0x2C05), page(1) + 5);
  EXPECT_EQ(vram_map(0x3005), vram_map(0x2005));
  EXPECT_EQ(vram_map(0x3EFF), page(1) + 0x2FF);
  EXPECT_EQ(vram_map(0x1234), chr(0x1234));
}

TEST(Mappers, Mapper7SelectsAll32KiBAndOneNametablePage) {
  power_on(16, 1, 7);  // 256 KiB: eight 32 KiB banks
  cpu_write(0xC000, 0x15);
  for (int s = 4; s < 8; ++s) EXPECT_EQ(banks.prg_slots[s], prg(5 * 0x8000 + 0x2000 * (s - 4))) << s;
  for (int k = 0; k < 4; ++k) EXPECT_EQ(banks.nametable_slots[k], page(1)) << k;
  cpu_write(0x8000, 0x0F);  // bank 7 (bits 0-2), page 0
  EXPECT_EQ(banks.prg_slots[4], prg(7 * 0x8000));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(banks.nametable_slots[k], page(0)) << k;
}

TEST(Mappers, Mapper3WithOneCharacterBankAlwaysShowsIt) {
  power_on(2, 1, 3);
  for (uint8_t bank = 0; bank < 4; ++bank) {
    cpu_write(0x8000 + bank, bank);  // whatever the ROM byte lets through
    for (int s = 0; s < 8; ++s) EXPECT_EQ(banks.chr_slots[s], chr(0x400 * s));
  }
}

// The discrete boards, the bank registers of larger boards, and the Namco 175/340 (with the writes
// that tell a 210 without a submapper what it is): each row powers a board on, makes its writes
// (the program ROM byte under a latch's address set first, $FF to let the value through or less
// to show a bus conflict) and checks the program ROM seen at $8000 and $C000, the character memory
// at $0000 and $1000, and the nametable pages (-1: the header's arrangement, vertical here).
TEST(Mappers, DiscreteBoardsMapWhatTheirLatchesSay) {
  struct Write {
    uint16_t address;
    uint8_t value, rom_byte;
  };
  struct Row {
    const char* what;
    uint32_t mapper_number;
    uint8_t submapper, prg_units, chr_units;
    std::vector<Write> writes;
    size_t prg_8000, prg_c000, chr_0000, chr_1000;
    int page;  // the one page all four nametables show, 2 for horizontal, 3 for vertical
  };
  constexpr size_t K = 1024;
  const Row rows[] = {
      {"GxROM", 66, 0, 8, 4, {{0x8000, 0x21, 0xFF}}, 64 * K, 80 * K, 8 * K, 12 * K, 3},
      {"GxROM, bus conflict", 66, 0, 8, 4, {{0x8123, 0x33, 0x0F}}, 0, 16 * K, 24 * K, 28 * K, 3},
      {"Color Dreams", 11, 0, 8, 16, {{0x9000, 0x52, 0xFF}}, 64 * K, 80 * K, 40 * K, 44 * K, 3},
      {"FCG-1/2 (16.4)", 16, 4, 16, 16, {{0x7FF8, 0x13, 0}, {0x6000, 9, 0}, {0x6004, 0x81, 0}, {0x6009, 1, 0}},
       48 * K, 240 * K, 9 * K, K, 2},
      {"FCG-1/2 ignores $8000-$FFFF", 16, 4, 16, 16, {{0x8008, 3, 0}, {0x8000, 9, 0}, {0x8009, 3, 0}}, 0, 240 * K, 0, 0, 3},
      {"LZ93D50 (16.5)", 16, 5, 16, 16, {{0xFFF8, 0x15, 0}, {0x8000, 0x7F, 0}, {0xC004, 3, 0}, {0x8009, 3, 0}},
       80 * K, 240 * K, 127 * K, 3 * K, 1},
      {"LZ93D50 ignores $6000-$7FFF", 16, 5, 16, 16, {{0x6008, 3, 0}, {0x6000, 9, 0}, {0x6009, 2, 0}}, 0, 240 * K, 0, 0, 3},
      {"16 without a submapper: both ranges", 16, 0, 16, 16, {{0x6008, 3, 0}, {0x8004, 6, 0}, {0x6009, 2, 0}},
       48 * K, 240 * K, 0, 6 * K, 0},
      {"SS 88006 (18)", 18, 0, 16, 16,
       {{0x8000, 0x15, 0}, {0x8001, 0x31, 0}, {0x9FFC, 3, 0}, {0xAFF0, 0x24, 0}, {0xA001, 1, 0}, {0xC000, 0xF, 0},
        {0xC001, 7, 0}, {0xF002, 3, 0}},
       21 * 8 * K, 3 * 8 * K, 20 * K, 127 * K, 1},
      {"SS 88006, power-on and one-screen 0", 18, 0, 16, 16, {{0xF002, 2, 0}}, 0, 0, 0, 0, 0},
      {"SS 88006, horizontal", 18, 0, 16, 16, {{0xFFF2, 4, 0}, {0xCFF0, 0x12, 0}}, 0, 0, 0, 2 * K, 2},
      {"BNROM", 34, 0, 8, 0, {{0xFFF0, 0x03, 0xFF}}, 96 * K, 112 * K, 0, 4 * K, 3},
      {"NINA-001", 34, 0, 4, 8, {{0x7FFD, 1, 0}, {0x7FFE, 5, 0}, {0x7FFF, 9, 0}}, 32 * K, 48 * K, 20 * K, 36 * K, 3},
      {"NINA-001 by submapper", 34, 1, 4, 1, {{0x7FFD, 1, 0}, {0x7FFE, 1, 0}}, 32 * K, 48 * K, 4 * K, 0, 3},
      {"UNL-PCI556", 38, 0, 8, 4, {{0x7000, 0x0E, 0}}, 64 * K, 80 * K, 24 * K, 28 * K, 3},
      {"Camerica", 71, 0, 16, 0, {{0xC000, 5, 0}, {0x8000, 0x10, 0}}, 80 * K, 240 * K, 0, 4 * K, 3},
      {"Camerica, $9000", 71, 0, 16, 0, {{0x9000, 0x10, 0}}, 0, 240 * K, 0, 4 * K, 1},
      {"Fire Hawk (71.1)", 71, 1, 16, 0, {{0x8000, 0x10, 0}}, 0, 240 * K, 0, 4 * K, 1},
      {"BF9097: three bank bits", 71, 1, 16, 0, {{0xC000, 0x0D, 0}}, 80 * K, 240 * K, 0, 4 * K, 3},
      {"Holy Diver (78.3)", 78, 3, 8, 16, {{0x8000, 0x5B, 0xFF}}, 48 * K, 112 * K, 40 * K, 44 * K, 3},
      {"Holy Diver, M = 0", 78, 3, 8, 16, {{0x8000, 0x53, 0xFF}}, 48 * K, 112 * K, 40 * K, 44 * K, 2},
      {"Cosmo Carrier (78.1)", 78, 1, 8, 16, {{0x8000, 0x58, 0xFF}}, 0, 112 * K, 40 * K, 44 * K, 1},
      {"J87, bits swapped", 87, 0, 2, 4, {{0x6000, 0x01, 0}}, 0, 16 * K, 16 * K, 20 * K, 3},
      {"J87 as 101", 101, 0, 2, 4, {{0x7FFF, 0x01, 0}}, 0, 16 * K, 8 * K, 12 * K, 3},
      {"JF-11", 140, 0, 8, 16, {{0x6000, 0x23, 0}}, 64 * K, 80 * K, 24 * K, 28 * K, 3},
      {"LZ93D50 with RAM (153)", 153, 0, 32, 0, {{0x8008, 2, 0}, {0x8003, 1, 0}}, 288 * K, 496 * K, 0, 4 * K, 3},
      {"153 again in the low half", 153, 0, 32, 0, {{0x8008, 2, 0}, {0x8003, 1, 0}, {0x8003, 0xFE, 0}}, 32 * K, 240 * K, 0, 4 * K, 3},
      {"LZ93D50 with a 24C01 (159)", 159, 0, 16, 16, {{0x8008, 1, 0}, {0x8004, 2, 0}}, 16 * K, 240 * K, 0, 2 * K, 3},
      {"UNROM 74HC08", 180, 0, 8, 0, {{0x8000, 0x05, 0xFF}}, 0, 80 * K, 0, 4 * K, 3},
      {"Namco 175 (210.1)", 210, 1, 16, 32, {{0xE000, 0xC5, 0}, {0xF000, 3, 0}, {0x8000, 0xE1, 0}, {0xA000, 0x33, 0}},
       40 * K, 24 * K, 225 * K, 51 * K, 3},
      {"Namco 340 (210.2), MM = 0", 210, 2, 16, 32, {{0xE000, 0x05, 0}, {0xF000, 3, 0}, {0xA000, 0xF3, 0}},
       40 * K, 24 * K, 0, 243 * K, 0},
      {"Namco 340, MM = 2", 210, 2, 16, 16, {{0xE000, 0x85, 0}}, 40 * K, 0, 0, 0, 2},
      {"Namco 340, MM = 3", 210, 2, 16, 16, {{0xE000, 0xC5, 0}}, 40 * K, 0, 0, 0, 1},
      {"210.0, $E000 bit 7: a 340", 210, 0, 16, 16, {{0xE000, 0xC5, 0}}, 40 * K, 0, 0, 0, 1},
      {"210.0, $E000 bit 6: a 340", 210, 0, 16, 16, {{0xE000, 0x45, 0}, {0xE000, 0x05, 0}}, 40 * K, 0, 0, 0, 0},
      {"210.0, $C000 then bit 6: a 175", 210, 0, 16, 16, {{0xC000, 1, 0}, {0xE000, 0x45, 0}, {0xE000, 0x05, 0}},
       40 * K, 0, 0, 0, 3},
      {"210.0, $C000 then bit 7: a 340", 210, 0, 16, 16, {{0xC000, 1, 0}, {0xE000, 0x85, 0}}, 40 * K, 0, 0, 0, 2},
      {"210.0, $F800: a 163", 210, 0, 16, 16,
       {{0xE000, 0xC5, 0}, {0xF800, 0x40, 0}, {0xC000, 0xE0, 0}, {0xC800, 0xE0, 0}, {0xD000, 0xE1, 0}, {0xD800, 0xE1, 0}},
       40 * K, 0, 0, 0, 2},
      {"210.0, $5000: a 163", 210, 0, 16, 16,
       {{0x5000, 0x00, 0}, {0xC000, 0xE1, 0}, {0xC800, 0xE1, 0}, {0xD000, 0xE1, 0}, {0xD800, 0xE1, 0}}, 0, 0, 0, 0, 1},
      {"MMC5 power-on: mode 3, banks $FF", 5, 0, 16, 16, {}, 248 * K, 248 * K, 0, 0, 0},
      {"MMC5 mode 0, 8 KiB patterns", 5, 0, 16, 16, {{0x5100, 0, 0}, {0x5117, 0x85, 0}, {0x5101, 0, 0}, {0x5127, 3, 0},
       {0x5105, 0x50, 0}}, 32 * K, 48 * K, 24 * K, 28 * K, 2},
      {"MMC5 mode 1, 4 KiB patterns, $5117 ROM with bit 7 clear", 5, 0, 16, 16, {{0x5100, 1, 0}, {0x5115, 0x87, 0}, {0x5117, 0x0B, 0},
       {0x5101, 1, 0}, {0x5123, 5, 0}, {0x5127, 2, 0}, {0x5105, 0x44, 0}}, 48 * K, 80 * K, 20 * K, 8 * K, 3},
      {"MMC5 mode 2, 2 KiB patterns", 5, 0, 16, 16, {{0x5100, 2, 0}, {0x5115, 0x83, 0}, {0x5116, 0x89, 0},
       {0x5101, 2, 0}, {0x5121, 7, 0}, {0x5125, 3, 0}, {0x5105, 0x55, 0}}, 16 * K, 72 * K, 14 * K, 6 * K, 1},
      {"MMC5 8x16 sprites: PPUDATA sees set B written last", 5, 0, 16, 16, {{0x5114, 0x8C, 0}, {0x2000, 0x20, 0},
       {0x5120, 9, 0}, {0x5124, 13, 0}, {0x5128, 2, 0}}, 96 * K, 248 * K, 2 * K, 2 * K, 0},
      {"MMC5 8x16 sprites: set A written last", 5, 0, 16, 16, {{0x2000, 0x20, 0}, {0x5128, 2, 0}, {0x5120, 9, 0},
       {0x5124, 13, 0}}, 248 * K, 248 * K, 9 * K, 13 * K, 0},
      {"MMC5 8x8 sprites: set A whatever was written last", 5, 0, 16, 16, {{0x5120, 9, 0}, {0x5124, 13, 0},
       {0x5128, 2, 0}}, 248 * K, 248 * K, 9 * K, 13 * K, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on(row.prg_units, row.chr_units, row.mapper_number, 0x01, row.submapper);
    for (const Write& w : row.writes) {
      if (w.address >= 0x8000) banks.prg_slots[w.address >> 13][w.address & 0x1FFF] = w.rom_byte;
      cpu_write(w.address, w.value);
    }
    EXPECT_EQ(banks.prg_slots[4], prg(row.prg_8000));
    EXPECT_EQ(banks.prg_slots[6], prg(row.prg_c000));
    EXPECT_EQ(banks.chr_slots[0], chr(row.chr_0000));
    EXPECT_EQ(banks.chr_slots[4], chr(row.chr_1000));
    const int pages[4][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 1, 1}, {0, 1, 0, 1}};
    for (int n = 0; n < 4; ++n) EXPECT_EQ(banks.nametable_slots[n], page(pages[row.page][n])) << n;
  }
}

// The MMC5's registers the CPU reads back, and its RAM: the product of the factors; cartridge RAM
// that takes writes only with $5102 = 2 and $5103 = 1, in any window, at $8000 too; ExRAM that the
// CPU reads and writes in mode 2, only reads in mode 3, and neither outside rendering in modes 0-1.
TEST(Mappers, Mmc5MultipliesAndGuardsItsRam) {
  power_on(16, 16, 5);
  auto read = [](uint16_t address) { return mapper_write(address, 0, false); };
  const uint8_t factors[][2] = {{0, 0}, {1, 0xFF}, {0xFF, 0xFF}, {0x12, 0x34}, {0x80, 2}};
  for (const auto& f : factors) {
    cpu_write(0x5205, f[0]);
    cpu_write(0x5206, f[1]);
    const unsigned product = f[0] * f[1];
    EXPECT_EQ(read(0x5205), product & 0xFF) << int{f[0]} << " x " << int{f[1]};
    EXPECT_EQ(read(0x5206), product >> 8) << int{f[0]} << " x " << int{f[1]};
  }
  cpu_write(0x5113, 1);  // RAM page 1 at $6000
  cpu_write(0x6010, 0x5A);
  EXPECT_EQ(read(0x6010), 0) << "locked at power-on";
  cpu_write(0x5102, 2);
  cpu_write(0x5103, 1);
  cpu_write(0x6010, 0x5A);
  EXPECT_EQ(read(0x6010), 0x5A);
  EXPECT_EQ(bus.cartridge_ram[CARTRIDGE_RAM_BANK + 0x10], 0x5A);
  cpu_write(0x5114, 0x01);  // the same page at $8000 (bit 7 clear: RAM)
  EXPECT_EQ(read(0x8010), 0x5A);
  cpu_write(0x8011, 0xA5);
  EXPECT_EQ(read(0x6011), 0xA5);
  cpu_write(0x5103, 3);  // locked again: reads still pass
  cpu_write(0x8011, 0x11);
  EXPECT_EQ(read(0x6011), 0xA5);

  const struct {
    uint8_t mode, read_back;
  } exram_modes[] = {{2, 0x77}, {3, 0x00}, {0, 0x00}, {1, 0x00}};
  for (const auto& m : exram_modes) {
    cpu_write(0x5104, 2);
    cpu_write(0x5C20, 0x00);
    cpu_write(0x5104, m.mode);
    cpu_write(0x5C20, 0x77);  // outside rendering
    cpu_write(0x5104, 2);
    EXPECT_EQ(read(0x5C20), m.read_back) << "mode " << int{m.mode};
  }
}

// The VRC2 and VRC4 boards, one row per wiring: registers reached through the address lines the
// board puts on the chip's two select pins (`a0`, `a1`; the unknown boards of submapper 0 have a row
// per candidate wiring) whatever the other low lines say (`ignored`), the widths of program and
// pattern banks, the mirroring and swap bits, and what $6000 holds without RAM (the VRC2's latch).
TEST(Mappers, VrcBoardsDecodeTheirWiringAndBankWidths) {
  struct Row {
    const char* what;
    uint32_t mapper_number;
    uint8_t submapper;
    uint16_t a0, a1, ignored;
    bool vrc4, chr_halved;
  };
  const Row rows[] = {
      {"VRC4a (21.1)", 21, 1, 0x02, 0x04, 0xF9, true, false},
      {"VRC4c (21.2)", 21, 2, 0x40, 0x80, 0x3F, true, false},
      {"21.0 as VRC4a", 21, 0, 0x02, 0x04, 0x39, true, false},
      {"21.0 as VRC4c", 21, 0, 0x40, 0x80, 0x39, true, false},
      {"VRC2a (22)", 22, 0, 0x02, 0x01, 0xFC, false, true},
      {"VRC4f (23.1)", 23, 1, 0x01, 0x02, 0xFC, true, false},
      {"VRC4e (23.2)", 23, 2, 0x04, 0x08, 0xF3, true, false},
      {"VRC2b (23.3)", 23, 3, 0x01, 0x02, 0xFC, false, false},
      {"23.0 as VRC4f", 23, 0, 0x01, 0x02, 0xF0, true, false},
      {"23.0 as VRC4e", 23, 0, 0x04, 0x08, 0xF0, true, false},
      {"VRC4b (25.1)", 25, 1, 0x02, 0x01, 0xFC, true, false},
      {"VRC4d (25.2)", 25, 2, 0x08, 0x04, 0xF3, true, false},
      {"VRC2c (25.3)", 25, 3, 0x02, 0x01, 0xFC, false, false},
      {"25.0 as VRC4b", 25, 0, 0x02, 0x01, 0xF0, true, false},
      {"25.0 as VRC4d", 25, 0, 0x08, 0x04, 0xF0, true, false},
  };
  constexpr size_t K = 1024;
  const int pages[4][4] = {{0, 1, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}};
  auto expect_pages = [&](int arrangement) {
    for (int n = 0; n < 4; ++n)
      EXPECT_EQ(banks.nametable_slots[n], page(pages[arrangement][n])) << arrangement << " " << n;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    // Register `reg` (0-3) of the page at `base`, with the ignored lines set as well.
    auto reg = [&](uint16_t base, int n) {
      return static_cast<uint16_t>(base | row.ignored | ((n & 1) ? row.a0 : 0) | ((n & 2) ? row.a1 : 0));
    };
    power_on(16, 64, row.mapper_number, 0x00, row.submapper);  // 256 KiB program, 512 KiB pattern ROM
    EXPECT_EQ(banks.prg_slots[4], prg(0));
    EXPECT_EQ(banks.prg_slots[6], prg(240 * K));
    EXPECT_EQ(banks.prg_slots[7], prg(248 * K));
    expect_pages(0);  // every register 0: vertical, whatever the header says

    const uint32_t prg_mask = row.vrc4 ? 0x1F : 0x0F, chr_mask = row.vrc4 ? 0x1FF : 0xFF;
    cpu_write(reg(0x8000, 3), 0xF5);
    cpu_write(reg(0xA000, 2), 0xE7);
    EXPECT_EQ(banks.prg_slots[4], prg((0x15 & prg_mask) * 8 * K));
    EXPECT_EQ(banks.prg_slots[5], prg(7 * 8 * K));
    EXPECT_EQ(banks.prg_slots[6], prg(240 * K));
    EXPECT_EQ(banks.prg_slots[7], prg(248 * K));
    // A 9-bit value per slot (bits 0 and 8 both vary), the unused bits of both writes set.
    auto bank_value = [](int s) { return (0x2Du + 0xF3u * static_cast<uint32_t>(s)) & 0x1FFu; };
    for (int s = 0; s < 8; ++s) {
      const uint16_t base = static_cast<uint16_t>(0xB000 + (s / 2) * 0x1000);
      cpu_write(reg(base, (s & 1) * 2), static_cast<uint8_t>(0xF0 | (bank_value(s) & 0x0F)));
      cpu_write(reg(base, (s & 1) * 2 + 1), static_cast<uint8_t>(0xE0 | (bank_value(s) >> 4)));
    }
    for (int s = 0; s < 8; ++s) {
      const uint32_t bank = bank_value(s) & chr_mask;
      EXPECT_EQ(banks.chr_slots[s], chr((row.chr_halved ? bank >> 1 : bank) * K)) << s;
    }
    cpu_write(reg(0x9000, 0), 0xFD);
    expect_pages(1);
    cpu_write(reg(0x9000, 1), 0x02);
    expect_pages(row.vrc4 ? 2 : 0);
    cpu_write(reg(0x9000, 0), 0x03);
    expect_pages(row.vrc4 ? 3 : 1);
    // VRC4 $9002: program windows swapped; on a VRC2 the mirroring register again.
    cpu_write(reg(0x9000, 2), 0x02);
    EXPECT_EQ(banks.prg_slots[4], prg((row.vrc4 ? 30 : 0x15 & prg_mask) * 8 * K));
    EXPECT_EQ(banks.prg_slots[6], prg((row.vrc4 ? 0x15 : 30) * 8 * K));
    expect_pages(row.vrc4 ? 3 : 0);
    cpu_write(reg(0x9000, 3), 0x03);  // bit 0 (a RAM control) changes nothing
    EXPECT_EQ(banks.prg_slots[4], prg((row.vrc4 ? 30 : 0x15 & prg_mask) * 8 * K));
    expect_pages(row.vrc4 ? 3 : 1);
    cpu_write(reg(0x9000, 3), 0x00);
    EXPECT_EQ(banks.prg_slots[4], prg((0x15 & prg_mask) * 8 * K));

    // No cartridge RAM here: the VRC2 keeps bit 0 at $6000-$6FFF; the VRC4 board has the RAM.
    cpu_write(0x6123, 0xA5);
    EXPECT_EQ(cpu_read(0x6FFF), row.vrc4 ? 0x00 : 0x01);
    EXPECT_EQ(cpu_read(0x6123), row.vrc4 ? 0xA5 : 0x01);
    cpu_write(0x6FFF, 0xFE);
    EXPECT_EQ(cpu_read(0x6000), 0x00);
    cpu_write(0x6000, 0x01);
    EXPECT_EQ(cpu_read(0x7000), 0x00);
  }
}

// UNROM 512 (mapper 30): each row powers the board on with a header (submapper, byte 6), makes its
// writes (the program ROM byte under each set first) and checks the 16 KiB bank at $8000, the fixed
// last bank, and the nametables: pages of the console's RAM, or (four screens) character RAM from
// $6000, the last 8 KiB bank's first 4 KiB.
TEST(Mappers, Unrom512MapsWhatItsLatchAndHeaderSay) {
  struct Write {
    uint16_t address;
    uint8_t value, rom_byte;
  };
  struct Row {
    const char* what;
    uint8_t submapper, ctrlbyte;
    std::vector<Write> writes;
    uint32_t bank;        // at $8000, of 32
    int pages[4];         // nametable RAM pages, or -1: character RAM $6000 + $400 * n
  };
  const Row rows[] = {
      {"power-on, one-screen wiring", 0, 0x08, {}, 0, {0, 0, 0, 0}},
      {"one-screen, M = 1, every bank bit", 0, 0x08, {{0xC123, 0x9F, 0xFF}}, 31, {1, 1, 1, 1}},
      {"bus conflict (30.0 without battery)", 0, 0x08, {{0x8000, 0x9F, 0x13}}, 19, {0, 0, 0, 0}},
      {"bus conflict (30.2, battery set)", 2, 0x0A, {{0xC000, 0x9F, 0x85}}, 5, {1, 1, 1, 1}},
      {"horizontal wiring ignores M", 0, 0x00, {{0x8000, 0x85, 0xFF}}, 5, {0, 0, 1, 1}},
      {"vertical wiring ignores M", 0, 0x01, {{0x8000, 0x85, 0xFF}}, 5, {0, 1, 0, 1}},
      {"four screens in character RAM", 0, 0x09, {{0x8000, 0x85, 0xFF}}, 5, {-1, -1, -1, -1}},
      {"30.1 without battery: the latch at $8000, no conflict", 1, 0x01, {{0x8000, 0x07, 0x00}}, 7, {0, 1, 0, 1}},
      {"30.4 as 30.1", 4, 0x01, {{0xA000, 0x07, 0x00}}, 7, {0, 1, 0, 1}},
      {"flash board: $8000-$BFFF is the chip's", 0, 0x03, {{0x8000, 0x07, 0x00}, {0xBFFF, 0x08, 0x00}}, 0, {0, 1, 0, 1}},
      {"flash board: $C000-$FFFF the latch, no conflict", 1, 0x0A, {{0xFFFF, 0x87, 0x00}}, 7, {1, 1, 1, 1}},
      {"30.3: M = 1 vertical", 3, 0x08, {{0x8000, 0x80, 0xFF}}, 0, {0, 1, 0, 1}},
      {"30.3: M = 0 horizontal", 3, 0x09, {{0x8000, 0x80, 0xFF}, {0xC000, 0x01, 0x00}}, 1, {0, 0, 1, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on(32, 0, 30, row.ctrlbyte, row.submapper);
    cartridge.chr_rom.assign(32768, 0);  // as an iNES 1.0 image of this board gets it
    mapper_update_banks();
    for (const Write& w : row.writes) {
      if (w.address >= 0x8000) banks.prg_slots[w.address >> 13][w.address & 0x1FFF] = w.rom_byte;
      cpu_write(w.address, w.value);
    }
    EXPECT_EQ(banks.prg_slots[4], prg(row.bank * 0x4000));
    EXPECT_EQ(banks.prg_slots[6], prg(31 * 0x4000));
    for (int n = 0; n < 4; ++n)
      EXPECT_EQ(banks.nametable_slots[n], row.pages[n] < 0 ? chr(0x6000 + 0x400 * n) : page(row.pages[n])) << n;
  }
}

// The flash chip of the self-flashing UNROM 512 board (512 KiB: an SST39SF040). Each row writes
// command cycles (a latch write at $C000 for the bank, then the chip's cycle at $8000-$BFFF), then
// reads one address once per CPU cycle: while the operation runs, every read is status (DQ7 as the
// row says, DQ6 turning over from read to read), for the datasheet's typical time; then the array
// holds the row's change.
TEST(Mappers, Unrom512FlashTakesTheChipsCommandsForTheirTimes) {
  struct Cycle {
    uint8_t bank;
    uint16_t address;
    uint8_t value;
  };
  struct Row {
    const char* what;
    std::vector<Cycle> cycles;
    uint16_t poll;            // read after the last cycle, its bank in
    double microseconds;      // how long the chip is busy; 0: it never is
    uint8_t dq7;              // while busy
    uint32_t from, size;      // erased flash (size 0: none)
    int32_t programmed;       // the flash byte ANDed with the last cycle's value, or -1
  };
  const std::vector<Cycle> unlock = {{1, 0x9555, 0xAA}, {0, 0xAAAA, 0x55}};
  auto commands = [&](std::initializer_list<std::vector<Cycle>> parts) {
    std::vector<Cycle> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const Row rows[] = {
      {"byte program", commands({unlock, {{1, 0x9555, 0xA0}, {3, 0x8123, 0x5A}}}), 0x8123, 14, 0x80, 0, 0,
       3 * 0x4000 + 0x123},
      {"commands see flash A14-A0 alone", commands({{{3, 0x9555, 0xAA}, {2, 0xAAAA, 0x55}, {5, 0x9555, 0xA0}},
                                                    {{4, 0xBFFF, 0x80}}}),
       0xBFFF, 14, 0x00, 0, 0, 4 * 0x4000 + 0x3FFF},
      {"sector erase", commands({unlock, {{1, 0x9555, 0x80}}, unlock, {{5, 0x9ABC, 0x30}}}), 0x9ABC, 18000, 0x00,
       5 * 0x4000 + 0x1000, 0x1000, -1},
      {"chip erase", commands({unlock, {{1, 0x9555, 0x80}}, unlock, {{1, 0x9555, 0x10}}}), 0xC000, 70000, 0x00, 0,
       512 * 1024, -1},
      {"a wrong cycle ends the sequence", {{1, 0x9555, 0xAA}, {0, 0xAAAB, 0x55}, {1, 0x9555, 0xA0}, {3, 0x8123, 0}},
       0x8123, 0, 0, 0, 0, -1},
      {"an unknown command", commands({unlock, {{1, 0x9555, 0x77}, {3, 0x8123, 0}}}), 0x8123, 0, 0, 0, 0, -1},
      {"an erase without its second unlock", commands({unlock, {{1, 0x9555, 0x80}, {5, 0x9000, 0x30}}}), 0x9000, 0,
       0, 0, 0, -1},
  };
  constexpr double CPU_HZ = 1789773;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on(32, 0, 30, 0x03, 1);  // battery set: the flash board
    std::vector<uint8_t> expected = cartridge.prg_rom;
    if (row.size) std::fill_n(expected.begin() + row.from, row.size, uint8_t{0xFF});
    if (row.programmed >= 0) expected[static_cast<size_t>(row.programmed)] &= row.cycles.back().value;
    cartridge_ram_changed = false;
    for (const Cycle& c : row.cycles) {
      cpu_write(0xC000, c.bank);
      cpu_write(c.address, c.value);
    }
    uint64_t status_reads = 0;
    uint8_t last = cpu_read(row.poll);
    const uint8_t* slot = banks.prg_slots[row.poll >> 13];
    for (; !slot; slot = banks.prg_slots[row.poll >> 13]) {
      ++status_reads;
      EXPECT_EQ(last & 0x80, row.dq7);
      const uint8_t next = cpu_read(row.poll);
      if (banks.prg_slots[row.poll >> 13]) {
        last = next;
        break;
      }
      ASSERT_EQ((last ^ next) & 0x40, 0x40) << "read " << status_reads;
      last = next;
    }
    // The read on the operation's last cycle gives the array: busy for the cycles before it.
    EXPECT_EQ(row.microseconds ? status_reads + 1 : 0, std::llround(row.microseconds * 1e-6 * CPU_HZ));
    EXPECT_EQ(last, banks.prg_slots[row.poll >> 13][row.poll & 0x1FFF]);
    EXPECT_TRUE(cartridge.prg_rom == expected);
    EXPECT_EQ(cartridge_ram_changed, row.microseconds != 0);
  }
}

// Software identification: after 5555:AA 2AAA:55 5555:90 every program address reads the maker
// ($BF) at even addresses and the chip ($B7: SST39SF040; $B6, $B5 for the 256 and 128 KiB parts) at
// odd ones, until F0 (alone, or after the unlock cycles) brings the array back.
TEST(Mappers, Unrom512FlashIdentifiesItself) {
  const struct {
    uint8_t prg_units, device;
  } chips[] = {{32, 0xB7}, {16, 0xB6}, {8, 0xB5}};
  for (const auto& chip : chips)
    for (bool alone : {true, false}) {
      SCOPED_TRACE(std::to_string(chip.prg_units) + (alone ? ", F0 alone" : ", AA 55 F0"));
      power_on(chip.prg_units, 0, 30, 0x02, 0);
      auto command = [](uint8_t value) {
        cpu_write(0xC000, 1), cpu_write(0x9555, 0xAA);
        cpu_write(0xC000, 0), cpu_write(0xAAAA, 0x55);
        cpu_write(0xC000, 1), cpu_write(0x9555, value);
      };
      command(0x90);
      for (uint16_t address : std::initializer_list<uint16_t>{0x8000, 0x8001, 0xA7FE, 0xC000, 0xFFFF})
        EXPECT_EQ(cpu_read(address), address & 1 ? chip.device : 0xBF) << std::hex << address;
      if (alone) cpu_write(0xB123, 0xF0);
      else command(0xF0);
      EXPECT_EQ(cpu_read(0x8001), prg(0x4000)[1]);
      EXPECT_EQ(cpu_read(0xFFFF), cartridge.prg_rom.back());
    }
}

// The MMC2's and MMC4's latches switch after the PPU's fetch of the high plane of tile $FD or $FE:
// that fetch, and so the whole tile, reads the bank before the switch, and the next tile's fetches
// the bank after it. Each row puts the tile at column 5 of a line's tiles (its high plane fetched
// at dot 31), its latch holding the other value, and runs the line's dots both one at a time and
// in the PPU's faster runs of whole fetch groups, which read the bank slots afresh.
TEST(Mappers, Mmc2LatchesSwitchAfterTheFetchOfTileFdOrFe) {
  struct Row {
    const char* what;
    uint32_t mapper_number;
    uint8_t ctrl;     // PPUCTRL: the background's table
    uint32_t fine_y;  // the tile row fetched
    uint8_t tile;
    bool switches;
  };
  const Row rows[] = {
      {"MMC2, right table, FD, row 3", 9, CTRL_BACKGROUND_TABLE, 3, 0xFD, true},
      {"MMC2, right table, FE, row 7", 9, CTRL_BACKGROUND_TABLE, 7, 0xFE, true},
      {"MMC2, left table, FD, row 0", 9, 0, 0, 0xFD, true},
      {"MMC2, left table, FE, row 1 (only row 0 counts)", 9, 0, 1, 0xFE, false},
      {"MMC4, left table, FE, row 6", 10, 0, 6, 0xFE, true},
      {"MMC4, right table, FD, row 0", 10, CTRL_BACKGROUND_TABLE, 0, 0xFD, true},
      {"MMC4, left table, tile $FC", 10, 0, 0, 0xFC, false},
  };
  constexpr int32_t HIGH_FETCH_DOT = 31, NEXT_GROUP_END = 40;
  // The 2-bit pixels of a pattern row: bit k of the low plane at bit 2k, of the high plane at 2k+1.
  auto pattern_row = [](const uint8_t* tile_row) {
    uint32_t v = 0;
    for (uint32_t k = 0; k < 8; ++k)
      v |= ((tile_row[0] >> k) & 1u) << (2 * k) | ((tile_row[8] >> k) & 1u) << (2 * k + 1);
    return v;
  };
  for (const Row& row : rows) {
    const uint32_t half = (row.ctrl & CTRL_BACKGROUND_TABLE) ? 1 : 0;
    const uint8_t before_value = row.tile == 0xFD ? 0xFE : 0xFD;
    const uint32_t bank_fd = 1 + 2 * half, bank_fe = 2 + 2 * half;  // the registers written below
    const uint32_t old_bank = before_value == 0xFD ? bank_fd : bank_fe;
    const uint32_t new_bank = row.switches ? (old_bank == bank_fd ? bank_fe : bank_fd) : old_bank;
    for (const bool one_at_a_time : {true, false})
      for (const int32_t dots : {HIGH_FETCH_DOT, HIGH_FETCH_DOT + 1, NEXT_GROUP_END}) {
        SCOPED_TRACE(std::string(row.what) + (one_at_a_time ? ", dot by dot, " : ", in runs, ") +
                     std::to_string(dots) + " dots");
        power_on(8, 16, row.mapper_number);
        const uint16_t registers[4] = {0xB000, 0xC000, 0xD000, 0xE000};
        for (uint8_t k = 0; k < 4; ++k) cpu_write(registers[k], static_cast<uint8_t>(k + 1));
        mmc2_ppu_read(static_cast<uint16_t>(half * 0x1000 + before_value * 16 + 8));
        ASSERT_EQ(banks.chr_slots[4 * half], chr(0x1000 * old_bank));
        *vram_map(0x2005) = row.tile;  // column 5; the others hold tile 0
        ppu.scanline = 0;
        ppu.dot = 0;
        ppu.vram_address = (2u << 3) | (row.fine_y << 15);  // the line's fetches from column 2 on
        set_ppuctrl(row.ctrl);
        set_ppumask(MASK_BACKGROUND);
        ppu_rebuild_derived();
        if (one_at_a_time) ppu_ticks(dots);
        else ppu_run_dots(dots);
        ASSERT_EQ(ppu.dot, dots);
        const uint8_t* old_tile = chr(0x1000 * old_bank + 16 * row.tile + row.fine_y);
        const uint8_t* next_tile = chr(0x1000 * new_bank + row.fine_y);  // tile 0 of the bank after
        if (dots == HIGH_FETCH_DOT) {
          EXPECT_EQ(banks.chr_slots[4 * half], chr(0x1000 * old_bank)) << "switched before the fetch";
        } else {
          EXPECT_EQ(banks.chr_slots[4 * half], chr(0x1000 * new_bank));
          const uint32_t other_fe_bank = half ? 2 : 4;  // the other latch holds FE from power-on
          EXPECT_EQ(banks.chr_slots[4 * (1 - half)], chr(0x1000 * other_fe_bank)) << "the other half moved";
        }
        if (dots == HIGH_FETCH_DOT + 1) {
          EXPECT_EQ(ppu.tile_pattern, pattern_row(old_tile)) << "tile read after the switch";
        }
        if (dots == NEXT_GROUP_END) {
          EXPECT_EQ(ppu.bg_pattern_shift >> 16, pattern_row(old_tile));
          EXPECT_EQ(ppu.tile_pattern, pattern_row(next_tile)) << "next tile not from the bank after the switch";
        }
      }
  }
}

// Whatever bytes a board's register record holds (a crafted save state with its checksum made
// right), loading it is refused or gives a bank map that stays within the cartridge's memories:
// every byte of every board's record, one at a time, at its extremes.
TEST(BankMap, AnyRecordABoardCanHoldIsRefusedOrMapsInBounds) {
  const struct {
    uint32_t mapper_number;
    uint8_t submapper, prg_units, chr_units, ctrlbyte;
    uint32_t nes2_prg_nvram = 0;  // an NES 2.0 header with this much battery-backed RAM
  } boards[] = {
      {0, 0, 2, 1, 0x01},   {1, 0, 16, 4, 0x00},  {1, 0, 8, 0, 0x00},  {1, 0, 32, 0, 0x00},
      {1, 0, 16, 0, 0x02, 16384}, {1, 0, 32, 0, 0x02, 32768}, {2, 0, 8, 0, 0x01},
      {3, 0, 2, 4, 0x01},   {7, 0, 16, 0, 0x00},  {4, 0, 32, 32, 0x00}, {4, 0, 8, 0, 0x08},
      {4, 1, 16, 16, 0x00}, {4, 4, 16, 16, 0x01}, {118, 0, 16, 16, 0x00}, {119, 0, 8, 8, 0x00},
      {206, 0, 8, 4, 0x01}, {206, 1, 2, 4, 0x09}, {66, 0, 8, 4, 0x01},  {66, 0, 32, 16, 0x00},
      {9, 0, 8, 16, 0x01},  {10, 0, 16, 16, 0x00}, {11, 0, 8, 16, 0x01}, {19, 0, 16, 32, 0x00},
      {19, 1, 8, 1, 0x02},  {21, 1, 16, 64, 0x00}, {21, 0, 8, 16, 0x01}, {22, 0, 8, 16, 0x00},
      {23, 3, 8, 16, 0x00}, {23, 0, 16, 32, 0x00}, {25, 1, 16, 64, 0x00}, {25, 3, 8, 0, 0x00},
      {24, 0, 16, 32, 0x00}, {26, 0, 8, 8, 0x02},
      {28, 0, 32, 0, 0x00}, {30, 0, 32, 0, 0x08}, {30, 0, 8, 0, 0x03},  {30, 1, 8, 0, 0x0B},
      {30, 3, 8, 0, 0x00},  {34, 0, 8, 0, 0x01},  {34, 1, 8, 8, 0x00},   {38, 0, 8, 4, 0x01},
      {69, 0, 32, 32, 0x00}, {69, 0, 8, 0, 0x02}, {71, 0, 16, 0, 0x00}, {71, 1, 8, 0, 0x00},
      {78, 1, 8, 16, 0x00}, {78, 3, 8, 16, 0x08}, {87, 0, 2, 4, 0x01},  {101, 0, 2, 4, 0x01},
      {140, 0, 8, 16, 0x01}, {180, 0, 8, 0, 0x01}, {210, 0, 16, 16, 0x01}, {210, 1, 8, 8, 0x00},
      {210, 2, 8, 8, 0x01}, {16, 0, 16, 16, 0x02}, {16, 4, 16, 16, 0x00}, {16, 5, 16, 16, 0x02},
      {18, 0, 32, 32, 0x00}, {153, 0, 32, 0, 0x02}, {159, 0, 16, 16, 0x02}, {99, 0, 2, 1, 0x01},
      {5, 0, 16, 32, 0x00}, {5, 0, 8, 16, 0x02, 16384}, {5, 0, 32, 64, 0x02, 32768},
  };
  const uint8_t extremes[] = {0x00, 0x01, 0x3F, 0x40, 0x7F, 0x80, 0xC0, 0xFE, 0xFF};
  auto within = [](const uint8_t* p, const std::vector<uint8_t>& memory, size_t span) {
    return !memory.empty() && p >= memory.data() && p + span <= memory.data() + memory.size();
  };
  for (const auto& b : boards) {
    SCOPED_TRACE("mapper " + std::to_string(b.mapper_number) + "." + std::to_string(b.submapper));
    power_on(b.prg_units, b.chr_units, b.mapper_number, b.ctrlbyte, b.submapper);
    if (b.nes2_prg_nvram) {
      cartridge.nes2 = true;
      cartridge.prg_nvram_size = b.nes2_prg_nvram;
      test_machine::power_on_cartridge();
    }
    size_t refused = 0, loaded = 0;
    for (size_t k = 0; k < MAPPER_RECORD_SIZE; ++k)
      for (uint8_t value : extremes) {
        const Mapper kept = mapper;
        mapper.bytes[k] = value;
        const std::vector<uint8_t> crafted = snapshot_save();
        mapper = kept;
        std::string error;
        if (!snapshot_load(crafted, error)) {
          ++refused;
          EXPECT_NE(error.find("impossible value"), std::string::npos) << error;
          continue;
        }
        ++loaded;
        // Cartridge RAM shown at $8000-$FFFF (the MMC5).
        auto in_cartridge_ram = [](const uint8_t* p) {
          return p >= bus.cartridge_ram && p + CARTRIDGE_RAM_BANK <= bus.cartridge_ram + cartridge_ram_size();
        };
        // An empty slot at $8000-$FFFF: the board's chip answers reads there itself.
        for (int s = 0; s < 8; ++s)
          ASSERT_TRUE(within(banks.prg_slots[s], cartridge.prg_rom, 0x2000) ||
                      (s >= 4 && !banks.prg_slots[s] && board->rom_read) || in_cartridge_ram(banks.prg_slots[s]))
              << k << " " << int{value};
        // Pattern slots and nametables in character memory or nametable RAM (the Namco 163 crosses them).
        auto in_ppu_memory = [&](const uint8_t* p) {
          return within(p, cartridge.chr_rom, 0x400) || within(p, cartridge.chr_ram, 0x400) ||
                 (p >= banks.nametable_ram && p + 0x400 <= banks.nametable_ram + sizeof banks.nametable_ram);
        };
        // Nametables may also be the board's own memory (ExRAM) or pages it builds.
        auto in_nametable_memory = [&](const uint8_t* p) {
          const uint8_t* built = &banks.board_nametables[0][0];
          return in_ppu_memory(p) || within(p, cartridge.board_memory, 0x400) ||
                 (p >= built && p + 0x400 <= built + sizeof banks.board_nametables);
        };
        for (int s = 0; s < 8; ++s) ASSERT_TRUE(in_ppu_memory(banks.chr_slots[s])) << k << " " << int{value};
        for (int n = 0; n < 4; ++n) ASSERT_TRUE(in_nametable_memory(banks.nametable_slots[n])) << k << " " << int{value};
        ASSERT_TRUE(banks.cartridge_ram_slot >= bus.cartridge_ram &&
                    banks.cartridge_ram_slot + CARTRIDGE_RAM_BANK <= bus.cartridge_ram + cartridge_ram_size())
            << k << " " << int{value};
        // A sound chip runs from any record: its quiet stretch paid at once, then a stepped cycle.
        if (cartridge_sound) {
          const int32_t quiet = cartridge_sound->quiet_cycles();
          ASSERT_GE(quiet, 0) << k << " " << int{value};
          cartridge_sound->advance(std::min(quiet, 1 << 20));
          const int32_t stepped = cartridge_sound->tick();
          ASSERT_EQ(stepped, cartridge_sound->level()) << k << " " << int{value};
        }
      }
    EXPECT_GT(loaded, refused);
  }
}

}  // namespace
