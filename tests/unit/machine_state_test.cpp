// The machine's state as one thing: power-on sets all of it (A, then B, then A again in one process
// ends where a fresh process does), a save state continues a run exactly (picture and sound, over
// cartridges of every mapper, the demo with scripted input and public cartridges mid-run), bad
// snapshots are refused without touching the game, and battery RAM survives restarts and kills.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "core/driver.h"
#include "core/fnv1a.h"
#include "core/snapshot.h"
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
      {own_rom("mapper16.nes"), 20, 10, ""},  // its counter interrupting all the while
      {own_rom("mapper18.nes"), 20, 10, ""},  // the same
      {own_rom("nes2_mapper2.nes"), 4, 12, ""},
      {own_rom("battery_ram.nes"), 7, 20, ""},
      {own_rom("ppu_scroll_split.nes"), 10, 20, ""},
      {own_rom("apu_dmc_notes.nes"), 37, 40, ""},
      {own_rom("demo.nes"), 250, 150, "--buttons 60:80 --buttons 66:00 --buttons 120:01 --buttons 200:21 --buttons 300:00"},
  };
  if (fs::exists(shared)) {
    table.push_back({fs::path(shared) / "other/Sayoonara!.NES", 101, 60, ""});
    table.push_back({fs::path(shared) / "other/RasterDemo.NES", 45, 40, ""});
    table.push_back({fs::path(shared) / "ppu_vbl_nmi/rom_singles/05-nmi_timing.nes", 23, 30, ""});
    table.push_back({fs::path(shared) / "apu_test/rom_singles/4-jitter.nes", 11, 30, ""});
    table.push_back({fs::path(shared) / "mmc3_test_2/rom_singles/4-scanline_timing.nes", 53, 20, ""});
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

// A save state of the first format (one record of named mapper fields; here mapper 1 with character
// RAM, saved at frame 200 by that version) still loads, and the game goes on as the uninterrupted
// run did: its next 100 frames match the recorded log.
TEST(SaveStates, AStateOfTheFirstFormatStillLoads) {
  const fs::path image = fs::path(SHARED_TEST_ROMS) / "instr_test-v5/all_instrs.nes";
  if (!fs::exists(image)) GTEST_SKIP() << "no shared test cartridges";
  TempDir dir;
  const fs::path log = dir.path() / "rest.log";
  const HeadlessRun run = run_headless(image, "--frames 100 --load-state " + std::string(TEST_DATA_DIR) +
                                                  "/data/v1_all_instrs.state --frame-log " + log.string());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::ifstream golden(std::string(TEST_DATA_DIR) + "/golden/logs/instr_test-v5__all_instrs.log");
  std::vector<std::string> expected;
  for (std::string line; std::getline(golden, line);) expected.push_back(line);
  ASSERT_EQ(expected.size(), 300u);
  expected.erase(expected.begin(), expected.begin() + 200);
  std::istringstream rest(dir.read("rest.log"));
  std::vector<std::string> continued;
  for (std::string line; std::getline(rest, line);) continued.push_back(line);
  EXPECT_EQ(continued, expected);
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

TEST(BatterySaves, AKillAtAnyMomentLeavesNoSaveOrAWholeOne) {
  TempDir dir;
  const fs::path save = dir.path() / "game.sav";
  const std::string image = own_rom("battery_ram.nes").string();
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delay_us(0, 150000);
  constexpr int RUNS = 200;
  int saved = 0;
  for (int run = 0; run < RUNS; ++run) {
    fs::remove(save);
    headless::Process child({image, "--frames", "100000000", "--battery", save.string()});
    ASSERT_TRUE(child.running());
    // Every other run first waits until the game has saved once (however loaded the machine is), so
    // that its kill lands among the later rewrites of an existing file.
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
    std::ifstream in(save, std::ios::binary);
    const std::string ram((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(is_a_state_the_game_wrote(ram)) << "run " << run << ": a save of " << ram.size() << " bytes mixes states";
  }
  std::printf("%d of %d killed runs had written a save\n", saved, RUNS);
}

}  // namespace
}  // namespace core_test
