// Rate conversion of the console's sample stream for a sound device: a Kaiser-windowed sinc
// low-pass, one set of taps per output phase, so that tones above half the output rate (a pulse
// wave's upper harmonics) are removed instead of folding back into the audible band.
#include "host/resampler.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace {

// Largest piece of input expected in one call; bigger pieces only cost an allocation.
constexpr size_t EXPECTED_PIECE = 1 << 18;

// Modified Bessel function of the first kind, order 0, by its power series.
double bessel_i0(double x) {
  double sum = 1.0, term = 1.0;
  const double quarter_x2 = x * x / 4.0;
  for (int k = 1; k < 64; ++k) {
    term *= quarter_x2 / (static_cast<double>(k) * static_cast<double>(k));
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

// Kaiser's estimates of the window shape and length for a stop-band attenuation (dB) and a
// transition width given as a fraction of the sampling rate.
double kaiser_beta(double attenuation) {
  if (attenuation > 50.0) return 0.1102 * (attenuation - 8.7);
  if (attenuation > 21.0)
    return 0.5842 * std::pow(attenuation - 21.0, 0.4) + 0.07886 * (attenuation - 21.0);
  return 0.0;
}
size_t kaiser_length(double attenuation, double transition) {
  return static_cast<size_t>(
      std::ceil((attenuation - 7.95) / (2.285 * 2.0 * std::numbers::pi * transition))) + 1;
}

// Sum of x[i] * h[i] in eight running sums, so that the compiler can use vector registers
// without reordering single-precision additions on its own.
float dot_product(const float* x, const float* h, size_t n) {
  float sums[8] = {};
  for (size_t i = 0; i < n; i += 8)
    for (size_t k = 0; k < 8; ++k) sums[k] += x[i + k] * h[i + k];
  return ((sums[0] + sums[4]) + (sums[1] + sums[5])) + ((sums[2] + sums[6]) + (sums[3] + sums[7]));
}

int16_t to_sample(float v) {
  const long r = std::lrintf(v);
  return static_cast<int16_t>(std::clamp(r, long{INT16_MIN}, long{INT16_MAX}));
}

}  // namespace

Resampler::Resampler(uint32_t input_rate, uint32_t output_rate) {
  if (input_rate == 0 || output_rate == 0 || output_rate > input_rate)
    throw std::invalid_argument("resampler: the output rate must be between 1 and the input rate");
  const uint32_t g = std::gcd(input_rate, output_rate);
  phases_ = output_rate / g;
  nominal_step_ = input_rate / g;
  step_ = uint64_t{nominal_step_} << 32;
  if (phases_ > MAX_PHASES)
    throw std::invalid_argument("resampler: the rates have no small common ratio");

  // Pass band up to PASS_BAND of the output rate, stop band from half the output rate on.
  const double in = input_rate, out = output_rate;
  const double pass_edge = PASS_BAND * out, stop_edge = 0.5 * out;
  const double cutoff = (pass_edge + stop_edge) / 2.0 / in;  // cycles per input sample
  taps_ = (kaiser_length(STOP_BAND_DB, (stop_edge - pass_edge) / in) + 7) / 8 * 8;
  const double beta = kaiser_beta(STOP_BAND_DB);
  const double half = static_cast<double>(taps_) / 2.0;
  const double i0_beta = bessel_i0(beta);

  // Row p serves outputs that lie p/L of an input sample after the newest input they use. Tap j
  // weighs the input j places after the oldest; its distance from the output instant (which lags
  // by `half` samples) is t = p/L + half - 1 - j, always within the window's [-half, half].
  coefficients_.resize(static_cast<size_t>(phases_) * taps_);
  for (uint32_t p = 0; p < phases_; ++p) {
    float* row = &coefficients_[static_cast<size_t>(p) * taps_];
    double row_sum = 0.0;
    std::vector<double> exact(taps_);
    for (size_t j = 0; j < taps_; ++j) {
      const double t = static_cast<double>(p) / phases_ + half - 1.0 - static_cast<double>(j);
      const double x = 2.0 * cutoff * t;
      const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
      const double r = t / half;
      const double window = bessel_i0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0_beta;
      exact[j] = 2.0 * cutoff * sinc * window;
      row_sum += exact[j];
    }
    // Every phase passes a constant level unchanged.
    for (size_t j = 0; j < taps_; ++j) row[j] = static_cast<float>(exact[j] / row_sum);
  }

  // The stream starts from silence: taps_ - 1 zeros stand before the first input, which
  // counts as input number taps_ - 1 and carries the first output.
  window_.reserve(taps_ + EXPECTED_PIECE);
  window_.assign(taps_ - 1, 0.0f);
  inputs_taken_ = taps_ - 1;
  next_newest_ = taps_ - 1;
}

size_t Resampler::max_output(size_t count) const {
  // In double precision, with a margin of a few samples for its rounding and the adjusted step's.
  return static_cast<size_t>(static_cast<double>(count) * phases_ / nominal_step_ *
                             (1.0 + MAX_RATE_ADJUSTMENT)) + 3;
}

void Resampler::hold(int16_t level) {
  if (inputs_taken() != 0) throw std::logic_error("resampler: hold() after the first input");
  std::fill(window_.begin(), window_.end(), static_cast<float>(level));
}

void Resampler::set_rate_adjustment(double adjustment) {
  adjustment = std::clamp(adjustment, -MAX_RATE_ADJUSTMENT, MAX_RATE_ADJUSTMENT);
  // Exact at 0: M * 2^32 is below 2^53.
  step_ = static_cast<uint64_t>(
      std::llround(static_cast<double>(uint64_t{nominal_step_} << 32) / (1.0 + adjustment)));
}

size_t Resampler::process(const int16_t* in, size_t count, int16_t* out) {
  const size_t old_size = window_.size();
  window_.resize(old_size + count);
  for (size_t i = 0; i < count; ++i) window_[old_size + i] = static_cast<float>(in[i]);
  inputs_taken_ += count;
  const uint64_t first_held = inputs_taken_ - window_.size();  // input number of window_[0]

  size_t written = 0;
  const uint64_t sample_length = uint64_t{phases_} << 32;  // one input sample in 2^-32 of a phase
  while (next_newest_ < inputs_taken_) {
    const float* x = window_.data() + (next_newest_ + 1 - taps_ - first_held);
    out[written++] = to_sample(dot_product(x, &coefficients_[size_t{next_phase_} * taps_], taps_));
    const uint64_t position = ((uint64_t{next_phase_} << 32) | next_fraction_) + step_;
    next_newest_ += position / sample_length;
    const uint64_t rest = position % sample_length;
    next_phase_ = static_cast<uint32_t>(rest >> 32);
    next_fraction_ = static_cast<uint32_t>(rest);
  }

  // Keep what the next output reaches back to.
  const uint64_t keep_from = std::min(inputs_taken_, next_newest_ + 1 - taps_);
  window_.erase(window_.begin(), window_.begin() + static_cast<ptrdiff_t>(keep_from - first_held));
  return written;
}
