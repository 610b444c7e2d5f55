// The console's sample stream (1789800 samples per second) played on a sound device with little
// delay, free of any platform: a platform layer brings only the device (SDL on Linux, waveOut on
// Windows) through SoundDevice. Every few milliseconds of console time the pace hook takes the
// samples made since its last call from the buffer being filled, converts them to
// SOUND_DEVICE_RATE, passes them through the output stage (high-pass, fade-in) and queues them; the
// sample sink takes the rest of each buffer as it is handed off. The emulation is paced by the
// system clock, at the console's real speed; the rate control keeps the device queue near its
// target against the difference between that clock and the device's, and where the queue leaves
// its band all the same the emulation follows the queue. Without a device a silent stand-in plays
// by the system clock.
//
// NES_DEBUG prints a report once a second (speed, sound latency, queue level, rate adjustment,
// underruns); NES_RATE_LOG=FILE writes every change of the rate adjustment as
// "CONSOLE_SAMPLE ADJUSTMENT" lines, for the sound tests.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t SOUND_DEVICE_RATE = 48000;  // every device and driver takes it

// A device that plays a queue of mono 16-bit samples at SOUND_DEVICE_RATE, as the pacing sees it.
// Its functions are called on the emulation thread only; `queue` also from the sample sink inside
// apu_tick, so it must not wait for long.
struct SoundDevice {
  // Takes `count` samples to play after those queued before.
  void (*queue)(const int16_t* samples, size_t count);
  // Seconds of queued sound not yet taken by the device; below zero when the device has gone (the
  // stand-in then keeps the pace).
  double (*backlog)();
  // The device was opened paused (silent); from this call on it plays its queue. Called when the
  // queue first reaches its target, and again after each `hold`.
  void (*play)();
  // The device stops taking from its queue (silent) until `play`. Called when the sound goes on
  // after a stop of the program's (a pause, a rewind), the queue having played out.
  void (*hold)();
  // Seconds of sound the device takes from its queue at a time: a sample may wait that long after
  // leaving the queue before it is heard. For the latency reports.
  double period;
};

// The sound queued ahead of the device that the pacing aims at, in milliseconds; what is heard comes
// that much later plus the device's period and a block. Before paced_sound_start; clamped to the
// range the pacing keeps (its band reaches 12 ms below and 6 ms above the target).
constexpr int DEFAULT_QUEUE_TARGET_MS = 22, MIN_QUEUE_TARGET_MS = 16, MAX_QUEUE_TARGET_MS = 200;
void paced_sound_set_queue_target(int milliseconds);

// Installs the sample sink and the pace hook, reading the stream from where it stands; `device`
// null: the silent stand-in, which consumes the sound at the same pace. On the emulation thread,
// before its first step; from then on the device belongs to that thread.
void paced_sound_start(const SoundDevice* device);

// audio_out_follow_stream (host/audio_out.h) is defined with it, the same for every device.
