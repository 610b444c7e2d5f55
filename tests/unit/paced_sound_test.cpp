// The paced sound output that a platform's sound device sits behind: the device gets the console's
// whole sample stream converted and through the output stage, in order and seamless, however the
// stream is cut into blocks; a device is started once its queue is filled and then holds the
// machine to real time, and so does the silent stand-in without a device.
#include "host/paced_sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "core/driver.h"
#include "core/joypad.h"
#include "test_machine.h"
#include "host/output_stage.h"
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
bool fake_started = false;
void fake_play() { fake_started = true; }
const SoundDevice FAKE{fake_queue, plays_at_once, fake_play, 0.0};

// A device that plays its queue by the clock once started, and silence when the queue is empty.
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
size_t clock_queued = 0;                 // samples given
bool clock_playing = false;
double clock_waiting = 0;                // before it plays: seconds given
Clock::time_point clock_played_until{};  // playing: when it has played all it was given
void clock_queue(const int16_t*, size_t count) {
  clock_queued += count;
  const Seconds length(double(count) / SOUND_DEVICE_RATE);
  if (clock_playing)
    clock_played_until = std::max(clock_played_until, Clock::now()) + std::chrono::duration_cast<Clock::duration>(length);
  else
    clock_waiting += length.count();
}
double clock_backlog() {
  return clock_playing ? std::max(0.0, Seconds(clock_played_until - Clock::now()).count()) : clock_waiting;
}
void clock_play() {
  clock_playing = true;
  clock_played_until = Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(clock_waiting));
}
const SoundDevice CLOCK_DEVICE{clock_queue, clock_backlog, clock_play, 0.005};

void power_on(const std::string& name) {
  test_machine::power_on_image((std::filesystem::path(OWN_ROM_DIR) / name).string());
  sleep_interval = 0;
}

void run_frames(int n) {
  for (int i = 0; i < n; ++i) run_frame();
}

TEST(PacedSound, TheDeviceGetsTheWholeStreamConvertedInOrder) {
  // The stream of a run, converted and filtered in one go, the conversion starting from the first
  // sample's level.
  power_on("apu_pulse_notes.nes");
  raw.clear();
  audio_sink = collect_raw;
  pace_hook = nullptr;
  run_frames(FRAMES);
  const SampleStream& s = sample_stream;
  raw.insert(raw.end(), s.buffers[s.current_buffer], s.buffers[s.current_buffer] + s.sample_pos);
  Resampler resampler(SAMPLE_RATE, SOUND_DEVICE_RATE);
  ASSERT_FALSE(raw.empty());
  resampler.hold(raw[0]);
  std::vector<int16_t> expected(resampler.max_output(raw.size()));
  expected.resize(resampler.process(raw.data(), raw.size(), expected.data()));
  OutputStage(SOUND_DEVICE_RATE).process(expected.data(), expected.size());

  // The same run through the pacing, which takes the stream block by block. The fake device never
  // holds anything, so the pacing keeps filling it as fast as the machine runs, at the nominal rate.
  power_on("apu_pulse_notes.nes");
  device_samples.clear();
  fake_started = false;
  paced_sound_start(&FAKE);
  run_frames(FRAMES);
  audio_sink = nullptr;
  pace_hook = nullptr;

  // Up to the last block taken (at most STEPS_PER_PACE instructions, a few ms, may still wait for
  // the next pace hook), sample for sample.
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
  EXPECT_FALSE(fake_started) << "started playing with an empty queue";
}

// Runs 30 frames (0.499 s of sound) and returns the seconds they took.
double seconds_for_30_frames() {
  const auto start = Clock::now();
  run_frames(30);
  const double elapsed = Seconds(Clock::now() - start).count();
  audio_sink = nullptr;
  pace_hook = nullptr;
  return elapsed;
}
constexpr double SOUND_OF_30_FRAMES = 30 * 29780.5 / 1789773.0;

TEST(PacedSound, ADeviceStartsWithItsQueueFilledAndHoldsTheMachineToRealTime) {
  power_on("apu_pulse_notes.nes");
  clock_queued = 0;
  clock_playing = false;
  clock_waiting = 0;
  paced_sound_start(&CLOCK_DEVICE);
  const double elapsed = seconds_for_30_frames();
  ASSERT_TRUE(clock_playing) << "the device was never started";
  // Its queue may run ahead by its ceiling and one block.
  EXPECT_GE(elapsed, SOUND_OF_30_FRAMES - 0.028 - 0.010) << "30 frames took " << elapsed << " s";
  EXPECT_GE(double(clock_queued) / SOUND_DEVICE_RATE, SOUND_OF_30_FRAMES - 0.010)
      << "the device got " << clock_queued << " samples";
}

TEST(PacedSound, TheSilentStandInHoldsTheMachineToRealTime) {
  power_on("apu_pulse_notes.nes");
  paced_sound_start(nullptr);
  const double elapsed = seconds_for_30_frames();
  // The queue may run ahead by its target and one block.
  EXPECT_GE(elapsed, SOUND_OF_30_FRAMES - 0.020 - 0.050) << "30 frames took " << elapsed << " s";
}

}  // namespace
