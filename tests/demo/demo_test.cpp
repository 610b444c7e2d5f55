// The demo cartridge run through nes-headless: its image header; the game state following the
// controller; three screens (title, after walking right, paused) against hashes recorded after the
// pictures were looked at, with checks of the status bar split and the greyscale pause that do not
// depend on the hashes; the sound check, whose five one-second solos must each sound with the
// waveform of their channel; and ten emulated minutes of scripted play without a stall.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/headless_launch.h"

namespace fs = std::filesystem;

namespace {

// Controller bits as nes-headless --buttons takes them.
constexpr uint8_t RIGHT = 0x01, LEFT = 0x02, DOWN = 0x08, B = 0x10, A = 0x20, SELECT = 0x40,
                  START = 0x80;

constexpr uint8_t MODE_TITLE = 0, MODE_PLAY = 2;

// The game's own numbers, as the cartridge source defines them.
constexpr int WALKER_START_X = 40, SCROLL_RIGHT = 136, GROUND_Y = 160;
constexpr int CHECK_FRAMES = 60, CHECK_CHANNELS = 5;

constexpr int WIDTH = 256, HEIGHT = 240;
constexpr double CPU_CYCLES_PER_FRAME = 29780.5;  // 341 x 262 dots / 3, one dot less every other frame

struct Press {
  int frame;
  uint8_t buttons;
};
using Script = std::vector<Press>;

fs::path scratch(const std::string& name) {
  return fs::temp_directory_path() / ("demo_" + std::to_string(getpid()) + "_" + name);
}

// Runs the demo for `frames` frames with the button script and extra options; returns the exit code.
int run_demo(int frames, const Script& script, const std::vector<std::string>& options) {
  std::vector<std::string> args{DEMO_IMAGE, "--frames", std::to_string(frames)};
  for (const Press& p : script) {
    char buttons[32];
    std::snprintf(buttons, sizeof buttons, "%d:%02x", p.frame, p.buttons);
    args.insert(args.end(), {"--buttons", buttons});
  }
  args.insert(args.end(), options.begin(), options.end());
  return headless::run(args).exit_code;
}

// The demo's variables, by name, from the labels file of the build and a RAM dump.
class DemoRam {
 public:
  explicit DemoRam(const fs::path& dump) {
    std::ifstream labels(DEMO_LABELS);
    std::string kind, address, name;
    while (labels >> kind >> address >> name) addresses_[name.substr(1)] = std::stoi(address, nullptr, 16);
    std::ifstream in(dump, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
  }
  bool ok() const { return bytes_.size() >= 0x800 && addresses_.count("nmi_count") != 0; }
  int byte(const std::string& name, int offset = 0) const { return bytes_.at(address(name) + offset); }
  int word(const std::string& name) const { return byte(name) | byte(name, 1) << 8; }
  std::string digits(const std::string& name, int count) const {
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>('0' + byte(name, i));
    return text;
  }

 private:
  int address(const std::string& name) const {
    const auto it = addresses_.find(name);
    if (it == addresses_.end()) throw std::runtime_error("no label " + name);
    return it->second;
  }
  std::map<std::string, int> addresses_;
  std::vector<uint8_t> bytes_;
};

DemoRam run_and_dump(int frames, const Script& script) {
  const fs::path dump = scratch("ram.bin");
  EXPECT_EQ(run_demo(frames, script, {"--dump", dump.string()}), 0);
  DemoRam ram(dump);
  fs::remove(dump);
  return ram;
}

// ---------------------------------------------------------------------------------------------

TEST(DemoImage, IsAMapper0ImageThatStatesItsVerticalArrangement) {
  std::ifstream in(DEMO_IMAGE, std::ios::binary);
  const std::vector<uint8_t> image(std::istreambuf_iterator<char>(in), {});
  ASSERT_EQ(image.size(), 16u + 2 * 16384 + 8192);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "NES\x1A");
  EXPECT_EQ(image[4], 2);                                        // 32 KiB program ROM
  EXPECT_EQ(image[5], 1);                                        // 8 KiB character ROM
  EXPECT_EQ((image[6] >> 4) | (image[7] & 0xF0), 0);             // mapper 0
  EXPECT_EQ(image[6] & 0x0F, 0x01);                              // vertical, no battery/trainer/four-screen
  const size_t vectors = 16 + 2 * 16384 - 6;
  for (int v = 0; v < 3; ++v) {
    const int target = image[vectors + 2 * v] | image[vectors + 2 * v + 1] << 8;
    EXPECT_GE(target, 0x8000) << "vector " << v;
  }
}

// ---------------------------------------------------------------------------------------------

TEST(DemoGame, WalkingJumpingPausingAndSelectFollowTheController) {
  // Start on the title, then Right held: the walker goes from x 40 to the scroll edge at 136,
  // after which the view scrolls; at 1.5 pixels a frame, 120 frames cover 180 pixels.
  const Script walk = {{30, START}, {32, 0}, {60, RIGHT}};
  const DemoRam walked = run_and_dump(180, walk);
  ASSERT_TRUE(walked.ok());
  EXPECT_EQ(walked.byte("mode"), MODE_PLAY);
  EXPECT_EQ(walked.byte("player_x"), SCROLL_RIGHT);
  const int expected_camera = 180 - (SCROLL_RIGHT - WALKER_START_X);
  EXPECT_NEAR(walked.word("camera"), expected_camera, 3);
  EXPECT_EQ(walked.byte("facing"), 0);

  // A jump: 4.5 pixels a frame upwards, 0.25 pixels a frame less each frame: 18 frames up to
  // about 40 pixels above the ground, 36 frames in the air.
  Script jump = walk;
  jump.push_back({100, RIGHT | A});
  jump.push_back({102, RIGHT});
  const DemoRam rising = run_and_dump(118, jump);
  EXPECT_EQ(rising.byte("on_ground"), 0);
  EXPECT_LT(rising.byte("player_y"), GROUND_Y - 30);
  const DemoRam landed = run_and_dump(150, jump);
  EXPECT_EQ(landed.byte("on_ground"), 1);
  EXPECT_EQ(landed.byte("player_y"), GROUND_Y);

  // Left turns the walker round; B throws a spark.
  Script turn = walk;
  turn.push_back({120, LEFT});
  turn.push_back({140, LEFT | B});
  const DemoRam turned = run_and_dump(145, turn);
  EXPECT_EQ(turned.byte("facing"), 1);
  EXPECT_GT(turned.byte("spark_life"), 0);
  EXPECT_EQ(turned.byte("spark_left"), 1);

  // Down crouches; the walker does not move while crouching.
  Script crouch = walk;
  crouch.push_back({120, RIGHT | DOWN});
  const DemoRam crouch_start = run_and_dump(125, crouch);
  const DemoRam crouch_end = run_and_dump(145, crouch);
  EXPECT_EQ(crouch_end.byte("crouching"), 1);
  EXPECT_EQ(crouch_end.word("camera"), crouch_start.word("camera"));

  // Start pauses: with Right still held the view stands still; Start again goes on.
  Script pause = walk;
  pause.push_back({200, RIGHT | START});
  pause.push_back({202, RIGHT});
  const DemoRam paused_early = run_and_dump(210, pause);
  const DemoRam paused_late = run_and_dump(260, pause);
  EXPECT_EQ(paused_late.byte("paused"), 1);
  EXPECT_EQ(paused_late.word("camera"), paused_early.word("camera"));
  pause.push_back({270, RIGHT | START});
  pause.push_back({272, RIGHT});
  const DemoRam resumed = run_and_dump(300, pause);
  EXPECT_EQ(resumed.byte("paused"), 0);
  EXPECT_NE(resumed.word("camera"), paused_late.word("camera"));

  // Select steps the time of day: day, dusk, night, day.
  Script select = {{30, START}, {32, 0}};
  const int expected_time[] = {1, 2, 0};
  for (int n = 0; n < 3; ++n) {
    select.push_back({60 + 10 * n, SELECT});
    select.push_back({62 + 10 * n, 0});
    EXPECT_EQ(run_and_dump(66 + 10 * n, select).byte("time_of_day"), expected_time[n]) << "press " << n + 1;
  }
}

// ---------------------------------------------------------------------------------------------
// Screens. Each hash was recorded after its picture was looked at:
//  - title: banner "THE DEMO", the controls, the walker and two gems, "PRESS START" in its dark
//    phase, "SELECT: SOUND CHECK";
//  - walked right: status bar (score 0, gems 0, DAY), landscape scrolled by 99 pixels
//    across both nametables, the walker at the scroll edge half hidden behind a bush (sprite
//    priority), gems, birds, clouds and hills;
//  - paused: the same view a little later, "PAUSED" in the status bar, the landscape dim grey
//    (greyscale and all three emphasis bits, set at the split).

struct Screen {
  std::vector<uint32_t> pixels;  // 0x00RRGGBB, row-major
  std::string log_hash;          // the runner's frame hash for the same frame
  fs::path png;                  // the picture, kept for a look when a test fails
};

std::vector<uint32_t> read_png(const fs::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) || image.width != WIDTH ||
      image.height != HEIGHT)
    return {};
  std::vector<uint32_t> pixels(WIDTH * HEIGHT);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  return pixels;
}

// The runner's frame hash: FNV-1a over the pixels, each as four bytes, least significant first.
std::string frame_hash(const std::vector<uint32_t>& pixels) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint32_t p : pixels)
    for (int k = 0; k < 4; ++k) hash = (hash ^ ((p >> (8 * k)) & 0xFF)) * 0x100000001b3ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

Screen capture(int frame, const Script& script) {
  const fs::path png = scratch(std::to_string(frame) + ".png"), log = scratch("frames.log");
  Screen screen;
  if (run_demo(frame, script, {"--screenshot", png.string(), "--frame-log", log.string()}) != 0)
    return screen;
  screen.pixels = read_png(png);
  screen.png = png;
  std::ifstream in(log);
  std::string number, picture, sound;
  while (in >> number >> picture >> sound)
    if (number == std::to_string(frame)) screen.log_hash = picture;
  fs::remove(log);
  return screen;
}

// Removes the screen's picture unless the test has failed.
void keep_on_failure(const Screen& screen) {
  if (testing::Test::HasFailure())
    std::printf("picture left at %s\n", screen.png.c_str());
  else
    fs::remove(screen.png);
}

bool rows_equal(const Screen& a, const Screen& b, int first, int last) {
  return std::equal(a.pixels.begin() + first * WIDTH, a.pixels.begin() + (last + 1) * WIDTH,
                    b.pixels.begin() + first * WIDTH);
}

bool is_grey(uint32_t p) { return (p >> 16 & 0xFF) == (p >> 8 & 0xFF) && (p >> 8 & 0xFF) == (p & 0xFF); }

constexpr int TITLE_FRAME = 60, PLAY_START_FRAME = 90, WALKED_FRAME = 230, PAUSED_FRAME = 260;
const Script screens_script = {{70, START}, {72, 0}, {100, RIGHT}, {240, RIGHT | START}, {242, RIGHT}};
constexpr const char* TITLE_HASH = "610fdf68b472925c";
constexpr const char* WALKED_HASH = "9fd159a5aa453704";
constexpr const char* PAUSED_HASH = "dff49077be91bed6";

// Status bar: rows 0-28 are drawn before the split; the scrolled landscape starts at row 32.
constexpr int STATUS_LAST_ROW = 28, LANDSCAPE_FIRST_ROW = 32;

TEST(DemoScreens, TitleMatchesItsCheckedHash) {
  const Screen title = capture(TITLE_FRAME, screens_script);
  ASSERT_EQ(title.pixels.size(), size_t(WIDTH * HEIGHT));
  EXPECT_EQ(frame_hash(title.pixels), title.log_hash);
  EXPECT_EQ(title.log_hash, TITLE_HASH);
  keep_on_failure(title);
}

TEST(DemoScreens, WalkingRightScrollsTheLandscapeUnderAStillStatusBar) {
  const Screen start = capture(PLAY_START_FRAME, screens_script);
  const Screen walked = capture(WALKED_FRAME, screens_script);
  ASSERT_EQ(start.pixels.size(), size_t(WIDTH * HEIGHT));
  ASSERT_EQ(walked.pixels.size(), size_t(WIDTH * HEIGHT));
  EXPECT_EQ(frame_hash(walked.pixels), walked.log_hash);
  EXPECT_EQ(walked.log_hash, WALKED_HASH);
  // The view has moved into the second nametable's half of the world ...
  const DemoRam ram = run_and_dump(WALKED_FRAME, screens_script);
  EXPECT_GT(ram.word("camera"), 0);
  EXPECT_EQ(ram.word("split_misses"), 0);
  EXPECT_EQ(ram.digits("score", 5), "00000");  // nothing on the status bar has changed
  // ... but the status bar above the sprite 0 split is the same picture as at the start.
  EXPECT_TRUE(rows_equal(start, walked, 0, STATUS_LAST_ROW));
  // The ground (below the walker and every other sprite) has moved.
  EXPECT_FALSE(rows_equal(start, walked, 176, HEIGHT - 1));
  keep_on_failure(start);
  keep_on_failure(walked);
}

TEST(DemoScreens, PauseGreysTheLandscapeButNotTheStatusBar) {
  const Screen paused = capture(PAUSED_FRAME, screens_script);
  ASSERT_EQ(paused.pixels.size(), size_t(WIDTH * HEIGHT));
  EXPECT_EQ(frame_hash(paused.pixels), paused.log_hash);
  EXPECT_EQ(paused.log_hash, PAUSED_HASH);
  // The split turns greyscale on after the status bar: every landscape pixel is grey, while the
  // status bar keeps its coloured panel.
  const auto landscape = paused.pixels.begin() + LANDSCAPE_FIRST_ROW * WIDTH;
  EXPECT_TRUE(std::all_of(landscape, paused.pixels.end(), is_grey));
  const auto status_end = paused.pixels.begin() + (STATUS_LAST_ROW + 1) * WIDTH;
  EXPECT_FALSE(std::all_of(paused.pixels.begin(), status_end, is_grey));
  keep_on_failure(paused);
}

// ---------------------------------------------------------------------------------------------
// Sound. Select on the title starts the sound check: for 60 frames each, only one channel is
// enabled ($4015) in the order pulse 1, pulse 2, triangle, noise, sample; the others then give
// their fixed disabled levels, so any change of the mixed output in a solo comes from that channel.
// Beyond "not silence", each solo must have its generator's shape: the lead (pulse 1, duty 25 %)
// and the arpeggio (pulse 2, duty 12.5 %) two-level square waves of their duty, the triangle its
// 16 levels stepped one at a time, the noise two levels at irregular lengths, the sample many
// levels of delta steps. The WAV has one sample per CPU cycle.

std::vector<int16_t> read_wav(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<int16_t> samples;
  if (bytes.size() < 44) return samples;
  samples.resize((bytes.size() - 44) / 2);
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = static_cast<int16_t>(uint8_t(bytes[44 + 2 * i]) | uint8_t(bytes[45 + 2 * i]) << 8);
  return samples;
}

struct LevelRun {
  int16_t level;
  size_t length;
};

// Runs of equal samples, without the first and last (cut by the window).
std::vector<LevelRun> runs_of(const std::vector<int16_t>& s, size_t begin, size_t end) {
  std::vector<LevelRun> runs;
  for (size_t i = begin; i < end;) {
    size_t j = i;
    while (j < end && s[j] == s[i]) ++j;
    runs.push_back({s[i], j - i});
    i = j;
  }
  if (runs.size() >= 2) {
    runs.erase(runs.begin());
    runs.pop_back();
  }
  return runs;
}

// The median share of the high part in each cycle of a square wave: for every run higher than
// both neighbours, its length over the distance to the start of the next such run.
double median_duty(const std::vector<LevelRun>& runs) {
  std::vector<size_t> starts, highs;
  size_t position = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0 && i + 1 < runs.size() && runs[i].level > runs[i - 1].level && runs[i].level > runs[i + 1].level) {
      starts.push_back(position);
      highs.push_back(runs[i].length);
    }
    position += runs[i].length;
  }
  std::vector<double> duties;
  for (size_t k = 0; k + 1 < starts.size(); ++k)
    duties.push_back(double(highs[k]) / double(starts[k + 1] - starts[k]));
  if (duties.empty()) return 0;
  std::nth_element(duties.begin(), duties.begin() + duties.size() / 2, duties.end());
  return duties[duties.size() / 2];
}

// Share of level changes that go to a neighbouring level among the levels the window visits.
double neighbour_step_share(const std::vector<LevelRun>& runs) {
  std::set<int16_t> levels;
  for (const LevelRun& r : runs) levels.insert(r.level);
  const std::vector<int16_t> sorted(levels.begin(), levels.end());
  auto rank = [&](int16_t v) { return std::lower_bound(sorted.begin(), sorted.end(), v) - sorted.begin(); };
  size_t steps = 0, neighbours = 0;
  for (size_t i = 1; i < runs.size(); ++i, ++steps)
    if (std::abs(rank(runs[i].level) - rank(runs[i - 1].level)) == 1) ++neighbours;
  return steps ? double(neighbours) / double(steps) : 0;
}

TEST(DemoSound, EachChannelSoundsAloneWithItsOwnWaveformInTheSoundCheck) {
  constexpr int PRESS = 20;
  const Script script = {{PRESS, SELECT}, {PRESS + 2, 0}};
  const int frames = PRESS + CHECK_CHANNELS * CHECK_FRAMES + 20;
  const fs::path wav = scratch("check.wav");
  ASSERT_EQ(run_demo(frames, script, {"--wav", wav.string(), "--dump", scratch("check.bin").string()}), 0);
  const std::vector<int16_t> samples = read_wav(wav);
  fs::remove(wav);
  const DemoRam ram(scratch("check.bin"));
  fs::remove(scratch("check.bin"));
  ASSERT_TRUE(ram.ok());
  EXPECT_EQ(ram.byte("check_step"), CHECK_CHANNELS);  // the check went through all five
  EXPECT_EQ(ram.byte("mode"), MODE_TITLE);
  ASSERT_GE(samples.size(), size_t(frames * CPU_CYCLES_PER_FRAME * 0.99));

  // The middle half-second of each solo; solos start one or two frames after the press.
  auto window = [&](int solo) {
    const double first = PRESS + solo * CHECK_FRAMES + 15, last = first + 30;
    return std::make_pair(size_t(first * CPU_CYCLES_PER_FRAME), size_t(last * CPU_CYCLES_PER_FRAME));
  };
  const char* names[CHECK_CHANNELS] = {"pulse 1", "pulse 2", "triangle", "noise", "sample"};
  std::vector<std::vector<LevelRun>> solo_runs;
  for (int solo = 0; solo < CHECK_CHANNELS; ++solo) {
    SCOPED_TRACE(names[solo]);
    const auto [begin, end] = window(solo);
    const auto [low, high] = std::minmax_element(samples.begin() + begin, samples.begin() + end);
    EXPECT_GT(*high - *low, 200) << "silent";
    solo_runs.push_back(runs_of(samples, begin, end));
    EXPECT_GT(solo_runs.back().size(), 100u) << "hardly changes";
  }
  // Pulse 1 plays the lead at duty 25 %, pulse 2 the arpeggio at 12.5 %.
  EXPECT_NEAR(median_duty(solo_runs[0]), 0.25, 0.02);
  EXPECT_NEAR(median_duty(solo_runs[1]), 0.125, 0.02);
  // The triangle: exactly 16 levels, always stepping to a neighbour.
  std::set<int16_t> triangle_levels;
  for (const LevelRun& r : solo_runs[2]) triangle_levels.insert(r.level);
  EXPECT_EQ(triangle_levels.size(), 16u);
  EXPECT_EQ(neighbour_step_share(solo_runs[2]), 1.0);
  // The noise: its runs have many different lengths (a square wave has two).
  std::set<size_t> noise_lengths;
  for (const LevelRun& r : solo_runs[3]) noise_lengths.insert(r.length);
  EXPECT_GT(noise_lengths.size(), 8u);
  // The sample: more levels than any other channel can give, nearly all reached step by step.
  std::set<int16_t> sample_levels;
  for (const LevelRun& r : solo_runs[4]) sample_levels.insert(r.level);
  EXPECT_GT(sample_levels.size(), 20u);
  EXPECT_GT(neighbour_step_share(solo_runs[4]), 0.95);

  // Before the check, the title tune plays on all channels at once.
  const auto tune = runs_of(samples, size_t(5 * CPU_CYCLES_PER_FRAME), size_t(PRESS * CPU_CYCLES_PER_FRAME));
  std::set<int16_t> tune_levels;
  for (const LevelRun& r : tune) tune_levels.insert(r.level);
  EXPECT_GT(tune_levels.size(), 50u);
}

// ---------------------------------------------------------------------------------------------
// Ten emulated minutes (36000 frames) of scripted play: every ten seconds the walker walks right,
// jumps, throws, walks left, crouches and throws, changes the time of day, pauses and resumes.

TEST(DemoRun, TenMinutesOfScriptedPlayWithoutAStall) {
  constexpr int FRAMES = 36000, CYCLE = 600;
  Script script = {{30, START}, {32, 0}};
  const Press cycle[] = {{0, RIGHT},        {40, RIGHT | A}, {42, RIGHT}, {100, RIGHT | B}, {102, RIGHT},
                         {200, 0},          {210, LEFT},     {250, LEFT | A}, {252, LEFT},  {300, DOWN},
                         {330, DOWN | B},   {332, DOWN},     {360, SELECT}, {362, 0},       {400, START},
                         {402, 0},          {430, RIGHT},    {460, RIGHT | START}, {462, RIGHT}, {560, 0}};
  int cycles = 0;
  for (int base = 60; base + CYCLE <= FRAMES; base += CYCLE, ++cycles)
    for (const Press& p : cycle) script.push_back({base + p.frame, p.buttons});
  const DemoRam ram = run_and_dump(FRAMES, script);
  ASSERT_TRUE(ram.ok());
  // An NMI in every frame after start-up, and a pass of the main loop in every one of them except
  // the few spent drawing the play screen with rendering off.
  EXPECT_GE(ram.word("nmi_count"), FRAMES - 4);
  EXPECT_GE(ram.word("loop_count"), ram.word("nmi_count") - 6);
  // Sprite 0 hit came in every play frame, so the split never waited in vain.
  EXPECT_EQ(ram.word("split_misses"), 0);
  // Still playing, still taking input: each cycle's jump and throw take gems on the way.
  EXPECT_EQ(ram.byte("mode"), MODE_PLAY);
  EXPECT_EQ(ram.byte("paused"), 0);
  EXPECT_GE(std::stoi(ram.digits("gems_taken", 2)), 10);
  EXPECT_EQ(ram.byte("time_of_day"), cycles % 3);
}

}  // namespace
