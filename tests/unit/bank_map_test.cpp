// The bank map: page mapping in units of the bank size with wrap-around, the power-on arrangement
// (program, character and nametable slots from the header), the PPU memory map with its palette
// and nametable mirrors, mapper cases that our cartridges (roms/mapper*.s) do not reach (images of
// 256 KiB, a single character bank), and the bank map of any register record a save state can hold.
#include <gtest/gtest.h>

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

// The discrete boards, and the bank registers of larger boards: each row powers a board on, makes
// its writes (the program ROM byte under a latch's address set first, $FF to let the value through
// or less to show a bus conflict) and checks the program ROM seen at $8000 and $C000, the character memory at $0000 and $1000, and
// the nametable pages (-1: the header's arrangement, vertical here).
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

// Whatever bytes a board's register record holds (a crafted save state with its checksum made
// right), loading it is refused or gives a bank map that stays within the cartridge's memories:
// every byte of every board's record, one at a time, at its extremes.
TEST(BankMap, AnyRecordABoardCanHoldIsRefusedOrMapsInBounds) {
  const struct {
    uint32_t mapper_number;
    uint8_t submapper, prg_units, chr_units, ctrlbyte;
  } boards[] = {
      {0, 0, 2, 1, 0x01},   {1, 0, 16, 4, 0x00},  {1, 0, 8, 0, 0x00},  {2, 0, 8, 0, 0x01},
      {3, 0, 2, 4, 0x01},   {7, 0, 16, 0, 0x00},  {4, 0, 32, 32, 0x00}, {4, 0, 8, 0, 0x08},
      {4, 1, 16, 16, 0x00}, {4, 4, 16, 16, 0x01}, {118, 0, 16, 16, 0x00}, {119, 0, 8, 8, 0x00},
      {206, 0, 8, 4, 0x01}, {206, 1, 2, 4, 0x09}, {66, 0, 8, 4, 0x01},  {66, 0, 32, 16, 0x00},
      {11, 0, 8, 16, 0x01}, {34, 0, 8, 0, 0x01},  {34, 1, 8, 8, 0x00},   {38, 0, 8, 4, 0x01},
      {71, 0, 16, 0, 0x00}, {71, 1, 8, 0, 0x00},  {78, 1, 8, 16, 0x00},  {78, 3, 8, 16, 0x08},
      {87, 0, 2, 4, 0x01},  {101, 0, 2, 4, 0x01}, {140, 0, 8, 16, 0x01}, {180, 0, 8, 0, 0x01},
      {16, 0, 16, 16, 0x02}, {16, 4, 16, 16, 0x00}, {16, 5, 16, 16, 0x02}, {18, 0, 32, 32, 0x00},
      {153, 0, 32, 0, 0x02}, {159, 0, 16, 16, 0x02}, {99, 0, 2, 1, 0x01},
  };
  const uint8_t extremes[] = {0x00, 0x01, 0x3F, 0x40, 0x7F, 0x80, 0xC0, 0xFE, 0xFF};
  auto within = [](const uint8_t* p, const std::vector<uint8_t>& memory, size_t span) {
    return !memory.empty() && p >= memory.data() && p + span <= memory.data() + memory.size();
  };
  for (const auto& b : boards) {
    SCOPED_TRACE("mapper " + std::to_string(b.mapper_number) + "." + std::to_string(b.submapper));
    power_on(b.prg_units, b.chr_units, b.mapper_number, b.ctrlbyte, b.submapper);
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
        for (int s = 0; s < 8; ++s) ASSERT_TRUE(within(banks.prg_slots[s], cartridge.prg_rom, 0x2000)) << k << " " << int{value};
        for (int s = 0; s < 8; ++s)
          ASSERT_TRUE(within(banks.chr_slots[s], cartridge.chr_rom, 0x400) || within(banks.chr_slots[s], cartridge.chr_ram, 0x400))
              << k << " " << int{value};
        for (int n = 0; n < 4; ++n)
          ASSERT_TRUE(banks.nametable_slots[n] >= banks.nametable_ram &&
                      banks.nametable_slots[n] + 0x400 <= banks.nametable_ram + sizeof banks.nametable_ram)
              << k << " " << int{value};
      }
    EXPECT_GT(loaded, refused);
  }
}

}  // namespace
