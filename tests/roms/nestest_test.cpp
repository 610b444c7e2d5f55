// nestest run from $C000: the CPU state before every instruction (PC, A, X, Y, P, SP and the cycle
// count) must match the reference log line for line.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/headless_launch.h"

namespace fs = std::filesystem;

namespace {

struct CpuState {
  std::string pc, a, x, y, p, sp, cycles;
  bool operator==(const CpuState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const CpuState& s) {
  return out << s.pc << " A:" << s.a << " X:" << s.x << " Y:" << s.y << " P:" << s.p << " SP:" << s.sp
             << " CYC:" << s.cycles;
}

// Reads one state per line with `pattern`, whose seven groups are PC, A, X, Y, P, SP and cycles.
std::vector<CpuState> read_states(const fs::path& file, const std::regex& pattern) {
  std::vector<CpuState> states;
  std::ifstream in(file);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (!std::regex_search(line, m, pattern)) {
      ADD_FAILURE() << file << ": unreadable line: " << line;
      break;
    }
    states.push_back({m[1], m[2], m[3], m[4], m[5], m[6], m[7]});
  }
  return states;
}

TEST(Nestest, TraceMatchesTheReferenceLog) {
  const fs::path rom = fs::path(SHARED_TEST_ROMS) / "other" / "nestest.nes";
  const fs::path log = fs::path(SHARED_TEST_ROMS) / "other" / "nestest.log";
  if (!fs::exists(rom) || !fs::exists(log)) GTEST_SKIP() << "no nestest at " << rom.parent_path();
  const fs::path trace = fs::temp_directory_path() / ("nestest_" + std::to_string(getpid()) + ".trace");
  const headless::Run run = headless::run({rom.string(), "--entry", "C000", "--steps", "8992", "--trace", trace.string()});
  ASSERT_EQ(run.exit_code, 0) << run.describe();

  const std::regex log_line(
      R"(^([0-9A-F]{4}) .*A:([0-9A-F]{2}) X:([0-9A-F]{2}) Y:([0-9A-F]{2}) P:([0-9A-F]{2}) SP:([0-9A-F]{2}).*CYC:(\d+))");
  const std::regex trace_line(
      R"(^([0-9A-F]{4}) A:([0-9A-F]{2}) X:([0-9A-F]{2}) Y:([0-9A-F]{2}) P:([0-9A-F]{2}) SP:([0-9A-F]{2}) CYC:(\d+)$)");
  const std::vector<CpuState> expected = read_states(log, log_line);
  std::vector<CpuState> traced = read_states(trace, trace_line);
  fs::remove(trace);
  ASSERT_FALSE(traced.empty());
  traced.erase(traced.begin());  // the reset step; the log starts with the instruction after it
  ASSERT_EQ(traced.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(traced[i], expected[i]) << "first difference at log line " << i + 1;
}

}  // namespace
