// The paced sound output that a platform's sound device sits behind: the device gets the console's
// whole sample stream converted, in order and seamless, however the stream is cut into pieces; and
// without a device the silent stand-in holds the machine to real time.
#include "host/paced_sound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "core/driver.h"
#include "core/joypad.h"
#include "host/resampler.h"
#include "ppu/ppu.h"

namespace {

constexpr int FRAMES = 120;

std::vector<int16_t> raw;            // the console's samples, as the machine made them
std::vector<int16_t> device_samples; // what the fake device was given

void collect_raw(const int16_t* samples, size_t count) { raw.insert(raw.end(), samples, samples + count); }
void fake_queue(const int16_t* samples, size_t count) {
  device_samples.insert(device_samples.end(), samples, samples + count);
}
double plays_at_once() { return 0; }  // nothing is ever left to play: the pacing never waits
const SoundDevice FAKE{fake_queue, plays_at_once, "fake"};

void power_on(const std::string& name) {
  const std::string image = (std::filesystem::path(OWN_ROM_DIR) / name).string();
  std::string error;
  ::testing::internal::CaptureStdout();  // the summary line
  const bool loaded = machine_power_on(image.c_str(), error);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(loaded) << error;
  button_state[0] = 0;
  button_state[1] = 0;
  sleep_interval = 0;
}

void run_frames(int n) {
  for (int i = 0; i < n; ++i) run_frame();
}

TEST(PacedSound, TheDeviceGetsTheWholeStreamConvertedInOrder) {
  // The stream of a run, converted in one go.
  power_on("apu_pulse_notes.nes");
  raw.clear();
  audio_sink = collect_raw;
  pace_hook = nullptr;
  run_frames(FRAMES);
  const SampleStream& s = sample_stream;
  raw.insert(raw.end(), s.buffers[s.current_buffer], s.buffers[s.current_buffer] + s.sample_pos);
  Resampler resampler(SAMPLE_RATE, SOUND_DEVICE_RATE);
  std::vector<int16_t> expected(resampler.max_output(raw.size()));
  expected.resize(resampler.process(raw.data(), raw.size(), expected.data()));

  // The same run through the pacing, which takes the stream piece by piece.
  power_on("apu_pulse_notes.nes");
  device_samples.clear();
  paced_sound_start(&FAKE);
  run_frames(FRAMES);
  audio_sink = nullptr;
  pace_hook = nullptr;

  // Up to the last piece taken (at most 10000 instructions, under 50 ms, may still wait for the
  // next pace hook), sample for sample.
  ASSERT_LE(device_samples.size(), expected.size());
  EXPECT_GE(device_samples.size() + SOUND_DEVICE_RATE / 20, expected.size());
  ASSERT_GT(device_samples.size(), SOUND_DEVICE_RATE);  // more than a second of sound
  size_t first_difference = device_samples.size();
  for (size_t i = 0; i < device_samples.size(); ++i)
    if (device_samples[i] != expected[i]) {
      first_difference = i;
      break;
    }
  EXPECT_EQ(first_difference, device_samples.size()) << "the device's sound differs from sample "
                                                      << first_difference << " on";
}

TEST(PacedSound, TheSilentStandInHoldsTheMachineToRealTime) {
  power_on("apu_pulse_notes.nes");
  paced_sound_start(nullptr);
  const auto start = std::chrono::steady_clock::now();
  run_frames(30);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  audio_sink = nullptr;
  pace_hook = nullptr;
  // 30 frames are 0.499 s of sound; the queue may run ahead by its target and one piece.
  const double sound = 30 * 29780.5 / 1789773.0;
  EXPECT_GE(elapsed, sound - 0.020 - 0.050) << "30 frames took " << elapsed << " s";
}

}  // namespace
