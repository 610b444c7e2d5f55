// The cartridge loader: the mapper number rule of older and NES 2.0 headers, the contents of program
// ROM, character ROM and the trainer, the summary line, and the refusal of images that cannot be
// loaded -- in the library and through nes-headless, where a bad image must never crash the runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core_test_machine.h"

namespace {

using namespace core_test;

TEST(MapperNumber, OlderHeadersOrTheWholeSecondByteIntoTheHighHalf) {
  struct Case {
    uint8_t ctrlbyte, control2;
    uint32_t expected;
  };
  // v = byte 7 OR (byte 6 >> 4); v below 64 is the number, else v AND $0F.
  const Case cases[] = {
      {0x10, 0x00, 1},   {0x00, 0x01, 1},  // the low bits of byte 7 count too
      {0x20, 0x44, 6},                     // v = $46: folded to its low half
      {0x70, 0x30, 55},                    // v = $37: kept
      {0xF0, 0x00, 15},  {0x00, 0x3F, 63}, {0x00, 0x40, 0}, {0x30, 0xF0, 3},
      {0x00, 0x04, 4},   {0x00, 0x0C, 12},  // byte 7 AND $0C is not $08: older header
  };
  for (const Case& c : cases)
    EXPECT_EQ(mapper_number_from_header(c.ctrlbyte, c.control2), c.expected)
        << std::hex << "ctrlbyte " << int{c.ctrlbyte} << ", byte 7 " << int{c.control2};
}

TEST(MapperNumber, Nes2HeadersTakeTheHighHalvesOfBothBytes) {
  EXPECT_EQ(mapper_number_from_header(0x20, 0x08), 2u);     // older rule: 10
  EXPECT_EQ(mapper_number_from_header(0x10, 0x18), 0x11u);  // older rule: $19
  EXPECT_EQ(mapper_number_from_header(0xA0, 0x48), 0x4Au);  // 74: no folding
  EXPECT_EQ(mapper_number_from_header(0x0F, 0xFB), 0xF0u);  // low halves are flags
  EXPECT_EQ(mapper_number_from_header(0x00, 0x09), 0u);
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
  load(make_image(16, 32, 0x20, 0x44));
  EXPECT_EQ(cartridge_summary(), "16 * 16kB ROM, 32 * 8kB VROM, mapper 6, ctrlbyte 20\n");
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
  const std::vector<Case> cases = {
      {"prg0.nes", prg0.bytes(), "PRG ROM size is 0"},
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
      EXPECT_EQ(run.err, "");
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
