// The cartridge loader: the mapper number rule of older and NES 2.0 headers, the contents of program
// ROM, character ROM and the trainer, the summary line, and the refusal of images that cannot be
// loaded -- in the library and through nes-headless, where a bad image must never crash the runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/snapshot.h"
#include "core_test_machine.h"

namespace {

using namespace core_test;

TEST(MapperNumber, FromTheHeaderBytes) {
  struct Case {
    uint8_t ctrlbyte, control2, byte8;
    bool junk;  // bytes 12-15 not all zero
    uint32_t expected;
  };
  const Case cases[] = {
      // iNES 1.0 with a clean tail: the high nibbles of bytes 6 and 7, nothing folded.
      {0x20, 0x40, 0, false, 66},  {0xE0, 0xC0, 0, false, 206}, {0x60, 0x70, 0, false, 118},
      {0x70, 0x70, 0, false, 119}, {0x10, 0x01, 0, false, 1},   // byte 7's low bits are flags
      {0x40, 0x00, 0x0F, false, 4},                               // byte 8 is not the mapper's
      // Junk in bytes 12-15: v = byte 7 OR (byte 6 >> 4); v below 64 is the number, else v AND $0F.
      {0x10, 0x00, 0, true, 1},    {0x00, 0x01, 0, true, 1},     // the low bits of byte 7 count too
      {0x20, 0x44, 0, true, 6},                                   // v = $46: folded to its low half
      {0x70, 0x30, 0, true, 55},                                  // v = $37: kept
      {0xF0, 0x00, 0, true, 15},   {0x00, 0x3F, 0, true, 63},    {0x00, 0x40, 0, true, 0},
      {0x30, 0xF0, 0, true, 3},    {0x00, 0x04, 0, true, 4},     {0x00, 0x0C, 0, true, 12},
      {0xE0, 0xC0, 0, true, 14},                                  // 206 folded, as such dumps always were
      // NES 2.0 (byte 7 AND $0C = $08): both high nibbles and byte 8's low nibble, whatever the tail.
      {0x20, 0x08, 0, true, 2},    {0x10, 0x18, 0, false, 0x11}, {0xA0, 0x48, 0, true, 0x4A},
      {0x0F, 0xFB, 0, false, 0xF0}, {0x00, 0x09, 0, true, 0},    {0x40, 0x08, 0x31, false, 0x104},
      {0xF0, 0xF8, 0x0F, true, 0xFFF},
  };
  for (const Case& c : cases) {
    uint8_t header[HEADER_SIZE] = {'N', 'E', 'S', 0x1A, 1, 1, c.ctrlbyte, c.control2, c.byte8};
    if (c.junk) header[13] = 'D';
    EXPECT_EQ(mapper_number_from_header(header), c.expected)
        << std::hex << "ctrlbyte " << int{c.ctrlbyte} << ", byte 7 " << int{c.control2} << ", byte 8 "
        << int{c.byte8} << (c.junk ? ", junk" : "");
  }
}

class CartridgeLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    cartridge = Cartridge{};
    bus = Bus{};
  }
  // Loads the image from a file and powers the machine on; expects success.
  void load(const Image& image) {
    const fs::path file = dir.write("image.nes", image.bytes());
    std::string error;
    ASSERT_TRUE(load_cartridge(file.c_str(), error)) << error;
    machine_power_on();
  }
  TempDir dir;
};

TEST_F(CartridgeLoad, ProgramThenCharacterRomInFileOrder) {
  const Image image = make_image(2, 3, 0x31, 0x00);
  load(image);
  const auto body = image.body.begin();
  EXPECT_EQ(cartridge.prg_rom, std::vector<uint8_t>(body, body + 2 * 16384));
  EXPECT_EQ(cartridge.chr_rom, std::vector<uint8_t>(body + 2 * 16384, image.body.end()));
  EXPECT_EQ(cartridge.mapper_number, 3u);
  EXPECT_EQ(cartridge.ctrlbyte, 0x31);
}

TEST_F(CartridgeLoad, NoCharacterRomGivesEightKiBOfZeroedRam) {
  load(make_image(1, 0));
  EXPECT_EQ(cartridge.chr_rom, std::vector<uint8_t>(8192, 0));
}

// What the header's fields make of the cartridge: ROM and RAM sizes (the memories at least what the
// bank map needs), submapper, timing and the battery file's size, for iNES 1.0 and NES 2.0.
TEST_F(CartridgeLoad, HeaderFieldsGiveTheRecordAndItsMemories) {
  struct Case {
    const char* name;
    uint8_t prg_units, chr_units, ctrlbyte, control2;
    std::vector<uint8_t> tail;  // bytes 8-15
    uint32_t mapper_number;
    uint8_t submapper;
    size_t prg_rom, chr_rom;     // bytes of the memories
    bool chr_is_ram;
    uint32_t prg_ram, prg_nvram, chr_ram_size, chr_nvram_size;
    size_t chr_ram_beside, battery;
    uint8_t timing;
  };
  const Case cases[] = {
      {"iNES battery", 2, 1, 0x02, 0x00, {}, 0, 0, 32768, 8192, false, 0, 8192, 0, 0, 0, 8192, TIMING_NTSC},
      {"iNES RAM, no battery", 1, 0, 0x40, 0x00, {}, 4, 0, 16384, 8192, true, 8192, 0, 0, 0, 0, 0, TIMING_NTSC},
      {"iNES TQROM", 8, 8, 0x72, 0x70, {}, 119, 0, 131072, 65536, false, 0, 8192, 0, 0, 8192, 8192, TIMING_NTSC},
      {"iNES UNROM 512: 32K of CHR RAM", 8, 0, 0xE3, 0x10, {}, 30, 0, 131072, 32768, true, 0, 8192, 0, 0, 0, 8192,
       TIMING_NTSC},
      {"iNES Action 53: the board's 32K of CHR RAM", 2, 0, 0xC0, 0x10, {}, 28, 0, 32768, 32768, true, 8192, 0, 0, 0,
       0, 0, TIMING_NTSC},
      {"iNES byte 9 is no size", 1, 1, 0x00, 0x00, {0, 0x11}, 0, 0, 16384, 8192, false, 8192, 0, 0, 0, 0, 0,
       TIMING_NTSC},
      {"NES 2.0 TxROM with 32K of CHR RAM", 8, 0, 0x40, 0x08, {0, 0, 0x07, 0x09, 1}, 4, 0, 131072, 32768, true,
       8192, 0, 32768, 0, 0, 0, TIMING_PAL},
      {"NES 2.0 MMC6 with 1K of NVRAM", 2, 4, 0x42, 0x08, {0x10, 0, 0x40, 0, 3}, 4, 1, 32768, 32768, false, 0,
       1024, 0, 0, 0, 1024, TIMING_DENDY},
      {"NES 2.0 NVRAM nibble 0 keeps 8K", 1, 1, 0x02, 0x08, {0, 0, 0, 0, 2}, 0, 0, 16384, 8192, false, 0, 0, 0,
       0, 0, 8192, TIMING_MULTI_REGION},
      {"NES 2.0 32K of NVRAM: the 8K at $6000 (SXROM's board keeps all, below)", 1, 1, 0x12, 0x08, {0, 0, 0x90},
       1, 0, 16384, 8192, false, 0, 32768, 0, 0, 0, 8192, TIMING_NTSC},
      {"NES 2.0 no CHR RAM given: 8K all the same", 1, 0, 0x00, 0x08, {}, 0, 0, 16384, 8192, true, 0, 0, 0, 0, 0,
       0, TIMING_NTSC},
      {"NES 2.0 tiny CHR RAM: 8K", 1, 0, 0x00, 0x08, {0, 0, 0, 0x12}, 0, 0, 16384, 8192, true, 0, 0, 256, 128,
       0, 0, TIMING_NTSC},
      {"NES 2.0 TQROM with 16K beside", 8, 8, 0x70, 0x78, {0, 0, 0, 0x08}, 119, 0, 131072, 65536, false, 0, 0,
       16384, 0, 16384, 0, TIMING_NTSC},
      {"NES 2.0 TQROM, byte 11 zero: 8K", 8, 8, 0x70, 0x78, {}, 119, 0, 131072, 65536, false, 0, 0, 0, 0, 8192,
       0, TIMING_NTSC},
      {"NES 2.0 sizes past 255 units", 2, 0, 0x00, 0x08, {0x05, 0x11}, 0x500, 0, 258 * 16384, 256 * 8192, false,
       0, 0, 0, 0, 0, 0, TIMING_NTSC},
      {"NES 2.0 exponent form, 48K", (14 << 2) | 1, 1, 0x00, 0x08, {0, 0x0F}, 0, 0, 49152, 8192, false, 0, 0, 0,
       0, 0, 0, TIMING_NTSC},
      {"NES 2.0 exponent form, 1K of each", 10 << 2, 10 << 2, 0x00, 0x08, {0, 0xFF}, 0, 0, 8192, 1024, false, 0,
       0, 0, 0, 0, 0, TIMING_NTSC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image = make_image(c.prg_units, c.chr_units, c.ctrlbyte, c.control2);
    std::copy(c.tail.begin(), c.tail.end(), image.tail);
    image.body = random_bytes(c.prg_rom + c.chr_rom, 3);
    load(image);
    EXPECT_EQ(cartridge.mapper_number, c.mapper_number);
    EXPECT_EQ(cartridge.submapper, c.submapper);
    EXPECT_EQ(cartridge.nes2, (c.control2 & 0x0C) == 0x08);
    EXPECT_EQ(cartridge.prg_rom.size(), c.prg_rom);
    EXPECT_EQ(cartridge.chr_rom.size(), c.chr_rom);
    EXPECT_EQ(cartridge_has_chr_ram(), c.chr_is_ram);
    EXPECT_EQ(cartridge.prg_ram_size, c.prg_ram);
    EXPECT_EQ(cartridge.prg_nvram_size, c.prg_nvram);
    EXPECT_EQ(cartridge.chr_ram_size, c.chr_ram_size);
    EXPECT_EQ(cartridge.chr_nvram_size, c.chr_nvram_size);
    EXPECT_EQ(cartridge.chr_ram.size(), c.chr_ram_beside);
    EXPECT_EQ(cartridge_battery_size(), c.battery);
    EXPECT_EQ(cartridge.timing, c.timing);
    // Program ROM comes first in the file; a ROM smaller than its slots repeats to fill them.
    const size_t prg_bytes = c.prg_units == (10 << 2) ? 1024 : c.prg_rom;
    EXPECT_TRUE(std::equal(cartridge.prg_rom.begin(), cartridge.prg_rom.begin() + static_cast<long>(prg_bytes),
                           image.body.begin()));
    if (prg_bytes < c.prg_rom) {
      EXPECT_TRUE(std::equal(cartridge.prg_rom.begin() + static_cast<long>(prg_bytes), cartridge.prg_rom.end(),
                             cartridge.prg_rom.begin()));
    }
    if (!c.chr_is_ram) {
      EXPECT_EQ(cartridge.chr_rom[0], image.body[prg_bytes]);
    } else {
      EXPECT_TRUE(std::all_of(cartridge.chr_rom.begin(), cartridge.chr_rom.end(), [](uint8_t b) { return b == 0; }));
    }
  }
}

// MMC1's large boards: the cartridge RAM that NES 2.0 sizes give (SOROM 16 KiB, SXROM 32 KiB; an
// iNES 1.0 image has 8 KiB whatever its program ROM), the part of it the battery keeps (SOROM's
// second bank), the battery file holding that part and the save state all of it.
TEST_F(CartridgeLoad, Mmc1LargeBoardsHaveTheirRamInTheStateAndTheirKeptBankInTheBatteryFile) {
  struct Case {
    const char* name;
    uint8_t prg_units, ctrlbyte, control2;
    std::vector<uint8_t> tail;  // bytes 8-15
    size_t ram, battery_offset, battery;
  };
  const Case cases[] = {
      {"iNES 256K, battery", 16, 0x12, 0x00, {}, 8192, 0, 8192},
      {"iNES 512K (SUROM), battery", 32, 0x12, 0x00, {}, 8192, 0, 8192},
      {"NES 2.0 8K RAM + 8K NVRAM (SOROM)", 16, 0x12, 0x08, {0, 0, 0x77, 0x07}, 16384, 8192, 8192},
      {"NES 2.0 SOROM without the battery bit", 16, 0x10, 0x08, {0, 0, 0x77, 0x07}, 16384, 8192, 0},
      {"NES 2.0 16K NVRAM", 16, 0x12, 0x08, {0, 0, 0x80, 0x07}, 16384, 0, 16384},
      {"NES 2.0 32K NVRAM (SXROM)", 32, 0x12, 0x08, {0, 0, 0x90, 0x07}, 32768, 0, 32768},
      {"NES 2.0 64K NVRAM: SXROM's 32K", 32, 0x12, 0x08, {0, 0, 0xA0, 0x07}, 32768, 0, 32768},
      {"NES 2.0 8K NVRAM", 16, 0x12, 0x08, {0, 0, 0x70, 0x07}, 8192, 0, 8192},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image = make_image(c.prg_units, 0, c.ctrlbyte, c.control2);
    std::copy(c.tail.begin(), c.tail.end(), image.tail);
    load(image);
    EXPECT_EQ(cartridge_ram_size(), c.ram);
    ASSERT_EQ(battery_image_size(), c.battery);
    const std::vector<uint8_t> ram = random_bytes(c.ram, 12);
    std::copy(ram.begin(), ram.end(), bus.cartridge_ram);
    std::vector<uint8_t> kept(c.battery);
    battery_image_save(kept.data());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), ram.begin() + static_cast<long>(c.battery_offset)));
    const std::vector<uint8_t> state = snapshot_save();
    std::fill(bus.cartridge_ram, bus.cartridge_ram + c.ram, uint8_t{0});
    battery_image_load(kept.data());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), bus.cartridge_ram + c.battery_offset))
        << "battery file not loaded back";
    std::string error;
    ASSERT_TRUE(snapshot_load(state, error)) << error;
    EXPECT_TRUE(std::equal(ram.begin(), ram.end(), bus.cartridge_ram)) << "cartridge RAM not in the state";
  }
}

// The Bandai boards' battery file: the EEPROM's cells where the header gives one (24C02 for mapper
// 16 with a battery or NVRAM, 24C01 for 159 and its old number 16.1), else the cartridge RAM;
// the file's bytes are the cells, out and back in.
TEST_F(CartridgeLoad, BandaiBoardsKeepTheirEepromCellsInTheBatteryFile) {
  struct Case {
    const char* name;
    uint8_t chr_units, ctrlbyte, control2;
    std::vector<uint8_t> tail;  // bytes 8-15
    size_t battery;
    bool eeprom;
  };
  const Case cases[] = {
      {"16, iNES 1.0 with a battery: 24C02", 16, 0x02, 0x10, {}, 256, true},
      {"16, iNES 1.0 without: none", 16, 0x00, 0x10, {}, 0, false},
      {"16.5 with 256 bytes of NVRAM", 16, 0x02, 0x18, {0x50, 0, 0x20, 0}, 256, true},
      {"16.5 with RAM and a battery: no EEPROM", 16, 0x02, 0x18, {0x50, 0, 0x07, 0}, 8192, false},
      {"159, iNES 1.0: 24C01", 16, 0xF2, 0x90, {}, 128, true},
      {"16.1 (159's old number)", 16, 0x02, 0x18, {0x10, 0, 0x10, 0}, 128, true},
      {"153: its battery RAM", 0, 0x92, 0x90, {}, 8192, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Image image = make_image(16, c.chr_units, c.ctrlbyte, c.control2);
    std::copy(c.tail.begin(), c.tail.end(), image.tail);
    load(image);
    ASSERT_EQ(battery_image_size(), c.battery);
    if (!c.eeprom) continue;
    const std::vector<uint8_t> cells = random_bytes(c.battery, 13);
    ASSERT_GE(cartridge.board_memory.size(), c.battery);
    std::copy(cells.begin(), cells.end(), cartridge.board_memory.begin());
    std::vector<uint8_t> kept(c.battery);
    battery_image_save(kept.data());
    EXPECT_EQ(kept, cells);
    std::fill(cartridge.board_memory.begin(), cartridge.board_memory.end(), uint8_t{0});
    battery_image_load(kept.data());
    EXPECT_TRUE(std::equal(cells.begin(), cells.end(), cartridge.board_memory.begin())) << "cells not loaded back";
  }
}

// Character RAM of any size the header gives is part of the state, and a state of the whole of it
// comes back as it was.
TEST_F(CartridgeLoad, CharacterRamOfTheHeadersSizeRoundTripsThroughASnapshot) {
  Image image = make_image(8, 0, 0x40, 0x08);
  image.tail[3] = 0x09;  // 32 KiB
  load(image);
  ASSERT_EQ(cartridge.chr_rom.size(), 32768u);
  const std::vector<uint8_t> pattern = random_bytes(32768, 11);
  cartridge.chr_rom = pattern;
  const std::vector<uint8_t> state = snapshot_save();
  std::fill(cartridge.chr_rom.begin(), cartridge.chr_rom.end(), uint8_t{0});
  std::string error;
  ASSERT_TRUE(snapshot_load(state, error)) << error;
  EXPECT_EQ(cartridge.chr_rom, pattern);
}

TEST_F(CartridgeLoad, TrainerGoesToCartridgeRamAt7000AndProgramRomFollowsIt) {
  const Image image = make_image(1, 1, 0x04);
  load(image);
  const auto body = image.body.begin();
  EXPECT_TRUE(std::equal(body, body + 512, bus.cartridge_ram + 0x1000));
  EXPECT_EQ(bus.cartridge_ram[0x0FFF], 0);
  EXPECT_EQ(bus.cartridge_ram[0x1200], 0);
  EXPECT_EQ(cartridge.prg_rom, std::vector<uint8_t>(body + 512, body + 512 + 16384));
  EXPECT_EQ(cartridge.chr_rom, std::vector<uint8_t>(body + 512 + 16384, image.body.end()));
}

TEST_F(CartridgeLoad, WithoutTheTrainerBitTheBytesAfterTheHeaderAreProgramRom) {
  const Image image = make_image(1, 1, 0x03);  // bits 0 and 1 only
  load(image);
  EXPECT_EQ(cartridge.prg_rom[0], image.body[0]);
  EXPECT_EQ(bus.cartridge_ram[0x1000], 0);
}

TEST_F(CartridgeLoad, BytesMissingFromAShortFileReadAsZero) {
  Image image = make_image(2, 1);
  image.body.resize(16384 + 100);
  load(image);
  ASSERT_EQ(cartridge.prg_rom.size(), 2u * 16384);
  EXPECT_TRUE(std::equal(image.body.begin(), image.body.end(), cartridge.prg_rom.begin()));
  EXPECT_TRUE(std::all_of(cartridge.prg_rom.begin() + 16384 + 100, cartridge.prg_rom.end(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(cartridge.chr_rom, std::vector<uint8_t>(8192, 0));
}

TEST_F(CartridgeLoad, SummaryLineFormat) {
  load(make_image(1, 1, 0x01, 0x00));
  EXPECT_EQ(cartridge_summary(), "1 * 16kB ROM, 1 * 8kB VROM, mapper 0, ctrlbyte 01\n");
  load(make_image(255, 0, 0xFA, 0x00));  // v = $0F; ctrlbyte in upper-case hex
  EXPECT_EQ(cartridge_summary(), "255 * 16kB ROM, 0 * 8kB VROM, mapper 15, ctrlbyte FA\n");
  load(make_image(16, 32, 0x20, 0x44));  // bytes 12-15 zero: the number whole
  EXPECT_EQ(cartridge_summary(), "16 * 16kB ROM, 32 * 8kB VROM, mapper 66, ctrlbyte 20\n");
  Image nes2 = make_image(1, 0, 0x40, 0x08);
  nes2.tail[1] = 0x11;  // NES 2.0 sizes past 255 units: the line shows bytes 4 and 5 as ever
  load(nes2);
  EXPECT_EQ(cartridge_summary(), "1 * 16kB ROM, 0 * 8kB VROM, mapper 4, ctrlbyte 40\n");
}

// Each refusal names the file and the problem, and leaves the loaded cartridge as it was.
TEST_F(CartridgeLoad, RefusalsNameFileAndProblem) {
  load(make_image(1, 1));
  const std::vector<uint8_t> loaded = cartridge.prg_rom;
  const std::string magic_check =
      "fgetc(fp) == 'N' && fgetc(fp) == 'E' && fgetc(fp) == 'S' && fgetc(fp) == '\\32'";
  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
    std::string problem;
  };
  Image prg0 = make_image(1, 1);
  prg0.prg_units = 0;
  Image wrong_last = make_image(1, 1);
  wrong_last.magic[3] = 0x1B;
  Image wrong_first = make_image(1, 1);
  wrong_first.magic[0] = 'n';
  Image nes2_prg0 = make_image(1, 1, 0x00, 0x08);
  nes2_prg0.prg_units = 0;
  nes2_prg0.tail[1] = 0x10;  // CHR ROM's high bits only
  Image huge_exponent = make_image(1, 1, 0x00, 0x08);
  huge_exponent.prg_units = 0xFF;  // 2^63 * 7 bytes
  huge_exponent.tail[1] = 0x0F;
  Image huge_chr = make_image(1, 1, 0x00, 0x08);
  huge_chr.tail[1] = 0xE0;  // $E01 * 8 KiB
  const std::vector<Case> cases = {
      {"prg0.nes", prg0.bytes(), "PRG ROM size is 0"},
      {"nes2_prg0.nes", nes2_prg0.bytes(), "PRG ROM size is 0"},
      {"huge_exponent.nes", huge_exponent.bytes(),
       "header announces PRG ROM of more than 16777216 bytes; this program holds at most 16 MiB"},
      {"huge_chr.nes", huge_chr.bytes(), "header announces CHR ROM of 29368320 bytes; this program holds at most 16 MiB"},
      {"last_magic_byte.nes", wrong_last.bytes(), magic_check},
      {"first_magic_byte.nes", wrong_first.bytes(), magic_check},
      {"empty.nes", {}, magic_check},
      {"three_bytes.nes", {'N', 'E', 'S'}, magic_check},
      {"short_header.nes", {'N', 'E', 'S', 0x1A, 1, 1}, "header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = dir.write(c.name, c.bytes);
    std::string error;
    EXPECT_FALSE(load_cartridge(file.c_str(), error));
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    if (c.problem == magic_check) {
      EXPECT_NE(error.find("main"), std::string::npos) << error;
    }
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(cartridge.prg_rom, loaded);
  }
  std::string error;
  EXPECT_FALSE(load_cartridge((dir.path() / "missing.nes").c_str(), error));
  EXPECT_NE(error.find("missing.nes"), std::string::npos) << error;
  EXPECT_FALSE(load_cartridge(dir.path().c_str(), error));
  EXPECT_NE(error.find("cannot read"), std::string::npos) << "a directory: " << error;
}

// ---- through the runner ----

class HeadlessImages : public ::testing::Test {
 protected:
  // Expects the runner to refuse `file`: exit code 2, one line on stderr naming the file, no summary.
  void expect_refused(const fs::path& file, const std::string& problem) {
    const HeadlessRun run = run_headless(file, "--frames 1");
    EXPECT_EQ(run.exit_code, 2) << run.err;
    EXPECT_EQ(run.error_lines(), 1u) << run.err;
    EXPECT_NE(run.err.find(file.string()), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(problem), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
  TempDir dir;
};

TEST_F(HeadlessImages, PrintsExactlyTheSummaryLine) {
  const fs::path file = dir.write("ok.nes", make_image(1, 1, 0x01).bytes());
  const HeadlessRun run = run_headless(file, "--frames 1");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "1 * 16kB ROM, 1 * 8kB VROM, mapper 0, ctrlbyte 01\n");
  EXPECT_EQ(run.err, "");
}

// A mapper number the board table lacks, or an image for PAL or Dendy consoles, runs all the same
// (exit 0, the summary line as ever) and says so in one line on stderr; the others run silently.
TEST_F(HeadlessImages, SaysWhenTheBoardIsNotSupported) {
  struct Case {
    uint8_t ctrlbyte, control2, byte8, byte12;
    const char* err;
  };
  const Case cases[] = {
      {0x30, 0x60, 0, 0, "nes-headless: mapper 99 is not supported; this game will not run correctly\n"},
      {0x50, 0x50, 0, 0, "nes-headless: mapper 85 is not supported; this game will not run correctly\n"},
      {0x40, 0x08, 0x01, 0, "nes-headless: mapper 260 is not supported; this game will not run correctly\n"},
      {0xE0, 0xC0, 0, 0, ""},     // 206, whole since bytes 12-15 are zero
      {0x70, 0x70, 0, 0, ""},     // 119
      {0x40, 0x08, 0x10, 0, ""},  // 4.1
      {0x00, 0x08, 0, 1, "nes-headless: this image is for PAL consoles; it runs here at NTSC speed and timing\n"},
      {0x00, 0x08, 0, 3, "nes-headless: this image is for Dendy consoles; it runs here at NTSC speed and timing\n"},
      {0x00, 0x08, 0, 2, ""},     // multi-region
  };
  for (const Case& c : cases) {
    Image image = make_image(2, 2, c.ctrlbyte, c.control2);
    image.tail[0] = c.byte8;
    image.tail[4] = c.byte12;
    const HeadlessRun run = run_headless(dir.write("board.nes", image.bytes()), "--frames 2");
    SCOPED_TRACE(c.err);
    EXPECT_EQ(run.exit_code, 0) << run.describe();
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
  }
}

TEST_F(HeadlessImages, RefusesMissingUnreadableAndMalformedImages) {
  Image prg0 = make_image(1, 1);
  prg0.prg_units = 0;
  Image bad_magic = make_image(1, 1);
  bad_magic.magic[2] = 's';
  expect_refused(dir.path() / "missing.nes", "missing.nes");
  expect_refused(dir.path(), "cannot read");
  expect_refused(dir.write("prg0.nes", prg0.bytes()), "PRG ROM size is 0");
  expect_refused(dir.write("magic.nes", bad_magic.bytes()),
                 "fgetc(fp) == 'N' && fgetc(fp) == 'E' && fgetc(fp) == 'S' && fgetc(fp) == '\\32'");
  expect_refused(dir.write("header.nes", {'N', 'E', 'S', 0x1A, 2}), "header");
}

TEST_F(HeadlessImages, RefusesAFileWithoutReadPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reading";
  const fs::path file = dir.write("locked.nes", make_image(1, 1).bytes());
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  expect_refused(file, "cannot open");
}

TEST_F(HeadlessImages, RunsImagesShorterThanTheirHeader) {
  Image image = make_image(2, 1);
  image.body.resize(5000);
  HeadlessRun run = run_headless(dir.write("short.nes", image.bytes()), "--frames 2");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "2 * 16kB ROM, 1 * 8kB VROM, mapper 0, ctrlbyte 00\n");
  image = make_image(255, 255, 0x10);  // about 6 MiB announced, 100 bytes present
  image.body.resize(100);
  run = run_headless(dir.write("huge.nes", image.bytes()), "--frames 2");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "255 * 16kB ROM, 255 * 8kB VROM, mapper 1, ctrlbyte 10\n");
}

// Random files, with and without a valid magic: either the machine runs (exit 0) or the runner
// refuses the file in one line (exit 2); never a crash, a sanitizer report or another code.
TEST_F(HeadlessImages, RandomBytesRunOrAreRefused) {
  int ran = 0, refused = 0;
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    std::vector<uint8_t> bytes = random_bytes(1 + (seed * 7919) % 70000, seed);
    if (seed % 2 == 0) std::copy_n("NES\x1A", 4, bytes.begin());
    if (seed % 4 == 0) bytes[4] = static_cast<uint8_t>(1 + bytes[4] % 4);  // a small PRG size
    const fs::path file = dir.write("random" + std::to_string(seed) + ".nes", bytes);
    const HeadlessRun run = run_headless(file, "--frames 2");
    SCOPED_TRACE("seed " + std::to_string(seed));
    if (run.exit_code == 0) {
      ++ran;
      EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
      if (!run.err.empty()) {  // a mapper number the board table lacks: said in one line
        EXPECT_EQ(run.error_lines(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("nes-headless: mapper ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(" is not supported; this game will not run correctly\n"), std::string::npos) << run.err;
      }
    } else {
      ++refused;
      EXPECT_EQ(run.exit_code, 2) << run.err;
      EXPECT_EQ(run.error_lines(), 1u) << run.err;
      EXPECT_NE(run.err.find(file.string()), std::string::npos) << run.err;
    }
  }
  EXPECT_GT(ran, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
