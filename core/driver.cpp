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
  std::fputs(cartridge_summary().c_str(), stdout);
  std::fflush(stdout);
  machine_power_on();
  return true;
}

void emulation_loop() {
  for (uint64_t steps = 1;; ++steps) {
    cpu_step();
    if (steps % STEPS_PER_SLEEP == 0) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(sleep_interval.load(std::memory_order_relaxed)));
      if (pace_hook) pace_hook();
    }
  }
}
