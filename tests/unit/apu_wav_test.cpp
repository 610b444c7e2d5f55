// Our note cartridges (roms/apu_*_notes.s) played through `nes-headless --wav`: the WAV file's
// header, and in its samples each note's exact levels, its period, sweeps, envelope, linear
// counter, noise modes and the DMC's looped and interrupting samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "tests/headless_launch.h"

namespace {

namespace fs = std::filesystem;

constexpr int16_t SILENCE = -15000;         // every channel on, every level 0
constexpr int16_t PULSE_AT_15 = -10518;     // one pulse at 15, the rest 0
constexpr int16_t NOISE_AT_15 = -9767;
constexpr int16_t TRIANGLE_AT_15 = -7607;
constexpr int16_t DMC_AT_127 = 2227;
constexpr int16_t DMC_DISABLED = -4434;     // level 64 of a disabled DMC, the rest 0
constexpr size_t LONG_SILENCE = 20000;      // separates the notes of a cartridge

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Runs a cartridge to its result and returns its WAV samples (once per cartridge).
const std::vector<int16_t>& samples_of(const std::string& name) {
  static std::map<std::string, std::vector<int16_t>> cache;
  auto found = cache.find(name);
  if (found != cache.end()) return found->second;
  std::vector<int16_t>& samples = cache[name];
  const fs::path image = fs::path(OWN_ROM_DIR) / (name + ".nes");
  if (!fs::exists(image)) return samples;
  const fs::path wav = fs::temp_directory_path() / ("apu_" + name + "_" + std::to_string(getpid()) + ".wav");
  const headless::Run run = headless::run({image.string(), "--result", "--frames", "400", "--wav", wav.string()});
  EXPECT_EQ(run.exit_code, 0) << run.describe();
  std::ifstream in(wav, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(wav);
  // Header: RIFF/WAVE, a 16-byte PCM format chunk (mono, 16 bits, one sample per CPU cycle), data.
  EXPECT_GE(bytes.size(), 44u);
  if (bytes.size() < 44) return samples;
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le32(bytes, 16), 16u);
  EXPECT_EQ(le16(bytes, 20), 1);  // PCM
  EXPECT_EQ(le16(bytes, 22), 1);  // mono
  EXPECT_EQ(le32(bytes, 24), 1789800u);
  EXPECT_EQ(le32(bytes, 28), 2u * 1789800u);
  EXPECT_EQ(le16(bytes, 32), 2);
  EXPECT_EQ(le16(bytes, 34), 16);
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
  const uint32_t data = le32(bytes, 40);
  EXPECT_EQ(data, bytes.size() - 44);
  EXPECT_EQ(le32(bytes, 4), 36 + data);
  for (size_t at = 44; at + 1 < bytes.size(); at += 2) samples.push_back(static_cast<int16_t>(le16(bytes, at)));
  return samples;
}

#define SAMPLES_OR_SKIP(var, name)                                                       \
  const std::vector<int16_t>& var = samples_of(name);                                    \
  if (var.empty()) GTEST_SKIP() << name << ".nes was not built or gave no samples";

struct Span {
  size_t begin, end;
};

// The runs of equal samples within a span, in order.
struct SampleRun {
  size_t begin, end;
  int16_t value;
  size_t length() const { return end - begin; }
};
std::vector<SampleRun> runs_in(const std::vector<int16_t>& s, Span span) {
  std::vector<SampleRun> runs;
  for (size_t i = span.begin; i < span.end;) {
    size_t j = i;
    while (j < span.end && s[j] == s[i]) ++j;
    runs.push_back({i, j, s[i]});
    i = j;
  }
  return runs;
}
std::vector<SampleRun> runs_in(const std::vector<int16_t>& s) { return runs_in(s, {0, s.size()}); }

// The notes of a cartridge: the stretches after each run of at least LONG_SILENCE silent samples,
// up to the next such run or the end.
std::vector<Span> notes(const std::vector<int16_t>& s) {
  std::vector<Span> spans;
  bool after_silence = false;
  size_t begin = 0;
  for (const SampleRun& run : runs_in(s)) {
    if (run.value != SILENCE || run.length() < LONG_SILENCE) continue;
    if (after_silence && begin < run.begin) spans.push_back({begin, run.begin});
    after_silence = true;
    begin = run.end;
  }
  if (after_silence && begin < s.size()) spans.push_back({begin, s.size()});
  return spans;
}

// Lengths of the runs of equal samples within a span.
std::vector<size_t> run_lengths(const std::vector<int16_t>& s, Span span) {
  std::vector<size_t> lengths;
  for (const SampleRun& run : runs_in(s, span)) lengths.push_back(run.length());
  return lengths;
}

// Positions where the samples rise from `low` to something else.
std::vector<size_t> rising_edges(const std::vector<int16_t>& s, Span span, int16_t low) {
  std::vector<size_t> edges;
  for (size_t i = span.begin + 1; i < span.end; ++i)
    if (s[i - 1] == low && s[i] != low) edges.push_back(i);
  return edges;
}

// The smallest lag at which the window [from, from + length) repeats, up to `max_lag`; 0 if none.
size_t repeat_lag(const std::vector<int16_t>& s, size_t from, size_t length, size_t max_lag) {
  for (size_t lag = 1; lag <= max_lag; ++lag) {
    bool same = true;
    for (size_t i = from; same && i < from + length; ++i) same = s[i] == s[i + lag];
    if (same) return lag;
  }
  return 0;
}

// Sample -> level of one channel sounding alone (the others at 0), from the mixer.
std::map<int16_t, int32_t> levels_of(int channel) {
  std::map<int16_t, int32_t> levels;
  for (int32_t v = 0; v < (channel == DMC ? 128 : 16); ++v) {
    const int16_t sample = channel <= PULSE2 ? mix_sample(v, 0, 0, 0)
                           : channel == TRIANGLE ? mix_sample(0, v, 0, 0)
                           : channel == NOISE    ? mix_sample(0, 0, v, 0)
                                                 : mix_sample(0, 0, 0, v);
    levels[sample] = v;
  }
  return levels;
}

// ---- pulse notes: duties, sweeps, envelope -------------------------------------------------

TEST(PulseNotesWav, DutyCyclesHaveExactLevelsAndPeriods) {
  SAMPLES_OR_SKIP(s, "apu_pulse_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 7u);
  constexpr size_t STEP = 2 * 200 + 3;  // cycles per duty step at P = 200
  constexpr size_t PERIOD = 8 * STEP;
  const size_t high_steps[4] = {1, 2, 4, 6};
  for (int duty = 0; duty < 4; ++duty) {
    SCOPED_TRACE("duty " + std::to_string(duty));
    const Span span = spans[duty];
    const auto edges = rising_edges(s, span, SILENCE);
    ASSERT_GE(edges.size(), 33u);
    for (size_t k = 2; k + 1 < edges.size(); ++k) ASSERT_EQ(edges[k] - edges[k - 1], PERIOD) << k;
    // From the second rising edge on, every sample for 30 periods.
    const size_t r = edges[1];
    for (size_t i = r; i < r + 30 * PERIOD; ++i)
      ASSERT_EQ(s[i], (i - r) % PERIOD < high_steps[duty] * STEP ? PULSE_AT_15 : SILENCE) << i - r;
  }
}

// Follows a swept note run by run: each run (four duty steps of duty 2) lasts 4 x (2P + 3) cycles
// for the current P, or mixes the current and the next P when the sweep changed it within the run.
// Returns how far along `periods` the note got, and how many runs it spent at the last period.
std::pair<size_t, size_t> follow_sweep(const std::vector<size_t>& runs, const std::vector<int32_t>& periods) {
  auto step = [](int32_t p) { return static_cast<size_t>(2 * p + 3); };
  size_t k = 0, runs_at_last = 0;
  for (size_t i = 2; i + 1 < runs.size(); ++i) {  // the first two and the last run are partial
    const size_t r = runs[i];
    bool ok = r == 4 * step(periods[k]);
    if (!ok && k + 1 < periods.size()) {
      for (size_t a = 0; a < 4 && !ok; ++a) ok = r == a * step(periods[k]) + (4 - a) * step(periods[k + 1]);
      if (ok) ++k;
    }
    EXPECT_TRUE(ok) << "run " << i << " of " << r << " cycles at period " << periods[k];
    if (!ok) break;
    if (k + 1 == periods.size()) ++runs_at_last;
  }
  return {k, runs_at_last};
}

TEST(PulseNotesWav, SweepUpOnPulseTwoAddsHalfThePeriodUntilItWouldPass7FF) {
  SAMPLES_OR_SKIP(s, "apu_pulse_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 7u);
  std::vector<int32_t> periods = {0x100};
  while (periods.back() + (periods.back() >> 1) < 0x800) periods.push_back(periods.back() + (periods.back() >> 1));
  ASSERT_EQ(periods.back(), 1944);
  for (size_t i = spans[4].begin; i < spans[4].end; ++i) ASSERT_TRUE(s[i] == SILENCE || s[i] == PULSE_AT_15);
  const auto [reached, runs_at_last] = follow_sweep(run_lengths(s, spans[4]), periods);
  EXPECT_EQ(reached, periods.size() - 1);
  EXPECT_GE(runs_at_last, 4u);  // 1944 + 972 is not stored: the note stays at 1944
}

TEST(PulseNotesWav, SweepDownOnPulseOneSubtractsAQuarterAndOneUntilBelowEight) {
  SAMPLES_OR_SKIP(s, "apu_pulse_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 7u);
  std::vector<int32_t> periods = {0x200};
  while (periods.back() >= 8) periods.push_back(periods.back() - (periods.back() >> 2) - 1);
  ASSERT_EQ(periods.back(), 7);
  const auto [reached, runs_at_last] = follow_sweep(run_lengths(s, spans[5]), periods);
  EXPECT_EQ(reached, periods.size() - 1);
  EXPECT_GE(runs_at_last, 100u);  // period 7 is not swept any further
}

TEST(PulseNotesWav, LoopingEnvelopeFallsOneStepPerQuarterFrameAndWrapsTo15) {
  SAMPLES_OR_SKIP(s, "apu_pulse_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 7u);
  const Span span = spans[6];
  const auto levels = levels_of(PULSE1);
  // A new envelope level shows from the next duty step on, and only in a high step: up to the four
  // low steps and one more after the change.
  constexpr size_t LATEST = 5 * (2 * 50 + 3);
  // First sample of each new level; levels are seen only while the duty is high.
  std::vector<std::pair<size_t, int32_t>> changes;
  for (size_t i = span.begin; i < span.end; ++i) {
    const auto it = levels.find(s[i]);
    ASSERT_NE(it, levels.end()) << "sample " << s[i] << " at " << i;
    if (it->second == 0) continue;
    if (changes.empty() || changes.back().second != it->second) changes.push_back({i, it->second});
  }
  ASSERT_GE(changes.size(), 30u);
  EXPECT_EQ(changes.front().second, 15);
  int wraps = 0;
  for (size_t k = 1; k < changes.size(); ++k) {
    const auto [at, level] = changes[k];
    const auto [previous_at, previous] = changes[k - 1];
    const bool wrap = previous == 1;
    EXPECT_EQ(level, wrap ? 15 : previous - 1) << k;
    // One quarter frame per level (7457.5 cycles), two across the silent level 0.
    const double expected = wrap ? 14915.0 : 7457.5;
    EXPECT_NEAR(static_cast<double>(at - previous_at), expected, LATEST + 1.0) << k;
    wraps += wrap;
  }
  EXPECT_GE(wraps, 2);
}

// ---- noise and triangle ---------------------------------------------------------------------

TEST(NoiseNotesWav, ShortModeRepeatsEvery93ShiftsAndLongModeDoesNot) {
  SAMPLES_OR_SKIP(s, "apu_triangle_noise_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 3u);
  constexpr size_t SHIFT = 32 + 1;  // period index 4
  for (int mode = 0; mode < 2; ++mode) {
    const Span span = spans[mode];
    ASSERT_GT(span.end - span.begin, 100000u);
    for (size_t i = span.begin; i < span.end; ++i) ASSERT_TRUE(s[i] == SILENCE || s[i] == NOISE_AT_15) << i;
    const auto runs = run_lengths(s, span);
    for (size_t k = 1; k + 1 < runs.size(); ++k) ASSERT_EQ(runs[k] % SHIFT, 0u) << k;
  }
  const size_t from = spans[0].begin + 10000;
  EXPECT_EQ(repeat_lag(s, from, 60000, 4000), 93 * SHIFT);
  EXPECT_EQ(repeat_lag(s, spans[1].begin + 10000, 60000, 4000), 0u);
}

TEST(TriangleNoteWav, RampsThroughAllLevelsAndStopsAfter20QuarterFrames) {
  SAMPLES_OR_SKIP(s, "apu_triangle_noise_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 3u);
  const Span span = spans[2];
  const auto levels = levels_of(TRIANGLE);
  constexpr size_t STEP = 100 + 2;
  std::vector<std::pair<size_t, int32_t>> changes;
  int32_t previous = 0;
  for (size_t i = span.begin; i < span.end; ++i) {
    const auto it = levels.find(s[i]);
    ASSERT_NE(it, levels.end()) << "sample " << s[i] << " at " << i;
    if (it->second != previous) {
      EXPECT_EQ(std::abs(it->second - previous), 1) << i;
      changes.push_back({i, it->second});
    }
    previous = it->second;
  }
  ASSERT_GT(changes.size(), 100u);
  // Steps every P + 2 cycles; the top and bottom levels are played twice.
  size_t peaks = 0, last_peak = 0;
  for (size_t k = 1; k < changes.size(); ++k) {
    const size_t gap = changes[k].first - changes[k - 1].first;
    ASSERT_TRUE(gap == STEP || gap == 2 * STEP) << k << ": " << gap;
    if (changes[k].second == 15) {
      if (peaks > 0) {
        EXPECT_EQ(changes[k].first - last_peak, 32 * STEP);
      }
      ++peaks;
      last_peak = changes[k].first;
      EXPECT_EQ(s[changes[k].first], TRIANGLE_AT_15);
    }
  }
  EXPECT_GE(peaks, 40u);
  // The linear counter (20) ends the note at the 20th quarter frame after the $4017 write, 149150
  // cycles; the note began 6 cycles after that write, within one step; a turn may hide a step.
  const size_t duration = changes.back().first - changes.front().first;
  EXPECT_LE(duration, 149150u - 6);
  EXPECT_GE(duration, 149150u - 6 - 4 * STEP);
  // After it the level holds to the end.
  EXPECT_GT(span.end - changes.back().first, 50000u);
}

// ---- DMC ------------------------------------------------------------------------------------

// The DMC cartridge: silence, the looped sample, the disabled DMC, the interrupting sample, the
// disabled DMC again.
struct DmcParts {
  Span looped, interrupting;
};
DmcParts dmc_parts(const std::vector<int16_t>& s) {
  std::vector<Span> disabled;  // runs of DMC_DISABLED longer than LONG_SILENCE
  for (const SampleRun& run : runs_in(s))
    if (run.value == DMC_DISABLED && run.length() >= LONG_SILENCE) disabled.push_back({run.begin, run.end});
  const auto silent = notes(s);
  if (disabled.size() != 2 || silent.empty()) return {{0, 0}, {0, 0}};
  return {{silent[0].begin, disabled[0].begin}, {disabled[0].end, disabled[1].begin}};
}

// The levels after each of the 136 bits of the looped sample, played from 63 with the 0-127 limits.
std::vector<int32_t> looped_sample_levels() {
  const uint8_t bytes[17] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0xFF, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
  std::vector<int32_t> levels;
  int32_t level = 63;
  for (uint8_t byte : bytes)
    for (int bit = 0; bit < 8; ++bit) {
      const int32_t next = level + ((byte >> bit) & 1 ? 2 : -2);
      if (next >= 0 && next <= 127) level = next;
      levels.push_back(level);
    }
  return levels;
}

TEST(DmcNotesWav, LoopedSampleRepeatsExactlyWithItsCeiling) {
  SAMPLES_OR_SKIP(s, "apu_dmc_notes");
  const DmcParts parts = dmc_parts(s);
  ASSERT_GT(parts.looped.end, parts.looped.begin + 200000);
  constexpr size_t BIT = 54 + 2;
  constexpr size_t LOOP = 17 * 8 * BIT;
  // The whole loop repeats exactly, also across the hand-off of the first full buffer.
  const size_t from = parts.looped.begin + 2 * LOOP;
  ASSERT_LT(from, SAMPLES_PER_BUFFER);
  EXPECT_EQ(repeat_lag(s, from, 150000, LOOP + 10), LOOP);
  // Level 127 is reached at bit 32 and held through bit 40 (the ceiling stops eight rising bits):
  // nine bits, plus the four fetch cycles stored before the sample that leaves it.
  std::vector<size_t> runs_at_top;
  for (const SampleRun& run : runs_in(s, parts.looped))
    if (run.value == DMC_AT_127) runs_at_top.push_back(run.length());
  ASSERT_GE(runs_at_top.size(), 25u);
  for (size_t r : runs_at_top) EXPECT_EQ(r, 9 * BIT + 4);
  // The succession of levels is the sample's, bit after bit.
  const auto levels = levels_of(DMC);
  std::vector<int32_t> heard;
  for (size_t i = from; i < from + 3 * LOOP; ++i) {
    const auto it = levels.find(s[i]);
    ASSERT_NE(it, levels.end()) << i;
    if (heard.empty() || heard.back() != it->second) heard.push_back(it->second);
  }
  std::vector<int32_t> played;
  const auto one_loop = looped_sample_levels();
  for (int loop = 0; loop < 5; ++loop)
    for (int32_t level : one_loop)
      if (played.empty() || played.back() != level) played.push_back(level);
  // `heard` starts somewhere in the loop: find it in `played`.
  bool found = false;
  for (size_t offset = 0; offset < played.size() - heard.size() && !found; ++offset)
    found = std::equal(heard.begin(), heard.end(), played.begin() + static_cast<std::ptrdiff_t>(offset));
  EXPECT_TRUE(found);
  EXPECT_EQ(*std::min_element(heard.begin(), heard.end()), 47);
}

TEST(DmcNotesWav, InterruptAtTheSampleEndAndSelfDisableOneExpiryLater) {
  SAMPLES_OR_SKIP(s, "apu_dmc_notes");
  const DmcParts parts = dmc_parts(s);
  ASSERT_GT(parts.interrupting.end, parts.interrupting.begin);
  constexpr size_t BIT = 54 + 2;
  const Span part = parts.interrupting;
  // The handler sets the level to 127, which shows at the next expiry, the one at which the DMC
  // (IRQ flag now clear) switches itself off: exactly one sample of 127, then the disabled level.
  std::vector<size_t> top;
  for (size_t i = part.begin; i < part.end; ++i)
    if (s[i] == DMC_AT_127) top.push_back(i);
  ASSERT_EQ(top.size(), 1u);
  const size_t z = top[0];
  for (size_t i = z + 1; i < s.size() && i < z + 1000; ++i) ASSERT_EQ(s[i], DMC_DISABLED) << i - z;
  // Before it: the last bit of the byte, held for two expiries (the one that raised the interrupt
  // changes nothing), after eight rising bits a bit apart; the first bit's sample comes after the
  // four cycles of the fetch that brought the byte.
  const auto levels = levels_of(DMC);
  const size_t last_bit = z - 2 * BIT;
  for (size_t i = last_bit; i < z; ++i) ASSERT_EQ(s[i], s[last_bit]) << i - last_bit;
  for (int bit = 1; bit < 8; ++bit) {
    const size_t at = last_bit - static_cast<size_t>(bit) * BIT + (bit == 7 ? 4 : 0);
    EXPECT_EQ(levels.at(s[at]) + 2 * bit, levels.at(s[last_bit])) << bit;
    EXPECT_NE(s[at - 1], s[at]) << bit;
  }
}


// ---- the VRC6's channels (roms/vrc6_notes.s) -----------------------------------------------

// Each note's waveform, to the cycle: a pulse of 16 x (P + 1) cycles high for D + 1 of its steps, the
// sawtooth's seven levels of 2 x (P + 1) cycles each; levels against an APU pulse at volume 15,
// which a VRC6 pulse at volume 15 matches (0 dB).
TEST(Vrc6NotesWav, PulsesAndSawtoothHaveTheirPeriodsDutiesAndLevels) {
  SAMPLES_OR_SKIP(s, "vrc6_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 3u);
  const double apu_swing = PULSE_AT_15 - SILENCE;
  auto decibels = [&](double swing, double level) { return 20.0 * std::log10(swing / (apu_swing * level / 15.0)); };
  struct Pulse {
    size_t period, high;  // cycles
    int volume;
  };
  const Pulse pulses[2] = {{16 * 200, 8 * 200, 15}, {16 * 100, 3 * 100, 10}};
  for (int n = 0; n < 2; ++n) {
    SCOPED_TRACE("pulse " + std::to_string(n + 1));
    const Span span = spans[n];
    const auto edges = rising_edges(s, span, SILENCE);
    ASSERT_GE(edges.size(), 20u);
    for (size_t k = 1; k < edges.size(); ++k) ASSERT_EQ(edges[k] - edges[k - 1], pulses[n].period) << k;
    const int16_t high = s[edges[0]];
    EXPECT_LT(std::fabs(decibels(high - SILENCE, pulses[n].volume)), 0.5);
    if (n == 0) {
      EXPECT_LE(std::abs(high - PULSE_AT_15), 1);
    }
    for (size_t i = edges[0]; i < edges.back(); ++i)
      ASSERT_EQ(s[i], (i - edges[0]) % pulses[n].period < pulses[n].high ? high : SILENCE) << i - edges[0];
  }
  // Saw: 0, 42, 84 ... 252 in the accumulator, its top five bits 0, 5, 10, 15, 21, 26, 31.
  const Span saw = spans[2];
  const auto runs = runs_in(s, saw);
  ASSERT_GE(runs.size(), 7u * 20);
  size_t start = 0;
  while (runs[start].value != SILENCE || runs[start + 1].value == SILENCE) ++start;
  const int levels[7] = {0, 5, 10, 15, 21, 26, 31};
  for (size_t k = start; k + 1 < runs.size(); ++k) {
    const int level = levels[(k - start) % 7];
    ASSERT_EQ(runs[k].length(), 200u) << k;
    if (level == 0) ASSERT_EQ(runs[k].value, SILENCE) << k;
    else ASSERT_LT(std::fabs(decibels(runs[k].value - SILENCE, level)), 0.5) << k;
  }
  const size_t ramp = 14 * 100;
  EXPECT_EQ(runs[start + 7].begin - runs[start].begin, ramp);
}

// ---- the Sunsoft 5B's channels (roms/sunsoft5b_notes.s) --------------------------------------

// Each note to the cycle: tone A at period 127 a square of 32 x 127 cycles (440.4 Hz) at volume 12,
// 1.3 dB below an APU pulse at volume 15; tone B stepping its volume down 3 dB at a time; the
// envelope's /\/\ in 1.5 dB steps of 16 x 20 cycles; and the noise, whose bits follow the
// generator's recurrence, every 32 x 7 cycles.
TEST(Sunsoft5bNotesWav, TonesEnvelopeAndNoiseHaveTheirPeriodsAndLevels) {
  SAMPLES_OR_SKIP(s, "sunsoft5b_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 4u);
  const double apu_swing = PULSE_AT_15 - SILENCE;
  auto decibels = [](double swing, double reference) { return 20.0 * std::log10(swing / reference); };

  // Tone A: the square to the sample, its frequency, its level.
  const auto edges = rising_edges(s, spans[0], SILENCE);
  ASSERT_GE(edges.size(), 25u);
  constexpr size_t PERIOD_A = 32 * 127;
  const int16_t high = s[edges[0]];
  for (size_t i = edges[0]; i < edges.back(); ++i)
    ASSERT_EQ(s[i], (i - edges[0]) % PERIOD_A < PERIOD_A / 2 ? high : SILENCE) << i - edges[0];
  const double frequency = static_cast<double>(SAMPLE_RATE) * static_cast<double>(edges.size() - 1) /
                           static_cast<double>(edges.back() - edges[0]);
  EXPECT_LT(std::fabs(frequency / 440.4 - 1.0), 0.001) << frequency;
  EXPECT_NEAR(decibels(high - SILENCE, apu_swing), -1.3, 0.5);

  // Tone B: fifteen volumes in turn, 3 dB apart, a square of 32 x 100 cycles throughout.
  const auto b_edges = rising_edges(s, spans[1], SILENCE);
  for (size_t k = 1; k < b_edges.size(); ++k) ASSERT_EQ(b_edges[k] - b_edges[k - 1], 3200u) << k;
  std::vector<int16_t> volumes;
  for (const SampleRun& run : runs_in(s, spans[1]))
    if (run.value != SILENCE && (volumes.empty() || volumes.back() != run.value)) volumes.push_back(run.value);
  ASSERT_EQ(volumes.size(), 15u);
  for (size_t k = 0; k < volumes.size(); ++k) {
    const int volume = 15 - static_cast<int>(k);
    EXPECT_NEAR(decibels(volumes[k] - SILENCE, high - SILENCE), 3.0 * (volume - 12), 0.5) << "volume " << volume;
  }

  // The envelope: rising 0-31, falling 31-0, and again, each level 320 cycles, 1.5 dB apart. The
  // note starts at level 1 (level 0 is silent).
  std::vector<std::pair<int, size_t>> expected;  // level, cycles
  for (int step = 1; step < 32 * 16; ++step) {
    const int ramp = step / 32, at = step % 32, level = ramp % 2 == 0 ? at : 31 - at;
    if (!expected.empty() && expected.back().first == level) expected.back().second += 320;
    else expected.push_back({level, 320});
  }
  const auto envelope = runs_in(s, spans[2]);
  ASSERT_GE(envelope.size(), 64u * 5);
  int16_t top = SILENCE;
  for (const SampleRun& run : envelope) top = std::max(top, run.value);
  for (size_t k = 0; k + 1 < envelope.size(); ++k) {
    const auto [level, cycles] = expected[k];
    ASSERT_EQ(envelope[k].length(), cycles) << k;
    if (level == 0) ASSERT_EQ(envelope[k].value, SILENCE) << k;
    else ASSERT_NEAR(decibels(envelope[k].value - SILENCE, top - SILENCE), -1.5 * (31 - level), 0.5) << k;
  }
  EXPECT_NEAR(decibels(top - SILENCE, high - SILENCE), 1.5 * (31 - 25), 0.5);  // level 31 over volume 12

  // The noise at volume 15: on or off for whole steps of 224 cycles, its bits b(k + 17) = b(k) ^ b(k + 3).
  constexpr size_t STEP = 32 * 7;
  const Span noise = spans[3];
  const auto noise_runs = runs_in(s, noise);
  for (size_t k = 0; k + 1 < noise_runs.size(); ++k) {
    ASSERT_TRUE(noise_runs[k].value == SILENCE || noise_runs[k].value == volumes[0]) << k;
    ASSERT_EQ(noise_runs[k].length() % STEP, 0u) << k;
  }
  std::vector<int> bits;
  for (size_t at = noise.begin + STEP / 2; at < noise.end; at += STEP) bits.push_back(s[at] != SILENCE);
  ASSERT_GE(bits.size(), 200u);
  for (size_t k = 0; k + 17 < bits.size(); ++k) ASSERT_EQ(bits[k + 17], bits[k] ^ bits[k + 3]) << k;
}

// ---- the MMC5's channels (roms/mmc5_notes.s) -----------------------------------------------

// Its pulses to the cycle, as the console's pulses: timer 199 at duty 2 (8 of 16 x 200 cycles high,
// 559.3 Hz) at volume 15, timer 99 at duty 3 (12 of 16 x 100) at volume 10, each as loud as a
// console pulse at its volume (0 dB); then the PCM channel's raw levels $40, $80, $FE (kept through
// a $00, which only trips it) and $01, in proportion to the byte.
TEST(Mmc5NotesWav, PulsesAndPcmHaveTheirPeriodsDutiesAndLevels) {
  SAMPLES_OR_SKIP(s, "mmc5_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 3u);
  const double apu_swing = PULSE_AT_15 - SILENCE;
  auto decibels = [](double swing, double reference) { return 20.0 * std::log10(swing / reference); };
  struct Pulse {
    size_t period, high;  // cycles
    int volume;
  };
  const Pulse pulses[2] = {{16 * 200, 8 * 200, 15}, {16 * 100, 12 * 100, 10}};
  for (int n = 0; n < 2; ++n) {
    SCOPED_TRACE("pulse " + std::to_string(n + 1));
    const auto edges = rising_edges(s, spans[n], SILENCE);
    ASSERT_GE(edges.size(), 20u);
    for (size_t k = 1; k < edges.size(); ++k) ASSERT_EQ(edges[k] - edges[k - 1], pulses[n].period) << k;
    const double frequency = static_cast<double>(SAMPLE_RATE) * static_cast<double>(edges.size() - 1) /
                             static_cast<double>(edges.back() - edges[0]);
    EXPECT_NEAR(frequency, static_cast<double>(SAMPLE_RATE) / static_cast<double>(pulses[n].period),
                0.001 * frequency);
    const int16_t high = s[edges[0]];
    EXPECT_NEAR(decibels(high - SILENCE, apu_swing * pulses[n].volume / 15.0), 0.0, 0.5);
    for (size_t i = edges[0]; i < edges.back(); ++i)
      ASSERT_EQ(s[i], (i - edges[0]) % pulses[n].period < pulses[n].high ? high : SILENCE) << i - edges[0];
  }
  // The PCM: four held levels of two frames or more each, proportional to $40, $80, $FE and $01.
  std::vector<int16_t> levels;
  for (const SampleRun& run : runs_in(s, spans[2]))
    if (run.length() >= 50000) levels.push_back(run.value);
  ASSERT_EQ(levels.size(), 4u);
  const double bytes[4] = {0x40, 0x80, 0xFE, 0x01};
  for (int k = 1; k < 4; ++k) {
    const double expected = decibels(bytes[k], bytes[0]);
    EXPECT_NEAR(decibels(levels[k] - SILENCE, levels[0] - SILENCE), expected, k == 3 ? 1.0 : 0.1) << k;
  }
}

}  // namespace

// ---- the Namco 163's channels (roms/namco163_notes.s) --------------------------------------

// The chip's notes to the cycle. The square (eight samples 0, eight 15, volume 15, 256 turns of 15
// cycles a period) sets the level step and sits 11 dB above an APU pulse at volume 15, centred on
// sample 8 (105 steps up, 120 down). The ramp (samples 0 to 15 at frequency $0F1B) plays every
// sample in order, in whole 15-cycle turns, at 440.0 Hz. With four channels each 15-cycle slot holds
// one channel's (sample - 8) x volume, in the order 8, 7, 6, 5, and each plays its square at its
// own frequency: half periods of 32, 64, 16 and 128 of its turns.
TEST(Namco163NotesWav, RampSquareAndFourChannelsHaveTheirFrequenciesShapesAndLevel) {
  SAMPLES_OR_SKIP(s, "namco163_notes");
  const auto spans = notes(s);
  ASSERT_EQ(spans.size(), 3u);
  constexpr size_t SLOT = 15;
  // Runs of a note without its first (the output held from before the first turn) and last.
  auto inner_runs = [&](Span span) {
    auto runs = runs_in(s, span);
    EXPECT_GE(runs.size(), 3u);
    return runs.size() < 3 ? std::vector<SampleRun>{} : std::vector<SampleRun>(runs.begin() + 1, runs.end() - 1);
  };

  const auto square = inner_runs(spans[1]);
  ASSERT_GE(square.size(), 40u);
  const int16_t high = std::max(square[0].value, square[1].value), low = std::min(square[0].value, square[1].value);
  for (size_t k = 0; k < square.size(); ++k) {
    ASSERT_EQ(square[k].value, (k % 2 == 0) == (square[0].value == high) ? high : low) << k;
    if (k > 0) {  // the first half lacks the turn at phase 0
      ASSERT_EQ(square[k].length(), 128 * SLOT) << k;
    }
  }
  const double step = (high - low) / 225.0;  // samples per level step
  EXPECT_NEAR(20.0 * std::log10((high - low) / static_cast<double>(PULSE_AT_15 - SILENCE)), 11.0, 0.5);
  EXPECT_NEAR((high - SILENCE) / step, 105.0, 0.5);
  EXPECT_NEAR((SILENCE - low) / step, 120.0, 0.5);
  auto level = [&](int16_t sample) { return static_cast<int32_t>(std::lround((sample - SILENCE) / step)); };

  // The ramp: sample n + 1 after sample n, wrapping from 15 to 0, each in whole turns.
  const auto ramp = inner_runs(spans[0]);
  ASSERT_GE(ramp.size(), 16u * 20);
  std::vector<size_t> wraps;
  for (size_t k = 0; k < ramp.size(); ++k) {
    const int32_t l = level(ramp[k].value);
    ASSERT_EQ(l % 15, 0) << k;
    ASSERT_EQ(ramp[k].length() % SLOT, 0u) << k;
    if (k > 0) {
      const int32_t previous = level(ramp[k - 1].value);
      ASSERT_EQ(l, previous == 105 ? -120 : previous + 15) << k;
      if (l == -120) wraps.push_back(ramp[k].begin);
    }
  }
  ASSERT_GE(wraps.size(), 20u);
  const double period = static_cast<double>(wraps.back() - wraps.front()) / static_cast<double>(wraps.size() - 1);
  const double expected_period = 15.0 * 65536.0 * 16.0 / 0x0F1B;  // cycles
  EXPECT_NEAR(period / expected_period, 1.0, 0.001) << period;
  EXPECT_NEAR(1789773.0 / expected_period, 440.0, 0.05);

  // Four channels: every slot one channel's level, channels 8, 7, 6, 5 in turn.
  struct Voice {
    int volume;
    size_t half_period;  // turns
  };
  const Voice voices[4] = {{15, 32}, {10, 64}, {5, 16}, {12, 128}};  // channels 8, 7, 6, 5
  const auto slots = inner_runs(spans[2]);
  ASSERT_GE(slots.size(), 4u * 128 * 6);
  size_t first = 0;  // the voice of the first whole slot
  while (first < 4 && level(slots[0].value) != 7 * voices[first].volume &&
         level(slots[0].value) != -8 * voices[first].volume)
    ++first;
  ASSERT_LT(first, 4u);
  std::vector<int> highs[4];
  for (size_t k = 0; k < slots.size(); ++k) {
    ASSERT_EQ(slots[k].length(), SLOT) << k;
    const Voice& v = voices[(first + k) % 4];
    const int32_t l = level(slots[k].value);
    ASSERT_TRUE(l == 7 * v.volume || l == -8 * v.volume) << k << ": level " << l;
    highs[(first + k) % 4].push_back(l > 0);
  }
  for (int n = 0; n < 4; ++n) {
    SCOPED_TRACE("channel " + std::to_string(8 - n));
    std::vector<size_t> halves;  // whole half periods, in turns
    size_t since = 0;
    for (size_t t = 1; t < highs[n].size(); ++t) {
      if (highs[n][t] == highs[n][t - 1]) continue;
      if (since > 0) halves.push_back(t - since);
      since = t;
    }
    ASSERT_GE(halves.size(), 8u);
    for (size_t h : halves) ASSERT_EQ(h, voices[n].half_period);
  }
}
