// The console's sound, paced for a device that plays a queue: the sample stream is taken in small
// pieces (at every pace hook, after each 10000 instructions, and at every full buffer), converted
// to SOUND_DEVICE_RATE by the resampler and queued at once; then the emulation waits while more
// than SOUND_QUEUE_TARGET is queued and unplayed. So the machine runs at the speed of its sound,
// and a sample is heard between about SOUND_QUEUE_TARGET and that plus one piece after it was made.
// Free of any platform: a layer brings the device (waveOut on Windows); without one, a silent
// stand-in plays by the clock at the same pace.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>

constexpr uint32_t SOUND_DEVICE_RATE = 48000;  // every card and driver takes it
constexpr std::chrono::milliseconds SOUND_QUEUE_TARGET{20};

// A device as the pacing sees it, used only on the emulation thread.
struct SoundDevice {
  // Takes `count` mono 16-bit samples at SOUND_DEVICE_RATE to play after those queued before.
  void (*queue)(const int16_t* samples, size_t count);
  // Seconds of queued sound not yet played; below zero when the device has gone (the stand-in then
  // keeps the pace).
  double (*backlog)();
  const char* name;  // for the reports
};

// Installs the sample sink and the pace hook; `device` null: the silent stand-in. On the emulation
// thread, before its first step. With NES_DEBUG set, prints once per second of sound the frame rate
// and the median and maximum latency of the pieces.
void paced_sound_start(const SoundDevice* device);
