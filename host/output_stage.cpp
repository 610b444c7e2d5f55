// The output stage and the rate control (see output_stage.h).
#include "host/output_stage.h"

#include <algorithm>
#include <cmath>
#include <numbers>

OutputStage::OutputStage(uint32_t rate) {
  // First-order RC high-pass: pole = RC / (RC + dt).
  const double rc = 1.0 / (2.0 * std::numbers::pi * HIGH_PASS_HZ);
  const double dt = 1.0 / rate;
  pole_ = rc / (rc + dt);
  fade_length_ = static_cast<uint64_t>(std::lround(FADE_IN_SECONDS * rate));
  fade_out_length_ = static_cast<size_t>(std::lround(FADE_OUT_SECONDS * rate));
}

void OutputStage::process(int16_t* samples, size_t count) {
  if (count == 0) return;
  if (done_ == 0) previous_in_ = samples[0];
  for (size_t i = 0; i < count; ++i, ++done_) {
    const double in = samples[i];
    previous_out_ = pole_ * (previous_out_ + in - previous_in_);
    previous_in_ = in;
    double out = previous_out_;
    if (done_ < fade_length_) out *= static_cast<double>(done_) / static_cast<double>(fade_length_);
    samples[i] = static_cast<int16_t>(std::clamp(std::lround(out), long{INT16_MIN}, long{INT16_MAX}));
  }
  last_ = samples[count - 1];
}

size_t OutputStage::fade_out(int16_t* samples) {
  const size_t length = last_ == 0 ? 0 : fade_out_length_;
  for (size_t i = 0; i < length; ++i)
    samples[i] = static_cast<int16_t>(std::lround(last_ * double(length - 1 - i) / double(length)));
  last_ = 0;
  done_ = 0;  // from the next sample on: a stream of its own
  previous_out_ = 0;
  return length;
}

RateController::RateController(double target, double full_swing)
    : target_(target), full_swing_(full_swing), smoothed_(target) {}

double RateController::update(double level, double elapsed) {
  smoothed_ += (level - smoothed_) * std::min(1.0, std::max(0.0, elapsed) / SMOOTHING);
  const double wanted =
      std::clamp((target_ - smoothed_) / full_swing_, -1.0, 1.0) * MAX_ADJUSTMENT;
  adjustment_ = std::round(wanted / RESOLUTION) * RESOLUTION;
  return adjustment_;
}
