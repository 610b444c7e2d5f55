// Start-up order of the machine and the endless step loop of the emulation thread.
#include "core/driver.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "core/machine.h"

std::atomic<int32_t> sleep_interval{0};
PaceHook pace_hook = nullptr;

bool machine_power_on(const char* path, std::string& error) {
  if (!load_cartridge(path, error)) return false;
  power_on_loaded_cartridge();
  return true;
}

void power_on_loaded_cartridge() {
  std::fputs(cartridge_summary().c_str(), stdout);
  std::fflush(stdout);
  machine_power_on();
}

namespace {
uint64_t steps_run = 0;  // steps since the program started, across cartridges
}

void run_frame() {
  const uint64_t frame = ppu.frames;
  while (ppu.frames == frame) {
    cpu_step();
    if (++steps_run % STEPS_PER_PACE != 0) continue;
    if (steps_run % STEPS_PER_SLEEP == 0)
      std::this_thread::sleep_for(
          std::chrono::milliseconds(sleep_interval.load(std::memory_order_relaxed)));
    if (pace_hook) pace_hook();
  }
}

void emulation_loop() {
  for (;;) run_frame();
}
