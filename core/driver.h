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

// Runs CPU steps until the picture unit finishes the current frame, sleeping `sleep_interval` ms
// (and calling pace_hook) after every 10000 steps; the count of steps carries over between calls.
void run_frame();

// Runs frames for ever.
[[noreturn]] void emulation_loop();

// Called on the emulation thread right after each of those sleeps, when set: the window program
// holds the machine to the pace of its sound device here. Null by default.
using PaceHook = void (*)();
extern PaceHook pace_hook;
