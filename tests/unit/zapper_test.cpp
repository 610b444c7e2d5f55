// The Zapper's sensor against the television's measurements: how many lines a flat field of each
// brightness keeps it lit, that it sees only lines the beam has drawn in the frame and only inside
// its spot, the trigger's pulse in frames, and the host's window-to-picture aim.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/bus.h"
#include "core/zapper.h"
#include "host/aim.h"
#include "ppu/ppu.h"

namespace {

constexpr int32_t DOTS = 341, FIRST_LINE = -1, LAST_LINE = 260;
constexpr uint64_t CYCLES_PER_FRAME = 29781;

struct Picture {
  std::unique_ptr<std::atomic<uint32_t>[]> pixels{new std::atomic<uint32_t>[FRAME_WIDTH * FRAME_HEIGHT]};
  explicit Picture(uint32_t pixel_value) {
    for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) pixels[i] = colour_table[pixel_value];
  }
  void box(int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t pixel_value) {
    for (int32_t y = top; y <= bottom; ++y)
      for (int32_t x = left; x <= right; ++x) pixels[y * FRAME_WIDTH + x] = colour_table[pixel_value];
  }
};

// The beam's passes over one frame, every dot of every line: the scanlines on which the gun reads
// lit, and how many lines' worth of dots it does.
struct Sweep {
  std::vector<int32_t> lit_lines;
  double lit_line_count = 0;
};
Sweep sweep(const Picture& picture, int32_t aim, int32_t radius) {
  Sweep s;
  int64_t lit_dots = 0;
  for (int32_t line = FIRST_LINE; line <= LAST_LINE; ++line) {
    bool any = false;
    for (int32_t dot = 0; dot < DOTS; ++dot)
      if (zapper_sees_light(picture.pixels.get(), line, dot, aim, radius)) {
        ++lit_dots;
        any = true;
      }
    if (any) s.lit_lines.push_back(line);
  }
  s.lit_line_count = static_cast<double>(lit_dots) / DOTS;
  return s;
}

constexpr int32_t aim_at(int32_t x, int32_t y) { return x + FRAME_WIDTH * y; }

// Aimed at the middle of a flat field: white, light grey and dark grey keep it lit for about 26, 24
// and 19 lines a frame; the blacks and the darkest hues not at all; the bright rows always.
TEST(Zapper, FlatFieldsKeepTheSensorLitForTheMeasuredLines) {
  const struct {
    uint32_t colour;
    double least, most;
  } rows[] = {
      {0x20, 25, 27}, {0x30, 25, 27}, {0x10, 23, 25}, {0x00, 18, 20}, {0x21, 20, 27}, {0x3C, 20, 27},
      {0x0F, 0, 0},   {0x1D, 0, 0},   {0x0D, 0, 0},   {0x02, 0, 0},   {0x06, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "colour $" << std::hex << row.colour);
    const Sweep s = sweep(Picture(row.colour), aim_at(128, 120), 7);
    EXPECT_GE(s.lit_line_count, row.least);
    EXPECT_LE(s.lit_line_count, row.most);
    // One stretch a frame, starting where the beam reaches the spot: no memory of the frame before.
    if (!s.lit_lines.empty()) {
      EXPECT_EQ(s.lit_lines.front(), 120 - 7);
      EXPECT_EQ(s.lit_lines.back() - s.lit_lines.front() + 1, static_cast<int32_t>(s.lit_lines.size()));
    }
  }
}

// A white box (x 112-143, lines 104-135) on black: the gun sees it from the first line of its spot
// on the box, never before the beam gets there (the whole box is in the picture throughout), for
// the spot's lines on the box and the hold after them; aimed beside the box or away, never.
TEST(Zapper, SeesTheBoxOnlyInsideItsSpotAndOnlyAfterTheBeam) {
  Picture picture(0x0F);
  picture.box(112, 104, 143, 135, 0x30);
  const struct {
    const char* what;
    int32_t aim, radius;
    int32_t first_line;  // -2: never lit
    double least, most;
  } rows[] = {
      {"in the middle", aim_at(128, 120), 7, 113, 25, 27},
      {"small spot", aim_at(128, 120), 2, 118, 15, 17},
      {"spot over the top edge", aim_at(128, 100), 7, 104, 14, 17},
      {"below the box", aim_at(128, 145), 7, -2, 0, 0},
      {"left of the box", aim_at(100, 120), 7, -2, 0, 0},
      {"in the corner of the screen", aim_at(0, 0), 7, -2, 0, 0},
      {"away from the screen", -1, 7, -2, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const Sweep s = sweep(picture, row.aim, row.radius);
    EXPECT_GE(s.lit_line_count, row.least);
    EXPECT_LE(s.lit_line_count, row.most);
    if (row.first_line == -2) {
      EXPECT_TRUE(s.lit_lines.empty()) << "first lit line " << s.lit_lines.front();
    } else {
      ASSERT_FALSE(s.lit_lines.empty());
      EXPECT_EQ(s.lit_lines.front(), row.first_line);
      EXPECT_LE(s.lit_lines.back(), 135 + 13) << "lit long after the box";
    }
  }
}

// A bright area at the bottom keeps the gun lit into vertical blank, never into the next frame.
TEST(Zapper, TheBottomLinesHoldIntoVerticalBlank) {
  Picture picture(0x0F);
  picture.box(0, 228, 255, 239, 0x20);
  const Sweep s = sweep(picture, aim_at(60, 236), 7);
  ASSERT_FALSE(s.lit_lines.empty());
  EXPECT_EQ(s.lit_lines.front(), 229);
  EXPECT_GE(s.lit_lines.back(), 245);
  EXPECT_LE(s.lit_lines.back(), 252);
}

// A pull reads 1 for about 100 ms (six frames) and then 0, though the trigger is not let go; a new
// pull starts a new pulse. The gun reads no light while aimed away; bits 0-2 and 5-7 are 0.
TEST(Zapper, APullIsAPulseOfAboutSixFrames) {
  zapper_aim_away();
  bus.cycles = 1000;
  EXPECT_EQ(zapper_read(), ZAPPER_DARK);  // no pull yet
  for (int pull = 0; pull < 2; ++pull) {
    SCOPED_TRACE(pull);
    zapper_pull_trigger();
    const uint64_t pulled = bus.cycles;
    uint64_t frames_high = 0;
    for (uint64_t frame = 0; frame < 12; ++frame) {
      bus.cycles = pulled + frame * CYCLES_PER_FRAME;
      const uint8_t value = zapper_read();
      EXPECT_EQ(value & ~(ZAPPER_DARK | ZAPPER_TRIGGER), 0);
      EXPECT_TRUE(value & ZAPPER_DARK);
      if (value & ZAPPER_TRIGGER) ++frames_high;
    }
    EXPECT_GE(frames_high, 5u);
    EXPECT_LE(frames_high, 7u);
    EXPECT_EQ(zapper_read() & ZAPPER_TRIGGER, 0) << "still pulled after 12 frames";
  }
  bus.cycles = 0;
}

// Window coordinates to picture pixels: stretched over the drawing area, or in full screen at a
// whole scale centred on black; off the picture is aimed away.
TEST(Zapper, TheMouseAimsAtThePicturePixelUnderIt) {
  const struct {
    int x, y, width, height;
    bool full_screen;
    int32_t aim;
  } rows[] = {
      {0, 0, 512, 480, false, aim_at(0, 0)},
      {511, 479, 512, 480, false, aim_at(255, 239)},
      {256, 240, 512, 480, false, aim_at(128, 120)},
      {300, 100, 600, 200, false, aim_at(128, 120)},  // stretched unevenly
      {-1, 10, 512, 480, false, -1},
      {10, 480, 512, 480, false, -1},
      // 1920x1080 full screen: scale 4, the picture at x 448-1471, y 60-1019.
      {448, 60, 1920, 1080, true, aim_at(0, 0)},
      {1471, 1019, 1920, 1080, true, aim_at(255, 239)},
      {447, 500, 1920, 1080, true, -1},
      {960, 59, 1920, 1080, true, -1},
      {960, 1020, 1920, 1080, true, -1},
      {5, 5, 0, 0, false, -1},  // a window with no drawing area
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.x << "," << row.y << " in " << row.width << "x" << row.height);
    EXPECT_EQ(aim_from_window(row.x, row.y, row.width, row.height, row.full_screen), row.aim);
  }
}

}  // namespace
