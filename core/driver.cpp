// Start-up order of the machine and the endless step loop of the emulation thread.
#include "core/driver.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "apu/apu.h"
#include "core/banks.h"
#include "core/bus.h"
#include "core/cartridge.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

std::atomic<int32_t> sleep_interval{0};
PaceHook pace_hook = nullptr;

bool machine_power_on(const char* path, std::string& error) {
  if (!load_cartridge(path, error)) return false;
  std::fputs(cartridge_summary().c_str(), stdout);
  std::fflush(stdout);
  mapper_power_on();
  audio_open();
  ppu.registers = 0;
  work_ram_power_on();
  return true;
}

void emulation_loop() {
  for (uint64_t steps = 1;; ++steps) {
    cpu_step();
    if (steps % STEPS_PER_PACE != 0) continue;
    if (steps % STEPS_PER_SLEEP == 0)
      std::this_thread::sleep_for(
          std::chrono::milliseconds(sleep_interval.load(std::memory_order_relaxed)));
    if (pace_hook) pace_hook();
  }
}
