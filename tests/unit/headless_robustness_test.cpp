// The runner under hostile command lines: outputs that are the image or each other, full disks,
// folders where files belong, bad numbers, signals, images and state or battery files that are not
// what they claim. One table; every row checks the exit code and the message, that no file which
// existed before the run changed (the image above all), and that no temporary file is left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <cctype>
#include <sstream>
#include <thread>

#include "tests/unit/core_test_machine.h"

namespace {

using namespace core_test;

// A cartridge with battery RAM whose program is JMP $8000 for ever: it never stops by itself.
std::vector<uint8_t> endless_image() {
  Image image;
  image.ctrlbyte = 0x02;
  image.body.assign(16384 + 8192, 0);
  image.body[0] = 0x4C, image.body[1] = 0x00, image.body[2] = 0x80;  // JMP $8000
  image.body[0x3FFA] = 0x00, image.body[0x3FFB] = 0x80;              // NMI
  image.body[0x3FFC] = 0x00, image.body[0x3FFD] = 0x80;              // reset
  image.body[0x3FFE] = 0x00, image.body[0x3FFF] = 0x80;              // IRQ
  return image.bytes();
}

// A cartridge with battery RAM that counts at $6000 for ever (INC $6000, JMP $8000), on board
// `mapper_number` (mapper 99 and the like: one the board table lacks).
std::vector<uint8_t> counting_image(uint8_t mapper_number) {
  Image image;
  image.ctrlbyte = static_cast<uint8_t>(0x02 | (mapper_number << 4));
  image.control2 = static_cast<uint8_t>(mapper_number & 0xF0);
  image.body.assign(16384 + 8192, 0);
  const uint8_t program[] = {0xEE, 0x00, 0x60, 0x4C, 0x00, 0x80};
  std::copy(std::begin(program), std::end(program), image.body.begin());
  for (size_t vector = 0x3FFA; vector < 0x4000; vector += 2) image.body[vector + 1] = 0x80;  // all at $8000
  return image.bytes();
}

std::map<std::string, std::string> files_in(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied)) {
    if (!e.is_regular_file() || e.is_symlink()) continue;
    // A file a row made unreadable is read with its permission lent back for the moment.
    const fs::perms perms = e.status().permissions();
    fs::permissions(e.path(), fs::perms::owner_read, fs::perm_options::add);
    std::ifstream in(e.path(), std::ios::binary);
    files[fs::relative(e.path(), dir).string()] = std::string(std::istreambuf_iterator<char>(in), {});
    in.close();
    fs::permissions(e.path(), perms);
  }
  return files;
}

uint32_t le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
         static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

// Whether `line` is `pattern` with every 'h' a hex digit (upper case, or lower with `lower`) and
// every 'n' one or more decimal digits.
bool matches(const std::string& line, const std::string& pattern, bool lower = false) {
  size_t i = 0;
  for (char p : pattern) {
    if (p == 'n') {
      const size_t start = i;
      while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
      if (i == start) return false;
    } else if (i >= line.size()) {
      return false;
    } else if (p == 'h') {
      const char c = line[i++];
      if (!std::isdigit(static_cast<unsigned char>(c)) && !(lower ? c >= 'a' && c <= 'f' : c >= 'A' && c <= 'F'))
        return false;
    } else if (line[i++] != p) {
      return false;
    }
  }
  return i == line.size();
}

// Outputs of a run that was stopped by a signal: whole lines, and a WAV whose header sizes match.
void expect_complete_outputs(const TempDir& dir) {
  const std::string trace = dir.read("trace.txt"), frames = dir.read("frames.log"), wav = dir.read("sound.wav");
  ASSERT_GT(trace.size(), 1000u) << "the run was stopped before it wrote much";
  EXPECT_EQ(trace.back(), '\n');
  std::istringstream lines(trace);
  size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count)
    ASSERT_TRUE(matches(line, "hhhh A:hh X:hh Y:hh P:hh SP:hh CYC:n")) << "line " << count << ": " << line;
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back(), '\n');
  std::istringstream frame_lines(frames);
  for (std::string line; std::getline(frame_lines, line);) ASSERT_TRUE(matches(line, "n hhhhhhhhhhhhhhhh hhhhhhhhhhhhhhhh", true)) << line;
  ASSERT_GE(wav.size(), 44u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");
  EXPECT_EQ(le32(wav, 4), wav.size() - 8);
  EXPECT_EQ(le32(wav, 40), wav.size() - 44);
  EXPECT_GT(wav.size(), 44u);
}

// A valid save state of the image, made by the runner itself.
void make_state(const TempDir& dir, const std::string& name) {
  const HeadlessRun run = headless::run({(dir.path() / "game.nes").string(), "--frames", "2", "--save-state",
                                         (dir.path() / name).string()});
  ASSERT_EQ(run.exit_code, 0) << run.describe();
}
void resize_file(const TempDir& dir, const std::string& name, long delta) {
  const fs::path file = dir.path() / name;
  fs::resize_file(file, static_cast<uintmax_t>(static_cast<long>(fs::file_size(file)) + delta));
}

struct Row {
  const char* name;
  std::vector<std::string> args;  // {dir} is the row's folder; the image is {dir}/game.nes
  int exit_code;
  std::string message;            // found in stderr; empty: stderr is empty
  std::function<void(const TempDir&)> prepare = nullptr;
  int stop_signal = 0;            // sent once the run has written a trace
  std::function<void(const TempDir&, const HeadlessRun&)> check = nullptr;
  bool root_skips = false;        // permissions do not stop root
};

void expect_nothing_run(const TempDir&, const HeadlessRun& run) {
  EXPECT_EQ(run.out, "") << "refused only after loading the image";
}

TEST(HeadlessRobustness, HostileCommandLines) {
  const auto link = [](const char* target, const char* name) {
    return [=](const TempDir& d) { fs::create_symlink(d.path() / target, d.path() / name); };
  };
  const auto hard_link = [](const char* target, const char* name) {
    return [=](const TempDir& d) { fs::create_hard_link(d.path() / target, d.path() / name); };
  };
  const auto folder = [](const char* name) { return [=](const TempDir& d) { fs::create_directory(d.path() / name); }; };
  const auto file_of = [](const char* name, size_t size) {
    return [=](const TempDir& d) { d.write(name, std::vector<uint8_t>(size, 0x5A)); };
  };
  const auto state = [](long delta) {
    return [=](const TempDir& d) {
      make_state(d, "state.bin");
      if (delta) resize_file(d, "state.bin", delta);
    };
  };
  const auto no_file = [](const char* name) {
    return [=](const TempDir& d, const HeadlessRun&) { EXPECT_FALSE(fs::exists(d.path() / name)) << name; };
  };
  const std::vector<Row> rows = {
      // 1. An output that is the image, by name or through a link.
      {"trace is the image", {"{dir}/game.nes", "--trace", "{dir}/game.nes"}, 2, "--trace {dir}/game.nes: is the image"},
      {"trace through a symlink", {"{dir}/game.nes", "--trace", "{dir}/link.nes"}, 2, "is the image", link("game.nes", "link.nes")},
      {"trace through a hard link", {"{dir}/game.nes", "--trace", "{dir}/hard.nes"}, 2, "is the image", hard_link("game.nes", "hard.nes")},
      {"frame log is the image", {"{dir}/game.nes", "--frame-log", "{dir}/game.nes"}, 2, "--frame-log {dir}/game.nes: is the image"},
      {"wav through a symlink", {"{dir}/game.nes", "--wav", "{dir}/link.nes"}, 2, "--wav {dir}/link.nes: is the image", link("game.nes", "link.nes")},
      {"dump is the image", {"{dir}/game.nes", "--dump", "{dir}/game.nes"}, 2, "--dump {dir}/game.nes: is the image", nullptr, 0, expect_nothing_run},
      {"screenshot through a hard link", {"{dir}/game.nes", "--screenshot", "{dir}/hard.nes"}, 2, "is the image", hard_link("game.nes", "hard.nes"), 0, expect_nothing_run},
      {"save state is the image", {"{dir}/game.nes", "--save-state", "{dir}/game.nes"}, 2, "--save-state {dir}/game.nes: is the image"},
      {"battery is the image", {"{dir}/game.nes", "--battery", "{dir}/link.nes"}, 2, "--battery {dir}/link.nes: is the image", link("game.nes", "link.nes")},
      // 2. Failed writes (a full disk).
      {"trace on a full disk", {"{dir}/game.nes", "--frames", "5", "--trace", "/dev/full"}, 2, "--trace /dev/full: cannot write: No space left on device"},
      {"frame log on a full disk", {"{dir}/game.nes", "--frames", "5", "--frame-log", "/dev/full"}, 2, "--frame-log /dev/full: cannot write: No space left on device"},
      {"screenshot on a full disk", {"{dir}/game.nes", "--frames", "1", "--screenshot", "/dev/full"}, 2, "--screenshot /dev/full: cannot write: No space left on device"},
      {"dump on a full disk", {"{dir}/game.nes", "--frames", "1", "--dump", "/dev/full"}, 2, "--dump /dev/full: cannot write"},
      {"wav on a full disk", {"{dir}/game.nes", "--frames", "1", "--wav", "/dev/full"}, 2, "--wav /dev/full: cannot write"},
      // 3. Outputs that cannot be created are found before the run.
      {"dump in a missing folder", {"{dir}/game.nes", "--dump", "{dir}/none/ram.bin"}, 2, "--dump {dir}/none/ram.bin: cannot create", nullptr, 0, expect_nothing_run},
      {"screenshot is a folder", {"{dir}/game.nes", "--screenshot", "{dir}/shots"}, 2, "--screenshot {dir}/shots: is a folder", folder("shots"), 0, expect_nothing_run},
      {"screenshot below a file", {"{dir}/game.nes", "--screenshot", "{dir}/game.nes/x.png"}, 2, "--screenshot {dir}/game.nes/x.png: cannot write: Not a directory", nullptr, 0, expect_nothing_run},
      {"dump in a read-only folder", {"{dir}/game.nes", "--dump", "{dir}/locked/ram.bin"}, 2, "--dump {dir}/locked/ram.bin: cannot create",
       [](const TempDir& d) { fs::create_directory(d.path() / "locked"); fs::permissions(d.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec); },
       0, expect_nothing_run, true},
      // 4. Numbers: digits only, in range; zero runs nothing and says so.
      {"frames with a leading space", {"{dir}/game.nes", "--frames", " -1"}, 2, "bad value for --frames: ' -1'"},
      {"frames negative", {"{dir}/game.nes", "--frames", "-1"}, 2, "bad value for --frames: '-1'"},
      {"frames past 2^64-1", {"{dir}/game.nes", "--frames", "18446744073709551616"}, 2, "bad value for --frames"},
      {"steps with a plus sign", {"{dir}/game.nes", "--steps", "+5"}, 2, "bad value for --steps: '+5'"},
      {"entry past $FFFF", {"{dir}/game.nes", "--entry", "10000"}, 2, "bad value for --entry: '10000'"},
      {"entry with 0x", {"{dir}/game.nes", "--entry", "0xC000"}, 2, "bad value for --entry"},
      {"buttons mask past $FF", {"{dir}/game.nes", "--buttons", "3:100"}, 2, "bad value for --buttons: '100'"},
      {"aim below the picture", {"{dir}/game.nes", "--aim", "3:10,240"}, 2, "bad value for --aim y: '240' (decimal digits, at most 239)"},
      {"aim with one coordinate", {"{dir}/game.nes", "--aim", "3:10"}, 2, "--aim takes F:X,Y or F:off, got '3:10'"},
      {"trigger without a frame", {"{dir}/game.nes", "--trigger", "x"}, 2, "bad value for --trigger: 'x'"},
      {"zero frames", {"{dir}/game.nes", "--frames", "0", "--trace", "{dir}/trace.txt"}, 0, "--frames 0: nothing run", nullptr, 0,
       [](const TempDir& d, const HeadlessRun&) { EXPECT_EQ(d.read("trace.txt"), "") << "an instruction ran"; }},
      {"zero steps", {"{dir}/game.nes", "--steps", "0", "--trace", "{dir}/trace.txt"}, 0, "--steps 0: nothing run", nullptr, 0,
       [](const TempDir& d, const HeadlessRun&) { EXPECT_EQ(d.read("trace.txt"), "") << "an instruction ran"; }},
      // 5. Signals end the run with every output complete.
      {"SIGINT", {"{dir}/game.nes", "--frames", "1000000", "--trace", "{dir}/trace.txt", "--frame-log", "{dir}/frames.log", "--wav", "{dir}/sound.wav"},
       130, "", nullptr, SIGINT, [](const TempDir& d, const HeadlessRun&) { expect_complete_outputs(d); }},
      {"SIGTERM", {"{dir}/game.nes", "--frames", "1000000", "--trace", "{dir}/trace.txt", "--frame-log", "{dir}/frames.log", "--wav", "{dir}/sound.wav"},
       143, "", nullptr, SIGTERM, [](const TempDir& d, const HeadlessRun&) { expect_complete_outputs(d); }},
      // 6. Two outputs that are one file.
      {"trace and dump one name", {"{dir}/game.nes", "--trace", "{dir}/out", "--dump", "{dir}/./out"}, 2, "--dump {dir}/./out: is the same file as --trace {dir}/out", nullptr, 0, no_file("out")},
      {"wav and frame log through a link", {"{dir}/game.nes", "--wav", "{dir}/out", "--frame-log", "{dir}/out.link"}, 2, "--wav {dir}/out: is the same file as --frame-log {dir}/out.link",
       [&](const TempDir& d) { file_of("out", 10)(d); link("out", "out.link")(d); }},
      {"save state and battery one file", {"{dir}/game.nes", "--save-state", "{dir}/s", "--battery", "{dir}/s"}, 2, "--battery {dir}/s: is the same file as --save-state"},
      {"an output given twice", {"{dir}/game.nes", "--trace", "{dir}/a", "--trace", "{dir}/b"}, 2, "--trace given twice"},
      {"a count given twice", {"{dir}/game.nes", "--frames", "5", "--frames", "9"}, 2, "--frames given twice"},
      {"steps given twice", {"{dir}/game.nes", "--steps", "5", "--steps", "5"}, 2, "--steps given twice"},
      // 7. Images that are not regular files.
      {"image is a FIFO", {"{dir}/pipe.nes", "--frames", "1"}, 2, "{dir}/pipe.nes: cannot read: not a regular file",
       [](const TempDir& d) { ASSERT_EQ(mkfifo((d.path() / "pipe.nes").c_str(), 0644), 0); }},
      {"image is a folder", {"{dir}/folder.nes", "--frames", "1"}, 2, "{dir}/folder.nes: cannot read", folder("folder.nes")},
      {"image name with a newline", {"{dir}/new\nline.nes", "--frames", "1"}, 2, "{dir}/new\\nline.nes: cannot open"},
      {"option with a newline", {"{dir}/game.nes", "--fr\names", "1"}, 2, "unknown option --fr\\names"},
      {"image is a device", {"/dev/zero", "--frames", "1"}, 2, "/dev/zero: cannot read: not a regular file"},
      {"image unreadable", {"{dir}/locked.nes", "--frames", "1"}, 2, "{dir}/locked.nes: cannot open",
       [](const TempDir& d) { d.write("locked.nes", endless_image()); fs::permissions(d.path() / "locked.nes", fs::perms::none); },
       0, nullptr, true},
      // The files kept beside an image, as the window program uses them: folders, read-only, short, long.
      {"state file is a folder", {"{dir}/game.nes", "--load-state", "{dir}/states"}, 2, "{dir}/states: not a regular file", folder("states")},
      {"state file missing", {"{dir}/game.nes", "--load-state", "{dir}/none.state"}, 2, "{dir}/none.state: cannot open"},
      {"state file short", {"{dir}/game.nes", "--load-state", "{dir}/state.bin"}, 2, "{dir}/state.bin: save state is damaged", state(-1)},
      {"state file long", {"{dir}/game.nes", "--load-state", "{dir}/state.bin"}, 2, "{dir}/state.bin: save state is damaged", state(+1)},
      {"state file read-only loads", {"{dir}/game.nes", "--frames", "1", "--load-state", "{dir}/state.bin"}, 0, "",
       [&](const TempDir& d) { state(0)(d); fs::permissions(d.path() / "state.bin", fs::perms::owner_read); }},
      {"state file unreadable", {"{dir}/game.nes", "--load-state", "{dir}/state.bin"}, 2, "{dir}/state.bin: cannot read",
       [&](const TempDir& d) { state(0)(d); fs::permissions(d.path() / "state.bin", fs::perms::none); }, 0, nullptr, true},
      {"trace over the state read", {"{dir}/game.nes", "--load-state", "{dir}/state.bin", "--trace", "{dir}/state.bin"}, 2,
       "--trace {dir}/state.bin: is the save state read at the start", state(0)},
      {"save state into a folder", {"{dir}/game.nes", "--save-state", "{dir}/states"}, 2, "--save-state {dir}/states: is a folder", folder("states"), 0, expect_nothing_run},
      {"save state into a read-only folder", {"{dir}/game.nes", "--save-state", "{dir}/locked/s"}, 2, "--save-state {dir}/locked/s: cannot create",
       [](const TempDir& d) { fs::create_directory(d.path() / "locked"); fs::permissions(d.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec); },
       0, nullptr, true},
      {"battery file is a folder", {"{dir}/game.nes", "--battery", "{dir}/game.sav"}, 2, "--battery {dir}/game.sav: is a folder", folder("game.sav"), 0, expect_nothing_run},
      {"battery file short", {"{dir}/game.nes", "--battery", "{dir}/game.sav"}, 2, "{dir}/game.sav: is 100 bytes, expected 8192", file_of("game.sav", 100), 0, expect_nothing_run},
      {"battery file long", {"{dir}/game.nes", "--battery", "{dir}/game.sav"}, 2, "{dir}/game.sav: is 8193 bytes, expected 8192", file_of("game.sav", 8193), 0, expect_nothing_run},
      {"battery file unreadable", {"{dir}/game.nes", "--battery", "{dir}/game.sav"}, 2, "{dir}/game.sav: cannot read",
       [&](const TempDir& d) { file_of("game.sav", 8192)(d); fs::permissions(d.path() / "game.sav", fs::perms::none); }, 0, nullptr, true},
      {"battery of a board this program lacks", {"{dir}/odd.nes", "--frames", "120", "--battery", "{dir}/odd.sav"}, 0,
       "mapper 99 is not supported; this game will not run correctly",
       [](const TempDir& d) { d.write("odd.nes", counting_image(99)); d.write("odd.sav", std::vector<uint8_t>(100, 0x5A)); },
       0, [](const TempDir& d, const HeadlessRun&) {
         // The same game on NROM rewrites its battery file: the one above was left alone by choice.
         d.write("even.nes", counting_image(0));
         d.write("even.sav", std::vector<uint8_t>(8192, 0x5A));
         const HeadlessRun run = headless::run({(d.path() / "even.nes").string(), "--frames", "120", "--battery",
                                                (d.path() / "even.sav").string()});
         EXPECT_EQ(run.exit_code, 0) << run.describe();
         EXPECT_EQ(run.err, "");
         const std::string saved = d.read("even.sav");
         ASSERT_EQ(saved.size(), 8192u);
         EXPECT_NE(saved[0], 0x5A) << "the counting game did not rewrite its battery file";
       }},
      {"battery file is a device", {"{dir}/game.nes", "--battery", "/dev/zero"}, 2, "--battery /dev/zero: not a regular file"},
      {"battery in a read-only folder", {"{dir}/game.nes", "--battery", "{dir}/locked/game.sav"}, 2, "--battery {dir}/locked/game.sav: cannot create",
       [](const TempDir& d) { fs::create_directory(d.path() / "locked"); fs::permissions(d.path() / "locked", fs::perms::owner_read | fs::perms::owner_exec); },
       0, nullptr, true},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.root_skips && geteuid() == 0) {
      std::printf("row '%s' skipped: running as root, permissions do not stop it\n", row.name);
      continue;
    }
    TempDir dir;
    const std::string d = dir.path().string();
    dir.write("game.nes", endless_image());
    if (row.prepare) row.prepare(dir);
    const auto before = files_in(dir.path());
    auto expand = [&](std::string s) {
      for (size_t at; (at = s.find("{dir}")) != std::string::npos;) s.replace(at, 5, d);
      return s;
    };
    std::vector<std::string> args;
    for (const std::string& a : row.args) args.push_back(expand(a));

    headless::Process process(args);
    if (row.stop_signal) {
      // Once the trace's temporary holds a few frames (about 400 kB each), the run is under way.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      bool started = false;
      while (!started && std::chrono::steady_clock::now() < deadline) {
        for (const auto& e : fs::directory_iterator(dir.path()))
          if (e.path().filename().string().rfind("trace.txt.tmp", 0) == 0 && e.file_size() > 2000000) started = true;
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      ASSERT_TRUE(started) << "the runner never got going";
      process.send(row.stop_signal);
    }
    const HeadlessRun run = process.wait(std::chrono::seconds(300));

    EXPECT_FALSE(run.timed_out) << run.describe();
    EXPECT_EQ(run.exit_code, row.exit_code) << run.describe();
    if (row.message.empty()) {
      EXPECT_EQ(run.err, "") << run.describe();
    } else {
      EXPECT_NE(run.err.find(expand(row.message)), std::string::npos) << run.describe();
      if (run.err.find("usage:") == std::string::npos) {
        EXPECT_EQ(run.error_lines(), 1u) << run.describe();
      }
    }
    fs::permissions(dir.path(), fs::perms::owner_all, fs::perm_options::add);
    for (const char* locked : {"locked", "locked.nes", "state.bin", "game.sav"}) {
      std::error_code ignored;
      if (fs::exists(dir.path() / locked, ignored) && !fs::is_symlink(dir.path() / locked, ignored))
        fs::permissions(dir.path() / locked, fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    const auto after = files_in(dir.path());
    for (const auto& [name, bytes] : before) {
      const auto found = after.find(name);
      ASSERT_NE(found, after.end()) << name << " was removed";
      EXPECT_TRUE(found->second == bytes) << name << " was changed";
    }
    for (const auto& [name, bytes] : after)
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << "temporary left behind: " << name;
    if (row.check) row.check(dir, run);
  }
}

}  // namespace
