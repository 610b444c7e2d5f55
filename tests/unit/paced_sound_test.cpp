// The paced sound output that a platform's sound device sits behind: the device gets the console's
// whole sample stream converted and through the output stage, in order and seamless, however the
// stream is cut into blocks; a device is started once its queue is filled and then holds the
// machine to real time, and so does the silent stand-in without a device.
#include "host/paced_sound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "core/snapshot.h"
#include "host/audio_out.h"
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
void fake_hold() { fake_started = false; }
const SoundDevice FAKE{fake_queue, plays_at_once, fake_play, fake_hold, 0.0};

// A device that plays its queue by the clock once started, and silence when the queue is empty.
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;
size_t clock_queued = 0;                 // samples given
std::vector<int16_t> clock_samples;      // and which
bool clock_playing = false;
double clock_waiting = 0;                // before it plays: seconds given
Clock::time_point clock_played_until{};  // playing: when it has played all it was given
struct ClockEvent {
  bool play;       // play, or hold
  size_t queued;   // samples given before it
  double backlog;  // seconds of them not yet played
};
std::vector<ClockEvent> clock_events;
void clock_queue(const int16_t* samples, size_t count) {
  clock_queued += count;
  clock_samples.insert(clock_samples.end(), samples, samples + count);
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
  clock_events.push_back({true, clock_queued, clock_backlog()});
  clock_playing = true;
  clock_played_until = Clock::now() + std::chrono::duration_cast<Clock::duration>(Seconds(clock_waiting));
}
void clock_hold() {
  clock_events.push_back({false, clock_queued, clock_backlog()});
  clock_waiting = clock_backlog();
  clock_playing = false;
}
const SoundDevice CLOCK_DEVICE{clock_queue, clock_backlog, clock_play, clock_hold, 0.005};

void start_clock_device() {
  clock_queued = 0;
  clock_samples.clear();
  clock_events.clear();
  clock_playing = false;
  clock_waiting = 0;
  paced_sound_start(&CLOCK_DEVICE);
}

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
  start_clock_device();
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

// The largest step between neighbouring samples of clock_samples[from, to).
int largest_step(size_t from, size_t to) {
  int step = 0;
  for (size_t i = from + 1; i < to; ++i) step = std::max(step, std::abs(clock_samples[i] - clock_samples[i - 1]));
  return step;
}

// Runs frames until the sound last queued is far from 0 (in a note), at most a second of them.
void run_into_a_note() {
  for (int i = 0; i < 60 && (clock_samples.empty() || std::abs(clock_samples.back()) < 1000); ++i) run_frames(1);
  ASSERT_GE(std::abs(clock_samples.back()), 1000) << "no note to break off";
}

// The fall to 0 that ends clock_samples: its length, and no step in it beyond a 200th of where
// it starts.
void expect_fall_at_end(size_t length) {
  ASSERT_GT(clock_samples.size(), length);
  const size_t start = clock_samples.size() - length;
  EXPECT_EQ(clock_samples.back(), 0);
  EXPECT_LE(largest_step(start - 1, clock_samples.size()), std::abs(clock_samples[start - 1]) / 200 + 1);
}

TEST(PacedSound, TheProgramsStopsAndJumpsRampAndTheSoundGoesOnWithoutAGap) {
  const size_t fall = static_cast<size_t>(OutputStage::FADE_OUT_SECONDS * SOUND_DEVICE_RATE);
  const size_t rise = static_cast<size_t>(OutputStage::FADE_IN_SECONDS * SOUND_DEVICE_RATE);
  power_on("apu_pulse_notes.nes");
  start_clock_device();
  run_frames(30);
  run_into_a_note();
  const int music_step = largest_step(0, clock_samples.size());
  ASSERT_EQ(clock_events.size(), 1u);  // started once its queue was full

  // A pause: the sound made so far, then its fall to 0.
  audio_out_stop();
  const size_t stopped = clock_samples.size();
  expect_fall_at_end(fall);

  // Going on: the queue plays out before the device is held, and it plays again only with its
  // queue filled to the target, the sound rising from 0.
  run_frames(20);
  ASSERT_EQ(clock_events.size(), 3u);
  EXPECT_FALSE(clock_events[1].play);
  EXPECT_EQ(clock_events[1].queued, stopped);
  EXPECT_EQ(clock_events[1].backlog, 0.0) << "held before it played out";
  EXPECT_TRUE(clock_events[2].play);
  EXPECT_GE(clock_events[2].backlog, DEFAULT_QUEUE_TARGET_MS / 1000.0);
  EXPECT_EQ(clock_samples[stopped], 0);
  EXPECT_LE(largest_step(stopped, stopped + rise), music_step);

  // A jump while playing (a state loaded): the old sound falls to 0, the new rises from 0.
  std::vector<uint8_t> earlier;
  snapshot_save(earlier);
  run_into_a_note();
  std::string error;
  ASSERT_TRUE(snapshot_load(earlier, error)) << error;
  audio_out_follow_stream();
  expect_fall_at_end(fall);
  const size_t jumped = clock_samples.size();
  run_frames(15);
  EXPECT_EQ(clock_samples[jumped], 0);
  EXPECT_LE(largest_step(jumped, jumped + rise), music_step);
  EXPECT_EQ(clock_events.size(), 3u) << "a jump while playing holds nothing";

  // Fast-forward drops the sound made meanwhile, and afterwards it goes on as after a pause.
  run_into_a_note();
  audio_out_set_fast_forward(true);
  expect_fall_at_end(fall);
  const size_t fast = clock_samples.size();
  run_frames(30);
  EXPECT_EQ(clock_samples.size(), fast);
  audio_out_set_fast_forward(false);
  run_frames(20);
  ASSERT_EQ(clock_events.size(), 5u);
  EXPECT_EQ(clock_events[3].backlog, 0.0);
  EXPECT_GE(clock_events[4].backlog, DEFAULT_QUEUE_TARGET_MS / 1000.0);
  EXPECT_EQ(clock_samples[fast], 0);

  // The end: silent, and nothing left to play when the program goes.
  run_frames(5);
  audio_out_finish();
  EXPECT_EQ(clock_samples.back(), 0);
  EXPECT_EQ(clock_backlog(), 0.0);
  audio_sink = nullptr;
  pace_hook = nullptr;
}

}  // namespace
