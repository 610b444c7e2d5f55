// The machine's state as one thing: power-on sets all of it (A, then B, then A again in one process
// ends where a fresh process does), a save state continues a run exactly (picture and sound, over
// cartridges of every mapper, the demo with scripted input and public cartridges mid-run), bad
// snapshots are refused without touching the game, and battery RAM survives restarts and kills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "core/driver.h"
#include "core/fnv1a.h"
#include "core/snapshot.h"
#include "host/battery.h"
#include "host/save_files.h"
#include "core_test_machine.h"

namespace core_test {
namespace {

fs::path own_rom(const std::string& name) { return fs::path(OWN_ROM_DIR) / name; }

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

void load_image(const fs::path& image) { test_machine::power_on_image(image.string()); }

void run_frames_to(uint64_t frame) {
  while (ppu.frames < frame) cpu_step();
}

TEST(PowerOn, ASecondImageAndTheFirstAgainEndWhereAFreshProcessDoes) {
  TempDir dir;
  const fs::path a = own_rom("mapper1.nes"), b = own_rom("demo.nes");
  const fs::path reference = dir.path() / "fresh.state";
  ASSERT_EQ(run_headless(a, "--frames 40 --save-state " + reference.string()).exit_code, 0);

  load_image(a);
  run_frames_to(40);
  load_image(b);
  button_state[0] = BUTTON_START;
  run_frames_to(90);
  load_image(a);
  run_frames_to(40);
  EXPECT_EQ(snapshot_save(), bytes_of(dir.read("fresh.state")));
}

// Runs N + M frames in one process, and N frames, a save, and M frames from the save in two more:
// the last M lines of the frame log (picture and sound hashes) must be the same.
struct Continuation {
  fs::path image;
  uint64_t n, m;
  std::string options;  // --buttons script, the same in all three runs
};

TEST(SaveStates, ARunContinuedFromASaveStateIsTheRunItself) {
  const std::string shared = SHARED_TEST_ROMS;
  std::vector<Continuation> table = {
      {own_rom("mapper0_16k.nes"), 3, 10, ""},
      {own_rom("mapper0_32k.nes"), 3, 10, ""},
      {own_rom("mapper1.nes"), 4, 12, ""},
      {own_rom("mapper2.nes"), 4, 12, ""},
      {own_rom("mapper3.nes"), 4, 12, ""},
      {own_rom("mapper7.nes"), 4, 12, ""},
      {own_rom("mapper9.nes"), 5, 12, ""},   // saved between frames whose fetches switch the latches
      {own_rom("mapper10.nes"), 7, 10, ""},
      {own_rom("mapper1_sxrom.nes"), 2, 6, ""},
      {own_rom("mapper19.nes"), 5, 12, ""},  // saved while the interrupt counter runs
      {own_rom("mapper69.nes"), 8, 12, ""},  // saved while the interrupt counter runs
      {own_rom("mapper16.nes"), 20, 10, ""},  // its counter interrupting all the while
      {own_rom("mapper18.nes"), 20, 10, ""},  // the same
      {own_rom("nes2_mapper2.nes"), 4, 12, ""},
      {own_rom("battery_ram.nes"), 7, 20, ""},
      {own_rom("ppu_scroll_split.nes"), 10, 20, ""},
      {own_rom("apu_dmc_notes.nes"), 37, 40, ""},
      {own_rom("vrc4e.nes"), 9, 20, ""},  // VRC4: saved while its interrupt counter runs
      {own_rom("vrc6_notes.nes"), 14, 6, ""},  // VRC6: saved in the middle of the sawtooth's note
      {own_rom("sunsoft5b_notes.nes"), 27, 6, ""},  // 5B: saved in the middle of the envelope's note, run into the noise
      {own_rom("mmc5_notes.nes"), 9, 6, ""},  // MMC5: saved in the middle of pulse 2's note
      {own_rom("namco163_notes.nes"), 16, 6, ""},  // Namco 163: saved while four channels take turns, run past their end
      {own_rom("mmc5_irq.nes"), 500, 20, ""},  // MMC5: its line interrupt flipping the emphasis every frame
      {own_rom("demo.nes"), 250, 150, "--buttons 60:80 --buttons 66:00 --buttons 120:01 --buttons 200:21 --buttons 300:00"},
  };
  if (fs::exists(shared)) {
    table.push_back({fs::path(shared) / "other/Sayoonara!.NES", 101, 60, ""});
    table.push_back({fs::path(shared) / "other/RasterDemo.NES", 45, 40, ""});
    table.push_back({fs::path(shared) / "ppu_vbl_nmi/rom_singles/05-nmi_timing.nes", 23, 30, ""});
    table.push_back({fs::path(shared) / "apu_test/rom_singles/4-jitter.nes", 11, 30, ""});
    table.push_back({fs::path(shared) / "mmc3_test_2/rom_singles/4-scanline_timing.nes", 53, 20, ""});
    // MMC5: saved mid-frame while its line counter runs and interrupts
    table.push_back({fs::path(shared) / "mmc5test/mmc5test.nes", 23, 20, ""});
  }
  for (const Continuation& row : table) {
    SCOPED_TRACE(row.image.filename().string());
    TempDir dir;
    auto path = [&](const char* name) { return (dir.path() / name).string(); };
    const std::string whole = "--frames " + std::to_string(row.n + row.m) + " --frame-log " + path("whole") + " " + row.options;
    const std::string first = "--frames " + std::to_string(row.n) + " --save-state " + path("state") + " " + row.options;
    const std::string rest = "--frames " + std::to_string(row.m) + " --load-state " + path("state") + " --frame-log " +
                             path("rest") + " " + row.options;
    for (const std::string& options : {whole, first, rest}) {
      const HeadlessRun run = run_headless(row.image, options);
      ASSERT_EQ(run.exit_code, 0) << options << "\n" << run.err;
    }
    std::istringstream whole_log(dir.read("whole"));
    std::vector<std::string> expected;
    for (std::string line; std::getline(whole_log, line);) expected.push_back(line);
    ASSERT_EQ(expected.size(), row.n + row.m);
    expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(row.n));
    std::istringstream rest_log(dir.read("rest"));
    std::vector<std::string> continued;
    for (std::string line; std::getline(rest_log, line);) continued.push_back(line);
    EXPECT_EQ(continued, expected);
  }
}

// The picture unit runs late, in stretches: whole groups of eight dots at a time, sprite evaluation
// in short steps, background pixels eight at a time. From states taken mid-game, any stretch must
// end exactly where the same dots run one at a time end: the whole state and every pixel.
TEST(LatePpu, DotsRunInOneGoEndWhereDotsRunOneByOneEnd) {
  struct Start {
    fs::path image;
    uint64_t frame;
    uint8_t buttons;  // held from power-on
  };
  std::vector<Start> table = {
      {own_rom("demo.nes"), 200, BUTTON_START},   // title, then play: scrolling and sprites
      {own_rom("bench_sprites.nes"), 30, 0},      // 8x16 sprites, eight and more on a line
      {own_rom("ppu_scroll_split.nes"), 12, 0},
  };
  if (fs::exists(SHARED_TEST_ROMS))
    table.push_back({fs::path(SHARED_TEST_ROMS) / "other/RasterDemo.NES", 45, 0});
  // Dots to run one at a time to the stretch's start, and the stretch's length.
  const std::pair<int32_t, int32_t> stretches[] = {{0, 1},          {3, 8},           {100, 341},
                                                   {341 * 5 + 17, 2000}, {341 * 20 + 300, 341 * 7 + 5},
                                                   {341 * 239 + 330, 400}, {7, 341 * 262 + 9}};
  const size_t pixels = FRAME_WIDTH * FRAME_HEIGHT;
  auto picture = [&] {
    std::vector<uint32_t> out(pixels);
    for (size_t i = 0; i < pixels; ++i) out[i] = frame_buffer[i].load(std::memory_order_relaxed);
    return out;
  };
  for (const Start& start : table) {
    SCOPED_TRACE(start.image.filename().string());
    load_image(start.image);
    button_state[0] = start.buttons;
    run_frames_to(start.frame);
    for (int32_t extra = 0; extra < 5; ++extra) cpu_step();  // mid-frame
    const std::vector<uint8_t> state = snapshot_save();
    const std::vector<uint32_t> picture_at_start = picture();
    for (const auto& [lead, length] : stretches) {
      SCOPED_TRACE("start +" + std::to_string(lead) + ", " + std::to_string(length) + " dots");
      std::vector<uint8_t> ends[2];
      std::vector<uint32_t> pictures[2];
      for (int in_one_go = 0; in_one_go < 2; ++in_one_go) {
        std::string error;
        ASSERT_TRUE(snapshot_load(state, error)) << error;
        for (size_t i = 0; i < pixels; ++i) frame_buffer[i].store(picture_at_start[i], std::memory_order_relaxed);
        ppu_ticks(lead);
        if (in_one_go) ppu_run_dots(length);
        else ppu_ticks(length);
        ppu_flush_pixels();
        ends[in_one_go] = snapshot_save();
        pictures[in_one_go] = picture();
      }
      EXPECT_EQ(ends[1], ends[0]);
      EXPECT_TRUE(pictures[1] == pictures[0]);
    }
  }
}

// A board's interrupt makes the PPU catch up by the dot its line could change at, so the CPU takes
// the interrupt on the very cycle it would if every dot ran on time. Over MMC3 scenes, from a state
// saved mid-frame with the counter running: the run as it is, the same run with the PPU caught up
// on every cycle (the board's deadline always the next cycle), and the run again from the loaded
// state give the same steps, the same cycles of the line's changes, the same end.
TEST(LatePpu, TheCartridgeInterruptReachesTheCpuOnTheCycleDotByDotGives) {
  struct Scene {
    fs::path image;
    uint64_t frame;
  };
  std::vector<Scene> table;
  if (fs::exists(SHARED_TEST_ROMS)) {
    const fs::path mmc3 = fs::path(SHARED_TEST_ROMS) / "mmc3_test_2/rom_singles";
    table.push_back({mmc3 / "4-scanline_timing.nes", 53});  // IRQs at lines 0, 1 and 239, both tables
    table.push_back({mmc3 / "2-details.nes", 20});
    // The MMC5's line interrupt, predicted from its counter and compare value
    table.push_back({fs::path(SHARED_TEST_ROMS) / "mmc5test/mmc5test.nes", 20});
  }
  for (const char* own : {"bench_mmc3_split.nes", "mmc3_irq_timing.nes"})
    if (fs::exists(own_rom(own))) table.push_back({own_rom(own), 20});
  if (table.empty()) GTEST_SKIP() << "no MMC3 cartridges";
  struct Trace {
    uint64_t steps = 0;
    std::vector<uint64_t> line_changes;  // cycles after the steps at which cartridge_irq_line changed
    std::vector<uint8_t> end;
  };
  auto run = [](uint64_t frames) {
    Trace t;
    Fnv1a steps;
    bool line = cartridge_irq_line;
    const uint64_t until = ppu.frames + frames;
    while (ppu.frames < until) {
      cpu_step();
      steps.add32(static_cast<uint32_t>(bus.cycles));
      steps.add32(cpu.PC);
      if (cartridge_irq_line != line) t.line_changes.push_back(bus.cycles);
      line = cartridge_irq_line;
    }
    t.steps = steps.hash;
    t.end = snapshot_save();
    return t;
  };
  for (const Scene& scene : table) {
    SCOPED_TRACE(scene.image.filename().string());
    load_image(scene.image);
    run_frames_to(scene.frame);
    for (int extra = 0; extra < 700; ++extra) cpu_step();  // mid-frame
    const std::vector<uint8_t> state = snapshot_save();
    const Trace as_is = run(6);
    ASSERT_FALSE(as_is.line_changes.empty()) << "no interrupt in the scene";

    std::string error;
    ASSERT_TRUE(snapshot_load(state, error)) << error;
    const Board* own_board = board;
    Board every_cycle = *board;
    every_cycle.irq_deadline = [] { return int32_t{1}; };
    board = &every_cycle;
    ppu_plan_catch_up();
    const Trace dot_by_dot = run(6);
    board = own_board;
    EXPECT_EQ(dot_by_dot.line_changes, as_is.line_changes);
    EXPECT_EQ(dot_by_dot.steps, as_is.steps);
    EXPECT_TRUE(dot_by_dot.end == as_is.end);

    ASSERT_TRUE(snapshot_load(state, error)) << error;
    const Trace again = run(6);
    EXPECT_EQ(again.line_changes, as_is.line_changes);
    EXPECT_EQ(again.steps, as_is.steps);
    EXPECT_TRUE(again.end == as_is.end);
  }
}

// A board register in $4020-$7FFF that moves the pattern banks (NINA-001's at $7FFE and $7FFF) lets
// the PPU catch up first: the fetches it owes read the banks as they were, so the frame is the one
// that dots run one by one give. Pattern bank writes near lines 45, 110 and 180 of the second frame,
// with random ROM shown.
TEST(LatePpu, BankWritesBelowTheProgramRomLandBetweenTheDotsTheyWouldDotByDot) {
  auto frame = [](bool every_cycle) {
    power_on(2, 8, 34, 0x01, 1);
    Board per_cycle = *board;
    per_cycle.irq_deadline = [] { return int32_t{1}; };
    const Board* own_board = board;
    if (every_cycle) board = &per_cycle;
    ppu_plan_catch_up();
    while (bus.cycles < 29000) system_tick();  // past the PPU's warm-up, in vertical blank
    cpu_write(0x2006, 0x3F);
    cpu_write(0x2006, 0x00);
    for (int colour : {0x0F, 0x16, 0x2A, 0x12}) cpu_write(0x2007, static_cast<uint8_t>(colour));
    cpu_write(0x2006, 0x00);
    cpu_write(0x2006, 0x00);
    cpu_write(0x2001, 0x1E);  // background and sprites shown, no clipping
    const struct { uint64_t cycle; uint16_t address; uint8_t bank; } writes[] = {
        {35000, 0x7FFE, 5}, {42300, 0x7FFF, 9}, {50200, 0x7FFE, 14}};
    for (const auto& w : writes) {
      while (bus.cycles < w.cycle) system_tick();
      cpu_write(w.address, w.bank);
    }
    while (bus.cycles < 58000) system_tick();
    ppu_catch_up();
    ppu_flush_pixels();
    board = own_board;
    std::vector<uint32_t> out(FRAME_WIDTH * FRAME_HEIGHT);
    for (size_t i = 0; i < out.size(); ++i) out[i] = frame_buffer[i].load(std::memory_order_relaxed);
    return out;
  };
  const std::vector<uint32_t> dot_by_dot = frame(true);
  EXPECT_TRUE(frame(false) == dot_by_dot);
}

// Save states of earlier formats still load, and the game goes on as the uninterrupted run does:
// the next 100 frames match a run from power-on. Format 1 kept one record of named mapper fields
// (here mapper 1 with character RAM, saved at frame 200); format 2 the board's bytes and the
// cartridge's interrupt line (here an MMC3 splitting the screen by its interrupt, saved at frame 60).
TEST(SaveStates, StatesOfEarlierFormatsStillLoad) {
  struct Old {
    fs::path image;
    const char* state;
    int saved_at;
  };
  std::vector<Old> table = {{own_rom("bench_mmc3_split.nes"), "v2_bench_mmc3_split.state", 60}};
  if (fs::exists(SHARED_TEST_ROMS))
    table.push_back({fs::path(SHARED_TEST_ROMS) / "instr_test-v5/all_instrs.nes", "v1_all_instrs.state", 200});
  for (const Old& old : table) {
    SCOPED_TRACE(old.state);
    TempDir dir;
    const fs::path whole = dir.path() / "whole.log", rest = dir.path() / "rest.log";
    const HeadlessRun from_start =
        run_headless(old.image, "--frames " + std::to_string(old.saved_at + 100) + " --frame-log " + whole.string());
    ASSERT_EQ(from_start.exit_code, 0) << from_start.err;
    const HeadlessRun continued = run_headless(old.image, "--frames 100 --load-state " + std::string(TEST_DATA_DIR) +
                                                              "/data/" + old.state + " --frame-log " + rest.string());
    ASSERT_EQ(continued.exit_code, 0) << continued.err;
    auto lines = [&](const char* name) {
      std::istringstream in(dir.read(name));
      std::vector<std::string> out;
      for (std::string line; std::getline(in, line);) out.push_back(line);
      return out;
    };
    std::vector<std::string> expected = lines("whole.log");
    ASSERT_EQ(expected.size(), static_cast<size_t>(old.saved_at + 100));
    expected.erase(expected.begin(), expected.begin() + old.saved_at);
    EXPECT_EQ(lines("rest.log"), expected);
  }
}

// A snapshot that is refused leaves the running game exactly as it was, and says why.
TEST(SaveStates, RefusedSnapshotsLeaveTheGameUntouched) {
  load_image(own_rom("demo.nes"));
  run_frames_to(20);
  const std::vector<uint8_t> foreign = snapshot_save();
  load_image(own_rom("mapper1.nes"));
  run_frames_to(10);
  const std::vector<uint8_t> good = snapshot_save();

  // A snapshot with one field changed after the fact, its checksums made right again.
  auto with_field = [&](auto& field, auto value) {
    const auto kept = field;
    field = value;
    std::vector<uint8_t> s = snapshot_save();
    field = kept;
    return s;
  };
  const std::vector<uint8_t> impossible = with_field(ppu.dot, 400);
  // A tone channel's level past 15 would index past the mixer's tables.
  const std::vector<uint8_t> loud = with_field(apu.channels[PULSE1].last_output, 100);
  auto with_version = [&](uint32_t version) {
    std::vector<uint8_t> s = good;
    for (int k = 0; k < 4; ++k) s[8 + k] = static_cast<uint8_t>(version >> (8 * k));
    Fnv1a h;
    h.add(s.data(), s.size() - 8);
    for (int k = 0; k < 8; ++k) s[s.size() - 8 + k] = static_cast<uint8_t>(h.hash >> (8 * k));
    return s;
  };
  std::vector<uint8_t> truncated(good.begin(), good.end() - 100), altered = good, longer = good;
  altered[good.size() / 2] ^= 0x10;
  longer.push_back(0);
  const struct {
    const char* what;
    std::vector<uint8_t> snapshot;
    const char* message;
  } cases[] = {
      {"another cartridge", foreign, "another cartridge"},
      {"another version", with_version(SNAPSHOT_VERSION + 1), "format version"},
      {"cut short", truncated, "damaged"},
      {"altered", altered, "damaged"},
      {"too long", longer, "damaged"},
      {"not a snapshot", bytes_of("NES\x1a not a state"), "not a save state"},
      {"impossible value", impossible, "impossible value (PPU position)"},
      {"impossible level", loud, "impossible value (sound channel)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(snapshot_load(c.snapshot, error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_EQ(snapshot_save(), good);
  }
  // The game goes on from there as it would have.
  run_frames_to(30);
  const std::vector<uint8_t> later = snapshot_save();
  std::string error;
  ASSERT_TRUE(snapshot_load(good, error)) << error;
  run_frames_to(30);
  EXPECT_EQ(snapshot_save(), later);
}

std::vector<uint8_t> cartridge_ram_of_dump(const std::string& dump) {
  constexpr size_t WORK_RAM = 2048, CARTRIDGE_RAM = 8192;
  if (dump.size() < WORK_RAM + CARTRIDGE_RAM) return {};
  return {dump.begin() + WORK_RAM, dump.begin() + WORK_RAM + CARTRIDGE_RAM};
}

TEST(BatterySaves, CartridgeRamSurvivesARestart) {
  TempDir dir;
  const std::string save = (dir.path() / "game.sav").string();
  const std::string dump = (dir.path() / "dump").string();
  ASSERT_EQ(run_headless(own_rom("battery_ram.nes"), "--frames 100 --battery " + save + " --dump " + dump).exit_code, 0);
  const std::string saved = dir.read("game.sav");
  ASSERT_EQ(saved.size(), 8192u);
  EXPECT_EQ(bytes_of(saved), cartridge_ram_of_dump(dir.read("dump")));
  // The next run starts with it: after a single step the RAM is the file.
  ASSERT_EQ(run_headless(own_rom("battery_ram.nes"), "--steps 1 --battery " + save + " --dump " + dump).exit_code, 0);
  EXPECT_EQ(cartridge_ram_of_dump(dir.read("dump")), bytes_of(saved));
  // Without the battery bit nothing is written.
  ASSERT_EQ(run_headless(own_rom("cartridge_ram.nes"), "--frames 10 --battery " + (dir.path() / "none.sav").string()).exit_code, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "none.sav"));
}

// A battery file that cannot be written (its folder is gone, the disk is full) is said once, and
// again only after a write has succeeded.
TEST(BatterySaves, AFailingWriteIsSaidOnceUntilOneSucceeds) {
  load_image(own_rom("battery_ram.nes"));
  TempDir dir;
  const fs::path folder = dir.path() / "saves";
  std::atomic<int> said{0};
  BatterySave battery([&](const std::string& message) {
    EXPECT_NE(message.find("battery save not written"), std::string::npos) << message;
    ++said;
  });
  battery.open((folder / "game.sav").string());  // the folder does not exist yet
  auto write = [&] {
    cartridge_ram_changed = true;
    return battery.flush();
  };
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(write());
  EXPECT_EQ(said, 1);
  fs::create_directory(folder);
  EXPECT_TRUE(write());
  fs::remove_all(folder);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(write());
  EXPECT_EQ(said, 2);
}

// The lock the programs hold on the image they play: a second holder (another program; here a
// second opening, which the system treats alike) is told it is in use until the first lets go.
TEST(BatterySaves, AnImageIsLockedByOneHolderAtATime) {
  TempDir dir;
  const std::string image = dir.write("game.nes", {1, 2, 3}).string();
  FileLock first, second;
  EXPECT_EQ(first.acquire(image), FileLock::taken);
  EXPECT_EQ(second.acquire(image), FileLock::in_use);
  EXPECT_EQ(dir.read("game.nes"), "\x01\x02\x03") << "the locked image stays readable";
  first.release();
  EXPECT_EQ(second.acquire(image), FileLock::taken);
  EXPECT_EQ(first.acquire((dir.path() / "missing.nes").string()), FileLock::failed);
}

// Sets environment variables for the life of the object (nullptr: unset) and puts them back after.
class EnvironmentFor {
 public:
  EnvironmentFor(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name);
      kept_.push_back({name, old ? old : "", old != nullptr});
      if (value) setenv(name, value, 1);
      else unsetenv(name);
    }
  }
  ~EnvironmentFor() {
    for (const Kept& k : kept_) {
      if (k.set) setenv(k.name.c_str(), k.value.c_str(), 1);
      else unsetenv(k.name.c_str());
    }
  }
  EnvironmentFor(const EnvironmentFor&) = delete;
  EnvironmentFor& operator=(const EnvironmentFor&) = delete;

 private:
  struct Kept {
    std::string name, value;
    bool set;
  };
  std::vector<Kept> kept_;
};

// The saves of an image in a folder that takes no new files (here /proc's, which even root cannot
// write) go to the per-user folder's "saves" under the image's name and a hash of its folder, said in
// a note; otherwise they stay beside the image.
TEST(BatterySaves, AnUnwritableFolderSendsTheSavesToThePerUserFolder) {
  TempDir dir;
  const EnvironmentFor data{{"XDG_DATA_HOME", dir.path().c_str()}};
  std::string note;
  const std::string beside = (dir.path() / "game.nes").string();
  EXPECT_EQ(save_base_for(beside, note), beside);
  EXPECT_EQ(note, "");
  const fs::path saves = dir.path() / "nes" / "saves";
  const fs::path base = save_base_for("/proc/self/game.nes", note);
  EXPECT_EQ(base.parent_path(), saves);
  const std::string name = base.filename().string();
  EXPECT_TRUE(name.size() == 17 && name.compare(0, 5, "game-") == 0 &&
              name.find_first_not_of("0123456789abcdef", 5) == 13 && name.compare(13, 4, ".nes") == 0)
      << name;
  EXPECT_EQ(note, "/proc/self cannot be written: the saves of game.nes go to " + saves.string() + " (" +
                      base.stem().string() + ".sav, .st0 to .st9)");
  EXPECT_TRUE(fs::is_directory(saves));
  EXPECT_EQ(std::distance(fs::directory_iterator(saves), fs::directory_iterator()), 0)
      << "the folder's probe is left behind";
}

// Images of the same name in different read-only folders keep their own saves in the per-user
// folder; one folder however it is spelled (".", "..", a link to it) keeps the same. Without a
// usable per-user folder (no HOME and no absolute XDG_DATA_HOME, or one that cannot be made) the
// saves stay beside the image, with no note: the battery file's writes say why they fail.
TEST(BatterySaves, EachImageKeepsItsOwnSavesInThePerUserFolder) {
  TempDir dir;
  fs::create_directories(dir.path() / "one" / "sub");
  fs::create_directories(dir.path() / "two");
  fs::create_directories(dir.path() / "home");
  fs::create_symlink(dir.path() / "one", dir.path() / "link");
  const std::string one = (dir.path() / "one" / "game.nes").string(), two = (dir.path() / "two" / "game.nes").string();
  std::string note;
  {
    const EnvironmentFor data{{"XDG_DATA_HOME", dir.path().c_str()}};
    const std::string base = save_base_for(one, false, note);
    EXPECT_EQ(fs::path(base).parent_path(), dir.path() / "nes" / "saves");
    EXPECT_NE(save_base_for(two, false, note), base) << "two folders share " << base;
    EXPECT_EQ(save_base_for(one, false, note), base);
    EXPECT_EQ(save_base_for((dir.path() / "one" / "." / "sub" / ".." / "game.nes").string(), false, note), base);
    EXPECT_EQ(save_base_for((dir.path() / "link" / "game.nes").string(), false, note), base);
    EXPECT_NE(save_base_for((dir.path() / "one" / "other.nes").string(), false, note), base);
  }
  const std::string home = (dir.path() / "home").string(), unmakeable = "/proc/self/data";
  struct Row {
    const char *xdg, *home;
    std::string folder;  // of the per-user saves, empty: none, the image's path stays
  };
  const Row rows[] = {
      {dir.path().c_str(), nullptr, (dir.path() / "nes" / "saves").string()},
      {"relative", home.c_str(), (dir.path() / "home" / ".local" / "share" / "nes" / "saves").string()},
      {nullptr, home.c_str(), (dir.path() / "home" / ".local" / "share" / "nes" / "saves").string()},
      {"relative", nullptr, ""},
      {nullptr, nullptr, ""},
      {nullptr, "", ""},
      {unmakeable.c_str(), nullptr, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("XDG_DATA_HOME=") + (row.xdg ? row.xdg : "(unset)") +
                 " HOME=" + (row.home ? row.home : "(unset)"));
    const EnvironmentFor data{{"XDG_DATA_HOME", row.xdg}, {"HOME", row.home}};
    const std::string base = save_base_for(one, false, note);
    if (row.folder.empty()) {
      EXPECT_EQ(base, one);
      EXPECT_EQ(note, "");
    } else {
      EXPECT_EQ(fs::path(base).parent_path().string(), row.folder);
      EXPECT_NE(note, "");
    }
  }
}

// The saves already made for an image are found wherever they are: in the per-user folder when its
// folder could not be written last time, beside it when it could, under the earlier versions' shared
// name (NAME alone, taken by the first image that finds nothing of its own there); when both places
// hold some, the newer.
TEST(BatterySaves, SavesMadeInOnePlaceAreFoundFromTheOther) {
  enum Place { none, beside, own, shared };
  struct Row {
    const char* what;
    bool writable;
    std::vector<std::string> at_beside, at_own, at_shared;  // extensions of the files made beforehand
    Place newer;    // of beside and own, when both hold files
    Place chosen;   // where the saves go
    Place content;  // whose files the chosen place then holds (copied or renamed there)
    const char* note;  // a part of the note; nullptr: none
  };
  const Row rows[] = {
      {"writable, nothing yet", true, {}, {}, {}, none, beside, none, nullptr},
      {"writable, saves beside", true, {".sav", ".st1"}, {}, {}, none, beside, beside, nullptr},
      {"writable now, read-only last time", true, {}, {".sav", ".st2"}, {}, none, own, own, "are in"},
      {"writable, both, the per-user newer", true, {".sav"}, {".sav", ".st0"}, {}, own, own, own, "are in"},
      {"writable, both, beside newer", true, {".sav", ".st3"}, {".sav"}, {}, beside, beside, beside, nullptr},
      {"writable, the shared name: maybe another folder's", true, {}, {}, {".sav"}, none, beside, none, nullptr},
      {"read-only, nothing yet", false, {}, {}, {}, none, own, none, "cannot be written"},
      {"read-only, saves of its own", false, {}, {".sav", ".st9"}, {}, none, own, own, "cannot be written"},
      {"read-only now, writable last time", false, {".sav", ".st1"}, {}, {}, none, own, beside, "are copied there"},
      {"read-only, both, beside newer", false, {".sav"}, {".sav", ".st4"}, {}, beside, own, beside, "are copied"},
      {"read-only, both, the per-user newer", false, {".sav"}, {".sav"}, {}, own, own, own, "cannot be written"},
      {"read-only, the shared name only", false, {}, {}, {".sav", ".st2"}, none, own, shared, "are renamed to it"},
      {"read-only, own and the shared name", false, {}, {".sav"}, {".sav"}, none, own, own, "cannot be written"},
      {"read-only, beside and the shared name", false, {".sav"}, {}, {".sav"}, none, own, beside, "are copied"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    const EnvironmentFor data{{"XDG_DATA_HOME", dir.path().c_str()}};
    fs::create_directories(dir.path() / "games");
    const std::string image = dir.write("games/game.nes", {1}).string();
    std::string note;
    const std::map<Place, std::string> bases = {{beside, image},
                                                {own, save_base_for(image, false, note)},
                                                {shared, (dir.path() / "nes" / "saves" / "game.nes").string()}};
    const std::map<Place, const std::vector<std::string>*> made = {
        {beside, &row.at_beside}, {own, &row.at_own}, {shared, &row.at_shared}};
    const auto file = [&](Place place, const std::string& extension) {
      return fs::path(path_beside_image(bases.at(place), extension));
    };
    const auto content = [](Place place, const std::string& extension) {
      return std::to_string(place) + extension;
    };
    const auto now = fs::file_time_type::clock::now();
    for (const auto& [place, extensions] : made)
      for (const std::string& extension : *extensions) {
        std::ofstream(file(place, extension), std::ios::binary) << content(place, extension);
        fs::last_write_time(file(place, extension), now - (place == row.newer ? std::chrono::minutes(1) : std::chrono::minutes(60)));
      }
    const std::string base = save_base_for(image, row.writable, note);
    ASSERT_EQ(base, bases.at(row.chosen));
    if (row.note) {
      EXPECT_NE(note.find(row.note), std::string::npos) << note;
    } else {
      EXPECT_EQ(note, "");
    }
    const auto read = [](const fs::path& path) {
      std::ifstream in(path, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    if (row.content != none) {
      for (const std::string& extension : *made.at(row.content))
        EXPECT_EQ(read(file(row.chosen, extension)), content(row.content, extension)) << extension;
    }
    // What was made stays, but for the shared name's files once renamed and those copied over.
    for (const auto& [place, extensions] : made)
      for (const std::string& extension : *extensions) {
        const bool renamed = place == shared && row.content == shared;
        const bool replaced = place == row.chosen && row.content != place && row.content != none &&
                              std::count(made.at(row.content)->begin(), made.at(row.content)->end(), extension);
        if (renamed) {
          EXPECT_FALSE(fs::exists(file(place, extension))) << extension;
        } else if (!replaced) {
          EXPECT_EQ(read(file(place, extension)), content(place, extension)) << extension;
        }
      }
    // The next run finds them where this one left them.
    if (row.chosen == own) {
      EXPECT_EQ(save_base_for(image, row.writable, note), base);
      if (row.content != none && row.content != own) {
        EXPECT_EQ(note.find("are copied"), std::string::npos) << note;
      }
    }
  }
}

// A process killed while it writes leaves its temporary behind: the next write beside it removes
// those whose process is gone, and leaves alone a living process's, other files' and other names.
TEST(BatterySaves, AKilledWritersTemporaryGoesAtTheNextWrite) {
  TempDir dir;
  const pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
  const std::string gone = "game.sav.tmp" + std::to_string(dead) + "-3";
  const std::vector<std::string> kept = {"game.sav.tmp" + std::to_string(getppid()) + "-1",
                                         "other.sav.tmp" + std::to_string(dead) + "-1",
                                         "game.sav.tmp" + std::to_string(dead), "game.sav.tmpx-1"};
  dir.write(gone, {1, 2, 3});
  for (const std::string& name : kept) dir.write(name, {4});
  const std::string path = (dir.path() / "game.sav").string();
  std::string error;
  ASSERT_TRUE(write_file_atomically(path, std::vector<uint8_t>{9}.data(), 1, error)) << error;
  EXPECT_FALSE(fs::exists(dir.path() / gone));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir.path() / name)) << name;
  EXPECT_EQ(dir.read("game.sav"), "\x09");
}

// The serial EEPROMs of the Bandai boards are their battery files: our cartridges count their runs
// in cell 0 and write a pattern of cells through the serial protocol. A file made beforehand is
// what the game reads back (its count goes on, its other cells stay), and every run saves the cells.
TEST(BatterySaves, EepromCellsSurviveARestart) {
  struct Row {
    const char* image;
    size_t size;
    std::vector<std::pair<size_t, uint8_t>> written;  // cells the cartridge writes, besides the count
  };
  const Row rows[] = {
      {"mapper16.nes", 256, {{0x10, 0x11}, {0x11, 0x22}, {0x12, 0x33}, {0x13, 0x44}, {0x18, 0xA3}, {0x19, 0xA4},
                             {0x1A, 0}, {0x1E, 0xA1}, {0x1F, 0xA2}}},
      {"mapper159.nes", 128, {{0x10, 0x11}, {0x11, 0x22}, {0x12, 0x33}, {0x13, 0x44}, {0x04, 0xA3}, {0x05, 0xA4},
                              {0x06, 0xA1}, {0x07, 0xA2}, {0x7F, 0x5C}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.image);
    TempDir dir;
    const std::string save = (dir.path() / "game.sav").string();
    ASSERT_EQ(run_headless(own_rom(row.image), "--frames 100 --result --battery " + save).exit_code, 0);
    std::string saved = dir.read("game.sav");
    ASSERT_EQ(saved.size(), row.size);
    EXPECT_EQ(saved[0], 1);
    for (const auto& [cell, value] : row.written) EXPECT_EQ(static_cast<uint8_t>(saved[cell]), value) << cell;
    // A file of our own: the count goes on from it, the cells past the game's stay (the game checks
    // that the ones between its cells are empty).
    std::vector<uint8_t> own = random_bytes(row.size, 5);
    std::fill(own.begin(), own.begin() + 0x20, 0);
    own[0] = 0x41;
    dir.write("game.sav", own);
    ASSERT_EQ(run_headless(own_rom(row.image), "--frames 100 --result --battery " + save).exit_code, 0);
    saved = dir.read("game.sav");
    ASSERT_EQ(saved.size(), row.size);
    own[0] = 0x42;
    for (const auto& [cell, value] : row.written) own[cell] = value;
    EXPECT_EQ(bytes_of(saved), own);
  }
}

// What the battery cartridge's RAM can hold at any moment: v+1 up to some byte, v after it.
bool is_a_state_the_game_wrote(const std::string& ram) {
  if (ram.size() != 8192) return false;
  const uint8_t first = static_cast<uint8_t>(ram[0]), last = static_cast<uint8_t>(ram.back());
  size_t i = 0;
  while (i < ram.size() && static_cast<uint8_t>(ram[i]) == first) ++i;
  while (i < ram.size() && static_cast<uint8_t>(ram[i]) == last) ++i;
  return i == ram.size() && (first == last || first == static_cast<uint8_t>(last + 1));
}

// The battery file of our flash cartridges (mapper30_flash*.s, 128 KiB of flash): one byte per
// 4 KiB sector, 1 where the flash differs from the image, then the flash. They save in the sector
// at $B000 of bank 6.
constexpr size_t FLASH_SIZE = 128 * 1024, FLASH_SECTOR = 4096, FLASH_SECTORS = FLASH_SIZE / FLASH_SECTOR;
constexpr size_t SAVE_SECTOR = (6 * 0x4000 + 0x3000) / FLASH_SECTOR;

std::string file_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
std::string program_of(const fs::path& image) { return file_bytes(image).substr(16, FLASH_SIZE); }
std::string sector_of(const std::string& save, size_t s) { return save.substr(FLASH_SECTORS + s * FLASH_SECTOR, FLASH_SECTOR); }

// A whole battery file of a flash cartridge: of its size, its map true to its sectors, and every
// sector but the save's as the image has it.
bool is_whole_flash_save(const std::string& save, const std::string& program) {
  if (save.size() != FLASH_SECTORS + FLASH_SIZE) return false;
  for (size_t s = 0; s < FLASH_SECTORS; ++s) {
    const bool differs = sector_of(save, s) != program.substr(s * FLASH_SECTOR, FLASH_SECTOR);
    if (save[s] != (differs ? 1 : 0) || (differs && s != SAVE_SECTOR)) return false;
  }
  return true;
}

// What mapper30_flash_loop's save sector can hold at any moment: some value w up to a byte, $FF
// (erased, not yet programmed) after it.
bool is_a_flash_state_the_game_wrote(const std::string& save, const std::string& program) {
  if (!is_whole_flash_save(save, program)) return false;
  const std::string sector = sector_of(save, SAVE_SECTOR);
  size_t i = 0;
  while (i < sector.size() && sector[i] == sector[0]) ++i;
  while (i < sector.size() && static_cast<uint8_t>(sector[i]) == 0xFF) ++i;
  return i == sector.size();
}

TEST(BatterySaves, RewrittenFlashSurvivesARestart) {
  TempDir dir;
  const fs::path image = own_rom("mapper30_flash.nes");
  const std::string original = file_bytes(image), program = program_of(image);
  const fs::path save = dir.path() / "game.sav";
  auto run = [&](const fs::path& battery) {
    const HeadlessRun r = run_headless(image, "--result --frames 3000 --battery " + battery.string());
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    return r.out;
  };
  // The cartridge finds the run number it saved last time and saves the next.
  EXPECT_NE(run(save).find("run 01"), std::string::npos);
  EXPECT_NE(run(save).find("run 02"), std::string::npos);
  const std::string saved = file_bytes(save);
  ASSERT_TRUE(is_whole_flash_save(saved, program));
  EXPECT_EQ(saved[SAVE_SECTOR], 1);
  EXPECT_EQ(sector_of(saved, SAVE_SECTOR).substr(0, 5), std::string("SAVE\x02", 5));
  EXPECT_EQ(file_bytes(image), original) << "the image was written";

  // Only the sectors the map marks are taken: unmarked, the save sector is the image's again.
  std::string unmarked = saved;
  unmarked[SAVE_SECTOR] = 0;
  const fs::path other = dir.write("unmarked.sav", bytes_of(unmarked));
  EXPECT_NE(run(other).find("run 01"), std::string::npos);
  // A file of another size is refused before the run and left as it is.
  const fs::path short_file = dir.write("short.sav", bytes_of(saved.substr(1)));
  const HeadlessRun refused = run_headless(image, "--result --frames 3000 --battery " + short_file.string());
  EXPECT_NE(refused.exit_code, 0);
  EXPECT_NE(refused.err.find("short.sav"), std::string::npos) << refused.err;
  EXPECT_EQ(file_bytes(short_file), saved.substr(1));
}

// A save state holds the flash as the game has rewritten it: a run continued from a state taken
// while the game rewrites its save ends in the same state, flash included, as the run itself.
TEST(SaveStates, AStateHoldsTheRewrittenFlash) {
  TempDir dir;
  const fs::path image = own_rom("mapper30_flash_loop.nes");
  auto path = [&](const char* name) { return (dir.path() / name).string(); };
  for (const std::string& options : {"--frames 50 --save-state " + path("whole"), "--frames 31 --save-state " + path("mid"),
                                     "--frames 19 --load-state " + path("mid") + " --save-state " + path("end")}) {
    const HeadlessRun run = run_headless(image, options);
    ASSERT_EQ(run.exit_code, 0) << options << "\n" << run.err;
  }
  EXPECT_TRUE(dir.read("whole") == dir.read("end"));
  load_image(image);
  std::string error;
  ASSERT_TRUE(snapshot_load(bytes_of(dir.read("mid")), error)) << error;
  const std::string program = program_of(image);
  EXPECT_NE(std::string(cartridge.prg_rom.begin() + SAVE_SECTOR * FLASH_SECTOR,
                        cartridge.prg_rom.begin() + (SAVE_SECTOR + 1) * FLASH_SECTOR),
            program.substr(SAVE_SECTOR * FLASH_SECTOR, FLASH_SECTOR));
}

// Games that save all the time, killed at random moments: the save is absent or one the game wrote
// (the battery-backed RAM, or the flash of a self-flashing cartridge).
TEST(BatterySaves, AKillAtAnyMomentLeavesNoSaveOrAWholeOne) {
  const fs::path flash_image = own_rom("mapper30_flash_loop.nes");
  const std::string flash_program = program_of(flash_image);
  const struct {
    fs::path image;
    int runs;
    std::function<bool(const std::string&)> whole;
  } games[] = {
      {own_rom("battery_ram.nes"), 200, is_a_state_the_game_wrote},
      {flash_image, 100, [&](const std::string& save) { return is_a_flash_state_the_game_wrote(save, flash_program); }},
  };
  for (const auto& game : games) {
    SCOPED_TRACE(game.image.filename().string());
    TempDir dir;
    const fs::path save = dir.path() / "game.sav";
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay_us(0, 150000);
    int saved = 0;
    for (int run = 0; run < game.runs; ++run) {
      fs::remove(save);
      headless::Process child({game.image.string(), "--frames", "100000000", "--battery", save.string()});
      ASSERT_TRUE(child.running());
      // Every other run first waits until the game has saved once (however loaded the machine is),
      // so that its kill lands among the later rewrites of an existing file.
      if (run % 2 == 1) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(save) && std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(fs::exists(save)) << "run " << run << " wrote no save in 30 s";
      }
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
      child.send(SIGKILL);
      const HeadlessRun ended = child.wait();
      ASSERT_EQ(ended.signal, SIGKILL) << "run " << run << " ended before it was killed: " << ended.describe();
      if (!fs::exists(save)) continue;
      ++saved;
      const std::string bytes = file_bytes(save);
      ASSERT_TRUE(game.whole(bytes)) << "run " << run << ": a save of " << bytes.size() << " bytes mixes states";
    }
    std::printf("%s: %d of %d killed runs had written a save\n", game.image.filename().c_str(), saved, game.runs);
  }
}

}  // namespace
}  // namespace core_test
