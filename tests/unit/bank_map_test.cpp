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

// The discrete boards: each row powers a board on, makes its writes (the program ROM byte under a
// latch's address set first, $FF to let the value through or less to show a bus conflict) and
// checks the program ROM seen at $8000 and $C000, the character memory at $0000 and $1000, and
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
      {11, 0, 8, 16, 0x01}, {34, 0, 8, 0, 0x01},  {34, 1, 8, 8, 0x00},   {38, 0, 8, 4, 0x01},
      {71, 0, 16, 0, 0x00}, {71, 1, 8, 0, 0x00},  {78, 1, 8, 16, 0x00},  {78, 3, 8, 16, 0x08},
      {9, 0, 8, 16, 0x01},  {10, 0, 16, 16, 0x00}, {28, 0, 32, 0, 0x00},
      {87, 0, 2, 4, 0x01},  {101, 0, 2, 4, 0x01}, {140, 0, 8, 16, 0x01}, {180, 0, 8, 0, 0x01},
      {99, 0, 2, 1, 0x01},
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
        for (int s = 0; s < 8; ++s) ASSERT_TRUE(within(banks.prg_slots[s], cartridge.prg_rom, 0x2000)) << k << " " << int{value};
        for (int s = 0; s < 8; ++s)
          ASSERT_TRUE(within(banks.chr_slots[s], cartridge.chr_rom, 0x400) || within(banks.chr_slots[s], cartridge.chr_ram, 0x400))
              << k << " " << int{value};
        ASSERT_TRUE(banks.cartridge_ram_slot >= bus.cartridge_ram &&
                    banks.cartridge_ram_slot + CARTRIDGE_RAM_BANK <= bus.cartridge_ram + cartridge_ram_size())
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
