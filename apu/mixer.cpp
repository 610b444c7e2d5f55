// The APU's cycle: the frame sequencer (length counters, sweeps, envelopes, linear counter and the
// frame interrupt), the five generators, the console's non-linear mixer in single precision, and
// the sample stream of two alternating buffers handed to the audio sink when full.
#include <algorithm>

#include "apu/apu.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

SampleSink audio_sink = nullptr;
const CartridgeSound* cartridge_sound = nullptr;
SampleStream sample_stream;
ApuDerived apu_derived;

namespace {

constexpr uint32_t LENGTH_HALT = 1u << 5;            // register 0 bit 5: pulse and noise
constexpr uint32_t TRIANGLE_CONTROL = 1u << 7;       // register 0 bit 7: triangle halt and reload
constexpr uint32_t ENVELOPE_LOOP = 1u << 5;          // register 0 bit 5
constexpr uint32_t SWEEP_ENABLE = 1u << 15;          // register 1 bit 7
constexpr uint32_t SWEEP_NEGATE = 1u << 11;          // register 1 bit 3
constexpr int32_t SWEEP_MIN_PERIOD = 8;              // shorter periods are not swept
constexpr int32_t PERIOD_LIMIT = 0x800;              // a swept period must stay below this
constexpr int16_t FOUR_STEP_COUNT = 4, FIVE_STEP_COUNT = 5;

void clock_length_counter(ApuChannel& c, uint32_t halt_bit) {
  if (c.length_counter != 0 && !(c.regs & halt_bit)) --c.length_counter;
}

void clock_sweep(ApuChannel& c, int n) {
  const auto sweep_period = static_cast<int32_t>((c.regs >> 12) & 7);
  if (!countdown(c.sweep_divider, sweep_period)) return;
  const int32_t period = timer_period(c);
  const auto shift = static_cast<int32_t>((c.regs >> 8) & 7);
  if (period < SWEEP_MIN_PERIOD || !(c.regs & SWEEP_ENABLE) || shift == 0) return;
  const int32_t change = period >> shift;
  int32_t swept = period + change;
  if (c.regs & SWEEP_NEGATE) swept = n == PULSE1 ? period - change - 1 : period - change;
  if (swept < PERIOD_LIMIT)
    c.regs = (c.regs & ~(0x7FFu << 16)) | (static_cast<uint32_t>(swept) << 16);
}

void clock_linear_counter(ApuChannel& c) {
  if (c.regs & TRIANGLE_CONTROL) c.linear_counter = static_cast<int32_t>(c.regs & 0x7F);
  else if (c.linear_counter > 0) --c.linear_counter;
}

void clock_envelope(ApuChannel& c) {
  if (countdown(c.envelope_divider, static_cast<int32_t>(c.regs & 0x0F)) &&
      (c.envelope_volume > 0 || (c.regs & ENVELOPE_LOOP)))
    c.envelope_volume = (c.envelope_volume - 1) & 15;
}

// The two groups of the mixer, each exactly as the console's formula is written: integer inputs
// converted before their divisions, single-precision constants, nothing fused or reordered.
constexpr float pulse_group(int32_t pulse_sum) {
  if (pulse_sum == 0) return 0.0f;
  return 95.88f / (8128.0f / static_cast<float>(pulse_sum) + 100.0f);
}
constexpr float other_group(int32_t triangle, int32_t noise, int32_t dmc) {
  const float x = (static_cast<float>(triangle) / 8227.0f + static_cast<float>(noise) / 12241.0f) +
                  static_cast<float>(dmc) / 22638.0f;
  if (x == 0.0f) return 0.0f;
  return 159.79f / (1.0f / x + 100.0f);
}
// The sample: truncated toward zero.
constexpr int16_t sample_of(float other, float pulse) {
  return static_cast<int16_t>(static_cast<int32_t>((other + pulse - 0.5f) * 30000.0f));
}

// Both groups for every input, evaluated when the program is built. The evaluation rounds every
// single-precision operation as the running program does, so the tables hold the same bits.
constexpr int32_t PULSE_SUMS = 31, TONE_LEVELS = 16, DMC_LEVELS = 128;
struct MixTables {
  float pulse[PULSE_SUMS] = {};
  float other[TONE_LEVELS * TONE_LEVELS * DMC_LEVELS] = {};  // index: triangle, noise, DMC level
};
constexpr int32_t other_index(int32_t triangle, int32_t noise, int32_t dmc) {
  return (triangle * TONE_LEVELS + noise) * DMC_LEVELS + dmc;
}
constexpr MixTables build_mix_tables() {
  MixTables tables;
  for (int32_t p = 0; p < PULSE_SUMS; ++p) tables.pulse[p] = pulse_group(p);
  for (int32_t t = 0; t < TONE_LEVELS; ++t)
    for (int32_t n = 0; n < TONE_LEVELS; ++n)
      for (int32_t d = 0; d < DMC_LEVELS; ++d) tables.other[other_index(t, n, d)] = other_group(t, n, d);
  return tables;
}
constexpr MixTables mix_tables = build_mix_tables();

// Full cycles in progress: a DMC fetch runs bus cycles inside one.
int full_cycle_depth = 0;

// A full buffer goes to the sink; the other one is filled next.
void hand_off_buffer() {
  SampleStream& s = sample_stream;
  if (audio_sink) audio_sink(s.buffers[s.current_buffer], SAMPLES_PER_BUFFER);
  s.current_buffer ^= 1;
  s.sample_pos = 0;
}

}  // namespace

int16_t mix_sample(int32_t pulse_sum, int32_t triangle, int32_t noise, int32_t dmc) {
  return sample_of(mix_tables.other[other_index(triangle, noise, dmc)], mix_tables.pulse[pulse_sum]);
}

int16_t mix_sample_with_cartridge(int32_t pulse_sum, int32_t triangle, int32_t noise, int32_t dmc,
                                  int32_t cartridge_level) {
  const float chip = static_cast<float>(cartridge_level) * cartridge_sound->gain;
  const float scaled =
      ((mix_tables.other[other_index(triangle, noise, dmc)] + mix_tables.pulse[pulse_sum]) + chip - 0.5f) * 30000.0f;
  // Both groups and a loud chip together pass the 16-bit range: the stream clips there.
  const float clipped = std::clamp(scaled, -32768.0f, 32767.0f);
  return static_cast<int16_t>(static_cast<int32_t>(clipped));
}

int16_t mix_sample_by_formula(int32_t pulse_sum, int32_t triangle, int32_t noise, int32_t dmc) {
  return sample_of(other_group(triangle, noise, dmc), pulse_group(pulse_sum));
}

void frame_sequencer_step() {
  apu.frame_divider = static_cast<int16_t>(apu.frame_divider - FRAME_STEP_HALF_CYCLES);
  ++apu.frame_step;
  if (apu.frame_step >= (apu.five_step_mode ? FIVE_STEP_COUNT : FOUR_STEP_COUNT)) apu.frame_step = 0;
  if (!apu.frame_irq_inhibit && !apu.five_step_mode && apu.frame_step == 0) {
    apu.frame_irq_flag = true;
    irq_line = true;
  }
  const bool half_frame = (apu.frame_step & 5) == 1;  // steps 1 and 3
  const bool quarter_frame = apu.frame_step < 4;      // steps 0 to 3
  for (int n = 0; n < DMC; ++n) {
    ApuChannel& c = apu.channels[n];
    if (half_frame) {
      clock_length_counter(c, n == TRIANGLE ? TRIANGLE_CONTROL : LENGTH_HALT);
      if (n <= PULSE2) clock_sweep(c, n);
    }
    if (quarter_frame) {
      if (n == TRIANGLE) clock_linear_counter(c);
      else clock_envelope(c);
    }
  }
}

namespace {
// The whole work of one CPU cycle: frame sequencer, generators, mixer and one stored sample.
void apu_full_cycle() {
  apu.frame_divider = static_cast<int16_t>(apu.frame_divider + 2);
  if (apu.frame_divider >= FRAME_STEP_HALF_CYCLES) frame_sequencer_step();
  const int32_t pulse2 = pulse_tick(PULSE2);
  const int32_t pulse1 = pulse_tick(PULSE1);
  const int32_t triangle = triangle_tick();
  const int32_t noise = noise_tick();
  // Last, because a sample fetch re-enters apu_tick through the bus: the nested cycles store their
  // samples first, and this cycle's levels wait in the locals above.
  const int32_t dmc = dmc_tick();
  SampleStream& s = sample_stream;
  s.buffers[s.current_buffer][s.sample_pos] =
      cartridge_sound ? mix_sample_with_cartridge(pulse1 + pulse2, triangle, noise, dmc, cartridge_sound->tick())
                      : mix_sample(pulse1 + pulse2, triangle, noise, dmc);
  if (++s.sample_pos == SAMPLES_PER_BUFFER) hand_off_buffer();
}
}  // namespace

void apu_event_cycle() {
  apu_sync();  // nested in a full cycle there is no run, so nothing is owed
  apu_derived.quiet_start = apu_derived.quiet_end = 0;  // the cycles a DMC fetch nests run in full
  ++full_cycle_depth;
  apu_full_cycle();
  --full_cycle_depth;
  apu_rebuild_derived();
}

void apu_sync() {
  ApuDerived& d = apu_derived;
  const uint32_t reached = std::min(sample_stream.sample_pos, d.quiet_end);
  if (reached <= d.quiet_start) return;
  const auto cycles = static_cast<int32_t>(reached - d.quiet_start);
  d.quiet_start = reached;
  for (int n = 0; n < 5; ++n) {
    if (!apu.channel_enabled[n]) continue;
    if (d.steady & (1u << n)) advance_steady(n, cycles);
    else apu.channels[n].timer -= cycles;
  }
  apu.frame_divider = static_cast<int16_t>(apu.frame_divider + 2 * cycles);
  if (cartridge_sound) cartridge_sound->advance(cycles);
}

void apu_rebuild_derived() {
  ApuDerived& d = apu_derived;
  const uint32_t pos = sample_stream.sample_pos;
  d.quiet_start = d.quiet_end = 0;
  d.steady = 0;
  if (full_cycle_depth > 0) return;  // inside a full cycle: the outermost one rebuilds at its end
  // Quiet cycles before the frame sequencer's step: those that leave frame_divider below
  // FRAME_STEP_HALF_CYCLES (none from a divider already that high).
  const int32_t divider = apu.frame_divider;
  int32_t quiet = divider < FRAME_STEP_HALF_CYCLES - 1 ? (FRAME_STEP_HALF_CYCLES - 1 - divider) / 2 : 0;
  int32_t level[5];
  for (int n = 0; n < 5; ++n) {
    if (!apu.channel_enabled[n]) {
      level[n] = n == DMC ? DISABLED_DMC_LEVEL : DISABLED_TONE_LEVEL;
      continue;
    }
    level[n] = apu.channels[n].last_output;
    // A timer at t >= 0 expires on the (t + 1)th cycle from now, a negative one on the next, and
    // then every timer_reload + 1 cycles: the quiet run ends before the first that is heard.
    const int32_t steady = steady_expiries(n);
    if (steady > 0) d.steady = static_cast<uint8_t>(d.steady | (1u << n));
    if (steady != STEADY_FOREVER)
      quiet = std::min(quiet, std::max(apu.channels[n].timer, 0) + steady * (timer_reload(n) + 1));
  }
  if (cartridge_sound) {
    quiet = std::min(quiet, cartridge_sound->quiet_cycles());
    d.sample = mix_sample_with_cartridge(level[PULSE1] + level[PULSE2], level[TRIANGLE], level[NOISE], level[DMC],
                                         cartridge_sound->level());
  } else {
    d.sample = mix_sample(level[PULSE1] + level[PULSE2], level[TRIANGLE], level[NOISE], level[DMC]);
  }
  // The run stops short of the buffer's last sample, whose cycle hands the buffer over.
  if (pos >= SAMPLES_PER_BUFFER - 1) return;
  d.buffer = sample_stream.buffers[sample_stream.current_buffer & 1];
  d.quiet_start = pos;
  d.quiet_end = pos + std::min(static_cast<uint32_t>(quiet), SAMPLES_PER_BUFFER - 1 - pos);
}

void audio_open() {
  if (!frame_buffer) frame_buffer = new std::atomic<uint32_t>[FRAME_WIDTH * FRAME_HEIGHT]();
  else
    for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) frame_buffer[i].store(0, std::memory_order_relaxed);
  for (auto& buffer : sample_stream.buffers) std::fill(std::begin(buffer), std::end(buffer), int16_t{0});
  sample_stream.current_buffer = 0;
  sample_stream.sample_pos = 0;
}
