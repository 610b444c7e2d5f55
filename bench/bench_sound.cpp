// Cost of the window program's sound path on its emulation thread: the console's sample stream
// converted to the device rate by the Resampler and passed through the output stage, block by block
// as host/paced_sound.cpp takes it (the samples made since the last pace hook, every 1000 CPU
// steps, and the rest of each buffer at its hand-off).
//
// The stream is one second recorded in-process, with the block boundaries that the pace hook saw:
// BM_SoundPath_music is a public cartridge's title music, BM_SoundPath_demo our demo cartridge in
// play, BM_SoundPath_busiest every tone channel at its fastest (the triangle stepping every third
// cycle, the noise at its shortest period, both pulses at their highest note), the most changes of
// level per second the console makes. Each iteration converts the second once, the converter going
// on from the previous iteration. `core_pct` is the thread's CPU time per second of console sound
// in percent: what the sound path costs the emulation thread at real time. `changes_per_s` counts
// the samples that differ from the one before. BM_SoundPathMovingRate_music changes the rate
// adjustment before every block, as often as the pacing ever could.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "core/driver.h"
#include "core/joypad.h"
#include "host/output_stage.h"
#include "host/paced_sound.h"
#include "host/resampler.h"
#include "ppu/ppu.h"

namespace {

// One second of the stream and the lengths of the blocks it was taken in.
struct Recording {
  std::vector<int16_t> samples;
  std::vector<uint32_t> blocks;
  uint64_t changes = 0;  // samples that differ from the one before
};

Recording recording;
uint32_t read_pos = 0;
bool recording_on = false;

void take(const int16_t* samples, uint32_t from, uint32_t to) {
  if (!recording_on || to <= from) return;
  recording.samples.insert(recording.samples.end(), samples + from, samples + to);
  recording.blocks.push_back(to - from);
}
void sink(const int16_t* samples, size_t count) {
  take(samples, read_pos, static_cast<uint32_t>(count));
  read_pos = 0;
}
void hook() {
  take(sample_stream.buffers[sample_stream.current_buffer], read_pos, sample_stream.sample_pos);
  read_pos = sample_stream.sample_pos;
}

// The busiest stream: pulses at duty 50% and period 8, the triangle at period 2 (a new step every
// third cycle), the noise at period index 0, all at full volume and held there.
void busiest_channels() {
  apu_write(0x15, 0x0F);
  apu_write(0x00, 0xBF); apu_write(0x02, 0x08); apu_write(0x03, 0x08);
  apu_write(0x04, 0xBF); apu_write(0x06, 0x08); apu_write(0x07, 0x08);
  apu_write(0x08, 0xFF); apu_write(0x0A, 0x02); apu_write(0x0B, 0x08);
  apu_write(0x0C, 0x3F); apu_write(0x0E, 0x00); apu_write(0x0F, 0x08);
}

// Runs `image` for `skip` frames, then records the next 60 (a second). `play`: hold Start for the
// first frames and Right after them, so that the demo leaves its title; `setup`: called after
// power-on.
bool record(const char* image, int skip, bool play, void (*setup)()) {
  std::string error;
  // The cartridge's summary line is not wanted among the results.
  std::fflush(stdout);
  const int kept = dup(1), null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  const bool loaded = machine_power_on(image, error);
  std::fflush(stdout);
  dup2(kept, 1);
  close(kept);
  close(null);
  if (!loaded) {
    std::fprintf(stderr, "bench_sound: %s\n", error.c_str());
    return false;
  }
  if (setup) setup();
  recording = Recording{};
  read_pos = sample_stream.sample_pos;
  audio_sink = sink;
  pace_hook = hook;
  for (int frame = 0; frame < skip + 60; ++frame) {
    if (play) button_state[0] = frame < 30 ? BUTTON_START : frame < 40 ? 0 : BUTTON_RIGHT;
    recording_on = frame >= skip;
    run_frame();
  }
  audio_sink = nullptr;
  pace_hook = nullptr;
  for (size_t i = 1; i < recording.samples.size(); ++i)
    recording.changes += recording.samples[i] != recording.samples[i - 1];
  return true;
}

double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void run(benchmark::State& state, const char* image, int skip, bool play, void (*setup)(),
         bool moving_rate) {
  if (!record(image, skip, play, setup)) {
    state.SkipWithError("the cartridge could not be loaded");
    return;
  }
  const Recording r = recording;
  Resampler resampler(SAMPLE_RATE, SOUND_DEVICE_RATE);
  OutputStage stage(SOUND_DEVICE_RATE);
  uint32_t largest = 0;
  for (const uint32_t b : r.blocks) largest = std::max(largest, b);
  std::vector<int16_t> out(resampler.max_output(largest));
  resampler.hold(r.samples[0]);
  uint64_t block_count = 0, outputs = 0;
  const double cpu_start = thread_seconds();
  for (auto _ : state) {
    const int16_t* in = r.samples.data();
    for (const uint32_t b : r.blocks) {
      if (moving_rate)  // a slow sweep over the controller's range, a new value every block
        resampler.set_rate_adjustment(0.005 * static_cast<double>(block_count % 2001 - 1000) / 1000.0);
      const size_t n = resampler.process(in, b, out.data());
      stage.process(out.data(), n);
      benchmark::DoNotOptimize(out.data());
      in += b;
      outputs += n;
      ++block_count;
    }
  }
  const double cpu = thread_seconds() - cpu_start;
  const double seconds = static_cast<double>(r.samples.size()) / SAMPLE_RATE;
  state.counters["core_pct"] = 100.0 * cpu / (static_cast<double>(state.iterations()) * seconds);
  state.counters["blocks_per_s"] = static_cast<double>(r.blocks.size()) / seconds;
  state.counters["changes_per_s"] = static_cast<double>(r.changes) / seconds;
  state.counters["outputs_per_s"] =
      static_cast<double>(outputs) / static_cast<double>(state.iterations()) / seconds;
}

constexpr const char* MUSIC = BENCH_CARTRIDGE;
void BM_SoundPath_music(benchmark::State& state) { run(state, MUSIC, 120, false, nullptr, false); }
void BM_SoundPath_demo(benchmark::State& state) { run(state, DEMO_IMAGE, 120, true, nullptr, false); }
void BM_SoundPath_busiest(benchmark::State& state) {
  run(state, OWN_ROM_DIR "/bench_cpu.nes", 0, false, busiest_channels, false);
}
void BM_SoundPathMovingRate_music(benchmark::State& state) {
  run(state, MUSIC, 120, false, nullptr, true);
}
BENCHMARK(BM_SoundPath_music)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SoundPath_demo)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SoundPath_busiest)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SoundPathMovingRate_music)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
