// Reruns every cartridge of tests/golden/manifest.tsv through nes-headless and compares its frame
// log (picture and sound hash of every frame) line by line with the log recorded by
// scripts/record_golden.sh before the per-dot and per-cycle paths were reworked. Any difference is
// a fault of the code under test; the recorded logs are never regenerated.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct GoldenRun {
  std::string name, where, path, options;
  int frames = 0;
};

std::vector<GoldenRun> read_manifest() {
  std::vector<GoldenRun> runs;
  std::ifstream in(fs::path(GOLDEN_DIR) / "manifest.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::stringstream fields(line);
    GoldenRun r;
    std::string frames;
    std::getline(fields, r.name, '\t');
    std::getline(fields, r.where, '\t');
    std::getline(fields, r.path, '\t');
    std::getline(fields, frames, '\t');
    std::getline(fields, r.options, '\t');
    r.frames = std::stoi(frames);
    runs.push_back(r);
  }
  return runs;
}

std::vector<std::string> read_lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "" when the logs agree on the first `limit` frames (0: all), else the first differing frame.
std::string first_difference(const std::vector<std::string>& expected, const std::vector<std::string>& got,
                             size_t limit) {
  const size_t count = limit ? std::min(limit, expected.size()) : expected.size();
  for (size_t i = 0; i < count; ++i) {
    if (i >= got.size()) return "the run stopped after " + std::to_string(got.size()) + " frames";
    if (got[i] != expected[i])
      return "first difference at line " + std::to_string(i + 1) + " (frame number, picture hash, sound hash)\n" +
             "  recorded: " + expected[i] + "\n  now:      " + got[i];
  }
  return "";
}

TEST(GoldenFrameLogs, EveryRunReproducesItsRecordedLog) {
  const std::vector<GoldenRun> runs = read_manifest();
  ASSERT_GT(runs.size(), 100u) << "manifest missing or short in " << GOLDEN_DIR;
  const fs::path shared = SHARED_TEST_ROMS;
  if (!fs::exists(shared)) std::printf("no shared test cartridges at %s: their runs are skipped\n", SHARED_TEST_ROMS);
  // Sanitizer builds run ten times slower: there the first frames of each run are compared.
  const size_t limit = GOLDEN_FRAME_LIMIT;
  const fs::path log = fs::temp_directory_path() / ("golden_" + std::to_string(getpid()) + ".log");
  for (const GoldenRun& r : runs) {
    SCOPED_TRACE(r.name);
    const fs::path image = r.where == "shared" ? shared / r.path : fs::path(OWN_ROM_DIR) / r.path;
    if (r.where == "shared" && !fs::exists(shared)) continue;
    ASSERT_TRUE(fs::exists(image)) << image << " is missing";
    const int frames = limit ? std::min(r.frames, static_cast<int>(limit)) : r.frames;
    const std::string command = std::string(NES_HEADLESS) + " '" + image.string() + "' --frames " +
                                std::to_string(frames) + " --frame-log '" + log.string() + "' " +
                                r.options + " > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    const std::string difference =
        first_difference(read_lines(fs::path(GOLDEN_DIR) / "logs" / (r.name + ".log")), read_lines(log), limit);
    EXPECT_EQ(difference, "") << r.name << ": " << command;
  }
  fs::remove(log);
}

}  // namespace
