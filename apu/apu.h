// The audio processing unit: two pulse channels, a triangle, a noise channel and the delta-modulation
// channel (DMC), the frame sequencer with its interrupt, the mixer, and the stream of one signed
// 16-bit sample per CPU cycle in two alternating buffers of a tenth of a second.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>

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
  uint8_t frame_counter_value = 0;  // last value written to $4017, written again by the reset button
};
extern Apu apu;

// Channel indexes in `apu.channels` and `apu.channel_enabled`.
constexpr int PULSE1 = 0, PULSE2 = 1, TRIANGLE = 2, NOISE = 3, DMC = 4;

// Length counter loads, indexed by register 3 bits 3-7.
constexpr uint8_t length_table[32] = {10, 254, 20, 2,  40, 4,  80, 6,  160, 8,  60, 10, 14, 12, 26, 14,
                                      12, 16,  24, 18, 48, 20, 96, 22, 192, 24, 72, 26, 16, 28, 32, 30};
// Noise timer reloads, indexed by register 2 bits 0-3.
constexpr uint16_t noise_period_table[16] = {2,   4,   8,   16,  32,  48,  64,   80,
                                             101, 127, 190, 254, 381, 508, 1017, 2034};
// DMC timer periods, indexed by $4010 bits 0-3.
constexpr uint16_t dmc_rate_table[16] = {428, 380, 340, 320, 286, 254, 226, 214,
                                         190, 160, 142, 128, 106, 84,  72,  54};
// Duty patterns of the pulse channels: byte d is duty d, bit s is high at duty step s.
constexpr uint32_t DUTY_PATTERNS = 0xF33C0C04;

// Levels a disabled channel's generator returns.
constexpr int32_t DISABLED_TONE_LEVEL = 8, DISABLED_DMC_LEVEL = 64;
// The DMC's sample start ($4012) and length ($4013) units.
constexpr int32_t DMC_SAMPLE_BASE = 0xC000, DMC_ADDRESS_UNIT = 64, DMC_LENGTH_UNIT = 16;
// A DMC period above this makes a fetch stall the CPU for three extra reads.
constexpr int32_t DMC_SHORT_FETCH_PERIOD = 20;
// The frame sequencer steps every FRAME_STEP_HALF_CYCLES / 2 CPU cycles (7457.5).
constexpr int16_t FRAME_STEP_HALF_CYCLES = 14915;

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
// One step of the frame sequencer, due when frame_divider reaches FRAME_STEP_HALF_CYCLES: length
// counters and sweeps (half frames), envelopes and the triangle's linear counter (quarter frames),
// and the frame interrupt.
void frame_sequencer_step();

// The channel generators: each advances its channel by one CPU cycle and returns its level (0-15,
// DMC 0-127, or the fixed level of a disabled channel). Each full cycle calls each once.
int32_t pulse_tick(int n);
int32_t triangle_tick();
int32_t noise_tick();
int32_t dmc_tick();  // may fetch a sample byte through cpu_read, which re-enters apu_tick

// How many of enabled channel n's next timer expiries leave its level as it is, before the next
// frame sequencer step or register write: STEADY_FOREVER for a pulse too high to play or with volume
// 0, a triangle held still and a noise channel with volume 0, each at the level its expiries give;
// for a sounding pulse, triangle or noise channel, those up to the next change of its waveform;
// none for the DMC.
constexpr int32_t STEADY_FOREVER = std::numeric_limits<int32_t>::max();
int32_t steady_expiries(int n);
// What channel n's timer is reloaded with at each expiry: it expires every timer_reload(n) + 1
// cycles (the generators above reload it so).
int32_t timer_reload(int n);
// Runs `cycles` cycles of enabled channel n at once, when none of its expiries among them changes
// its level: its timer, and the duty step, sequence step or feedback register as they move them.
void advance_steady(int n, int32_t cycles);

// The mixer: the console's non-linear sum of the five levels as one signed 16-bit sample
// (-15000 to 14999). `pulse_sum` is the two pulse levels added as integers (0-30).
int16_t mix_sample(int32_t pulse_sum, int32_t triangle, int32_t noise, int32_t dmc);
// The same, computed from the formulas on every call instead of from the precomputed group tables.
int16_t mix_sample_by_formula(int32_t pulse_sum, int32_t triangle, int32_t noise, int32_t dmc);

// A sound chip on the cartridge (the Famicom mixes its pin-45 output with the console's). Its
// state lives in the board's record; the APU steps it on the cycles it runs in full and pays it the
// quiet cycles in apu_sync, so its level joins the quiet run's cached sample. A cartridge without
// one (cartridge_sound null) gets exactly the console's own mix.
struct CartridgeSound {
  int32_t (*tick)();                // one CPU cycle of the chip; returns its level after it
  int32_t (*level)();               // its level now
  int32_t (*quiet_cycles)();        // cycles from now during which its level stays as it is
  void (*advance)(int32_t cycles);  // runs that many of those cycles at once
  float gain;                       // mixer units (a full console output is 1) per level step
};
extern const CartridgeSound* cartridge_sound;
// The swing of one console pulse channel at volume 15 in mixer units (the first group of the mixer,
// computed as the mixer does): the loudness the cartridges' chips are set against.
constexpr float APU_PULSE_AT_15 = 95.88f / (8128.0f / 15.0f + 100.0f);
// The console's mix with the chip's level added at its gain, saturated to the 16-bit range.
int16_t mix_sample_with_cartridge(int32_t pulse_sum, int32_t triangle, int32_t noise, int32_t dmc,
                                  int32_t cartridge_level);

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

// Most cycles change nothing that is heard. Each enabled channel's timer goes down by 1 and the
// frame sequencer's divider up by 2; every level stays the one of the channel's last timer expiry
// (a disabled channel's is fixed), so the same sample is stored. Only a cycle in which the frame
// sequencer steps or a level may change at a timer's expiry (an event) has other work: many
// expiries leave the level as it is (steady_expiries) and move only the channel's own phase. So
// the cycles between events run "quiet": they store the cached sample and move on, and owe their
// countdowns and phases to the saved fields, which apu_sync() pays all at once (advance_steady).
// The event's own cycle (apu_event_cycle) pays them first and then runs the whole per-cycle work,
// exactly as every cycle would; afterwards the next event is looked for again.
//
// ApuDerived is that run: working data derived from the saved fields (apu, sample_stream), not part
// of the machine's state. The run is the range of sample positions [quiet_start, quiet_end) of the
// current buffer, so the stream's own position counts its cycles; the cycle that would store at
// quiet_end runs in full. Runs never reach the buffer's last sample, so the hand-off to the sink
// stays on the full path, and an empty run (0, 0) sends every cycle down it.
//  - apu_sync() brings the saved fields up to date; whatever reads the timers or the frame divider,
//    or saves the record, calls it first. The quiet run goes on afterwards.
//  - apu_rebuild_derived() finds the next event again and caches its sample; whatever changes the
//    record (a register write, a loaded snapshot, power-on) or moves the stream by hand calls it
//    after, having called apu_sync() before if the record is kept: cycles owed and not yet paid
//    are dropped.
struct ApuDerived {
  uint32_t quiet_start = 0;    // sample_pos up to which the countdowns are paid
  uint32_t quiet_end = 0;      // sample_pos of the next cycle that runs in full
  int16_t sample = 0;          // the sample of every quiet cycle
  uint8_t steady = 0;          // bit n: enabled channel n's timer may expire, unheard, in the run
  int16_t* buffer = nullptr;   // the buffer being filled, sample_stream.buffers[current_buffer]
};
extern ApuDerived apu_derived;
void apu_sync();
void apu_rebuild_derived();

// The cycle that ends a quiet run: pays what the run owes, runs the whole per-cycle work (frame
// sequencer, generators, mixer and one stored sample) and looks for the next event. The cycles
// that a DMC fetch nests inside it run in full too, and only the outermost looks for the next event.
[[gnu::noinline]] void apu_event_cycle();

// One CPU cycle of the APU. Inline and free of calls on the quiet path, so that the bus cycle pays
// for no call frame; only an event's cycle calls out.
inline void apu_tick() {
#ifndef NES_WITHOUT_APU_WORK  // defined only by the benchmark that measures what sound costs
  const uint32_t pos = sample_stream.sample_pos;
  if (pos >= apu_derived.quiet_end) [[unlikely]]
    return apu_event_cycle();
  apu_derived.buffer[pos] = apu_derived.sample;
  sample_stream.sample_pos = pos + 1;
#endif
}
