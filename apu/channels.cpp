// The five channel generators, one CPU cycle each: pulse duty sequencers, the triangle's 32-step
// sequence, the noise channel's feedback shift register and the DMC's 1-bit delta playback with its
// sample fetches over the CPU bus. Between timer expiries each returns its cached level.
#include <algorithm>
#include <bit>

#include "apu/apu.h"
#include "cpu/bus_access.h"
#include "cpu/cpu.h"

namespace {

constexpr uint32_t CONSTANT_VOLUME = 1u << 4;   // register 0 bit 4
constexpr uint32_t NOISE_SHORT_MODE = 1u << 23;  // register 2 bit 7
constexpr uint32_t DMC_LOOP = 1u << 30;          // register 3 bit 6
constexpr uint32_t DMC_IRQ_ENABLE = 1u << 31;    // register 3 bit 7

// Level of a pulse or noise channel while its waveform is high.
int32_t volume(const ApuChannel& c) {
  if (c.length_counter == 0) return 0;
  if (c.regs & CONSTANT_VOLUME) return static_cast<int32_t>(c.regs & 0x0F);
  return c.envelope_volume;
}

// A pulse period this short is above what the channel plays: its expiries hold the disabled level.
bool pulse_too_high(int32_t period) { return 2 * period + 2 < 8; }

// Whether the triangle's expiries move its sequence: not while a counter holds it at 0, nor at the
// ultrasonic periods 0 and 1.
bool triangle_moves(const ApuChannel& c, int32_t period) {
  return c.length_counter != 0 && c.linear_counter != 0 && period >= 2;
}

// The triangle's level at a step of its sequence: 0-15 up, then 15-0 down.
int32_t triangle_level(int32_t step) {
  const int32_t phase = step & 15;
  return (step & 16) ? 15 - phase : phase;
}

// One shift of the noise channel's feedback register, which restarts at 1 if it is 0.
void noise_shift(ApuChannel& c) {
  if (c.shift_register == 0) c.shift_register = 1;
  const int tap = (c.regs & NOISE_SHORT_MODE) ? 6 : 1;
  const int32_t feedback = (c.shift_register ^ (c.shift_register >> tap)) & 1;
  c.shift_register = (c.shift_register >> 1) | (feedback << 14);
}

// Plays one bit of the DMC's current byte, from bit 0 up: the level goes up 2 for a 1, down 2 for a 0,
// staying within 0-127.
void dmc_play_bit(ApuChannel& c) {
  --c.step;
  const bool bit = c.shift_register & (0x80 >> c.step);
  const int32_t level = c.linear_counter + (bit ? 2 : -2);
  if (level >= 0 && level <= 127) c.linear_counter = level;
}

// The DMC's byte is used up: fetch the next one (restarting a looped sample first), or end the
// sample with its interrupt or by switching the channel off.
void dmc_next_byte(ApuChannel& c) {
  if (c.length_counter == 0 && (c.regs & DMC_LOOP)) {
    c.length_counter = DMC_LENGTH_UNIT * static_cast<int32_t>((c.regs >> 8) & 0xFF) + 1;
    c.sample_address = DMC_SAMPLE_BASE + DMC_ADDRESS_UNIT * static_cast<int32_t>(c.regs & 0xFF);
  }
  if (c.length_counter > 0) {
    // Past $FFFF the fetch continues at $8000. Each read is a full bus cycle that re-enters
    // apu_tick; the timer has been reloaded already, so the nested calls only count it down.
    const auto address = static_cast<uint16_t>(0x8000 | (c.sample_address & 0xFFFF));
    if (timer_period(c) > DMC_SHORT_FETCH_PERIOD) {
      for (int stall = 0; stall < 3; ++stall) (void)cpu_read(address);
    }
    const uint8_t byte = cpu_read(address);
    c.sample_address = (c.sample_address + 1) & 0xFFFF;  // only the low 16 bits ever address
    --c.length_counter;
    c.shift_register = byte;
    c.step = 8;
  } else if (c.regs & DMC_IRQ_ENABLE) {
    apu.dmc_irq_flag = true;
    irq_line = true;
  } else {
    apu.channel_enabled[DMC] = false;
  }
}

// The work of each generator at its timer's expiry, kept out of line so that the per-cycle part
// (enable test, countdown, cached level) stays small enough to be inlined into apu_full_cycle.
[[gnu::noinline]] int32_t pulse_step(ApuChannel& c, int32_t period) {
  if (pulse_too_high(period)) return c.last_output = DISABLED_TONE_LEVEL;
  c.step = (c.step + 1) & 7;  // only the step within the duty cycle matters
  const uint32_t duty = (c.regs >> 6) & 3;
  const bool high = (DUTY_PATTERNS >> (8 * duty + static_cast<uint32_t>(c.step))) & 1;
  return c.last_output = high ? volume(c) : 0;
}

[[gnu::noinline]] int32_t triangle_step(ApuChannel& c, int32_t period) {
  if (triangle_moves(c, period)) c.step = (c.step + 1) & 31;  // only the place in the sequence matters
  return c.last_output = triangle_level(c.step);
}

[[gnu::noinline]] int32_t noise_step(ApuChannel& c) {
  noise_shift(c);
  return c.last_output = (c.shift_register & 1) ? 0 : volume(c);
}

[[gnu::noinline]] int32_t dmc_step(ApuChannel& c) {
  if (c.step == 0) dmc_next_byte(c);
  if (c.step > 0) dmc_play_bit(c);
  return c.last_output = c.linear_counter;
}

}  // namespace

int32_t pulse_tick(int n) {
  if (!apu.channel_enabled[n]) return DISABLED_TONE_LEVEL;
  ApuChannel& c = apu.channels[n];
  const int32_t period = timer_period(c);
  if (!countdown(c.timer, 2 * period + 2)) return c.last_output;
  return pulse_step(c, period);
}

int32_t triangle_tick() {
  if (!apu.channel_enabled[TRIANGLE]) return DISABLED_TONE_LEVEL;
  ApuChannel& c = apu.channels[TRIANGLE];
  const int32_t period = timer_period(c);
  if (!countdown(c.timer, period + 1)) return c.last_output;
  return triangle_step(c, period);
}

int32_t noise_tick() {
  if (!apu.channel_enabled[NOISE]) return DISABLED_TONE_LEVEL;
  ApuChannel& c = apu.channels[NOISE];
  if (!countdown(c.timer, noise_period_table[(c.regs >> 16) & 0x0F])) return c.last_output;
  return noise_step(c);
}

int32_t dmc_tick() {
  if (!apu.channel_enabled[DMC]) return DISABLED_DMC_LEVEL;
  ApuChannel& c = apu.channels[DMC];
  if (!countdown(c.timer, timer_period(c) + 1)) return c.last_output;
  return dmc_step(c);
}

int32_t timer_reload(int n) {
  const ApuChannel& c = apu.channels[n];
  switch (n) {
    case PULSE1:
    case PULSE2: return 2 * timer_period(c) + 2;
    case NOISE: return noise_period_table[(c.regs >> 16) & 0x0F];
    default: return timer_period(c) + 1;  // triangle, DMC
  }
}

int32_t steady_expiries(int n) {
  const ApuChannel& c = apu.channels[n];
  const int32_t period = timer_period(c);
  switch (n) {
    case PULSE1:
    case PULSE2: {
      if (pulse_too_high(period)) return c.last_output == DISABLED_TONE_LEVEL ? STEADY_FOREVER : 0;
      const int32_t level = volume(c);
      if (level == 0) return c.last_output == 0 ? STEADY_FOREVER : 0;  // the duty step moves unheard
      if (c.last_output != 0 && c.last_output != level) return 0;
      // Bit j - 1 of `ahead`: the duty pattern is high at the jth expiry from now.
      const uint32_t duty = (DUTY_PATTERNS >> (8 * ((c.regs >> 6) & 3))) & 0xFF;
      const auto from = static_cast<uint32_t>(c.step + 1) & 7;
      const uint32_t ahead = ((duty >> from) | (duty << (8 - from))) & 0xFF;
      return std::countr_one(c.last_output == 0 ? ~ahead & 0xFF : ahead);
    }
    case TRIANGLE: {
      if (!triangle_moves(c, period)) return c.last_output == triangle_level(c.step) ? STEADY_FOREVER : 0;
      int32_t expiries = 0;  // no level comes more than twice in a row
      while (expiries < 2 && triangle_level((c.step + expiries + 1) & 31) == c.last_output) ++expiries;
      return expiries;
    }
    case NOISE: {
      const int32_t level = volume(c);
      if (level == 0) return c.last_output == 0 ? STEADY_FOREVER : 0;  // the register shifts unheard
      if (c.shift_register == 0 || (c.last_output != 0 && c.last_output != level)) return 0;
      // Bit j - 1 of `ahead`, for j up to 14: bit 0 of the register after j shifts, which silences
      // the channel. The feedback reaches bit 0 only at the 15th shift.
      const auto ahead = static_cast<uint32_t>(c.shift_register) >> 1;
      return std::countr_one((c.last_output == 0 ? ahead : ~ahead) & 0x3FFF);
    }
    default: return 0;  // the DMC's expiries play bits, fetch bytes and end samples
  }
}

void advance_steady(int n, int32_t cycles) {
  ApuChannel& c = apu.channels[n];
  const int32_t first = std::max(c.timer, 0) + 1;  // the cycle of the first expiry
  if (cycles < first) {
    c.timer -= cycles;
    return;
  }
  // After the first expiry the timer counts down from `reload` and expires every reload + 1 cycles.
  const int32_t reload = timer_reload(n);
  int32_t expiries = 1, since = cycles - first;
  if (since > reload) {
    expiries += since / (reload + 1);
    since %= reload + 1;
  }
  c.timer = reload - since;
  const int32_t period = timer_period(c);
  switch (n) {
    case PULSE1:
    case PULSE2:
      if (!pulse_too_high(period)) c.step = (c.step + expiries) & 7;
      break;
    case TRIANGLE:
      if (triangle_moves(c, period)) c.step = (c.step + expiries) & 31;
      break;
    case NOISE:
      for (int32_t k = 0; k < expiries; ++k) noise_shift(c);
      break;
    default: break;
  }
}
