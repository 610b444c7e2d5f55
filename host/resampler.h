// Converts the console's sample stream (one sample per CPU cycle) to the rate of a sound device:
// a windowed-sinc low-pass that removes everything the output rate cannot carry, evaluated only at
// the output instants (polyphase), so that no tone above half the output rate folds back audibly.
// The stream's level changes only every few cycles or more, so the filter is mostly applied to its
// changes (one product per change within the filter's reach instead of one per tap): the same
// result in exact arithmetic, and as good as exact for 16-bit output.
// The output rate can be nudged by a small fraction while the stream runs, to follow a device whose
// clock is not quite the console's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

class Resampler {
 public:
  // Both rates in samples per second. The ratio is kept exact, as output_rate/input_rate reduced
  // to lowest terms; its numerator is the number of filter phases, at most MAX_PHASES.
  Resampler(uint32_t input_rate, uint32_t output_rate);

  static constexpr uint32_t MAX_PHASES = 1024;
  // Stop-band attenuation of the low-pass in dB; the pass band reaches PASS_BAND of the output rate.
  static constexpr double STOP_BAND_DB = 80.0;
  static constexpr double PASS_BAND = 0.40;
  // Largest rate adjustment that set_rate_adjustment accepts, either way.
  static constexpr double MAX_RATE_ADJUSTMENT = 0.01;

  // Takes `count` further input samples and writes the output samples that they complete to `out`,
  // which must hold max_output(count) samples. Returns how many it wrote. Output sample n stands
  // for input time n * input_rate / output_rate - delay(); across calls the stream is seamless, so
  // the way the input is cut into pieces never changes the output.
  size_t process(const int16_t* in, size_t count, int16_t* out);

  // Before the first input: the stream is taken to have stood at `level` for ever (instead of 0),
  // so that it starts without a step.
  void hold(int16_t level);

  // From the next output on, output instants follow each other 1 + `adjustment` times as densely:
  // the output rate becomes output_rate * (1 + adjustment). Clamped to MAX_RATE_ADJUSTMENT either
  // way. The instants then fall between the filter's phases; each output takes the phase just
  // before its instant, at most 1/phases() of an input sample early. At 0 the output is exact
  // again. The same inputs and the same adjustments at the same input counts give the same output.
  void set_rate_adjustment(double adjustment);

  // Most output samples that `count` further input samples can complete, at any rate adjustment.
  size_t max_output(size_t count) const;
  // Input samples taken so far.
  uint64_t inputs_taken() const { return inputs_taken_ - (taps_ - 1); }
  // The filter's delay in input samples.
  double delay() const { return static_cast<double>(taps_) / 2.0; }
  size_t taps() const { return taps_; }
  uint32_t phases() const { return phases_; }

 private:
  // A change of the input level: input number `at` differs from the one before by `by`.
  struct Change {
    Change() {}  // left unset: record_changes() makes room before it writes
    Change(uint64_t at_, int32_t by_) : at(at_), by(by_) {}
    uint64_t at;
    double by;
  };
  void record_changes(const int16_t* in, size_t count);
  // A product per change of level costs about as much as this many taps of the dot product over
  // every input.
  static constexpr size_t DENSE_SHARE = 4;

  uint32_t phases_;        // L: output rate / gcd
  uint32_t nominal_step_;  // M: input rate / gcd; output n is at input time n * M / L
  uint64_t step_;          // distance between output instants in 2^-32 of a phase (M * 2^32
                           // without adjustment)
  size_t taps_;            // filter length in input samples, a multiple of 8
  std::vector<float> coefficients_;  // phases_ rows of taps_, oldest input first
  std::vector<float> steps_;         // the step responses of rows 0 .. phases_ / 2 (see
                                     // process())
  std::vector<float> window_;        // the last taps_ - 1 inputs, then the ones not yet used
  std::vector<Change> changes_;      // the input's changes, oldest first
  size_t dense_from_;                // changes within a window from which the dot product is
                                     // cheaper: taps_ / DENSE_SHARE
  size_t first_ = 0;                 // first change after the next output's oldest tap
  size_t end_ = 0;                   // first change after its newest tap, as far as known
  uint64_t inputs_taken_ = 0;        // input samples received so far
  uint64_t next_newest_ = 0;         // index of the newest input that the next output uses
  uint32_t next_phase_ = 0;          // and its fractional position beyond it, in 1/L
  uint32_t next_fraction_ = 0;       // and beyond that, in 2^-32 of a phase
};
