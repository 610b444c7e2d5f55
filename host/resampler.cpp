// Rate conversion of the console's sample stream for a sound device: a Kaiser-windowed sinc
// low-pass, one set of taps per output phase, so that tones above half the output rate (a pulse
// wave's upper harmonics) are removed instead of folding back into the audible band. Most outputs
// are computed from the stream's changes of level rather than from every input (see process()).
#include "host/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace {

// Inputs (and changes of level) held at once in the usual run of things, beyond the filter's
// length; more only cost an allocation.
constexpr size_t EXPECTED_PIECE = 1 << 14;

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

int16_t to_sample(double v) {
  const long r = std::lrint(v);
  return static_cast<int16_t>(std::clamp(r, long{INT16_MIN}, long{INT16_MAX}));
}

// Sum of x[i] * h[i] in eight running sums, so that the compiler can use vector registers
// without reordering single-precision additions on its own.
float dot_product(const float* x, const float* h, size_t n) {
  float sums[8] = {};
  for (size_t i = 0; i < n; i += 8)
    for (size_t k = 0; k < 8; ++k) sums[k] += x[i + k] * h[i + k];
  return ((sums[0] + sums[4]) + (sums[1] + sums[5])) + ((sums[2] + sums[6]) + (sums[3] + sums[7]));
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
  dense_from_ = taps_ / DENSE_SHARE;

  // Row p serves outputs that lie p/L of an input sample after the newest input they use. Tap j
  // weighs the input j places after the oldest; its distance from the output instant (which lags
  // by `half` samples) is t = p/L + half - 1 - j, always within the window's [-half, half]. Each
  // row is normalised to sum to 1, so that every phase passes a constant level unchanged. Kept of
  // it: the taps, and its step response steps_[p][k] = the sum of taps k .. taps_ - 1 (the share
  // of the output that a change of the input at tap k brings, see process()), summed in double
  // from the newest tap on, where the row is smallest, and rounded once. Row L - p holds row p's
  // taps in reverse order (its distances t are row p's, negated), so only the step responses of
  // rows 0 .. L/2 are kept (half the memory that the outputs' lookups range over).
  coefficients_.resize(static_cast<size_t>(phases_) * taps_);
  steps_.resize(static_cast<size_t>(phases_ / 2 + 1) * taps_);
  std::vector<double> exact(taps_);
  for (uint32_t p = 0; p < phases_; ++p) {
    double row_sum = 0.0;
    for (size_t j = 0; j < taps_; ++j) {
      const double t = static_cast<double>(p) / phases_ + half - 1.0 - static_cast<double>(j);
      const double x = 2.0 * cutoff * t;
      const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
      const double r = t / half;
      const double window = bessel_i0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0_beta;
      exact[j] = 2.0 * cutoff * sinc * window;
      row_sum += exact[j];
    }
    float* row = &coefficients_[static_cast<size_t>(p) * taps_];
    for (size_t j = 0; j < taps_; ++j) row[j] = static_cast<float>(exact[j] / row_sum);
    if (p > phases_ / 2) continue;
    float* steps = &steps_[static_cast<size_t>(p) * taps_];
    double tail = 0.0;
    for (size_t j = taps_; j-- > 0;) {
      tail += exact[j] / row_sum;
      steps[j] = static_cast<float>(tail);
    }
  }

  // The stream starts from silence: taps_ - 1 zeros stand before the first input, which
  // counts as input number taps_ - 1 and carries the first output.
  window_.reserve(taps_ + EXPECTED_PIECE);
  window_.assign(taps_ - 1, 0.0f);
  changes_.reserve(taps_ + EXPECTED_PIECE);
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

// The console's stream stands still most of the time: its level moves only when one of the
// channels' outputs moves, every few to a few hundred cycles. Written with the changes of the input,
// c[q] = x[q] - x[q - 1], an output of row h over the inputs x[o] .. x[o + taps - 1] is
//   sum_j h[j] x[o + j] = x[o] * sum_j h[j] + sum_{o < q < o + taps} c[q] * sum_{j >= q - o} h[j]
//                       = x[o] + sum_{o < q < o + taps} c[q] * steps[q - o]
// (the row sums to 1): the level at the oldest tap plus one term per change within the filter,
// the same sum in exact arithmetic as the dot product over every tap. An output whose window holds
// fewer than taps / DENSE_SHARE changes is computed so, from the list of changes, in double
// precision (levels and changes are integers, held exactly; the steps are single-precision
// roundings of sums made in double); one with more, where a product per change would cost more
// than the dot product, as that dot product in single precision over the inputs themselves. Both
// are the exact filter's output to within far less than its rounding to 16 bits, and which of them
// an output takes depends only on the input within its window: the output is the same whichever
// way the input is cut.
size_t Resampler::process(const int16_t* in, size_t count, int16_t* out) {
  record_changes(in, count);
  const size_t old_size = window_.size();
  window_.resize(old_size + count);
  for (size_t i = 0; i < count; ++i) window_[old_size + i] = static_cast<float>(in[i]);
  inputs_taken_ += count;
  const uint64_t first_held = inputs_taken_ - window_.size();  // input number of window_[0]

  size_t written = 0;
  const uint64_t sample_length = uint64_t{phases_} << 32;  // one input sample in 2^-32 of a phase
  const Change* changes = changes_.data();
  const size_t held = changes_.size();
  size_t first = first_, end = end_;
  uint64_t newest = next_newest_;
  uint64_t position = (uint64_t{next_phase_} << 32) | next_fraction_;  // beyond `newest`
  while (newest < inputs_taken_) {
    const uint64_t oldest = newest + 1 - taps_;
    const float* x = &window_[oldest - first_held];
    // Changes at or before the oldest tap are in the level there; those after the newest come later.
    while (first < held && changes[first].at <= oldest) ++first;
    end = std::max(end, first);
    while (end < held && changes[end].at <= newest) ++end;
    const size_t row = static_cast<size_t>(position >> 32) * taps_;
    if (end - first >= dense_from_) {
      out[written++] = to_sample(dot_product(x, &coefficients_[row], taps_));
    } else {
      // Sum of c[q] * steps[place(q)] over the window's changes, in four running sums (the n-th
      // change of the window in sum n % 4): the order of the additions depends on the window
      // alone, and four of them overlap.
      const auto sum = [&](const float* steps, auto place) {
        double sums[4] = {};
        size_t i = first;
        for (; i + 4 <= end; i += 4)
          for (size_t k = 0; k < 4; ++k) sums[k] += changes[i + k].by * steps[place(changes[i + k].at)];
        for (size_t k = 0; i < end; ++i, ++k) sums[k] += changes[i].by * steps[place(changes[i].at)];
        return (sums[0] + sums[2]) + (sums[1] + sums[3]);
      };
      const uint32_t phase = static_cast<uint32_t>(position >> 32);
      if (phase <= phases_ / 2) {
        const float* steps = &steps_[size_t{phase} * taps_];
        out[written++] = to_sample(double{x[0]} + sum(steps, [oldest](uint64_t at) { return at - oldest; }));
      } else {
        // Row L - p is row p reversed, so its step response at tap k is 1 - row p's at taps - k:
        // the output is the level at the newest tap less each change times row p's step response
        // at taps - (q - o) = newest + 1 - q.
        const float* steps = &steps_[size_t{phases_ - phase} * taps_];
        out[written++] = to_sample(double{x[taps_ - 1]} -
                                   sum(steps, [after = newest + 1](uint64_t at) { return after - at; }));
      }
    }
    position += step_;
    newest += position / sample_length;
    position %= sample_length;
  }
  first_ = first;
  end_ = end;
  next_newest_ = newest;
  next_phase_ = static_cast<uint32_t>(position >> 32);
  next_fraction_ = static_cast<uint32_t>(position);

  // Keep the inputs that the next output reaches back to, and drop the changes that every later
  // output has behind it once they are half the list (each change is moved a bounded number of
  // times, however the input is cut).
  const uint64_t keep_from = std::min(inputs_taken_, next_newest_ + 1 - taps_);
  window_.erase(window_.begin(), window_.begin() + static_cast<ptrdiff_t>(keep_from - first_held));
  if (first_ > changes_.size() / 2) {
    changes_.erase(changes_.begin(), changes_.begin() + static_cast<ptrdiff_t>(first_));
    end_ -= first_;
    first_ = 0;
  }
  return written;
}
void Resampler::record_changes(const int16_t* in, size_t count) {
  if (count == 0) return;
  // Room for a change at every input; what is not used is given back below. Each input's entry is
  // written in any case and kept only where the level moved: no branch that a noisy stream would
  // make unpredictable.
  size_t held = changes_.size();
  changes_.resize(held + count);
  Change* changes = changes_.data();
  const uint64_t first_index = inputs_taken_;  // input number of in[0]
  const auto note = [&](size_t i, int32_t before) {
    const int32_t by = in[i] - before;
    changes[held] = Change(first_index + i, by);
    held += by != 0;
  };
  note(0, static_cast<int32_t>(window_.back()));  // the newest input before these
  // Sixteen samples at a time against the sixteen before them, in vector registers: most runs of
  // sixteen hold no change.
  using Lanes = int16_t __attribute__((vector_size(32)));
  size_t i = 1;
  for (; i + 16 <= count; i += 16) {
    Lanes now, before;
    std::memcpy(&now, in + i, sizeof now);
    std::memcpy(&before, in + i - 1, sizeof before);
    const Lanes differs = now ^ before;
    uint64_t words[4];
    std::memcpy(words, &differs, sizeof words);
    if ((words[0] | words[1] | words[2] | words[3]) == 0) continue;
    for (size_t k = 0; k < 16; ++k) note(i + k, in[i + k - 1]);
  }
  for (; i < count; ++i) note(i, in[i - 1]);
  changes_.resize(held);
}
