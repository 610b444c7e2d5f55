// The console's sound through waveOut: 48000 Hz mono 16-bit, a rate every card takes. The sample
// stream is taken in small pieces, at every pace hook (after each 10000 instructions) and at every
// full buffer, converted by the shared resampler and queued as one wave block per piece. The
// emulation then waits until no more than TARGET of queued sound is still unplayed, so that a
// sample is heard about TARGET to TARGET plus one piece after it was made. Where waveOutOpen fails
// (no device, as under Wine here), a silent stand-in plays by the clock at the same pace.
#include "host/audio_out.h"

#include <windows.h>
#include <mmsystem.h>

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
#include "host/resampler.h"
#include "ppu/ppu.h"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

constexpr DWORD DEVICE_RATE = 48000;
// Queued sound the emulation lets the device keep: the latency floor, and the margin against a
// late piece.
const Seconds TARGET(0.020);
constexpr size_t BLOCKS = 32;                 // wave blocks in turn; far more than TARGET needs
constexpr size_t BLOCK_FRAMES = 4096;         // most output samples in one block (85 ms)
constexpr auto SHORTEST_WAIT = std::chrono::milliseconds(1);

struct Block {
  WAVEHDR header{};
  std::array<int16_t, BLOCK_FRAMES> samples{};
};

// Latency of the pieces over one second of sound, printed when NES_DEBUG is set.
struct LatencyReport {
  bool enabled = false;
  Clock::time_point period_start{};
  uint64_t frames_at_period_start = 0;
  std::vector<double> latencies_ms;
};

// Everything here belongs to the emulation thread, which opens it.
struct AudioOut {
  HWAVEOUT device = nullptr;        // null: the silent stand-in
  std::vector<Block> blocks = std::vector<Block>(BLOCKS);
  size_t next_block = 0;
  uint64_t frames_queued = 0;       // output samples handed to the device so far
  Clock::time_point silence_played_until{};  // stand-in: when it has played all it was given
  std::unique_ptr<Resampler> resampler;
  std::vector<int16_t> converted;
  int taken_buffer = 0;             // the piece of the sample stream already converted
  uint32_t taken_pos = 0;
  Clock::time_point last_piece{};   // when the previous piece was queued: the next one began then
  LatencyReport report;
};
AudioOut out;

// Sound queued and not yet played.
Seconds backlog() {
  if (out.device) {
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(out.device, &time, sizeof time) == MMSYSERR_NOERROR && time.wType == TIME_SAMPLES) {
      const uint64_t played = std::min<uint64_t>(time.u.sample, out.frames_queued);
      return Seconds(double(out.frames_queued - played) / DEVICE_RATE);
    }
  }
  return std::max(Seconds(0), Seconds(out.silence_played_until - Clock::now()));
}

void wait_until_backlog_at_most(Seconds limit) {
  for (Seconds b = backlog(); b > limit; b = backlog())
    std::this_thread::sleep_for(
        std::max<Clock::duration>(SHORTEST_WAIT, std::chrono::duration_cast<Clock::duration>(b - limit)));
}

// Hands `frames` converted samples to the device, waiting for a free block when all are queued.
void queue(const int16_t* samples, size_t frames) {
  while (frames > 0) {
    const size_t n = std::min(frames, BLOCK_FRAMES);
    if (!out.device) {
      out.silence_played_until = std::max(out.silence_played_until, Clock::now()) +
                                 std::chrono::duration_cast<Clock::duration>(Seconds(double(n) / DEVICE_RATE));
    } else {
      Block& b = out.blocks[out.next_block];
      while (b.header.dwFlags & WHDR_PREPARED && !(b.header.dwFlags & WHDR_DONE))
        std::this_thread::sleep_for(SHORTEST_WAIT);
      if (b.header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(out.device, &b.header, sizeof b.header);
      std::copy(samples, samples + n, b.samples.begin());
      b.header = WAVEHDR{};
      b.header.lpData = reinterpret_cast<LPSTR>(b.samples.data());
      b.header.dwBufferLength = static_cast<DWORD>(n * sizeof(int16_t));
      waveOutPrepareHeader(out.device, &b.header, sizeof b.header);
      waveOutWrite(out.device, &b.header, sizeof b.header);
      out.next_block = (out.next_block + 1) % BLOCKS;
    }
    out.frames_queued += n;
    samples += n;
    frames -= n;
  }
}

void report_piece(Clock::time_point now, Seconds before, Seconds length) {
  LatencyReport& r = out.report;
  if (out.last_piece == Clock::time_point{}) {  // the first piece: start measuring
    r.period_start = now;
    r.frames_at_period_start = ppu.frames;
    return;
  }
  // The piece's first sample was made when the previous piece was queued and plays after what was
  // queued before this piece; its last sample was made now and plays after the whole piece.
  const double first = Seconds(now - out.last_piece).count() + before.count();
  const double last = before.count() + length.count();
  r.latencies_ms.push_back(std::max(first, last) * 1000);
  const double elapsed = Seconds(now - r.period_start).count();
  if (elapsed < 1.0) return;
  std::vector<double>& l = r.latencies_ms;
  std::sort(l.begin(), l.end());
  std::printf("nes: %.2f frames/s; sound latency median %.1f ms, max %.1f ms over %zu pieces; %s\n",
              double(ppu.frames - r.frames_at_period_start) / elapsed, l[l.size() / 2], l.back(), l.size(),
              out.device ? "waveOut" : "silent stand-in");
  std::fflush(stdout);
  l.clear();
  r.period_start = now;
  r.frames_at_period_start = ppu.frames;
}

// Converts the samples [from, to) of the buffer being filled and queues them.
void take(const int16_t* samples, uint32_t from, uint32_t to) {
  if (to <= from) return;
  const size_t frames = out.resampler->process(samples + from, to - from, out.converted.data());
  const Seconds before = backlog();
  queue(out.converted.data(), frames);
  const Clock::time_point now = Clock::now();
  if (out.report.enabled) report_piece(now, before, Seconds(double(frames) / DEVICE_RATE));
  out.last_piece = now;
}

// The pace hook, every 10000 instructions: the new samples go to the device, then the emulation
// waits until only TARGET is left to play. After a jump of the machine's state (a loaded state,
// rewind, another image) the stream goes on from where the machine now is.
void keep_pace() {
  const SampleStream& s = sample_stream;
  if (s.current_buffer != out.taken_buffer || s.sample_pos < out.taken_pos) {
    out.taken_buffer = s.current_buffer;
    out.taken_pos = s.sample_pos;
  }
  take(s.buffers[s.current_buffer], out.taken_pos, s.sample_pos);
  out.taken_pos = s.sample_pos;
  wait_until_backlog_at_most(TARGET);
}

// The sample sink, with each full buffer: what the pace hook has not taken yet.
void hand_off(const int16_t* samples, size_t count) {
  if (sample_stream.current_buffer == out.taken_buffer && out.taken_pos <= count)
    take(samples, out.taken_pos, static_cast<uint32_t>(count));
  out.taken_buffer = sample_stream.current_buffer ^ 1;  // the next buffer, from its start
  out.taken_pos = 0;
  wait_until_backlog_at_most(TARGET);
}

}  // namespace

std::string audio_out_open() {
  out.resampler = std::make_unique<Resampler>(SAMPLE_RATE, DEVICE_RATE);
  out.converted.resize(out.resampler->max_output(SAMPLES_PER_BUFFER));
  out.report.enabled = std::getenv("NES_DEBUG") != nullptr;
  out.taken_buffer = sample_stream.current_buffer;
  out.taken_pos = sample_stream.sample_pos;
  audio_sink = hand_off;
  pace_hook = keep_pace;

  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = DEVICE_RATE;
  format.wBitsPerSample = 16;
  format.nBlockAlign = sizeof(int16_t);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  const MMRESULT result = waveOutOpen(&out.device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
  if (result != MMSYSERR_NOERROR) {
    out.device = nullptr;
    return "no audio device, silent at the same pace (waveOutOpen error " + std::to_string(result) + ")";
  }
  return "audio device waveOut, 48000 Hz";
}
