// The pacing of the sound and of the emulation with it, for any device behind SoundDevice.
#include "host/paced_sound.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "apu/apu.h"
#include "core/driver.h"
#include "host/audio_out.h"
#include "host/output_stage.h"
#include "host/resampler.h"
#include "ppu/ppu.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Sound queued and not yet taken by the device, in seconds: the target (by default
// DEFAULT_QUEUE_TARGET_MS), and the band around it.
struct QueueBand {
  double target, floor, ceiling;
};
constexpr QueueBand band_around(double target) {
  return {target, target - 0.012,  // below: the emulation runs ahead of the clock
          target + 0.006};         // above: the emulation waits for the device
}
QueueBand queue = band_around(DEFAULT_QUEUE_TARGET_MS / 1000.0);
constexpr double CONTROL_SWING = 0.006;   // distance from the target that gets the full adjustment
// The stand-in takes its sound in periods of 5 ms, like a device.
constexpr double STAND_IN_PERIOD = 240.0 / SOUND_DEVICE_RATE;
// Ahead of the clock by less than this, the emulation goes on without sleeping. Each sleep costs
// the thread a switch out and back in, some twenty microseconds of CPU on a virtual machine, while
// a block (STEPS_PER_PACE steps, about 1.7 ms of console time) takes a fast machine a fraction of
// a millisecond: sleeping once every few blocks instead of after each keeps the same pace at a
// fraction of the cost, the sound being queued up to this much (and a block) early.
const Seconds MIN_SLEEP(0.004);
// Behind the clock by more than this (slowed down, or a stall), the emulation does not race to
// catch up but goes on at real speed from where it is.
const Seconds MAX_CATCH_UP(0.040);
constexpr auto REPORT_PERIOD = std::chrono::seconds(1);

// The once-a-second report of NES_DEBUG.
struct Report {
  bool enabled = false;
  Clock::time_point period_start{};
  uint64_t frames_at_period_start = 0;
  std::array<float, 4096> latency_ms{};  // one per block queued in the period
  size_t blocks = 0;
  float max_latency_ms = 0;
  double level_sum = 0;                  // queue level after each block, summed
  double lowest_adjustment = 0, highest_adjustment = 0;
  uint64_t underruns = 0;                // in the period
};

// The program's own breaks in the sound. audio_out_stop (a pause, a rewind, fast-forward) queues the
// fall of the last sample to 0 and then nothing; the first samples made after it (the game going
// on) start the device afresh: what was queued plays out, the device is held, its queue is filled
// to the target and it plays again, the sound rising from 0. A jump while playing (a state loaded,
// a reset, another image) queues the same fall, and the new sound rises from 0 right after it.
struct Break {
  bool stopped = false;          // stopped and not yet started again
  Clock::time_point since{};     // when it stopped
  bool fast = false;             // fast-forward (always stopped): the sound is dropped, the emulation unpaced
};

// Everything here belongs to the emulation thread, which starts it.
struct Pacing {
  const SoundDevice* device = nullptr;   // null: the silent stand-in
  double period = STAND_IN_PERIOD;       // the device's, in seconds
  bool playing = false;                  // the queue reached its target once and playing began
  bool filling = true;                   // running ahead of the clock until the queue is full
  std::unique_ptr<Resampler> resampler;
  std::unique_ptr<OutputStage> stage;
  RateController control{queue.target, CONTROL_SWING};
  std::vector<int16_t> converted;
  // Where the next unread sample is: buffer and position in it.
  int read_buffer = 0;
  uint32_t read_pos = 0;
  // The pace: console time t (seconds of samples read) is due at anchor + t.
  Clock::time_point anchor{};
  Clock::time_point last_update{};       // of the rate control
  Clock::time_point resumed{};           // when the emulation went on after the last hook
  Clock::time_point stand_in_until{};    // stand-in: when it has played all it was given
  double stand_in_level = 0;             // stand-in before it plays: what it was given
  bool starving = false;                 // the queue was found empty and has not filled since
  uint64_t underruns = 0;                // since the start
  FILE* rate_log = nullptr;              // NES_RATE_LOG: every change of the rate adjustment
  Break stop;                            // the program's own stops, and fast-forward
  // Frames played, for the report: a loaded state moves the console's own count back or forth.
  uint64_t frames = 0, console_frames = 0;
  Report report;
};
Pacing p;

// Sound queued and not yet taken, in seconds.
double queue_level(Clock::time_point now) {
  if (p.device) {
    const double backlog = p.device->backlog();
    if (backlog >= 0) return backlog;
    // The device went away: from here on the stand-in plays what it still had.
    p.device = nullptr;
    p.stand_in_until = now;
  }
  if (!p.playing) return p.stand_in_level;
  return std::max(0.0, Seconds(p.stand_in_until - now).count());
}

void record_block(double latency_ms, double level) {
  Report& r = p.report;
  if (r.blocks < r.latency_ms.size()) r.latency_ms[r.blocks] = static_cast<float>(latency_ms);
  ++r.blocks;
  r.max_latency_ms = std::max(r.max_latency_ms, static_cast<float>(latency_ms));
  r.level_sum += level;
}

// Hands the first `frames` samples of p.converted to the device (or the stand-in).
void hand_over(size_t frames, Clock::time_point now) {
  const Seconds length(double(frames) / SOUND_DEVICE_RATE);
  if (p.device) {
    p.device->queue(p.converted.data(), frames);
  } else if (p.playing) {
    p.stand_in_until = std::max(p.stand_in_until, now) + std::chrono::duration_cast<Clock::duration>(length);
  } else {
    p.stand_in_level += length.count();
  }
}

// Converts samples[from, to) of the stream and queues them.
void queue_samples(const int16_t* samples, uint32_t from, uint32_t to) {
  if (to <= from) return;
  if (p.resampler->inputs_taken() == 0) p.resampler->hold(samples[from]);
  const size_t frames = p.resampler->process(samples + from, to - from, p.converted.data());
  if (frames == 0) return;
  p.stage->process(p.converted.data(), frames);

  const Clock::time_point now = Clock::now();
  const double level = queue_level(now);
  const Seconds length(double(frames) / SOUND_DEVICE_RATE);
  hand_over(frames, now);
  if (!p.playing) return;

  // An empty queue while playing: the device is taking, or about to take, silence.
  if (level == 0.0) {
    if (!p.starving) {
      ++p.underruns;
      ++p.report.underruns;
    }
    p.starving = true;
  } else {
    p.starving = false;
  }
  if (p.report.enabled) {
    // The oldest sample of the block was made when the emulation resumed, the newest just now; the
    // device takes the block's first sample when it has taken the `level` ahead of it, and plays
    // what it takes within a period. The later of the two ends bounds every sample's delay.
    const double made_over = Seconds(now - p.resumed).count();
    const double latency = level + p.period + std::max(made_over, length.count());
    record_block(latency * 1000, level + length.count());
  }
}

// The sound falls from its last sample to 0 (queued after what is queued).
void fade_out() {
  if (const size_t frames = p.stage->fade_out(p.converted.data())) hand_over(frames, Clock::now());
}

// The first samples after a stop: the device plays out what it has (the fall to 0 at its end), is
// held, and starts again once its queue is full. Started at once instead, it would take the first
// block, a millisecond or two, and play silence for the rest of its period before the next came.
// Waits until the device has played its queue, at most as long as the longest queue takes; returns
// the time then.
Clock::time_point play_out() {
  Clock::time_point now = Clock::now();
  const Clock::time_point deadline = now + std::chrono::milliseconds(MAX_QUEUE_TARGET_MS + 50);
  for (double level; (level = queue_level(now)) > 0 && now < deadline; now = Clock::now())
    std::this_thread::sleep_for(std::max(Seconds(0.001), Seconds(level)));
  return now;
}

void go_on_after_stop() {
  p.stop.stopped = false;
  Clock::time_point now = Clock::now();
  if (p.playing) {
    now = play_out();
    if (p.device) p.device->hold();
    p.playing = false;
    p.stand_in_level = 0;
  }
  p.filling = true;
  p.starving = false;
  p.report.period_start += now - p.stop.since;  // the time stopped is not play
  p.last_update = p.resumed = now;
}

// A report period starts now, with nothing counted.
void start_report_period(Clock::time_point now) {
  Report& r = p.report;
  const double adjustment = p.control.adjustment();
  r.period_start = now;
  r.frames_at_period_start = p.frames;
  r.blocks = 0;
  r.max_latency_ms = 0;
  r.level_sum = 0;
  r.lowest_adjustment = r.highest_adjustment = adjustment;
  r.underruns = 0;
}

void count_frames() {
  if (ppu.frames > p.console_frames) p.frames += ppu.frames - p.console_frames;
  p.console_frames = ppu.frames;
}

void print_report(Clock::time_point now) {
  Report& r = p.report;
  const double elapsed = Seconds(now - r.period_start).count();
  if (p.stop.fast) {
    std::printf("nes: %.2f frames/s; fast-forward, sound muted\n", double(p.frames - r.frames_at_period_start) / elapsed);
    std::fflush(stdout);
    start_report_period(now);
    return;
  }
  const size_t kept = std::min(r.blocks, r.latency_ms.size());
  double median = 0;
  if (kept != 0) {
    const auto middle = r.latency_ms.begin() + static_cast<ptrdiff_t>(kept / 2);
    std::nth_element(r.latency_ms.begin(), middle, r.latency_ms.begin() + static_cast<ptrdiff_t>(kept));
    median = *middle;
  }
  std::printf("nes: %.2f frames/s; sound latency median %.1f ms, max %.1f ms; queue %.1f ms; "
              "rate adjustment %+.3f%% to %+.3f%%; underruns %llu (%llu in all); %s\n",
              double(p.frames - r.frames_at_period_start) / elapsed, median, double(r.max_latency_ms),
              r.blocks ? r.level_sum / double(r.blocks) * 1000 : 0.0, r.lowest_adjustment * 100,
              r.highest_adjustment * 100, static_cast<unsigned long long>(r.underruns),
              static_cast<unsigned long long>(p.underruns), p.device ? "audio device" : "silent stand-in");
  std::fflush(stdout);
  start_report_period(now);
}

// Once a second: the rate log written out, the report printed.
void report_when_due(Clock::time_point now) {
  if (now - p.report.period_start < REPORT_PERIOD) return;
  if (p.rate_log) std::fflush(p.rate_log);
  if (p.report.enabled) print_report(now);
  else p.report.period_start = now;
}

void set_rate_adjustment(double adjustment) {
  p.resampler->set_rate_adjustment(adjustment);
  if (p.rate_log)  // buffered, written out once a second: a write can wait on a busy disk
    std::fprintf(p.rate_log, "%llu %a\n", static_cast<unsigned long long>(p.resampler->inputs_taken()),
                 adjustment);
  p.report.lowest_adjustment = std::min(p.report.lowest_adjustment, adjustment);
  p.report.highest_adjustment = std::max(p.report.highest_adjustment, adjustment);
}

// The pace hook, every few milliseconds of console time.
void keep_pace() {
  const SampleStream& s = sample_stream;
  count_frames();
  if (p.stop.fast) {  // as fast as the machine runs, nothing heard
    p.read_pos = s.sample_pos;
    report_when_due(Clock::now());
    return;
  }
  if (p.stop.stopped) go_on_after_stop();
  queue_samples(s.buffers[p.read_buffer], p.read_pos, s.sample_pos);
  p.read_pos = s.sample_pos;

  Clock::time_point now = Clock::now();
  const double level = queue_level(now);
  if (!p.filling) {  // while filling, the pace itself brings the queue back
    const double before = p.control.adjustment();
    const double after = p.control.update(level, Seconds(now - p.last_update).count());
    if (after != before) set_rate_adjustment(after);
  }
  p.last_update = now;

  const Seconds made(double(p.resampler->inputs_taken()) / SAMPLE_RATE);
  const auto console_time = std::chrono::duration_cast<Clock::duration>(made);
  if (p.filling) {
    // At the start, and after the queue ran low: as fast as the machine runs up to the target,
    // then by the clock from there.
    if (level >= queue.target) {
      p.filling = false;
      if (!p.playing) {
        p.playing = true;
        if (p.device) p.device->play();
        else p.stand_in_until = now + std::chrono::duration_cast<Clock::duration>(Seconds(p.stand_in_level));
      }
      p.anchor = now - console_time;
    }
  } else if (level < queue.floor) {
    p.filling = true;  // the device takes faster than the clock, or the emulation was held up
  } else {
    if (now - (p.anchor + console_time) > MAX_CATCH_UP) p.anchor = now - console_time;
    const Clock::time_point due = p.anchor + console_time;
    if (due - now >= MIN_SLEEP) {
      std::this_thread::sleep_until(due);
      now = Clock::now();
    }
    if (queue_level(now) > queue.ceiling) {
      // The device takes slower than the clock: follow it, down to MIN_SLEEP below the ceiling
      // (so that the emulation runs a few blocks before it waits again), in waits as long as the
      // device needs to take the excess, but at least a millisecond.
      for (;;) {
        const double excess = queue_level(now) - (queue.ceiling - MIN_SLEEP.count());
        if (excess <= 0) break;
        std::this_thread::sleep_for(std::max(Seconds(0.001), Seconds(excess)));
        now = Clock::now();
      }
      p.anchor = now - console_time;
    }
  }
  report_when_due(now);
  p.resumed = Clock::now();
}

// The sample sink: the rest of a full buffer, just before the stream goes on in the other one.
// Runs inside apu_tick; it queues, and waits only where the sound goes on after a stop.
void finish_buffer(const int16_t* samples, size_t count) {
  if (!p.stop.fast) {
    if (p.stop.stopped) go_on_after_stop();
    queue_samples(samples, p.read_pos, static_cast<uint32_t>(count));
  }
  p.read_buffer ^= 1;
  p.read_pos = 0;
}

}  // namespace

// The same on every platform, whichever device plays.
void audio_out_follow_stream() {
  if (p.stage && !p.stop.stopped) fade_out();
  p.read_buffer = sample_stream.current_buffer;
  p.read_pos = sample_stream.sample_pos;
  p.console_frames = ppu.frames;
}

void audio_out_stop() {
  if (!p.stage || p.stop.stopped) return;
  // What was made up to here is heard, and then the fall to 0.
  const SampleStream& s = sample_stream;
  if (s.current_buffer == p.read_buffer) queue_samples(s.buffers[p.read_buffer], p.read_pos, s.sample_pos);
  p.read_pos = s.sample_pos;
  fade_out();
  p.stop.stopped = true;
  p.stop.since = Clock::now();
}

void audio_out_finish() {
  audio_out_stop();
  if (!p.stage || !p.playing) return;
  play_out();
  // The last samples taken from the queue are heard within the device's period.
  std::this_thread::sleep_for(Seconds(2 * p.period));
}

void audio_out_set_fast_forward(bool on) {
  if (!p.stage || on == p.stop.fast) return;
  if (on) audio_out_stop();
  p.stop.fast = on;
  // The report's periods are of one kind only; once back, the sound starts afresh as after a pause.
  const Clock::time_point now = Clock::now();
  start_report_period(now);
  p.stop.since = now;
}

void paced_sound_set_queue_target(int milliseconds) {
  milliseconds = std::clamp(milliseconds, MIN_QUEUE_TARGET_MS, MAX_QUEUE_TARGET_MS);
  queue = band_around(milliseconds / 1000.0);
}

void paced_sound_start(const SoundDevice* device) {
  if (p.rate_log) std::fclose(p.rate_log);  // started again (the tests do): from scratch
  p = Pacing{};
  p.device = device;
  if (device) p.period = device->period;
  p.resampler = std::make_unique<Resampler>(SAMPLE_RATE, SOUND_DEVICE_RATE);
  p.stage = std::make_unique<OutputStage>(SOUND_DEVICE_RATE);
  p.converted.resize(p.resampler->max_output(SAMPLES_PER_BUFFER));
  audio_out_follow_stream();
  p.frames = 0;
  p.report.enabled = std::getenv("NES_DEBUG") != nullptr;
  p.report.period_start = p.last_update = p.resumed = Clock::now();
  if (const char* path = std::getenv("NES_RATE_LOG")) {
    p.rate_log = std::fopen(path, "w");
    if (p.rate_log) std::setvbuf(p.rate_log, nullptr, _IOFBF, 1 << 16);
  }
  audio_sink = finish_buffer;
  pace_hook = keep_pace;
}
