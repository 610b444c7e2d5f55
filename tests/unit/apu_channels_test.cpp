// The channel generators cycle by cycle: pulse duty patterns and timer, triangle sequence and its
// holds, the noise shift register in both modes, and DMC playback, fetches, looping and its end.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "apu_machine.h"

namespace {

using apu_test::power_on_machine;
using apu_test::reset_apu;

// Calls a generator until its timer has expired `expiries` times; returns the level after each.
template <typename Generator>
std::vector<int32_t> levels_at_expiries(ApuChannel& c, Generator generator, int expiries) {
  std::vector<int32_t> levels;
  for (int calls = 0; static_cast<int>(levels.size()) < expiries; ++calls) {
    const bool expires = c.timer == 0;  // countdown from 0 always expires
    const int32_t level = generator();
    if (expires) levels.push_back(level);
    if (calls > 10000000) break;
  }
  return levels;
}

class ApuGenerators : public ::testing::Test {
 protected:
  void SetUp() override { reset_apu(); }
};

TEST_F(ApuGenerators, DisabledChannelsReturnTheirFixedLevelsAndDoNotAdvance) {
  EXPECT_EQ(pulse_tick(PULSE1), 8);
  EXPECT_EQ(pulse_tick(PULSE2), 8);
  EXPECT_EQ(triangle_tick(), 8);
  EXPECT_EQ(noise_tick(), 8);
  EXPECT_EQ(dmc_tick(), 64);
  for (const ApuChannel& c : apu.channels) {
    EXPECT_EQ(c.timer, 0);
    EXPECT_EQ(c.last_output, 0);
  }
}

TEST_F(ApuGenerators, PulseStepsEvery2PPlus3Cycles) {
  apu_write(0x15, 0x01);
  apu_write(0x00, 0xBF);  // duty 2, constant volume 15
  apu_write(0x02, 0x64);  // P = 100
  apu_write(0x03, 0x08);
  std::vector<int> changes;
  int32_t previous = pulse_tick(PULSE1);
  for (int call = 1; call < 6000; ++call) {
    const int32_t level = pulse_tick(PULSE1);
    if (level != previous) changes.push_back(call);
    previous = level;
  }
  ASSERT_GE(changes.size(), 4u);
  // Duty 2 is high for four steps, low for four: edges every 4 x (2P + 3) cycles.
  for (size_t i = 1; i < changes.size(); ++i) EXPECT_EQ(changes[i] - changes[i - 1], 4 * 203);
}

TEST_F(ApuGenerators, PulseDutyPatternsStartAtStepOneAfterARegisterThreeWrite) {
  // Steps at which each duty is high, from the duty table.
  const std::set<int> high_steps[4] = {{2}, {2, 3}, {2, 3, 4, 5}, {0, 1, 4, 5, 6, 7}};
  for (int duty = 0; duty < 4; ++duty) {
    reset_apu();
    apu_write(0x15, 0x02);
    apu_write(0x04, static_cast<uint8_t>(duty << 6 | 0x3F));  // constant volume 15, halt
    apu_write(0x06, 0x03);                                  // P = 3, the shortest that plays
    apu_write(0x07, 0x08);
    ApuChannel& c = apu.channels[PULSE2];
    const auto levels = levels_at_expiries(c, [] { return pulse_tick(PULSE2); }, 16);
    for (int i = 0; i < 16; ++i) {
      const int step = (i + 1) % 8;
      EXPECT_EQ(levels[i], high_steps[duty].count(step) ? 15 : 0) << "duty " << duty << " step " << step;
    }
  }
}

TEST_F(ApuGenerators, PulsePeriodsBelowThreeGiveLevelEight) {
  apu_write(0x15, 0x01);
  apu_write(0x00, 0xBF);
  apu_write(0x02, 0x02);  // P = 2
  apu_write(0x03, 0x08);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(pulse_tick(PULSE1), 8) << i;
  EXPECT_EQ(apu.channels[PULSE1].step, 0);  // the duty sequence does not move
}

TEST_F(ApuGenerators, PulseVolumeIsEnvelopeOrConstantAndZeroWithoutLength) {
  apu_write(0x15, 0x01);
  apu_write(0x00, 0xC0);  // duty 3 (high at step 1), envelope
  apu_write(0x02, 0x08);
  apu_write(0x03, 0x08);
  apu.channels[PULSE1].envelope_volume = 9;
  auto levels = levels_at_expiries(apu.channels[PULSE1], [] { return pulse_tick(PULSE1); }, 1);
  EXPECT_EQ(levels[0], 9);
  apu_write(0x00, 0xD6);  // constant volume 6
  apu_write(0x03, 0x08);  // back to step 0
  levels = levels_at_expiries(apu.channels[PULSE1], [] { return pulse_tick(PULSE1); }, 1);
  EXPECT_EQ(levels[0], 6);
  apu.channels[PULSE1].length_counter = 0;
  levels = levels_at_expiries(apu.channels[PULSE1], [] { return pulse_tick(PULSE1); }, 4);
  EXPECT_EQ(levels, (std::vector<int32_t>{0, 0, 0, 0}));
}

TEST_F(ApuGenerators, TriangleRunsItsThirtyTwoStepSequence) {
  apu_write(0x15, 0x04);
  apu_write(0x08, 0xFF);
  apu_write(0x0A, 0x05);
  apu_write(0x0B, 0x08);
  const auto levels = levels_at_expiries(apu.channels[TRIANGLE], triangle_tick, 34);
  const std::vector<int32_t> expected = {1,  2,  3,  4,  5,  6,  7,  8, 9, 10, 11, 12, 13, 14, 15, 15, 14,
                                         13, 12, 11, 10, 9,  8,  7,  6, 5, 4,  3,  2,  1,  0,  0,  1,  2};
  EXPECT_EQ(levels, expected);
  // Steps come every P + 2 cycles: level changes fall 7 cycles apart, or 14 across the repeated
  // 15 and 0 at the turns.
  std::vector<int> changes;
  int32_t previous = triangle_tick();
  for (int call = 1; call <= 7 * 40; ++call) {
    const int32_t level = triangle_tick();
    if (level != previous) changes.push_back(call);
    previous = level;
  }
  ASSERT_GE(changes.size(), 30u);
  int doubled = 0;
  for (size_t i = 1; i < changes.size(); ++i) {
    const int gap = changes[i] - changes[i - 1];
    EXPECT_TRUE(gap == 7 || gap == 14) << gap;
    doubled += gap == 14;
  }
  EXPECT_EQ(doubled, 2);  // one turn at the top, one at the bottom in 40 steps
}

TEST_F(ApuGenerators, TriangleHoldsWithoutLengthLinearCounterOrWithPeriodBelowTwo) {
  auto start = [] {
    reset_apu();
    apu_write(0x15, 0x04);
    apu_write(0x08, 0x7F);
    apu_write(0x0A, 0x05);
    apu_write(0x0B, 0x08);
    for (int i = 0; i < 5 * 7; ++i) triangle_tick();  // a few steps into the sequence
  };
  auto held = [] {
    const int32_t level = apu.channels[TRIANGLE].last_output;
    for (int i = 0; i < 200; ++i)
      if (triangle_tick() != level) return false;
    return true;
  };
  start();
  EXPECT_FALSE(held());  // the running sequence, for contrast
  start();
  apu.channels[TRIANGLE].length_counter = 0;
  EXPECT_TRUE(held());
  start();
  apu.channels[TRIANGLE].linear_counter = 0;
  EXPECT_TRUE(held());
  start();
  apu_write(0x0A, 0x01);
  EXPECT_TRUE(held());
  start();
  apu_write(0x0A, 0x02);
  EXPECT_FALSE(held());
}

TEST_F(ApuGenerators, DisabledTriangleKeepsItsLastLevel) {
  apu_write(0x15, 0x04);
  apu_write(0x08, 0x7F);
  apu_write(0x0A, 0x05);
  apu_write(0x0B, 0x08);
  for (int i = 0; i < 4 * 7; ++i) triangle_tick();
  const int32_t level = apu.channels[TRIANGLE].last_output;
  ASSERT_GT(level, 0);
  apu_write(0x15, 0x00);
  EXPECT_EQ(triangle_tick(), 8);
  EXPECT_EQ(apu.channels[TRIANGLE].last_output, level);
}

TEST_F(ApuGenerators, NoiseShiftRegisterStartsFromZeroAndOutputsItsVolume) {
  apu_write(0x15, 0x08);
  apu_write(0x0C, 0x3F);
  apu_write(0x0F, 0x08);
  ApuChannel& noise = apu.channels[NOISE];
  EXPECT_EQ(noise.shift_register, 0);
  EXPECT_EQ(noise_tick(), 15);  // timer 0 expires at once
  EXPECT_EQ(noise.shift_register, 0x4000);
}

// Repeat length of the feedback sequence, counted in shifts.
int noise_sequence_period(bool short_mode) {
  reset_apu();
  apu_write(0x15, 0x08);
  apu_write(0x0C, 0x3F);
  apu_write(0x0E, short_mode ? 0x80 : 0x00);  // period index 0: a shift every 3 cycles
  apu_write(0x0F, 0x08);
  ApuChannel& noise = apu.channels[NOISE];
  noise_tick();
  const int32_t first = noise.shift_register;
  for (int shifts = 1; shifts < 40000; ++shifts) {
    for (int i = 0; i < 3; ++i) noise_tick();
    if (noise.shift_register == first) return shifts;
  }
  return -1;
}

TEST_F(ApuGenerators, NoiseSequenceRepeatsAfter32767ShiftsOr93InShortMode) {
  EXPECT_EQ(noise_sequence_period(false), 32767);
  EXPECT_EQ(noise_sequence_period(true), 93);
}

TEST_F(ApuGenerators, NoiseShiftsAtItsTablePeriodAndIsSilentWhenBitZeroIsSet) {
  apu_write(0x15, 0x08);
  apu_write(0x0C, 0x35);  // constant volume 5
  apu_write(0x0E, 0x04);  // period 32: a shift every 33 cycles
  apu_write(0x0F, 0x08);
  ApuChannel& noise = apu.channels[NOISE];
  noise_tick();
  for (int shift = 0; shift < 50; ++shift) {
    const int32_t before = noise.shift_register;
    int32_t level = 0;
    for (int i = 0; i < 33; ++i) level = noise_tick();
    ASSERT_NE(noise.shift_register, before) << shift;
    ASSERT_EQ(level, (noise.shift_register & 1) ? 0 : 5);
    // The new bit 14 is bit 0 XOR bit 1 of the register before the shift.
    ASSERT_EQ(noise.shift_register, (before >> 1) | (((before ^ (before >> 1)) & 1) << 14));
  }
}

// DMC: the machine is needed because the generator fetches through the bus.
class ApuDmc : public ::testing::Test {
 protected:
  // Sample bytes at $C000 (and $8000, where a fetch past $FFFF continues).
  void SetUp() override {
    power_on_machine({});
    cartridge.prg_rom[0x4000] = 0xA5;
    cartridge.prg_rom[0x4001] = 0x0F;
    cartridge.prg_rom[0x0000] = 0x5A;
    cartridge.prg_rom[0x7FFF] = 0x3C;
  }
  ApuChannel& dmc = apu.channels[DMC];
  // Runs dmc_tick until the timer expires; returns the level then.
  int32_t next_bit() {
    for (int i = 0; i < 1000; ++i) {
      const bool expires = dmc.timer == 0;
      const int32_t level = apu_test::generator_cycle(dmc_tick);
      if (expires) return level;
    }
    return -1;
  }
};

TEST_F(ApuDmc, PlaysEachByteFromBitZeroAsStepsOfTwo) {
  apu_write(0x10, 0x0F);
  apu_write(0x11, 0x40);
  apu_write(0x12, 0x00);
  apu_write(0x13, 0x00);
  apu_write(0x15, 0x10);
  std::vector<int32_t> levels;
  for (int i = 0; i < 8; ++i) levels.push_back(next_bit());
  // 0xA5 = 1010 0101: bits 0..7 are 1 0 1 0 0 1 0 1
  EXPECT_EQ(levels, (std::vector<int32_t>{66, 64, 66, 64, 62, 64, 62, 64}));
  EXPECT_EQ(dmc.sample_address, 0xC001);
  EXPECT_EQ(dmc.length_counter, 0);
}

TEST_F(ApuDmc, LevelStaysWithinZeroTo127) {
  apu_write(0x10, 0x0F);
  apu_write(0x11, 0x7E);  // 126
  apu_write(0x12, 0x00);
  apu_write(0x13, 0x00);
  apu_write(0x15, 0x10);
  EXPECT_EQ(next_bit(), 126);  // 1 bit: 128 is out of range
  EXPECT_EQ(next_bit(), 124);
  apu_write(0x11, 0x01);
  EXPECT_EQ(next_bit(), 3);
  EXPECT_EQ(next_bit(), 1);
  EXPECT_EQ(next_bit(), 1);  // 0 bit: -1 is out of range
}

TEST_F(ApuDmc, FetchPastFFFFContinuesAt8000) {
  apu_write(0x10, 0x0F);
  dmc.sample_address = 0xFFFF;
  dmc.length_counter = 2;
  apu.channel_enabled[DMC] = true;
  apu_rebuild_derived();
  next_bit();
  EXPECT_EQ(dmc.shift_register, 0x3C);
  for (int i = 0; i < 8; ++i) next_bit();
  EXPECT_EQ(dmc.shift_register, 0x5A);
}

TEST_F(ApuDmc, SampleWithoutLoopOrIrqSwitchesTheChannelOff) {
  apu_write(0x10, 0x0F);
  apu_write(0x11, 0x20);
  apu_write(0x13, 0x00);
  apu_write(0x15, 0x10);
  for (int i = 0; i < 8; ++i) next_bit();
  EXPECT_TRUE(apu.channel_enabled[DMC]);
  next_bit();  // the byte is used up and nothing is left
  EXPECT_FALSE(apu.channel_enabled[DMC]);
  EXPECT_FALSE(apu.dmc_irq_flag);
  EXPECT_EQ(dmc_tick(), 64);
  EXPECT_EQ(apu_read_status() & 0x10, 0);
}

TEST_F(ApuDmc, SampleWithIrqRaisesItAtItsEndAndAtEveryLaterExpiry) {
  apu_write(0x10, 0x8F);
  apu_write(0x13, 0x00);
  apu_write(0x15, 0x10);
  for (int i = 0; i < 8; ++i) next_bit();
  EXPECT_FALSE(irq_line);
  next_bit();
  EXPECT_TRUE(apu.dmc_irq_flag);
  EXPECT_TRUE(irq_line);
  EXPECT_TRUE(apu.channel_enabled[DMC]);
  EXPECT_EQ(apu_read_status(), 0x80);
  EXPECT_FALSE(irq_line);
  next_bit();
  EXPECT_TRUE(apu.dmc_irq_flag);
  EXPECT_TRUE(irq_line);
}

TEST_F(ApuDmc, LoopedSampleRestartsFromItsStartWithoutInterrupt) {
  apu_write(0x10, 0xCF);  // the loop flag wins over the IRQ flag
  apu_write(0x12, 0x00);
  apu_write(0x13, 0x00);
  apu_write(0x15, 0x10);
  for (int byte = 0; byte < 5; ++byte) {
    next_bit();
    EXPECT_EQ(dmc.shift_register, 0xA5) << byte;
    EXPECT_EQ(dmc.sample_address, 0xC001);
    for (int i = 0; i < 7; ++i) next_bit();
  }
  EXPECT_FALSE(apu.dmc_irq_flag);
  EXPECT_TRUE(apu.channel_enabled[DMC]);
}

TEST_F(ApuDmc, TimerReloadsWithPeriodPlusOneAndFetchCyclesCountItDown) {
  apu_write(0x10, 0x0F);  // 54: a bit every 56 cycles
  apu_write(0x11, 0x40);
  apu_write(0x13, 0x01);
  apu_write(0x15, 0x10);
  std::vector<int> changes;
  int32_t previous = 0x40;
  for (int call = 0; call < 56 * 10; ++call) {
    const int32_t level = apu_test::generator_cycle(dmc_tick);
    if (level != previous) changes.push_back(call);
    previous = level;
  }
  // A bit every 56 cycles. A fetch (every eighth expiry, the first at once) runs four bus cycles
  // whose nested APU cycles count the timer down too, so the next bit comes 52 of our calls later.
  ASSERT_GE(changes.size(), 10u);
  for (size_t i = 1; i < changes.size(); ++i)
    EXPECT_EQ(changes[i] - changes[i - 1], (i - 1) % 8 == 0 ? 52 : 56) << i;
}

}  // namespace
