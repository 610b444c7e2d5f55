// Runs test cartridges through nes-headless and checks each verdict against a table: the public
// cartridges of the shared test-rom folder (expected.tsv, for the suites this machine covers, and
// reset_cartridges.tsv for the ones that need the reset button) and our own cartridges
// (own_cartridges.tsv).
#include <gtest/gtest.h>

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
    EXPECT_EQ(run.exit_code, row.expect) << row.path << "\n" << run.output << "expected because: " << row.reason;
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
