// PPU timing with rendering off: frame length, the first vertical blank after power-on, the flag
// and NMI schedule with its PPUSTATUS read races, NMI enabled during vertical blank, and the
// pre-render line's clear of the status flags.
#include <gtest/gtest.h>

#include "core_test_machine.h"

namespace {

using namespace core_test;

// From power-on (scanline 241, dot 0) one full pass of 262 lines of 341 dots comes back to the
// first dot of scanline 241; the tick run there sets the flag.
constexpr int DOTS_PER_FRAME = 262 * 341;
constexpr int FLAG_TICK = DOTS_PER_FRAME + 1;  // ticks from power-on until the flag is set
constexpr int NMI_TICK = FLAG_TICK + 2;        // the third tick of the line computes the NMI line
constexpr int PRE_RENDER_TICKS = 20 * 341;     // power-on to the first dot of the pre-render line

class PpuTiming : public ::testing::Test {
 protected:
  void SetUp() override { power_on(1, 1, 0); }
  static bool vblank_flag() { return ppustatus() & STATUS_VBLANK; }
  static uint8_t read_status() { return ppu_access(2, 0, false); }
  // Ticks `n` dots; returns how many times nmi_line rose.
  static int count_nmi_edges(int n) {
    int edges = 0;
    for (int i = 0; i < n; ++i) {
      const bool before = nmi_line;
      ppu_tick();
      edges += !before && nmi_line;
    }
    return edges;
  }
};

TEST_F(PpuTiming, FirstVerticalBlankFollowsAFullPassFromPowerOn) {
  ppu_ticks(FLAG_TICK - 1);
  EXPECT_FALSE(vblank_flag());
  EXPECT_EQ(ppu.scanline, 241);
  EXPECT_EQ(ppu.dot, 0);
  ppu_ticks(1);
  EXPECT_TRUE(vblank_flag());
}

TEST_F(PpuTiming, FramesLast89342DotsWithRenderingOff) {
  ppu_ticks(FLAG_TICK);
  for (int frame = 0; frame < 3; ++frame) {
    (void)read_status();
    ppu_ticks(DOTS_PER_FRAME - 1);
    EXPECT_FALSE(vblank_flag()) << frame;
    ppu_ticks(1);
    EXPECT_TRUE(vblank_flag()) << frame;
  }
}

TEST_F(PpuTiming, FrameCounterCountsTheStartOfLine240) {
  const int to_line_240 = (20 + 1 + 240) * 341;  // 241-260, pre-render, 0-239
  ppu_ticks(to_line_240 - 1);
  EXPECT_EQ(ppu.frames, 0u);
  ppu_ticks(1);
  EXPECT_EQ(ppu.frames, 1u);
  EXPECT_EQ(ppu.scanline, 240);
  ppu_ticks(DOTS_PER_FRAME);
  EXPECT_EQ(ppu.frames, 2u);
}

TEST_F(PpuTiming, NmiLineRisesOnTheThirdTickOfVerticalBlank) {
  ppu_access(0, CTRL_NMI_ENABLE, true);
  ppu_ticks(NMI_TICK - 1);
  EXPECT_TRUE(vblank_flag());
  EXPECT_FALSE(nmi_line);
  ppu_ticks(1);
  EXPECT_TRUE(nmi_line);
  ppu_ticks(20 * 341 - 3);        // the flag and the line hold to the end of scanline 260
  EXPECT_TRUE(nmi_line);
  ppu_ticks(1);                   // first tick of the pre-render line clears the flag
  EXPECT_FALSE(vblank_flag());
  ppu_ticks(4);
  EXPECT_TRUE(nmi_line);          // not recomputed before the sixth tick of the line
  ppu_ticks(1);
  EXPECT_FALSE(nmi_line);
}

TEST_F(PpuTiming, StatusReadJustBeforeTheFlagCancelsFlagAndNmiForTheFrame) {
  ppu_access(0, CTRL_NMI_ENABLE, true);
  ppu_ticks(FLAG_TICK - 1);
  EXPECT_EQ(read_status() & STATUS_VBLANK, 0);
  bool flag_seen = false;
  for (int i = 0; i < 20 * 341; ++i) {
    ppu_tick();
    flag_seen = flag_seen || vblank_flag() || nmi_line;
  }
  EXPECT_FALSE(flag_seen);
  EXPECT_EQ(count_nmi_edges(DOTS_PER_FRAME), 1);  // the next frame is normal again
}

TEST_F(PpuTiming, StatusReadInTheTwoTicksAfterTheFlagSeesItButSuppressesTheNmi) {
  for (int late = 0; late < 2; ++late) {
    SCOPED_TRACE(late);
    power_on(1, 1, 0);
    ppu_access(0, CTRL_NMI_ENABLE, true);
    ppu_ticks(FLAG_TICK + late);
    EXPECT_FALSE(nmi_line);
    EXPECT_EQ(read_status() & STATUS_VBLANK, STATUS_VBLANK);
    EXPECT_EQ(count_nmi_edges(20 * 341), 0);
  }
}

TEST_F(PpuTiming, StatusReadAfterTheNmiLowersTheLineOnTheNextTick) {
  ppu_access(0, CTRL_NMI_ENABLE, true);
  ppu_ticks(NMI_TICK);
  ASSERT_TRUE(nmi_line);
  EXPECT_EQ(read_status() & STATUS_VBLANK, STATUS_VBLANK);
  EXPECT_TRUE(nmi_line);
  ppu_ticks(1);
  EXPECT_FALSE(nmi_line);
  EXPECT_EQ(count_nmi_edges(20 * 341 - 1), 0);
}

TEST_F(PpuTiming, EnablingNmiDuringVerticalBlankRaisesTheLineOnTheNextTick) {
  ppu_ticks(NMI_TICK + 100);
  ASSERT_TRUE(vblank_flag());
  EXPECT_FALSE(nmi_line);
  ppu_access(0, CTRL_NMI_ENABLE, true);
  EXPECT_FALSE(nmi_line);
  ppu_ticks(1);
  EXPECT_TRUE(nmi_line);
  ppu_access(0, 0x00, true);
  ppu_ticks(1);
  EXPECT_FALSE(nmi_line);
  // Each rising edge of the enable bit while the flag is set is one more edge of the line.
  int edges = 0;
  for (int i = 0; i < 3; ++i) {
    ppu_access(0, CTRL_NMI_ENABLE, true);
    edges += count_nmi_edges(10);
    ppu_access(0, 0x00, true);
    edges += count_nmi_edges(10);
  }
  EXPECT_EQ(edges, 3);
  EXPECT_TRUE(vblank_flag());     // PPUCTRL writes leave the flag alone
}

TEST_F(PpuTiming, PreRenderLineClearsAllStatusFlagsOnItsFirstTick) {
  ppu_ticks(PRE_RENDER_TICKS - 100);
  set_ppustatus(STATUS_VBLANK | STATUS_SPRITE0_HIT | STATUS_OVERFLOW);
  ppu_ticks(100);
  EXPECT_EQ(ppu.scanline, -1);
  EXPECT_EQ(ppustatus(), 0xE0);
  ppu_ticks(1);
  EXPECT_EQ(ppustatus(), 0);
}

TEST_F(PpuTiming, StatusReadAtThePreRenderArmingDoesNotStopTheClear) {
  ppu_ticks(PRE_RENDER_TICKS);
  set_ppustatus(STATUS_SPRITE0_HIT | STATUS_OVERFLOW | STATUS_VBLANK);
  EXPECT_EQ(read_status() & 0xE0, 0xE0);
  ppu_ticks(1);
  EXPECT_EQ(ppustatus(), 0);      // sprite flags cleared too: the schedule went on
}

}  // namespace
