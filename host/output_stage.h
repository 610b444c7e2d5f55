// What happens to the converted sound on its way to a device, apart from the device itself: the
// output stage (a high-pass that takes out the mixer's constant offset, as the console's own output
// capacitor does, and a fade-in of the first milliseconds) and the rate control that keeps a
// device's queue near its target by nudging the conversion rate. Plain code, shared by every sound
// back end and by the tests.
#pragma once
#include <cstddef>
#include <cstdint>

class OutputStage {
 public:
  explicit OutputStage(uint32_t rate);

  static constexpr double HIGH_PASS_HZ = 20.0;     // corner of the first-order high-pass
  static constexpr double FADE_IN_SECONDS = 0.005;  // linear rise of the gain from 0 to 1
  static constexpr double FADE_OUT_SECONDS = 0.005; // linear fall from the last sample to 0

  // Filters `count` samples in place; successive calls continue one stream. The filter starts as
  // if the first sample's level had stood for ever, so a stream that starts at a constant level
  // gives exactly 0, and the fade-in takes whatever else there is up from 0.
  void process(int16_t* samples, size_t count);

  // The sound breaks off here (a pause, or a jump to another moment of the game): writes the fall
  // from the last sample given to 0 into `samples`, which has room for fade_out_length() samples,
  // and returns how many it wrote (none when the last sample was 0). The next process() starts a
  // stream afresh, as a new stage would, fade-in included.
  size_t fade_out(int16_t* samples);
  size_t fade_out_length() const { return fade_out_length_; }

 private:
  double pole_;                // y[n] = pole * (y[n-1] + x[n] - x[n-1])
  double previous_in_ = 0, previous_out_ = 0;
  uint64_t fade_length_;       // samples
  uint64_t done_ = 0;          // samples processed so far
  size_t fade_out_length_;     // samples
  int16_t last_ = 0;           // the last sample given out
};

// Maps how full a device's queue is to a rate adjustment for the resampler: below the target the
// sound is stretched (more output samples per second of console sound), above it compressed, by at
// most MAX_ADJUSTMENT, in proportion to the distance from the target smoothed over SMOOTHING
// seconds. A steady clock difference d between console and device then holds the queue d /
// MAX_ADJUSTMENT * full_swing from the target instead of letting it drift away.
class RateController {
 public:
  // target and full_swing in seconds of sound: at target +- full_swing the adjustment is full.
  RateController(double target, double full_swing);

  static constexpr double MAX_ADJUSTMENT = 0.005;
  static constexpr double SMOOTHING = 0.25;      // seconds, time constant of the level's average
  static constexpr double RESOLUTION = 1e-5;     // the adjustment moves in these steps

  // The queue held `level` seconds of sound, `elapsed` seconds after the previous update. Returns
  // the adjustment to use from now on.
  double update(double level, double elapsed);
  double adjustment() const { return adjustment_; }
  double smoothed_level() const { return smoothed_; }

 private:
  double target_, full_swing_;
  double smoothed_;
  double adjustment_ = 0;
};
