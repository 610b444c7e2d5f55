// Hands the console's sample buffers (1789800 samples per second, 0.1 s each) to the audio device
// at its own rate, and holds the emulation back so that no more than two buffers' worth of sound is
// ever made and not yet played. Without a device a silent stand-in keeps the same pace by the clock.
#include "host/audio_out.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "apu/apu.h"
#include "core/driver.h"
#include "host/resampler.h"
#include "ppu/ppu.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr int DEVICE_RATE = 48000;        // every device and driver takes it
constexpr Uint16 DEVICE_PERIOD = 960;     // frames the device takes at a time: 20 ms
const Seconds BUFFER_LENGTH(double(SAMPLES_PER_BUFFER) / SAMPLE_RATE);
// Sound made but not yet played, at most: the buffer being filled and the one before it.
const Seconds MAX_UNPLAYED = 2 * BUFFER_LENGTH;
constexpr auto SHORTEST_WAIT = std::chrono::milliseconds(1);
constexpr int BUFFERS_PER_REPORT = 10;    // one second of sound

// Timing of the hand-offs, printed once per second of sound when NES_DEBUG is set.
struct HandOffReport {
  bool enabled = false;
  Clock::time_point previous_hand_off{};   // when the emulation went on after the last hand-off,
                                           // that is, when the next buffer's first sample was made
  Clock::time_point period_start{};
  uint64_t frames_at_period_start = 0;
  int buffers = 0;
  double newest_wait_ms = 0, oldest_wait_ms = 0, behind_ms = 0;  // sums over the period
};

// Everything here belongs to the emulation thread, which opens it.
struct AudioOut {
  SDL_AudioDeviceID device = 0;   // 0: the silent stand-in
  std::unique_ptr<Resampler> resampler;
  std::vector<int16_t> converted;
  Clock::time_point silence_played_until{};  // stand-in: when it has played all it was given
  HandOffReport report;
};
AudioOut audio_out;

// Sound handed over and not yet played.
Seconds backlog() {
  if (audio_out.device != 0) {
    if (SDL_GetAudioDeviceStatus(audio_out.device) == SDL_AUDIO_PLAYING)
      return Seconds(double(SDL_GetQueuedAudioSize(audio_out.device) / sizeof(int16_t)) / DEVICE_RATE);
    audio_out.device = 0;  // the device went away: from here on the stand-in keeps the pace
  }
  return std::max(Seconds(0), Seconds(audio_out.silence_played_until - Clock::now()));
}

void wait_until_backlog_at_most(Seconds limit) {
  for (Seconds b = backlog(); b > limit; b = backlog())
    std::this_thread::sleep_for(
        std::max<Clock::duration>(SHORTEST_WAIT, std::chrono::duration_cast<Clock::duration>(b - limit)));
}

// The pace hook, every 10000 steps: what the device still has to play plus what the buffer being
// filled holds may not exceed MAX_UNPLAYED. Waiting here, in small steps, keeps the machine at an
// even real-time pace rather than a burst per buffer.
void keep_pace() {
  const Seconds filling(double(sample_stream.sample_pos) / SAMPLE_RATE);
  wait_until_backlog_at_most(MAX_UNPLAYED - filling);
}

void report_hand_off(Clock::time_point filled, Clock::time_point handed, Seconds behind) {
  HandOffReport& r = audio_out.report;
  if (r.previous_hand_off == Clock::time_point{}) {  // the first buffer: start measuring
    r.period_start = handed;
    r.frames_at_period_start = ppu.frames;
    return;
  }
  r.newest_wait_ms += Seconds(handed - filled).count() * 1000;
  r.oldest_wait_ms += Seconds(handed - r.previous_hand_off).count() * 1000;
  r.behind_ms += behind.count() * 1000;
  if (++r.buffers < BUFFERS_PER_REPORT) return;
  const double elapsed = Seconds(handed - r.period_start).count();
  std::printf("nes: %.2f frames/s; sound waits %.1f ms (newest sample) to %.1f ms (oldest) for its "
              "hand-off, behind %.1f ms still unplayed; %s\n",
              double(ppu.frames - r.frames_at_period_start) / elapsed, r.newest_wait_ms / r.buffers,
              r.oldest_wait_ms / r.buffers, r.behind_ms / r.buffers,
              audio_out.device != 0 ? "audio device" : "silent stand-in");
  std::fflush(stdout);
  r.period_start = handed;
  r.frames_at_period_start = ppu.frames;
  r.buffers = 0;
  r.newest_wait_ms = r.oldest_wait_ms = r.behind_ms = 0;
}

// The sample sink: runs on the emulation thread inside apu_tick with one full buffer. The pace hook
// has normally made room already; this wait is the guarantee of at most two unplayed buffers.
void hand_off(const int16_t* samples, size_t count) {
  const Clock::time_point filled = Clock::now();
  const size_t frames = audio_out.resampler->process(samples, count, audio_out.converted.data());
  wait_until_backlog_at_most(MAX_UNPLAYED - BUFFER_LENGTH);
  const Seconds behind = backlog();
  const Clock::time_point handed = Clock::now();
  if (audio_out.device != 0) {
    SDL_QueueAudio(audio_out.device, audio_out.converted.data(),
                   static_cast<Uint32>(frames * sizeof(int16_t)));
  } else {
    audio_out.silence_played_until = std::max(audio_out.silence_played_until, handed) +
                                     std::chrono::duration_cast<Clock::duration>(BUFFER_LENGTH);
  }
  if (audio_out.report.enabled) {
    report_hand_off(filled, handed, behind);
    audio_out.report.previous_hand_off = Clock::now();
  }
}

}  // namespace

std::string audio_out_open() {
  audio_out.resampler = std::make_unique<Resampler>(SAMPLE_RATE, DEVICE_RATE);
  audio_out.converted.resize(audio_out.resampler->max_output(SAMPLES_PER_BUFFER));
  audio_out.report.enabled = std::getenv("NES_DEBUG") != nullptr;
  audio_sink = hand_off;
  pace_hook = keep_pace;

  std::string chosen = "no audio device, silent at the same pace";
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return chosen + " (" + SDL_GetError() + ")";
  SDL_AudioSpec wanted{};
  wanted.freq = DEVICE_RATE;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = 1;
  wanted.samples = DEVICE_PERIOD;
  wanted.callback = nullptr;  // fed through SDL_QueueAudio
  SDL_AudioSpec got{};
  audio_out.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &got, 0);
  if (audio_out.device == 0) return chosen + " (" + SDL_GetError() + ")";
  SDL_PauseAudioDevice(audio_out.device, 0);
  return std::string("audio device ") + SDL_GetCurrentAudioDriver();
}
