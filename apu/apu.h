// The audio processing unit: two pulse channels, a triangle, a noise channel and the delta-modulation
// channel (DMC), the frame sequencer with its interrupt, the mixer, and the stream of one signed
// 16-bit sample per CPU cycle in two alternating buffers of a tenth of a second.
#pragma once
#include <cstddef>
#include <cstdint>

// One channel. Fields that a channel does not use stay 0.
struct ApuChannel {
  int32_t length_counter = 0;    // length counter; DMC: sample bytes still to fetch
  int32_t linear_counter = 0;    // triangle: linear counter; DMC: output level 0-127
  int32_t sample_address = 0;    // DMC: address of the next sample byte
  int32_t envelope_volume = 0;   // pulse, noise: envelope level 0-15
  int32_t sweep_divider = 0;     // pulse: sweep countdown
  int32_t envelope_divider = 0;  // pulse, noise: envelope countdown
  int32_t timer = 0;             // countdown to the next step of the generator
  int32_t shift_register = 0;    // noise: 15-bit feedback register; DMC: byte being played
  int32_t step = 0;              // pulse: duty step; triangle: sequence step; DMC: bits left
  int32_t last_output = 0;       // output at the last step
  uint32_t regs = 0;             // the four register bytes, register k in bits 8k-8k+7
};

struct Apu {
  ApuChannel channels[5];            // pulse 1, pulse 2, triangle, noise, DMC
  bool channel_enabled[5] = {};      // set by $4015
  int16_t frame_divider = 0;         // half-cycle accumulator of the frame sequencer
  int16_t frame_step = 0;            // sequencer step
  bool five_step_mode = false;
  bool frame_irq_inhibit = true;     // no frame interrupt until software clears it through $4017
  bool frame_irq_flag = false;
  bool dmc_irq_flag = false;
};
extern Apu apu;

// The 11-bit timer period of a channel: register 2 and bits 0-2 of register 3.
inline int32_t timer_period(const ApuChannel& c) { return static_cast<int32_t>((c.regs >> 16) & 0x7FF); }

// A CPU write to $4000-$4013 (index = address AND $1F), $4015 (0x15) or $4017 (0x17).
void apu_write(uint8_t index, uint8_t value);
// A CPU read of $4015; clears the interrupt flags and irq_line.
uint8_t apu_read_status();
// Subtracts 1; when the result drops below 0 reloads it and returns true.
inline bool countdown(int32_t& counter, int32_t reload) {
  if (--counter >= 0) return false;
  counter = reload;
  return true;
}
// One CPU cycle of the APU: frame sequencer, generators, mixer and one stored sample.
void apu_tick();

// Sample stream: one sample per CPU cycle, 1789800 per second.
constexpr uint32_t SAMPLE_RATE = 1789800;
constexpr uint32_t SAMPLES_PER_BUFFER = 178980;
// Receives each full buffer in order; set by the host before the first step. May be null.
using SampleSink = void (*)(const int16_t* samples, size_t count);
extern SampleSink audio_sink;

struct SampleStream {
  int16_t buffers[2][SAMPLES_PER_BUFFER] = {};
  int current_buffer = 0;  // buffer being filled
  uint32_t sample_pos = 0; // next sample in it
};
extern SampleStream sample_stream;

// Allocates the zero-filled frame buffer and prepares the sample buffers. Called once at power-on.
void audio_open();
