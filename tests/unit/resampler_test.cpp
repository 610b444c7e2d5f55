// The rate conversion from one sample per CPU cycle to a sound device's rate: tones keep their
// frequency and level, a pulse wave's upper harmonics do not fold back into the output, and the
// stream is the same however it is cut into buffers.
#include "host/output_stage.h"
#include "host/resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

constexpr uint32_t CPU_RATE = 1789800;      // input: one sample per CPU cycle
constexpr size_t BUFFER = 178980;           // the console's hand-off unit, 0.1 s
constexpr double TENTH = 0.1;               // analysis length in seconds: every tone below is a
                                            // multiple of 10 Hz, so it fills whole DFT bins

std::vector<int16_t> sine(double frequency, double amplitude, size_t count) {
  std::vector<int16_t> s(count);
  for (size_t i = 0; i < count; ++i)
    s[i] = static_cast<int16_t>(std::lround(
        amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / CPU_RATE)));
  return s;
}

// A pulse wave as the console's pulse channels make it: `period` samples, `high` of them at `top`.
std::vector<int16_t> pulse(size_t period, size_t high, int16_t bottom, int16_t top, size_t count) {
  std::vector<int16_t> s(count);
  for (size_t i = 0; i < count; ++i) s[i] = (i % period) < high ? top : bottom;
  return s;
}

std::vector<int16_t> run(Resampler& r, const std::vector<int16_t>& in, size_t piece) {
  std::vector<int16_t> out;
  std::vector<int16_t> chunk;
  for (size_t at = 0; at < in.size(); at += piece) {
    const size_t n = std::min(piece, in.size() - at);
    chunk.resize(r.max_output(n));
    const size_t got = r.process(in.data() + at, n, chunk.data());
    EXPECT_LE(got, chunk.size());
    out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(got));
  }
  return out;
}

// Amplitudes of the sinusoids in y[start .. start + n), bin b at b / (n / rate) Hz.
std::vector<double> spectrum(const std::vector<int16_t>& y, size_t start, size_t n) {
  std::vector<double> c(n), s(n), amplitude(n / 2 + 1);
  for (size_t k = 0; k < n; ++k) {
    c[k] = std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
    s[k] = std::sin(2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
  }
  for (size_t b = 0; b <= n / 2; ++b) {
    double re = 0, im = 0;
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
      re += y[start + i] * c[k];
      im -= y[start + i] * s[k];
      k += b;
      if (k >= n) k -= n;
    }
    amplitude[b] = std::hypot(re, im) * (b == 0 ? 1.0 : 2.0) / static_cast<double>(n);
  }
  return amplitude;
}

double db(double ratio) { return 20.0 * std::log10(ratio); }

// The output after the filter has filled with signal: skip its length plus a margin.
size_t settled_start(const Resampler& r, uint32_t rate) {
  return static_cast<size_t>(std::ceil(static_cast<double>(r.taps()) * rate / CPU_RATE)) + 16;
}

struct AliasReport {
  double fundamental = 0;    // amplitude of the tone
  double worst_alias = 0;    // largest component at a frequency that is not a harmonic
  double worst_alias_hz = 0;
};

// Spectrum of a 0.1 s stretch of `out`: components at multiples of `tone_hz` are the tone's own
// harmonics, every other component is a product of folding (or noise).
AliasReport analyse(const std::vector<int16_t>& out, size_t start, uint32_t rate, double tone_hz) {
  const size_t n = static_cast<size_t>(rate * TENTH);
  const std::vector<double> a = spectrum(out, start, n);
  AliasReport report;
  const double bin_hz = 1.0 / TENTH;
  for (size_t b = 0; b < a.size(); ++b) {
    const double hz = static_cast<double>(b) * bin_hz;
    const double harmonic = hz / tone_hz;
    if (std::abs(harmonic - std::round(harmonic)) < 1e-9) {
      if (b == static_cast<size_t>(std::lround(tone_hz / bin_hz))) report.fundamental = a[b];
      continue;
    }
    if (a[b] > report.worst_alias) {
      report.worst_alias = a[b];
      report.worst_alias_hz = hz;
    }
  }
  return report;
}

class ResamplerAtRate : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ResamplerAtRate, KeepsInBandTonesAtTheirFrequencyAndLevel) {
  const uint32_t rate = GetParam();
  for (const double hz : {440.0, 1000.0, 5000.0, 12000.0, 17000.0}) {
    Resampler r(CPU_RATE, rate);
    const double amplitude = 12000.0;
    const std::vector<int16_t> out = run(r, sine(hz, amplitude, 3 * BUFFER), BUFFER);
    const size_t n = static_cast<size_t>(rate * TENTH);
    const std::vector<double> a = spectrum(out, 2 * n, n);
    const size_t tone_bin = static_cast<size_t>(std::lround(hz * TENTH));
    const size_t loudest = static_cast<size_t>(std::max_element(a.begin(), a.end()) - a.begin());
    EXPECT_EQ(loudest, tone_bin) << hz << " Hz at " << rate << " Hz came out elsewhere";
    EXPECT_NEAR(db(a[tone_bin] / amplitude), 0.0, 0.05) << hz << " Hz at " << rate << " Hz";
    double rest = 0;
    for (size_t b = 0; b < a.size(); ++b)
      if (b != tone_bin) rest = std::max(rest, a[b]);
    EXPECT_LT(db(rest / a[tone_bin]), -70.0) << hz << " Hz at " << rate << " Hz";
  }
}

TEST_P(ResamplerAtRate, RemovesTonesAboveHalfTheOutputRate) {
  const uint32_t rate = GetParam();
  // 0.55 and 0.9 of the output rate: both would fold to audible frequencies if let through.
  for (const double hz : {std::round(0.055 * rate) * 10.0, std::round(0.09 * rate) * 10.0, 150000.0}) {
    Resampler r(CPU_RATE, rate);
    const std::vector<int16_t> out = run(r, sine(hz, 12000.0, 3 * BUFFER), BUFFER);
    const size_t n = static_cast<size_t>(rate * TENTH);
    const std::vector<double> a = spectrum(out, 2 * n, n);
    EXPECT_LT(db(*std::max_element(a.begin(), a.end()) / 12000.0), -75.0) << hz << " Hz";
  }
}

// Pulse tones with the console's steep edges: period in CPU cycles, high part, frequency.
struct PulseTone {
  size_t period;
  size_t high;
  double hz;
};
constexpr PulseTone PULSE_TONES[] = {
    {1884, 471, 950.0},   // 25% duty
    {1140, 142, 1570.0},  // 12.5% duty
    {628, 314, 2850.0},   // 50% duty
    {285, 71, 6280.0},    // a high note: few harmonics in band, many folded ones
};

TEST_P(ResamplerAtRate, PulseToneFoldsBackAtLeast60dBBelowTheTone) {
  const uint32_t rate = GetParam();
  for (const PulseTone& tone : PULSE_TONES) {
    ASSERT_NEAR(CPU_RATE / double(tone.period), tone.hz, 1e-9);
    Resampler r(CPU_RATE, rate);
    // The mixer's range: one pulse at full volume over silence.
    const std::vector<int16_t> in = pulse(tone.period, tone.high, -15000, -10518, 3 * BUFFER);
    const std::vector<int16_t> out = run(r, in, BUFFER);
    const AliasReport report = analyse(out, 2 * static_cast<size_t>(rate * TENTH), rate, tone.hz);
    ASSERT_GT(report.fundamental, 500.0);
    EXPECT_LT(db(report.worst_alias / report.fundamental), -60.0)
        << tone.hz << " Hz pulse at " << rate << " Hz: folded product at " << report.worst_alias_hz
        << " Hz";
  }
}

// The measurement above has teeth: taking the nearest earlier input sample, without a low-pass,
// lets the pulse's harmonics fold back far above the bound.
TEST_P(ResamplerAtRate, AliasMeasurementCatchesAConverterWithoutLowPass) {
  const uint32_t rate = GetParam();
  const PulseTone tone = PULSE_TONES[3];
  const std::vector<int16_t> in = pulse(tone.period, tone.high, -15000, -10518, 2 * BUFFER);
  std::vector<int16_t> picked;
  for (size_t n = 0; n * CPU_RATE / rate < in.size(); ++n) picked.push_back(in[n * CPU_RATE / rate]);
  const AliasReport report = analyse(picked, 0, rate, tone.hz);
  EXPECT_GT(db(report.worst_alias / report.fundamental), -40.0);
}

TEST_P(ResamplerAtRate, PassesAConstantLevelExactlyAtEveryPhase) {
  const uint32_t rate = GetParam();
  Resampler r(CPU_RATE, rate);
  const std::vector<int16_t> out = run(r, std::vector<int16_t>(BUFFER, 4500), BUFFER);
  for (size_t n = settled_start(r, rate); n < out.size(); ++n) ASSERT_EQ(out[n], 4500) << "output " << n;
}

TEST_P(ResamplerAtRate, FollowsTheWaveformAcrossBufferHandOffs) {
  // A dropped or repeated input sample would shift the tone by 1/1789800 s, 40 steps at this
  // level and frequency; a dropped or repeated output sample by far more.
  const uint32_t rate = GetParam();
  Resampler r(CPU_RATE, rate);
  const double hz = 1000.0, amplitude = 12000.0;
  const std::vector<int16_t> out = run(r, sine(hz, amplitude, 10 * BUFFER), BUFFER);
  const double lag = r.delay() / CPU_RATE;
  double worst = 0;
  for (size_t n = settled_start(r, rate); n < out.size(); ++n) {
    const double t = static_cast<double>(n) / rate - lag;
    worst = std::max(worst, std::abs(out[n] - amplitude * std::sin(2.0 * std::numbers::pi * hz * t)));
  }
  EXPECT_LT(worst, 3.0);
}

TEST_P(ResamplerAtRate, StreamDoesNotDependOnHowTheInputIsCut) {
  // Stretches of noise, a new level at every input, between stretches of a pulse wave, a few
  // changes of level per filter length: outputs computed from every input and from the changes of
  // level, and the switches between the two, land across the cuts.
  const uint32_t rate = GetParam();
  std::mt19937 random(5);
  std::uniform_int_distribution<int> level(-15000, 14999);
  std::vector<int16_t> in = pulse(628, 314, -15000, -10518, 2 * BUFFER + 12345);
  for (size_t i = 0; i < in.size(); ++i)
    if ((i / 20000) % 2 == 1) in[i] = static_cast<int16_t>(level(random));

  Resampler whole(CPU_RATE, rate);
  std::vector<int16_t> expected(whole.max_output(in.size()));
  expected.resize(whole.process(in.data(), in.size(), expected.data()));

  for (const size_t piece : {size_t{1}, size_t{37}, size_t{4096}, BUFFER}) {
    Resampler cut(CPU_RATE, rate);
    EXPECT_EQ(run(cut, in, piece), expected) << "pieces of " << piece;
  }
  // One output sample for every output instant up to the newest input: the first at input 0.
  const uint64_t g = std::gcd(uint64_t{CPU_RATE}, uint64_t{rate});
  EXPECT_EQ(expected.size(), (in.size() - 1) * (rate / g) / (CPU_RATE / g) + 1);
}

TEST_P(ResamplerAtRate, TheOutputOfASumIsTheSumOfTheOutputs) {
  // A pulse wave changes level a few times per filter length, and its outputs are computed from
  // those changes; noise that changes at every input, alone and on top of the pulse, is filtered
  // input by input. Both ways must be the same filter: the outputs add up, to within their
  // rounding to whole steps.
  const uint32_t rate = GetParam();
  const std::vector<int16_t> tone = pulse(628, 314, -15000, -10518, BUFFER);
  std::mt19937 random(7);
  std::uniform_int_distribution<int> level(-2000, 2000);
  std::vector<int16_t> noise(BUFFER), sum(BUFFER);
  for (size_t i = 0; i < BUFFER; ++i) {
    noise[i] = static_cast<int16_t>(level(random));
    sum[i] = static_cast<int16_t>(tone[i] + noise[i]);
  }
  Resampler a(CPU_RATE, rate), b(CPU_RATE, rate), c(CPU_RATE, rate);
  const std::vector<int16_t> x = run(a, tone, 4096), y = run(b, noise, 4096), z = run(c, sum, 4096);
  ASSERT_EQ(x.size(), z.size());
  ASSERT_EQ(y.size(), z.size());
  for (size_t n = 0; n < z.size(); ++n) ASSERT_LE(std::abs(z[n] - x[n] - y[n]), 1) << "output " << n;
}

TEST_P(ResamplerAtRate, EveryConsoleBufferGivesATenthOfASecond) {
  const uint32_t rate = GetParam();
  Resampler r(CPU_RATE, rate);
  std::vector<int16_t> in(BUFFER, 0), out(r.max_output(BUFFER));
  size_t total = 0;
  for (int i = 1; i <= 20; ++i) {
    total += r.process(in.data(), in.size(), out.data());
    EXPECT_EQ(total, static_cast<size_t>(i) * rate / 10);
  }
}

INSTANTIATE_TEST_SUITE_P(DeviceRates, ResamplerAtRate, ::testing::Values(48000u, 44100u));

TEST(Resampler, RefusesRatesWithoutASmallExactRatio) {
  EXPECT_THROW(Resampler(CPU_RATE, 44101), std::invalid_argument);  // 44101 phases
  EXPECT_THROW(Resampler(CPU_RATE, 2 * CPU_RATE), std::invalid_argument);
  EXPECT_THROW(Resampler(CPU_RATE, 0), std::invalid_argument);
  EXPECT_NO_THROW(Resampler(CPU_RATE, 96000));
}


// --- the rate adjustment, the rate control and the output stage

// Blackman-Harris (four terms) windowed amplitude spectrum of y[start .. start + n): side lobes 92 dB
// down, main lobe +-4 bins, so tones between bins can be told from folded products.
std::vector<double> windowed_spectrum(const std::vector<int16_t>& y, size_t start, size_t n) {
  std::vector<double> w(n), amplitude(n / 2 + 1);
  double gain = 0;
  for (size_t i = 0; i < n; ++i) {
    const double x = 2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
    w[i] = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    gain += w[i];
  }
  for (size_t b = 0; b <= n / 2; ++b) {
    double re = 0, im = 0;
    const double step = 2.0 * std::numbers::pi * static_cast<double>(b) / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
      re += w[i] * y[start + i] * std::cos(step * static_cast<double>(i));
      im -= w[i] * y[start + i] * std::sin(step * static_cast<double>(i));
    }
    amplitude[b] = std::hypot(re, im) * 2.0 / gain;
  }
  return amplitude;
}

// Fundamental and worst other component, outside +-6 bins of every harmonic of `tone_hz`.
AliasReport analyse_windowed(const std::vector<int16_t>& out, size_t start, uint32_t rate, double tone_hz) {
  const size_t n = static_cast<size_t>(rate * TENTH);
  const std::vector<double> a = windowed_spectrum(out, start, n);
  AliasReport report;
  for (size_t b = 0; b < a.size(); ++b) {
    const double hz = static_cast<double>(b) / TENTH;
    const double k = std::round(hz / tone_hz);
    if (k >= 1 && std::abs(hz - k * tone_hz) <= 6.0 / TENTH) {
      if (k == 1) report.fundamental = std::max(report.fundamental, a[b]);
      continue;
    }
    if (b > 6 && a[b] > report.worst_alias) {
      report.worst_alias = a[b];
      report.worst_alias_hz = hz;
    }
  }
  return report;
}

TEST_P(ResamplerAtRate, PulseToneFoldsBackAtLeast60dBBelowTheToneWhileTheRateMoves) {
  // The adjustment sweeps from -0.5% to +0.5% over a second in steps every 4096 inputs (2.3 ms),
  // faster than the rate control ever moves it. The 0.1 s analysed lie around +0.15%, where a
  // tone of f Hz comes out at f / 1.0015 of the nominal output rate.
  const uint32_t rate = GetParam();
  const size_t piece = 4096, total = 10 * BUFFER;
  for (const PulseTone& tone : PULSE_TONES) {
    const std::vector<int16_t> in = pulse(tone.period, tone.high, -15000, -10518, total);
    Resampler r(CPU_RATE, rate);
    std::vector<int16_t> out, chunk, picked;
    double position = 0;  // input time of the next output of a converter without low-pass
    double adjustment = 0, sum = 0;
    size_t analysed_from = 0, counted = 0;
    for (size_t at = 0; at < total; at += piece) {
      adjustment = -0.005 + 0.01 * static_cast<double>(at) / static_cast<double>(total);
      r.set_rate_adjustment(adjustment);
      const size_t n = std::min(piece, total - at);  // the last piece is shorter
      chunk.resize(r.max_output(n));
      chunk.resize(r.process(in.data() + at, n, chunk.data()));
      if (at >= 6 * BUFFER && analysed_from == 0) analysed_from = out.size();
      if (analysed_from != 0 && out.size() < analysed_from + static_cast<size_t>(rate * TENTH)) {
        sum += adjustment * static_cast<double>(chunk.size());
        counted += chunk.size();
      }
      out.insert(out.end(), chunk.begin(), chunk.end());
      for (; position < static_cast<double>(at + n); position += CPU_RATE / (rate * (1.0 + adjustment)))
        picked.push_back(in[static_cast<size_t>(position)]);
    }
    const double heard_hz = tone.hz / (1.0 + sum / static_cast<double>(counted));
    const AliasReport report = analyse_windowed(out, analysed_from, rate, heard_hz);
    ASSERT_GT(report.fundamental, 500.0);
    EXPECT_LT(db(report.worst_alias / report.fundamental), -60.0)
        << tone.hz << " Hz pulse at " << rate << " Hz, rate moving: folded product at "
        << report.worst_alias_hz << " Hz";
    // The measurement has teeth here too: picking the nearest earlier input at the same instants.
    const AliasReport picked_report = analyse_windowed(picked, analysed_from, rate, heard_hz);
    EXPECT_GT(db(picked_report.worst_alias / picked_report.fundamental), -40.0) << tone.hz << " Hz";
  }
}

TEST(Resampler, RateAdjustmentChangesTheOutputRateAndZeroIsExact) {
  const std::vector<int16_t> in = sine(1000.0, 12000.0, 2 * BUFFER);
  Resampler plain(CPU_RATE, 48000), moved(CPU_RATE, 48000);
  moved.set_rate_adjustment(0.004);
  const size_t more = run(moved, in, BUFFER).size();
  EXPECT_NEAR(static_cast<double>(more), 2 * 4800 * 1.004, 2.0);
  moved.set_rate_adjustment(0.02);  // beyond the limit: clamped
  EXPECT_NEAR(static_cast<double>(run(moved, in, BUFFER).size()), 2 * 4800 * (1 + Resampler::MAX_RATE_ADJUSTMENT), 2.0);
  // Back at 0 a fresh stream is the exact conversion, sample for sample.
  Resampler back(CPU_RATE, 48000);
  back.set_rate_adjustment(0.003);
  back.set_rate_adjustment(0.0);
  EXPECT_EQ(run(back, in, 4096), run(plain, in, BUFFER));
}

TEST(RateControl, HoldsADriftingQueueNearItsTargetWithinTheLimit) {
  // A queue fed at (1 + adjustment) and drained at (1 + drift), updated every 2 ms for a minute.
  const double target = 0.015, swing = 0.006, dt = 0.002;
  for (const double drift : {-0.003, -0.0005, 0.0, 0.0005, 0.003, 0.02}) {
    RateController control(target, swing);
    double level = 0.004, lowest = 1, highest = -1, late_level = 0;
    for (int i = 0; i < 30000; ++i) {
      const double a = control.update(level, dt);
      lowest = std::min(lowest, a);
      highest = std::max(highest, a);
      level = std::max(0.0, level + dt * ((1.0 + a) - (1.0 + drift)));
      if (i >= 25000) late_level = std::max(late_level, std::abs(level - target));
    }
    EXPECT_GE(lowest, -RateController::MAX_ADJUSTMENT) << drift;
    EXPECT_LE(highest, RateController::MAX_ADJUSTMENT) << drift;
    if (std::abs(drift) < RateController::MAX_ADJUSTMENT) {
      // Settled: off the target by the drift's share of the full adjustment, and no further.
      EXPECT_LT(late_level, std::abs(drift) / RateController::MAX_ADJUSTMENT * swing + 0.0005) << drift;
    } else {
      EXPECT_EQ(highest, RateController::MAX_ADJUSTMENT) << "a device far too fast gets the full stretch";
    }
  }
}

TEST(OutputStage, TakesOutTheOffsetPassesTheBandAndFadesIn) {
  const uint32_t rate = 48000;
  const auto fade = static_cast<size_t>(OutputStage::FADE_IN_SECONDS * rate);
  // A level standing from the start gives exactly 0 throughout: no offset, no step.
  std::vector<int16_t> level(rate, -15000);
  OutputStage(rate).process(level.data(), level.size());
  EXPECT_EQ(*std::max_element(level.begin(), level.end()), 0);
  EXPECT_EQ(*std::min_element(level.begin(), level.end()), 0);

  // A step of the level later decays with the 20 Hz corner's time constant (8 ms).
  std::vector<int16_t> step(rate, 0);
  std::fill(step.begin() + rate / 2, step.end(), int16_t{10000});
  OutputStage(rate).process(step.data(), step.size());
  EXPECT_GT(step[rate / 2], 9900);
  EXPECT_NEAR(step[rate / 2 + rate / 125], 10000 * std::exp(-1.0), 300);  // after 8 ms
  EXPECT_LE(std::abs(step.back()), 1);

  // Tones: 1 kHz passes unchanged, 20 Hz at -3 dB, 5 Hz mostly gone. The first samples of a tone
  // that is there from the start rise along the fade-in line from 0.
  for (const auto& [hz, expected_db] : {std::pair{1000.0, 0.0}, {20.0, -3.01}, {5.0, -12.3}}) {
    std::vector<int16_t> s(2 * rate);
    for (size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<int16_t>(std::lround(10000 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
    OutputStage(rate).process(s.data(), s.size());
    const auto peak = [&](size_t from) {
      int top = 0;
      for (size_t i = from; i < from + rate; ++i) top = std::max(top, std::abs(int{s[i]}));
      return top;
    };
    EXPECT_NEAR(db(peak(rate) / 10000.0), expected_db, 0.1) << hz << " Hz";
    if (hz == 1000.0) {
      // (within 3% for the filter's own start: its 1 degree of phase lead gives a small decaying term)
      EXPECT_EQ(s[0], 0);
      for (size_t i = 0; i < fade; ++i)
        ASSERT_LE(std::abs(s[i]), 10300.0 * static_cast<double>(i) / static_cast<double>(fade) + 1.0) << i;
      int after = 0;  // the millisecond after the fade: full level
      for (size_t i = fade; i < fade + rate / 1000; ++i) after = std::max(after, std::abs(int{s[i]}));
      EXPECT_GT(after, 9900);
    }
  }
}

}  // namespace
