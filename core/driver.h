// The emulation driver: loads the cartridge, powers the machine on and runs CPU steps, sleeping
// `sleep_interval` milliseconds after every 10000 steps.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// Milliseconds slept after every 10000 steps; changed by the window's speed keys.
extern std::atomic<int32_t> sleep_interval;
constexpr uint64_t STEPS_PER_SLEEP = 10000;

// Loads the image, prints the summary line on stdout and powers the machine on (machine_power_on).
// On a refused image returns false with a one-line message in `error` and leaves the machine and
// the cartridge loaded before as they were.
bool machine_power_on(const char* path, std::string& error);
// The same for the cartridge already loaded (load_cartridge): the summary line, then power-on.
void power_on_loaded_cartridge();

// Runs CPU steps until the picture unit finishes the current frame, sleeping `sleep_interval` ms
// after every 10000 steps and calling the pace hook after every 1000; the count of steps carries
// over between calls.
void run_frame();

// Runs frames for ever.
[[noreturn]] void emulation_loop();

// Called on the emulation thread after every STEPS_PER_PACE steps (a few milliseconds of console
// time; after the sleep where both fall together), when set: the window program takes the newest
// sound and holds the machine to the pace of its sound device here. Null by default.
constexpr uint64_t STEPS_PER_PACE = 1000;
static_assert(STEPS_PER_SLEEP % STEPS_PER_PACE == 0);
using PaceHook = void (*)();
extern PaceHook pace_hook;
