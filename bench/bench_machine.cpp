// Speed of the whole machine (CPU, PPU, APU, bus), in-process:
//  - BM_Demo: the demo cartridge with scripted play (start, then walking, jumping, throwing,
//    crouching, Select and pause, every 600 frames);
//  - BM_Sprites: bench_sprites, 64 moving 8x16 sprites, eight on each line their bands cover;
//  - BM_CpuBound: bench_cpu, a loop of varied instructions with rendering off;
//  - BM_Mmc3Split: bench_mmc3_split, a mapper-4 cartridge whose MMC3 interrupt splits the screen
//    every 16 lines;
//  - BM_Namco163: bench_namco163, a mapper-19 cartridge playing all eight Namco 163 channels under
//    a scrolling picture with sprites;
//  - BM_MachineSecond: a public cartridge that plays music, sixty frames at a time.
// The first three run a fixed number of frames from power-on, so every repetition does the same
// work; scripts/bench.sh repeats them and adds the instruction counts. Built also as
// bench_machine_without_apu, whose machine library leaves apu_tick empty: the difference between
// the two is what sound costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "apu/apu.h"
#include "core/bus.h"
#include "core/driver.h"
#include "core/joypad.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

namespace {

constexpr double CPU_CYCLES_PER_SECOND = 1789800.0;
constexpr double FRAMES_PER_SECOND = 60.0988;  // the console's picture rate

// Buttons of controller 1 from the end of a frame on; the script repeats every REPEAT frames after
// its first REPEAT_FROM frames.
struct ButtonScript {
  std::vector<std::pair<uint64_t, uint8_t>> presses;
  uint64_t repeat_from = 0, repeat = 0;
  void apply(uint64_t frame) const {
    const uint64_t f = repeat && frame >= repeat_from + repeat ? repeat_from + (frame - repeat_from) % repeat : frame;
    for (const auto& [at, buttons] : presses)
      if (at == f) button_state[0].store(buttons, std::memory_order_relaxed);
  }
};

// The demo's play cycle (as in the golden log demo_play): start on the title at frame 30, then from
// frame 60 a 600-frame cycle.
ButtonScript demo_script() {
  ButtonScript s;
  s.presses = {{30, BUTTON_START}, {32, 0}};
  const std::pair<uint64_t, uint8_t> cycle[] = {
      {0, 0x01},   {40, 0x21},  {42, 0x01},  {100, 0x11}, {102, 0x01}, {200, 0x00}, {210, 0x02},
      {250, 0x22}, {252, 0x02}, {300, 0x08}, {330, 0x18}, {332, 0x08}, {360, 0x40}, {362, 0x00},
      {400, 0x80}, {402, 0x00}, {430, 0x01}, {460, 0x81}, {462, 0x01}, {560, 0x00}};
  for (const auto& [at, buttons] : cycle) s.presses.emplace_back(60 + at, buttons);
  s.repeat_from = 60;
  s.repeat = 600;
  return s;
}

// Every record of the machine back to its power-on value, then the cartridge loaded.
bool power_on(const char* image) {
  cpu = Cpu{};
  ppu = Ppu{};
  apu = Apu{};
  bus = Bus{};
  joypads = Joypads{};
  button_state[0].store(0, std::memory_order_relaxed);
  button_state[1].store(0, std::memory_order_relaxed);
  nmi_line = irq_line = false;
  reset_active = true;
  std::string error;
  if (machine_power_on(image, error)) {
    ppu_rebuild_derived();
    return true;
  }
  std::fprintf(stderr, "bench_machine: %s\n", error.c_str());
  return false;
}

void report(benchmark::State& state, uint64_t frames, uint64_t cycles) {
  state.counters["frames_per_s"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(frames) / FRAMES_PER_SECOND, benchmark::Counter::kIsRate);
  state.counters["cycles_per_s"] = benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
}

// One iteration: power-on (not timed), then `frames` frames with the button script.
void run_frames(benchmark::State& state, const char* image, uint64_t frames, const ButtonScript& script) {
  uint64_t total_frames = 0, total_cycles = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (!power_on(image)) {
      state.SkipWithError("the cartridge could not be loaded");
      return;
    }
    script.apply(0);
    state.ResumeTiming();
    uint64_t seen = ppu.frames;
    while (seen < frames) {
      cpu_step();
      if (ppu.frames != seen) script.apply(seen = ppu.frames);
    }
    total_frames += frames;
    total_cycles += bus.cycles;
  }
  report(state, total_frames, total_cycles);
}

void BM_Demo(benchmark::State& state) { run_frames(state, DEMO_IMAGE, 1800, demo_script()); }
void BM_Sprites(benchmark::State& state) { run_frames(state, OWN_ROM_DIR "/bench_sprites.nes", 1200, {}); }
void BM_CpuBound(benchmark::State& state) { run_frames(state, OWN_ROM_DIR "/bench_cpu.nes", 2400, {}); }
void BM_Mmc3Split(benchmark::State& state) { run_frames(state, OWN_ROM_DIR "/bench_mmc3_split.nes", 1200, {}); }
void BM_Namco163(benchmark::State& state) { run_frames(state, OWN_ROM_DIR "/bench_namco163.nes", 1200, {}); }
BENCHMARK(BM_Demo)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Sprites)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_CpuBound)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Mmc3Split)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Namco163)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Sixty frames (one emulated second) per iteration, continuing where the last iteration stopped.
void BM_MachineSecond(benchmark::State& state) {
  static const bool powered = power_on(BENCH_CARTRIDGE);
  if (!powered) {
    state.SkipWithError("the cartridge " BENCH_CARTRIDGE " could not be loaded");
    return;
  }
  uint64_t frames = 0, cycles = 0;
  for (auto _ : state) {
    const uint64_t start = bus.cycles;
    const uint64_t target = ppu.frames + 60;
    while (ppu.frames < target) cpu_step();
    cycles += bus.cycles - start;
    frames += 60;
  }
  report(state, frames, cycles);
}
BENCHMARK(BM_MachineSecond)->Unit(benchmark::kMillisecond)->MinTime(2.0);

#ifndef NES_WITHOUT_APU_WORK
// apu_tick alone with every channel sounding (the DMC looping a sample, fetching through the bus).
void BM_ApuTick(benchmark::State& state) {
  if (!power_on(BENCH_CARTRIDGE)) {
    state.SkipWithError("no cartridge");
    return;
  }
  apu_write(0x15, 0x1F);
  apu_write(0x00, 0xBF); apu_write(0x02, 0x40); apu_write(0x03, 0x08);
  apu_write(0x04, 0x7F); apu_write(0x06, 0x90); apu_write(0x07, 0x08);
  apu_write(0x08, 0xFF); apu_write(0x0A, 0x30); apu_write(0x0B, 0x08);
  apu_write(0x0C, 0x3F); apu_write(0x0E, 0x03); apu_write(0x0F, 0x08);
  apu_write(0x10, 0x4F); apu_write(0x12, 0x00); apu_write(0x13, 0x10);
  for (auto _ : state) apu_tick();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ApuTick);
#endif

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
