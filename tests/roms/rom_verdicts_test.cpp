// Runs test cartridges through nes-headless and checks each verdict against a table: the public
// cartridges of the shared test-rom folder (expected.tsv, for the suites this machine covers, and
// reset_cartridges.tsv for the ones that need the reset button) and our own cartridges
// (own_cartridges.tsv).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/headless_launch.h"

namespace fs = std::filesystem;

namespace {

// Suites of the shared folder whose verdicts the machine is expected to give.
const char* const covered_suites[] = {
    "instr_test-v5/", "branch_timing_tests/", "ppu_open_bus/", "blargg_ppu_tests_2005.09.15b/",
    "ppu_vbl_nmi/rom_singles/01-", "ppu_vbl_nmi/rom_singles/02-", "ppu_vbl_nmi/rom_singles/03-",
    "ppu_vbl_nmi/rom_singles/04-", "ppu_vbl_nmi/rom_singles/05-", "ppu_vbl_nmi/rom_singles/06-",
    "ppu_vbl_nmi/rom_singles/07-", "ppu_vbl_nmi/rom_singles/08-",
    "apu_test/", "cpu_interrupts_v2/", "instr_timing/",
    "sprite_hit_tests_2005.10.05/", "sprite_overflow_tests/", "oam_read/",
    "ppu_vbl_nmi/rom_singles/09-", "ppu_vbl_nmi/rom_singles/10-", "ppu_vbl_nmi/ppu_vbl_nmi.nes",
    "mmc3_test_2/",
};

struct Row {
  std::string path;      // cartridge
  std::string protocol;  // result, f8, f0
  int expect = 0;        // exit code or result byte
  std::string options;   // extra runner options
  std::string reason;    // why a failure is expected
};

struct Run {
  int exit_code;
  std::string output;
};

// The runner on `image` with `options` and the row's extra options.
Run run_headless(const std::string& image, const std::vector<std::string>& options, const std::string& extra) {
  std::vector<std::string> args{image};
  args.insert(args.end(), options.begin(), options.end());
  for (const std::string& w : headless::words(extra)) args.push_back(w);
  const headless::Run run = headless::run(args);
  return {run.exit_code, run.out + run.err};
}

// The verdict of one cartridge: the exit code of --result, or the byte the old protocols leave
// in work RAM.
void check_row(const Row& row, const std::string& image) {
  if (row.protocol == "result") {
    const Run run = run_headless(image, {"--result", "--frames", "3000"}, row.options);
    // 0 passed, 1 failed; a code of 2 or more names the failing test, which the cartridges' text
    // gives as "#N" (and the runner's exit code as 1).
    EXPECT_EQ(run.exit_code, std::min(row.expect, 1)) << row.path << "\n" << run.output << "expected because: " << row.reason;
    if (row.expect >= 2) {
      EXPECT_NE(run.output.find("#" + std::to_string(row.expect)), std::string::npos) << row.path << "\n" << run.output;
    }
    return;
  }
  const fs::path dump = fs::temp_directory_path() / ("verdict_" + std::to_string(getpid()) + ".bin");
  const Run run = run_headless(image, {"--frames", "1200", "--dump", dump.string()}, row.options);
  ASSERT_EQ(run.exit_code, 0) << run.output;
  std::ifstream in(dump, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(dump);
  const size_t address = row.protocol == "f8" ? 0xF8 : 0xF0;
  ASSERT_GT(bytes.size(), address);
  EXPECT_EQ(static_cast<uint8_t>(bytes[address]), row.expect) << row.path << ": expected because: " << row.reason;
}

// `public_table`: the columns of expected.tsv; `covered_only`: only the rows of covered_suites.
std::vector<Row> read_table(const std::string& file, bool public_table, bool covered_only = false) {
  std::vector<Row> rows;
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream fields(line);
    Row row;
    std::string expect;
    std::getline(fields, row.path, '\t');
    std::getline(fields, row.protocol, '\t');
    std::getline(fields, expect, '\t');
    std::getline(fields, public_table ? row.reason : row.options, '\t');
    row.expect = std::stoi(expect);
    if (covered_only) {
      bool covered = false;
      for (const char* suite : covered_suites) covered = covered || row.path.rfind(suite, 0) == 0;
      if (!covered) continue;
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(PublicCartridges, GiveTheExpectedVerdicts) {
  const fs::path table = fs::path(SHARED_TEST_ROMS) / "expected.tsv";
  if (!fs::exists(table)) GTEST_SKIP() << "no shared test cartridges at " << SHARED_TEST_ROMS;
  std::vector<Row> rows = read_table(table.string(), true, true);
  ASSERT_FALSE(rows.empty());
  for (const Row& row : read_table(RESET_CARTRIDGE_TABLE, true)) rows.push_back(row);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    check_row(row, (fs::path(SHARED_TEST_ROMS) / row.path).string());
  }
}

// The two IRQ rules of the MMC3 counter, each checked by one cartridge that the other rule fails:
// with a NES 2.0 header saying submapper 4 (the NEC chip) the verdicts swap.
TEST(PublicCartridges, SubmapperFourGetsTheNecCounterRule) {
  const fs::path folder = fs::path(SHARED_TEST_ROMS) / "mmc3_test_2/rom_singles";
  if (!fs::exists(folder)) GTEST_SKIP() << "no shared test cartridges at " << SHARED_TEST_ROMS;
  const struct {
    const char* name;
    int expect;
  } rows[] = {{"6-MMC3_alt.nes", 0}, {"5-MMC3.nes", 2}, {"4-scanline_timing.nes", 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::ifstream in(folder / row.name, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(image.size(), 16u);
    image[7] = static_cast<char>((image[7] & 0xF0) | 0x08);  // NES 2.0
    image[8] = 0x40;                                          // mapper 4, submapper 4
    image[9] = 0;
    image[10] = 0x07;  // 8 KiB of RAM at $6000
    image[11] = 0;
    const fs::path patched = fs::temp_directory_path() / ("nec_" + std::to_string(getpid()) + "_" + row.name);
    std::ofstream(patched, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    check_row({row.name, "result", row.expect, "", "submapper 4: the NEC rule"}, patched.string());
    fs::remove(patched);
  }
}

TEST(OwnCartridges, PassTheirChecks) {
  const std::vector<Row> rows = read_table(OWN_CARTRIDGE_TABLE, false);
  ASSERT_FALSE(rows.empty());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    const fs::path image = fs::path(OWN_ROM_DIR) / row.path;
    ASSERT_TRUE(fs::exists(image)) << image << " was not built";
    check_row(row, image.string());
  }
}

}  // namespace
