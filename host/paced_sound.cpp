#include "host/paced_sound.h"

#include <algorithm>
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
constexpr auto SHORTEST_WAIT = std::chrono::milliseconds(1);
const Seconds TARGET = SOUND_QUEUE_TARGET;

// Latency of the pieces over one second of sound, printed when NES_DEBUG is set.
struct LatencyReport {
  bool enabled = false;
  Clock::time_point period_start{};
  uint64_t frames_at_period_start = 0;
  std::vector<double> latencies_ms;
};

// Everything here belongs to the emulation thread.
struct Pacing {
  const SoundDevice* device = nullptr;       // null: the silent stand-in
  Clock::time_point silence_played_until{};  // stand-in: when it has played all it was given
  std::unique_ptr<Resampler> resampler;
  std::vector<int16_t> converted;
  int taken_buffer = 0;             // the piece of the sample stream already converted
  uint32_t taken_pos = 0;
  Clock::time_point last_piece{};   // when the previous piece was queued: the next one began then
  LatencyReport report;
};
Pacing p;

// Sound queued and not yet played.
Seconds backlog() {
  if (p.device) {
    const double b = p.device->backlog();
    if (b >= 0) return Seconds(b);
    p.device = nullptr;  // the device went away: from here on the stand-in keeps the pace
  }
  return std::max(Seconds(0), Seconds(p.silence_played_until - Clock::now()));
}

void wait_until_backlog_at_most(Seconds limit) {
  for (Seconds b = backlog(); b > limit; b = backlog())
    std::this_thread::sleep_for(
        std::max<Clock::duration>(SHORTEST_WAIT, std::chrono::duration_cast<Clock::duration>(b - limit)));
}

void queue(const int16_t* samples, size_t count) {
  if (p.device) {
    p.device->queue(samples, count);
  } else {
    p.silence_played_until = std::max(p.silence_played_until, Clock::now()) +
        std::chrono::duration_cast<Clock::duration>(Seconds(double(count) / SOUND_DEVICE_RATE));
  }
}

void report_piece(Clock::time_point now, Seconds before, Seconds length) {
  LatencyReport& r = p.report;
  if (p.last_piece == Clock::time_point{}) {  // the first piece: start measuring
    r.period_start = now;
    r.frames_at_period_start = ppu.frames;
    return;
  }
  // The piece's first sample was made when the previous piece was queued and plays after what was
  // queued before this piece; its last sample was made now and plays after the whole piece.
  const double first = Seconds(now - p.last_piece).count() + before.count();
  const double last = before.count() + length.count();
  r.latencies_ms.push_back(std::max(first, last) * 1000);
  const double elapsed = Seconds(now - r.period_start).count();
  if (elapsed < 1.0) return;
  std::vector<double>& l = r.latencies_ms;
  std::sort(l.begin(), l.end());
  std::printf("nes: %.2f frames/s; sound latency median %.1f ms, max %.1f ms over %zu pieces; %s\n",
              double(ppu.frames - r.frames_at_period_start) / elapsed, l[l.size() / 2], l.back(), l.size(),
              p.device ? p.device->name : "silent stand-in");
  std::fflush(stdout);
  l.clear();
  r.period_start = now;
  r.frames_at_period_start = ppu.frames;
}

// Converts the samples [from, to) of a sample buffer and queues them.
void take(const int16_t* samples, uint32_t from, uint32_t to) {
  if (to <= from) return;
  const size_t count = p.resampler->process(samples + from, to - from, p.converted.data());
  const Seconds before = backlog();
  queue(p.converted.data(), count);
  const Clock::time_point now = Clock::now();
  if (p.report.enabled) report_piece(now, before, Seconds(double(count) / SOUND_DEVICE_RATE));
  p.last_piece = now;
}

// The pace hook, every 10000 instructions: the new samples go to the device, then the emulation
// waits until only TARGET is left to play. After a jump of the machine's state (a loaded state,
// rewind, another image) the stream goes on from where the machine now is.
void keep_pace() {
  const SampleStream& s = sample_stream;
  if (s.current_buffer != p.taken_buffer || s.sample_pos < p.taken_pos) {
    p.taken_buffer = s.current_buffer;
    p.taken_pos = s.sample_pos;
  }
  take(s.buffers[s.current_buffer], p.taken_pos, s.sample_pos);
  p.taken_pos = s.sample_pos;
  wait_until_backlog_at_most(TARGET);
}

// The sample sink, with each full buffer: what the pace hook has not taken yet.
void hand_off(const int16_t* samples, size_t count) {
  if (sample_stream.current_buffer == p.taken_buffer && p.taken_pos <= count)
    take(samples, p.taken_pos, static_cast<uint32_t>(count));
  p.taken_buffer = sample_stream.current_buffer ^ 1;  // the next buffer, from its start
  p.taken_pos = 0;
  wait_until_backlog_at_most(TARGET);
}

}  // namespace

void paced_sound_start(const SoundDevice* device) {
  p.device = device;
  p.resampler = std::make_unique<Resampler>(SAMPLE_RATE, SOUND_DEVICE_RATE);
  p.converted.resize(p.resampler->max_output(SAMPLES_PER_BUFFER));
  p.report.enabled = std::getenv("NES_DEBUG") != nullptr;
  p.taken_buffer = sample_stream.current_buffer;
  p.taken_pos = sample_stream.sample_pos;
  audio_sink = hand_off;
  pace_hook = keep_pace;
}
