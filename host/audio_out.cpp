// Plays the console's sample stream (1789800 samples per second) on the audio device with little
// delay. Every few milliseconds of console time the pace hook takes the samples made since its last
// call from the buffer being filled, converts them to the device rate, passes them through the
// output stage (high-pass, fade-in) and queues them; the sample sink takes the rest of each buffer
// as it is handed off. The emulation is paced by the system clock, at the console's real speed;
// the rate control keeps the device queue near QUEUE_TARGET against the difference between that
// clock and the device's, and where the queue leaves [QUEUE_FLOOR, QUEUE_CEILING] all the same the
// emulation follows the queue. Without a device a silent stand-in plays by the system clock.
#include "host/audio_out.h"

#include <SDL.h>

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
#include "host/output_stage.h"
#include "host/resampler.h"
#include "ppu/ppu.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int DEVICE_RATE = 48000;       // every device and driver takes it
constexpr Uint16 DEVICE_PERIOD = 240;    // frames the device takes at a time: 5 ms
const Seconds PERIOD_LENGTH(double(DEVICE_PERIOD) / DEVICE_RATE);
// Sound queued and not yet taken by the device, in seconds.
constexpr double QUEUE_TARGET = 0.022;
constexpr double QUEUE_FLOOR = 0.010;    // below: the emulation runs ahead of the clock
constexpr double QUEUE_CEILING = 0.028;  // above: the emulation waits for the device
constexpr double CONTROL_SWING = 0.006;   // distance from the target that gets the full adjustment
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

// Everything here belongs to the emulation thread, which opens it.
struct AudioOut {
  SDL_AudioDeviceID device = 0;          // 0: the silent stand-in
  bool playing = false;                  // the queue reached its target once and playing began
  bool filling = true;                   // running ahead of the clock until the queue is full
  std::unique_ptr<Resampler> resampler;
  std::unique_ptr<OutputStage> stage;
  RateController control{QUEUE_TARGET, CONTROL_SWING};
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
  Report report;
};
AudioOut audio_out;

// Sound queued and not yet taken, in seconds.
double queue_level(Clock::time_point now) {
  AudioOut& a = audio_out;
  if (a.device != 0) {
    if (SDL_GetAudioDeviceStatus(a.device) != SDL_AUDIO_STOPPED)
      return double(SDL_GetQueuedAudioSize(a.device) / sizeof(int16_t)) / DEVICE_RATE;
    // The device went away: from here on the stand-in plays what it still had.
    a.device = 0;
    a.stand_in_until = now;
  }
  if (!a.playing) return a.stand_in_level;
  return std::max(0.0, Seconds(a.stand_in_until - now).count());
}

void record_block(double latency_ms, double level) {
  Report& r = audio_out.report;
  if (r.blocks < r.latency_ms.size()) r.latency_ms[r.blocks] = static_cast<float>(latency_ms);
  ++r.blocks;
  r.max_latency_ms = std::max(r.max_latency_ms, static_cast<float>(latency_ms));
  r.level_sum += level;
}

// Converts samples[from, to) of the stream and queues them.
void queue_samples(const int16_t* samples, uint32_t from, uint32_t to) {
  AudioOut& a = audio_out;
  if (to <= from) return;
  if (a.resampler->inputs_taken() == 0) a.resampler->hold(samples[from]);
  const size_t frames = a.resampler->process(samples + from, to - from, a.converted.data());
  if (frames == 0) return;
  a.stage->process(a.converted.data(), frames);

  const Clock::time_point now = Clock::now();
  const double level = queue_level(now);
  const Seconds length(double(frames) / DEVICE_RATE);
  if (a.device != 0) {
    SDL_QueueAudio(a.device, a.converted.data(), static_cast<Uint32>(frames * sizeof(int16_t)));
  } else if (a.playing) {
    a.stand_in_until = std::max(a.stand_in_until, now) + std::chrono::duration_cast<Clock::duration>(length);
  } else {
    a.stand_in_level += length.count();
  }
  if (!a.playing) return;

  // An empty queue while playing: the device is taking, or about to take, silence.
  if (level == 0.0) {
    if (!a.starving) {
      ++a.underruns;
      ++a.report.underruns;
    }
    a.starving = true;
  } else {
    a.starving = false;
  }
  if (a.report.enabled) {
    // The oldest sample of the block was made when the emulation resumed, the newest just now; the
    // device takes the block's first sample when it has taken the `level` ahead of it, and plays
    // what it takes within a period. The later of the two ends bounds every sample's delay.
    const double made_over = Seconds(now - a.resumed).count();
    const double latency = level + PERIOD_LENGTH.count() + std::max(made_over, length.count());
    record_block(latency * 1000, level + length.count());
  }
}

void print_report(Clock::time_point now) {
  Report& r = audio_out.report;
  const double elapsed = Seconds(now - r.period_start).count();
  const size_t kept = std::min(r.blocks, r.latency_ms.size());
  double median = 0;
  if (kept != 0) {
    const auto middle = r.latency_ms.begin() + static_cast<ptrdiff_t>(kept / 2);
    std::nth_element(r.latency_ms.begin(), middle, r.latency_ms.begin() + static_cast<ptrdiff_t>(kept));
    median = *middle;
  }
  std::printf("nes: %.2f frames/s; sound latency median %.1f ms, max %.1f ms; queue %.1f ms; "
              "rate adjustment %+.3f%% to %+.3f%%; underruns %llu (%llu in all); %s\n",
              double(ppu.frames - r.frames_at_period_start) / elapsed, median, double(r.max_latency_ms),
              r.blocks ? r.level_sum / double(r.blocks) * 1000 : 0.0, r.lowest_adjustment * 100,
              r.highest_adjustment * 100, static_cast<unsigned long long>(r.underruns),
              static_cast<unsigned long long>(audio_out.underruns),
              audio_out.device != 0 ? "audio device" : "silent stand-in");
  std::fflush(stdout);
  const double adjustment = audio_out.control.adjustment();
  r.period_start = now;
  r.frames_at_period_start = ppu.frames;
  r.blocks = 0;
  r.max_latency_ms = 0;
  r.level_sum = 0;
  r.lowest_adjustment = r.highest_adjustment = adjustment;
  r.underruns = 0;
}

void set_rate_adjustment(double adjustment) {
  AudioOut& a = audio_out;
  a.resampler->set_rate_adjustment(adjustment);
  if (a.rate_log)  // buffered, written out once a second: a write can wait on a busy disk
    std::fprintf(a.rate_log, "%llu %a\n", static_cast<unsigned long long>(a.resampler->inputs_taken()),
                 adjustment);
  a.report.lowest_adjustment = std::min(a.report.lowest_adjustment, adjustment);
  a.report.highest_adjustment = std::max(a.report.highest_adjustment, adjustment);
}

void sleep_until(Clock::time_point t) {
  if (Clock::now() < t) std::this_thread::sleep_until(t);
}

// The pace hook, every few milliseconds of console time.
void keep_pace() {
  AudioOut& a = audio_out;
  const SampleStream& s = sample_stream;
  queue_samples(s.buffers[a.read_buffer], a.read_pos, s.sample_pos);
  a.read_pos = s.sample_pos;

  Clock::time_point now = Clock::now();
  const double level = queue_level(now);
  if (!a.filling) {  // while filling, the pace itself brings the queue back
    const double before = a.control.adjustment();
    const double after = a.control.update(level, Seconds(now - a.last_update).count());
    if (after != before) set_rate_adjustment(after);
  }
  a.last_update = now;

  const Seconds made(double(a.resampler->inputs_taken()) / SAMPLE_RATE);
  const auto console_time = std::chrono::duration_cast<Clock::duration>(made);
  if (a.filling) {
    // At the start, and after the queue ran low: as fast as the machine runs up to the target,
    // then by the clock from there.
    if (level >= QUEUE_TARGET) {
      a.filling = false;
      if (!a.playing) {
        a.playing = true;
        if (a.device != 0) SDL_PauseAudioDevice(a.device, 0);
        else a.stand_in_until = now + std::chrono::duration_cast<Clock::duration>(Seconds(a.stand_in_level));
      }
      a.anchor = now - console_time;
    }
  } else if (level < QUEUE_FLOOR) {
    a.filling = true;  // the device takes faster than the clock, or the emulation was held up
  } else {
    if (now - (a.anchor + console_time) > MAX_CATCH_UP) a.anchor = now - console_time;
    sleep_until(a.anchor + console_time);
    now = Clock::now();
    if (queue_level(now) > QUEUE_CEILING) {
      // The device takes slower than the clock: follow it.
      do {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        now = Clock::now();
      } while (queue_level(now) > QUEUE_CEILING);
      a.anchor = now - console_time;
    }
  }
  if (now - a.report.period_start >= REPORT_PERIOD) {
    if (a.rate_log) std::fflush(a.rate_log);
    if (a.report.enabled) print_report(now);
    else a.report.period_start = now;
  }
  a.resumed = Clock::now();
}

// The sample sink: the rest of a full buffer, just before the stream goes on in the other one.
// Runs inside apu_tick; it queues but never waits.
void finish_buffer(const int16_t* samples, size_t count) {
  AudioOut& a = audio_out;
  queue_samples(samples, a.read_pos, static_cast<uint32_t>(count));
  a.read_buffer ^= 1;
  a.read_pos = 0;
}

}  // namespace

void audio_out_follow_stream() {
  audio_out.read_buffer = sample_stream.current_buffer;
  audio_out.read_pos = sample_stream.sample_pos;
}

std::string audio_out_open() {
  AudioOut& a = audio_out;
  a.resampler = std::make_unique<Resampler>(SAMPLE_RATE, DEVICE_RATE);
  a.stage = std::make_unique<OutputStage>(DEVICE_RATE);
  a.converted.resize(a.resampler->max_output(SAMPLES_PER_BUFFER));
  audio_out_follow_stream();
  a.report.enabled = std::getenv("NES_DEBUG") != nullptr;
  a.report.period_start = a.last_update = a.resumed = Clock::now();
  if (const char* path = std::getenv("NES_RATE_LOG")) {
    a.rate_log = std::fopen(path, "w");
    if (a.rate_log) std::setvbuf(a.rate_log, nullptr, _IOFBF, 1 << 16);
  }
  audio_sink = finish_buffer;
  pace_hook = keep_pace;
  // This thread makes the sound a few milliseconds before the device needs it: where the system
  // allows, it goes before ordinary work (on Linux a lower nice value, or through RealtimeKit).
  SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);

  std::string chosen = "no audio device, silent at the same pace";
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return chosen + " (" + SDL_GetError() + ")";
  SDL_AudioSpec wanted{};
  wanted.freq = DEVICE_RATE;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = 1;
  wanted.samples = DEVICE_PERIOD;
  wanted.callback = nullptr;  // fed through SDL_QueueAudio
  SDL_AudioSpec got{};
  a.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &got, 0);
  if (a.device == 0) return chosen + " (" + SDL_GetError() + ")";
  // Paused (silent) until the queue first reaches its target.
  return std::string("audio device ") + SDL_GetCurrentAudioDriver();
}
