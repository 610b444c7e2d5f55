// fuzz_replay TARGET PATH...: feeds every file under the paths to a fuzz target's entry function,
// without libFuzzer, so every build checks the committed corpus. A fault aborts the process.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/targets.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--write-snapshot-seeds") {
    // Regenerates the snapshot target's seeds (after a change of the state's layout).
    for (unsigned kind = 0; kind < fuzz_snapshot_cartridges(); ++kind)
      for (uint64_t cycles : {1000u, 70000u}) {
        const std::vector<uint8_t> seed = fuzz_snapshot_seed(kind, cycles);
        const fs::path file = fs::path(argv[2]) / ("seed-" + std::to_string(kind) + "-" + std::to_string(cycles));
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
        if (!out.flush()) {
          std::fprintf(stderr, "fuzz_replay: %s: cannot write\n", file.c_str());
          return 2;
        }
      }
    return 0;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: fuzz_replay TARGET PATH...\n");
    return 2;
  }
  const FuzzEntry entry = fuzz_entry(argv[1]);
  if (!entry) {
    std::fprintf(stderr, "fuzz_replay: no target '%s' (loader, machine, snapshot, options)\n", argv[1]);
    return 2;
  }
  std::vector<fs::path> files;
  for (int i = 2; i < argc; ++i) {
    std::error_code ec;
    if (fs::is_directory(argv[i], ec)) {
      for (const auto& e : fs::recursive_directory_iterator(argv[i]))
        if (e.is_regular_file()) files.push_back(e.path());
    } else if (fs::is_regular_file(argv[i], ec)) {
      files.push_back(argv[i]);
    } else {
      std::fprintf(stderr, "fuzz_replay: %s: no such file or folder\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "fuzz_replay: no corpus files given\n");
    return 2;
  }
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "fuzz_replay: %s: cannot read\n", file.c_str());
      return 2;
    }
    std::fprintf(stderr, "%s\n", file.c_str());
    entry(bytes.data(), bytes.size());
  }
  std::printf("%s: %zu inputs replayed\n", argv[1], files.size());
  return 0;
}
