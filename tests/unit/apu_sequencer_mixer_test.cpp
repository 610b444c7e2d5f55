// The frame sequencer's timing and what it clocks (length counters, sweeps, envelopes, the
// triangle's linear counter, the frame interrupt), the mixer's values, and the sample stream's
// buffers, including the samples of the bus cycles that a DMC fetch nests inside apu_tick.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "apu_machine.h"
#include "core/snapshot.h"

namespace {

using apu_test::power_on_machine;
using apu_test::reset_apu;

class FrameSequencer : public ::testing::Test {
 protected:
  void SetUp() override { reset_apu(); }
  // Calls apu_tick until `done` holds; returns the number of calls, or -1 after `limit`.
  template <typename Condition>
  static int ticks_until(Condition done, int limit = 200000) {
    for (int calls = 1; calls <= limit; ++calls) {
      apu_tick();
      if (done()) return calls;
    }
    return -1;
  }
};

TEST_F(FrameSequencer, FirstHalfFrameOn7458thCallAndInterruptOn29830th) {
  apu_write(0x15, 0x01);
  apu_write(0x03, 0x08);  // pulse 1 length 254, not halted
  apu_write(0x17, 0x00);
  ApuChannel& pulse1 = apu.channels[PULSE1];
  EXPECT_EQ(ticks_until([&] { return pulse1.length_counter != 254; }), 7458);
  EXPECT_EQ(pulse1.length_counter, 253);
  EXPECT_FALSE(irq_line);
  // The second half-frame clock is step 3: 7457 + 7458 calls later; the interrupt at step 0.
  EXPECT_EQ(ticks_until([&] { return pulse1.length_counter != 253; }), 7457 + 7458);
  EXPECT_FALSE(apu.frame_irq_flag);
  EXPECT_EQ(ticks_until([] { return irq_line; }), 7457);  // 29830 in all
  EXPECT_TRUE(apu.frame_irq_flag);
  EXPECT_EQ(pulse1.length_counter, 252);  // step 0 is no half frame
  EXPECT_EQ(apu_read_status() & 0x40, 0x40);
  EXPECT_FALSE(irq_line);
  EXPECT_EQ(ticks_until([] { return irq_line; }), 29830);  // and every 29830 calls from then on
}

TEST_F(FrameSequencer, QuarterFramesFallAfter7458And7457CallsInTurn) {
  apu_write(0x15, 0x04);
  apu_write(0x08, 0x7F);  // linear counter reload 127, control clear: counts down
  apu_write(0x0B, 0x08);
  apu_write(0x17, 0x00);
  std::vector<int> clocks;
  int32_t linear = apu.channels[TRIANGLE].linear_counter;
  for (int call = 1; call <= 8 * 7458; ++call) {
    apu_tick();
    if (apu.channels[TRIANGLE].linear_counter != linear) clocks.push_back(call);
    linear = apu.channels[TRIANGLE].linear_counter;
  }
  EXPECT_EQ(clocks, (std::vector<int>{7458, 14915, 22373, 29830, 37288, 44745, 52203, 59660}));
}

TEST_F(FrameSequencer, FiveStepModeSkipsItsFourthStepAndNeverInterrupts) {
  apu_write(0x15, 0x05);
  apu_write(0x03, 0x08);
  apu_write(0x08, 0x7F);
  apu_write(0x0B, 0x08);
  apu_write(0x17, 0x80);
  std::vector<int> half, quarter;
  int32_t length = apu.channels[PULSE1].length_counter, linear = apu.channels[TRIANGLE].linear_counter;
  for (int call = 1; call <= 2 * 37288; ++call) {
    apu_tick();
    if (apu.channels[PULSE1].length_counter != length) half.push_back(call);
    if (apu.channels[TRIANGLE].linear_counter != linear) quarter.push_back(call);
    length = apu.channels[PULSE1].length_counter;
    linear = apu.channels[TRIANGLE].linear_counter;
    ASSERT_FALSE(irq_line) << call;
  }
  // Steps 1-4 and 0 at 7458, 14915, 22373, 29830, 37288: step 4 clocks nothing.
  // Step k comes on call ceil(k x 7457.5).
  EXPECT_EQ(half, (std::vector<int>{7458, 22373, 44745, 59660}));
  EXPECT_EQ(quarter, (std::vector<int>{7458, 14915, 22373, 37288, 44745, 52203, 59660, 74575}));
  EXPECT_FALSE(apu.frame_irq_flag);
}

TEST_F(FrameSequencer, NoInterruptUntilTheSoftwareClearsTheInhibit) {
  EXPECT_EQ(ticks_until([] { return irq_line || apu.frame_irq_flag; }, 4 * 29830), -1);
  apu_write(0x17, 0x40);
  EXPECT_EQ(ticks_until([] { return irq_line || apu.frame_irq_flag; }, 4 * 29830), -1);
  apu_write(0x17, 0x00);
  EXPECT_EQ(ticks_until([] { return irq_line; }), 29830);
}

TEST_F(FrameSequencer, HaltBitsStopTheLengthCounters) {
  apu_write(0x15, 0x0F);
  apu_write(0x00, 0x20);  // pulse 1 halt (bit 5)
  apu_write(0x03, 0x08);
  apu_write(0x08, 0x80);  // triangle halt (bit 7)
  apu_write(0x0B, 0x08);
  apu_write(0x0C, 0x00);  // noise runs
  apu_write(0x0F, 0x08);
  apu_write(0x17, 0x00);
  for (int i = 0; i < 4 * 29830; ++i) apu_tick();
  EXPECT_EQ(apu.channels[PULSE1].length_counter, 254);
  EXPECT_EQ(apu.channels[TRIANGLE].length_counter, 254);
  EXPECT_EQ(apu.channels[NOISE].length_counter, 254 - 8);
}

TEST_F(FrameSequencer, LengthCounterStopsAtZero) {
  apu_write(0x15, 0x01);
  apu_write(0x03, 0x18);  // length 2
  apu_write(0x17, 0x00);
  for (int i = 0; i < 3 * 29830; ++i) apu_tick();
  EXPECT_EQ(apu.channels[PULSE1].length_counter, 0);
  EXPECT_EQ(apu_read_status() & 1, 0);
}

// One sweep clock on channel n (0 or 1) with the given period and sweep register.
int32_t swept_period(int n, int32_t period, uint8_t sweep) {
  reset_apu();
  const auto base = static_cast<uint8_t>(4 * n);
  apu_write(static_cast<uint8_t>(base + 1), sweep);  // sweep period 0: expires at every half frame
  apu_write(static_cast<uint8_t>(base + 2), static_cast<uint8_t>(period));
  apu_write(static_cast<uint8_t>(base + 3), static_cast<uint8_t>(period >> 8));
  apu_write(0x17, 0x00);
  for (int i = 0; i < 7458; ++i) apu_tick();
  return timer_period(apu.channels[n]);
}

TEST(Sweep, AddsOrSubtractsTheShiftedPeriodWithTheOnesComplementOnPulseOne) {
  EXPECT_EQ(swept_period(PULSE1, 0x100, 0x81), 0x180);
  EXPECT_EQ(swept_period(PULSE2, 0x100, 0x81), 0x180);
  EXPECT_EQ(swept_period(PULSE1, 0x100, 0x89), 0x7F);
  EXPECT_EQ(swept_period(PULSE2, 0x100, 0x89), 0x80);
  EXPECT_EQ(swept_period(PULSE1, 0x155, 0x83), 0x155 + 0x2A);
}

TEST(Sweep, LeavesThePeriodWhenTheResultOverflowsOrThePeriodIsBelowEight) {
  EXPECT_EQ(swept_period(PULSE1, 0x700, 0x81), 0x700);
  EXPECT_EQ(swept_period(PULSE2, 0x7FF, 0x87), 0x7FF);  // 0x7FF + 0xF = 0x80E
  EXPECT_EQ(swept_period(PULSE1, 7, 0x81), 7);
  EXPECT_EQ(swept_period(PULSE1, 8, 0x81), 12);
  EXPECT_EQ(swept_period(PULSE1, 0x100, 0x01), 0x100);  // not enabled
  EXPECT_EQ(swept_period(PULSE1, 0x100, 0x80), 0x100);  // shift 0
}

TEST(Sweep, ClocksOnceEverySweepPeriodPlusOneHalfFrames) {
  reset_apu();
  apu_write(0x01, 0xA1);  // enabled, sweep period 2, shift 1
  apu_write(0x02, 0x10);  // P = 16
  apu_write(0x03, 0x00);
  apu_write(0x17, 0x00);
  std::vector<int32_t> periods;
  for (int half = 0; half < 7; ++half) {
    for (int i = 0; i < 14915; ++i) apu_tick();  // one half frame (two sequencer steps)
    periods.push_back(timer_period(apu.channels[PULSE1]));
  }
  // The countdown starts at 2: the first change at the third half frame, then every third.
  EXPECT_EQ(periods, (std::vector<int32_t>{16, 16, 24, 24, 24, 36, 36}));
}

TEST(Envelope, DecaysOncePerPeriodPlusOneQuarterFramesAndLoopsOnlyWhenAsked) {
  for (const bool loop : {false, true}) {
    reset_apu();
    apu_write(0x15, 0x01);
    apu_write(0x00, static_cast<uint8_t>((loop ? 0x20 : 0x00) | 0x01));  // envelope period 1
    apu_write(0x03, 0x08);
    apu_write(0x17, 0x00);
    std::vector<int32_t> volumes;
    for (int quarter = 0; quarter < 36; ++quarter) {
      for (int i = 0; i < (quarter % 2 ? 7457 : 7458); ++i) apu_tick();
      volumes.push_back(apu.channels[PULSE1].envelope_volume);
    }
    std::vector<int32_t> expected;
    int32_t v = 15;
    for (int quarter = 1; quarter <= 36; ++quarter) {
      if (quarter % 2 == 0 && (v > 0 || loop)) v = v == 0 ? 15 : v - 1;
      expected.push_back(v);
    }
    EXPECT_EQ(volumes, expected) << (loop ? "looping" : "not looping");
  }
}

TEST(LinearCounter, ReloadsAtEveryQuarterFrameWhileControlIsSet) {
  reset_apu();
  apu_write(0x15, 0x04);
  apu_write(0x08, 0x8A);  // control, reload 10
  apu_write(0x0B, 0x08);
  apu_write(0x17, 0x00);
  for (int quarter = 0; quarter < 6; ++quarter) {
    apu.channels[TRIANGLE].linear_counter = 3;
    for (int i = 0; i < 7458; ++i) apu_tick();
    EXPECT_EQ(apu.channels[TRIANGLE].linear_counter, 10) << quarter;
  }
  apu_write(0x08, 0x0A);  // control clear: counts down to 0 and stays there
  for (int quarter = 0; quarter < 12; ++quarter)
    for (int i = 0; i < 7458; ++i) apu_tick();
  EXPECT_EQ(apu.channels[TRIANGLE].linear_counter, 0);
}

// The mixer: the documented values and agreement of the tables with the formulas over every input.
TEST(Mixer, GivesTheDocumentedSamples) {
  EXPECT_EQ(mix_sample(8 + 8, 8, 8, 64), 4500);  // everything disabled
  EXPECT_EQ(mix_sample(0, 0, 0, 0), -15000);
  EXPECT_EQ(mix_sample(30, 15, 15, 127), 14999);
  EXPECT_EQ(mix_sample(15, 0, 0, 0), -10518);
  EXPECT_EQ(mix_sample(30, 0, 0, 0), -7245);
  EXPECT_EQ(mix_sample(1, 0, 0, 0), -14650);
  EXPECT_EQ(mix_sample(0, 15, 0, 0), -7607);
  EXPECT_EQ(mix_sample(0, 0, 15, 0), -9767);
  EXPECT_EQ(mix_sample(0, 0, 0, 64), -4434);
  EXPECT_EQ(mix_sample(0, 0, 0, 127), 2227);
  EXPECT_EQ(mix_sample(0, 8, 8, 64), -230);
}

TEST(Mixer, TablesMatchTheFormulasForEveryInput) {
  int mismatches = 0;
  for (int32_t p = 0; p <= 30; ++p)
    for (int32_t t = 0; t < 16; ++t)
      for (int32_t n = 0; n < 16; ++n)
        for (int32_t d = 0; d < 128; ++d)
          if (mix_sample(p, t, n, d) != mix_sample_by_formula(p, t, n, d) && ++mismatches < 5)
            ADD_FAILURE() << p << " " << t << " " << n << " " << d;
  EXPECT_EQ(mismatches, 0);
}

// The sample stream.
std::vector<std::vector<int16_t>> handed_buffers;
std::vector<const int16_t*> handed_addresses;
void collect_buffer(const int16_t* samples, size_t count) {
  handed_buffers.emplace_back(samples, samples + count);
  handed_addresses.push_back(samples);
}
// The whole stream: the buffers handed over, then the one being filled.
std::vector<int16_t> whole_stream() {
  std::vector<int16_t> all;
  for (const auto& b : handed_buffers) all.insert(all.end(), b.begin(), b.end());
  const int16_t* current = sample_stream.buffers[sample_stream.current_buffer];
  all.insert(all.end(), current, current + sample_stream.sample_pos);
  return all;
}

class SampleStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handed_buffers.clear();
    handed_addresses.clear();
  }
};

TEST_F(SampleStreamTest, HandsOverEachFullBufferAlternately) {
  reset_apu();
  audio_sink = collect_buffer;
  for (uint32_t call = 1; call <= 3 * SAMPLES_PER_BUFFER; ++call) {
    apu_tick();
    const size_t expected = call / SAMPLES_PER_BUFFER;  // during the 178980th call, the 357960th...
    ASSERT_EQ(handed_buffers.size(), expected) << call;
  }
  ASSERT_EQ(handed_addresses.size(), 3u);
  EXPECT_EQ(handed_addresses[0], sample_stream.buffers[0]);
  EXPECT_EQ(handed_addresses[1], sample_stream.buffers[1]);
  EXPECT_EQ(handed_addresses[2], sample_stream.buffers[0]);
  for (const auto& buffer : handed_buffers) {
    ASSERT_EQ(buffer.size(), SAMPLES_PER_BUFFER);
    for (int16_t s : buffer) ASSERT_EQ(s, 4500);  // every channel disabled
  }
  EXPECT_EQ(sample_stream.current_buffer, 1);
  EXPECT_EQ(sample_stream.sample_pos, 0u);
  audio_sink = nullptr;
}

TEST_F(SampleStreamTest, StreamGoesOnWithoutASink) {
  reset_apu();
  for (uint32_t i = 0; i < SAMPLES_PER_BUFFER + 5; ++i) apu_tick();
  EXPECT_EQ(sample_stream.current_buffer, 1);
  EXPECT_EQ(sample_stream.sample_pos, 5u);
}

TEST_F(SampleStreamTest, AudioOpenAllocatesAZeroFrameBufferAndRestartsTheStream) {
  sample_stream.current_buffer = 1;
  sample_stream.sample_pos = 77;
  sample_stream.buffers[0][3] = 99;
  audio_open();
  ASSERT_NE(frame_buffer, nullptr);
  for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) ASSERT_EQ(frame_buffer[i].load(), 0u);
  EXPECT_EQ(sample_stream.current_buffer, 0);
  EXPECT_EQ(sample_stream.sample_pos, 0u);
  EXPECT_EQ(sample_stream.buffers[0][3], 0);
}

// A DMC fetch re-enters apu_tick through the bus. With only the DMC sounding, a sample tells its
// level; the level changes only at the DMC's timer expiries.
class NestedSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    power_on_machine({});
    for (int i = 0; i < 16; ++i) cartridge.prg_rom[0x4000 + i] = 0x55;  // bits 1 0 1 0 ...
    for (int32_t d = 0; d < 128; ++d) level_of_sample[mix_sample(16, 8, 8, d)] = d;
    handed_buffers.clear();
    audio_sink = collect_buffer;
  }
  void TearDown() override { audio_sink = nullptr; }
  // One sample byte at $C000, looped at rate 15 (P = 54), the level at $40.
  static void start_looped_byte() {
    apu_write(0x10, 0x4F);
    apu_write(0x11, 0x40);
    apu_write(0x12, 0x00);
    apu_write(0x13, 0x00);
    apu_write(0x15, 0x10);
    apu.channels[DMC].last_output = 0x40;
    apu_rebuild_derived();
  }
  std::map<int16_t, int32_t> level_of_sample;
};

TEST_F(NestedSamples, FetchCyclesStoreTheirSamplesBeforeTheCycleThatFetched) {
  start_looped_byte();
  const uint64_t cycles_before = bus.cycles;
  const uint32_t stored_before = sample_stream.sample_pos;
  system_tick();  // the DMC timer starts expired: this cycle fetches, with four more bus cycles
  EXPECT_EQ(bus.cycles - cycles_before, 5u);
  ASSERT_EQ(sample_stream.sample_pos - stored_before, 5u);
  const int16_t* s = sample_stream.buffers[0] + stored_before;
  // The four nested cycles still have the level from before; the fetching cycle played bit 0 (a 1).
  for (int i = 0; i < 4; ++i) EXPECT_EQ(level_of_sample.at(s[i]), 0x40) << i;
  EXPECT_EQ(level_of_sample.at(s[4]), 0x42);
}

TEST_F(NestedSamples, NothingIsLostDuplicatedOrReorderedAcrossBuffers) {
  start_looped_byte();
  // The buffer fills during the second nested cycle of the first fetch.
  sample_stream.sample_pos = SAMPLES_PER_BUFFER - 2;
  apu_rebuild_derived();
  const uint64_t start = bus.cycles;
  const uint32_t cycles = 2 * SAMPLES_PER_BUFFER - 1000;
  while (bus.cycles - start < cycles) system_tick();
  const std::vector<int16_t> all = whole_stream();
  ASSERT_EQ(handed_buffers.size(), 2u);
  // Every cycle stored exactly one sample.
  ASSERT_EQ(all.size() - (SAMPLES_PER_BUFFER - 2), bus.cycles - start);
  // Levels alternate 0x42/0x40 at every expiry (56 cycles). Expiries that fetch are stored after
  // their four nested cycles: the change before one comes 56 + 4 samples after the previous, the
  // change after it 56 - 4.
  std::vector<size_t> changes;
  int32_t previous = -1;
  for (size_t i = SAMPLES_PER_BUFFER - 2; i < all.size(); ++i) {
    const auto it = level_of_sample.find(all[i]);
    ASSERT_NE(it, level_of_sample.end()) << i;
    if (previous >= 0 && it->second != previous) {
      ASSERT_EQ(std::abs(it->second - previous), 2) << i;
      changes.push_back(i);
    }
    previous = it->second;
  }
  ASSERT_GT(changes.size(), 1000u);
  // changes[0] is the first bit after the first fetch (its sample is the fifth stored).
  for (size_t k = 1; k < changes.size(); ++k) {
    const size_t gap = changes[k] - changes[k - 1];
    const size_t expiry = k;  // expiry number of changes[k]; expiry 0 was the first fetch
    const size_t expected = expiry % 8 == 0 ? 60 : (expiry % 8 == 1 ? 52 : 56);
    ASSERT_EQ(gap, expected) << "change " << k;
  }
}

// Quiet cycles change nothing. A run of register writes, status reads and snapshots at
// pseudo-random cycles, with DMC fetches through the bus, gives the same samples, interrupt line,
// status bytes and snapshots (saved in the middle of quiet runs) as the same run with every cycle
// taken in full.
struct ApuRun {
  std::vector<int16_t> samples;
  std::vector<uint64_t> irq_changes;  // calls after which irq_line changed
  std::vector<uint8_t> status_reads;
  std::vector<std::vector<uint8_t>> snapshots;
};

ApuRun run_random_sound(uint32_t seed, bool every_cycle_in_full) {
  std::mt19937 random(seed);
  power_on_machine({});
  for (auto& byte : cartridge.prg_rom) byte = static_cast<uint8_t>(random());  // DMC sample data
  handed_buffers.clear();
  audio_sink = collect_buffer;
  auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  ApuRun run;
  uint64_t calls = 0;
  bool irq = irq_line;
  while (calls < 2 * SAMPLES_PER_BUFFER + 12345) {
    // Mostly short gaps, so that writes land everywhere in quiet runs, sometimes long ones.
    const uint32_t gap = below(16) == 0 ? below(30000) : below(600);
    for (uint32_t i = 0; i < gap; ++i, ++calls) {
      if (every_cycle_in_full) apu_event_cycle();
      else apu_tick();
      if (irq_line != irq) run.irq_changes.push_back(calls);
      irq = irq_line;
    }
    const uint32_t action = below(16);
    if (action == 0) {
      run.status_reads.push_back(apu_read_status());
      irq = irq_line;
    } else if (action == 1) {
      run.snapshots.push_back(snapshot_save());
    } else if (action <= 4) {
      apu_write(0x15, static_cast<uint8_t>(random()));
    } else if (action == 5) {
      apu_write(0x17, static_cast<uint8_t>((below(4) == 0 ? 0x80 : 0) | (below(4) == 0 ? 0x40 : 0)));
    } else {
      const auto index = static_cast<uint8_t>(action == 6 ? 0x10 + below(4) : below(16));
      auto value = static_cast<uint8_t>(random());
      if (index == 0x13) value &= 0x03;  // short samples, so that they end, loop or interrupt often
      if (index < 0x10 && (index & 2) && below(4) == 0) value &= 0xF8;  // short periods, fast expiries
      apu_write(index, value);
    }
  }
  run.samples = whole_stream();
  run.snapshots.push_back(snapshot_save());
  audio_sink = nullptr;
  return run;
}

TEST(ApuQuietCycles, ChangeNothingThatEveryCycleInFullWouldGive) {
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    const ApuRun full = run_random_sound(seed, true);
    const ApuRun quiet = run_random_sound(seed, false);
    ASSERT_EQ(quiet.samples.size(), full.samples.size());
    const auto same_until = std::mismatch(full.samples.begin(), full.samples.end(), quiet.samples.begin()).first;
    EXPECT_EQ(static_cast<size_t>(same_until - full.samples.begin()), full.samples.size()) << "samples alike";
    EXPECT_EQ(quiet.irq_changes, full.irq_changes);
    EXPECT_EQ(quiet.status_reads, full.status_reads);
    ASSERT_EQ(quiet.snapshots.size(), full.snapshots.size());
    for (size_t k = 0; k < full.snapshots.size(); ++k)
      EXPECT_EQ(quiet.snapshots[k], full.snapshots[k]) << "snapshot " << k;
    // The run was not silent: the channels sounded, fetched and interrupted.
    EXPECT_GT(std::set<int16_t>(full.samples.begin(), full.samples.end()).size(), 100u);
    EXPECT_FALSE(full.irq_changes.empty());
  }
}

}  // namespace
