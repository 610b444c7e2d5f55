// Speed of the whole machine (CPU, PPU, APU, bus) on a cartridge that plays music, in CPU cycles per
// host second, and the cost of one APU cycle. Built also as bench_machine_without_apu, whose machine
// library leaves apu_tick empty: the difference between the two is what sound costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "apu/apu.h"
#include "core/bus.h"
#include "core/driver.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

namespace {

constexpr double CPU_CYCLES_PER_SECOND = 1789800.0;
bool powered = false;

// Sixty frames (one emulated second) per iteration, continuing where the last iteration stopped.
void BM_MachineSecond(benchmark::State& state) {
  if (!powered) {
    state.SkipWithError("the cartridge " BENCH_CARTRIDGE " could not be loaded");
    return;
  }
  uint64_t cycles = 0;
  for (auto _ : state) {
    const uint64_t start = bus.cycles;
    const uint64_t target = ppu.frames + 60;
    while (ppu.frames < target) cpu_step();
    cycles += bus.cycles - start;
  }
  state.counters["cycles_per_s"] = benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
  state.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(cycles) / CPU_CYCLES_PER_SECOND, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MachineSecond)->Unit(benchmark::kMillisecond)->MinTime(2.0);

#ifndef NES_WITHOUT_APU_WORK
// apu_tick alone with every channel sounding (the DMC looping a sample, fetching through the bus).
void BM_ApuTick(benchmark::State& state) {
  if (!powered) {
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
  std::string error;
  powered = machine_power_on(BENCH_CARTRIDGE, error);
  if (!powered) std::fprintf(stderr, "bench_machine: %s\n", error.c_str());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
