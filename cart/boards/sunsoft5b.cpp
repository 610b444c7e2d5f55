// The Sunsoft 5B's sound: a YM2149F (an AY-3-8910 with a 32-step envelope) on the FME-7's banking,
// clocked by the CPU with its divide-by-two on.
//
// Registers, selected through $C000 (`DDDD RRRR`; while DDDD is not 0, $E000 writes are ignored)
// and written through $E000:
//   $00-$05 tone periods of A, B, C (12 bits: low byte, then `....HHHH`)
//   $06     `...PPPPP` noise period
//   $07     `..CBAcba` 1 = off: noise on C, B, A (bits 5-3), tone on C, B, A (bits 2-0)
//   $08-$0A `...EVVVV` channel volume: E takes the envelope's level, else VVVV
//   $0B/$0C envelope period, 16 bits; $0D `....CAaH` envelope shape (writing it restarts the envelope)
//   $0E/$0F the I/O ports, not connected
//
// Timing: the chip's counters move on ticks, one every 16 CPU cycles. A tone flips its square every
// TP ticks (TP 0 counts as 1), so f = CPU / (32 TP); the 17-bit noise register shifts every 2 NP
// ticks, its new bit 16 being bit 0 xor bit 3, its output bit 0; the envelope steps every EP ticks,
// 32 steps a ramp. Each counter counts its ticks and runs out on the tick that brings it to its
// period (or past it, when the period was lowered below it).
//
// A channel sounds while (tone output | tone off) & (noise output | noise off): with both off it is
// on all the time, at its volume. Volume is logarithmic: 1.5 dB per envelope step, 3 dB per volume
// step (SUNSOFT5B_AMPLITUDE). The three channels are summed linearly: the chip's own amplifier
// compresses the sum above about volume 12, which is not modelled.
//
// Envelope shapes by C (continue), A (attack), a (alternate), H (hold): the first ramp rises when A
// is set, else falls. At its end the envelope holds 0 when C is clear; with C and H it holds the
// ramp's last level (inverted when a is set); otherwise it starts the next ramp, reversed when a is
// set.
//
// The APU steps the chip one cycle at a time only on the cycles it runs in full; a quiet run ends
// before the next tick on which the level may change (sunsoft5b_quiet_cycles) and is paid at once
// (sunsoft5b_advance): the counters' ticks are counted in closed form, the noise register is
// shifted fourteen bits at a time.
#include "cart/boards/sunsoft5b.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int32_t FOREVER = std::numeric_limits<int32_t>::max();
constexpr int32_t CYCLES_PER_TICK = 16;
constexpr uint8_t ENVELOPE_VOLUME = 0x10;
constexpr uint8_t SHAPE_CONTINUE = 8, SHAPE_ATTACK = 4, SHAPE_ALTERNATE = 2, SHAPE_HOLD = 1;
constexpr uint8_t HELD = 1, FLIPPED = 2;
constexpr uint32_t NOISE_MASK = 0x1FFFF;

int32_t tone_period(const Sunsoft5b& c, int n) {
  return std::max(((c.regs[2 * n + 1] & 0x0F) << 8) | c.regs[2 * n], 1);
}
int32_t noise_period(const Sunsoft5b& c) { return 2 * std::max(c.regs[6] & 0x1F, 1); }
int32_t envelope_period(const Sunsoft5b& c) { return std::max(c.regs[0x0C] << 8 | c.regs[0x0B], 1); }

// The noise register is kept inverted so that a cleared record holds a running seed (all ones)
// rather than the all-zero state, from which it would never leave.
uint32_t noise_lfsr(const Sunsoft5b& c) { return ~(static_cast<uint32_t>(c.noise_high & 1) << 16 | c.noise_low) & NOISE_MASK; }
void set_noise_lfsr(Sunsoft5b& c, uint32_t lfsr) {
  const uint32_t kept = ~lfsr & NOISE_MASK;
  c.noise_low = static_cast<uint16_t>(kept);
  c.noise_high = static_cast<uint8_t>(kept >> 16);
}

uint32_t shift_noise(uint32_t lfsr, int64_t steps) {
  // Fourteen new bits depend only on the seventeen there are: bit k + 17 = bit k ^ bit k + 3.
  for (; steps >= 14; steps -= 14) lfsr = (lfsr >> 14) | (((lfsr ^ (lfsr >> 3)) & 0x3FFF) << 3);
  for (; steps > 0; --steps) lfsr = (lfsr >> 1) | (((lfsr ^ (lfsr >> 3)) & 1) << 16);
  return lfsr;
}

// The tick (1 = the next) on which a counter standing at `count` runs out at period `period`.
int64_t first_run_out(int32_t count, int32_t period) { return count >= period ? 1 : period - count; }

// `ticks` ticks of a counter: how many times it runs out; the counter is left where they leave it.
template <class Count>
int64_t count_ticks(Count& count, int32_t period, int64_t ticks) {
  const int64_t first = first_run_out(count, period);
  if (ticks < first) {
    count = static_cast<Count>(count + ticks);
    return 0;
  }
  count = static_cast<Count>((ticks - first) % period);
  return 1 + (ticks - first) / period;
}

void step_envelope(Sunsoft5b& c, int64_t steps) {
  if ((c.envelope_state & HELD) || steps == 0) return;
  const int64_t position = (c.envelope_step & 31) + steps;
  if (position < 32) {
    c.envelope_step = static_cast<uint8_t>(position);
    return;
  }
  const uint8_t shape = c.regs[0x0D];
  c.envelope_step = static_cast<uint8_t>(position % 32);
  if (!(shape & SHAPE_CONTINUE) || (shape & SHAPE_HOLD)) {
    c.envelope_step = 0;
    c.envelope_state |= HELD;
  } else if ((shape & SHAPE_ALTERNATE) && (position / 32) % 2 == 1) {
    c.envelope_state ^= FLIPPED;
  }
}

// One tick of every counter, stepped plainly: the reference the closed form below is held to.
void tick_once(Sunsoft5b& c) {
  for (int n = 0; n < 3; ++n) {
    if (c.tone_counter[n] + 1 < tone_period(c, n)) {
      ++c.tone_counter[n];
    } else {
      c.tone_counter[n] = 0;
      c.tone_outputs ^= static_cast<uint8_t>(1 << n);
    }
  }
  if (c.noise_counter + 1 < noise_period(c)) {
    ++c.noise_counter;
  } else {
    c.noise_counter = 0;
    const uint32_t lfsr = noise_lfsr(c);
    set_noise_lfsr(c, (lfsr >> 1) | (((lfsr ^ (lfsr >> 3)) & 1) << 16));
  }
  if (c.envelope_counter + 1 < envelope_period(c)) {
    ++c.envelope_counter;
    return;
  }
  c.envelope_counter = 0;
  if (c.envelope_state & HELD) return;
  c.envelope_step = static_cast<uint8_t>((c.envelope_step & 31) + 1);
  if (c.envelope_step < 32) return;
  const uint8_t shape = c.regs[0x0D];
  c.envelope_step = 0;
  if (!(shape & SHAPE_CONTINUE) || (shape & SHAPE_HOLD)) c.envelope_state |= HELD;
  else if (shape & SHAPE_ALTERNATE) c.envelope_state ^= FLIPPED;
}

// `ticks` ticks of every counter at once.
void tick_counters(Sunsoft5b& c, int64_t ticks) {
  for (int n = 0; n < 3; ++n)
    if (count_ticks(c.tone_counter[n], tone_period(c, n), ticks) % 2 == 1) c.tone_outputs ^= static_cast<uint8_t>(1 << n);
  if (const int64_t shifts = count_ticks(c.noise_counter, noise_period(c), ticks))
    set_noise_lfsr(c, shift_noise(noise_lfsr(c), shifts));
  step_envelope(c, count_ticks(c.envelope_counter, envelope_period(c), ticks));
}

// The envelope level channel n takes, or its fixed volume's.
int32_t channel_level(const Sunsoft5b& c, int n) {
  const uint8_t volume = c.regs[8 + n];
  if (volume & ENVELOPE_VOLUME) return sunsoft5b_envelope_level(c);
  return (volume & 0x0F) ? 2 * (volume & 0x0F) + 1 : 0;
}

// Channel n can change its output without a register write: it has a level now, or the envelope
// that gives it one moves.
bool can_sound(const Sunsoft5b& c, int n) {
  if (channel_level(c, n) != 0) return true;
  return (c.regs[8 + n] & ENVELOPE_VOLUME) && !(c.envelope_state & HELD);
}

}  // namespace

int32_t sunsoft5b_envelope_level(const Sunsoft5b& c) {
  const uint8_t shape = c.regs[0x0D];
  if (c.envelope_state & HELD) {
    if (!(shape & SHAPE_CONTINUE)) return 0;
    return ((shape & SHAPE_ATTACK) != 0) != ((shape & SHAPE_ALTERNATE) != 0) ? 31 : 0;
  }
  const bool rising = ((shape & SHAPE_ATTACK) != 0) != ((c.envelope_state & FLIPPED) != 0);
  const int32_t step = c.envelope_step & 31;
  return rising ? step : 31 - step;
}

int32_t sunsoft5b_level(const Sunsoft5b& c) {
  const uint32_t noise = noise_lfsr(c) & 1;
  int32_t sum = 0;
  for (int n = 0; n < 3; ++n) {
    const uint32_t tone_off = (c.regs[7] >> n) & 1, noise_off = (c.regs[7] >> (n + 3)) & 1;
    if ((((c.tone_outputs >> n) & 1) | tone_off) & (noise | noise_off))
      sum += SUNSOFT5B_AMPLITUDE[static_cast<size_t>(channel_level(c, n))];
  }
  return sum;
}

int32_t sunsoft5b_tick(Sunsoft5b& c) {
  c.prescaler = static_cast<uint8_t>((c.prescaler + 1) & (CYCLES_PER_TICK - 1));
  if (c.prescaler == 0) tick_once(c);
  return sunsoft5b_level(c);
}

void sunsoft5b_advance(Sunsoft5b& c, int64_t cycles) {
  const int64_t into = (c.prescaler & (CYCLES_PER_TICK - 1)) + cycles;
  c.prescaler = static_cast<uint8_t>(into % CYCLES_PER_TICK);
  const int64_t ticks = into / CYCLES_PER_TICK;
  if (ticks == 1) tick_once(c);  // the APU's short stretches between a program's register reads
  else if (ticks > 1) tick_counters(c, ticks);
}

int32_t sunsoft5b_quiet_cycles(const Sunsoft5b& c) {
  bool noise_heard = false, envelope_heard = false;
  int64_t next = std::numeric_limits<int64_t>::max();  // the first tick that may change the level
  for (int n = 0; n < 3; ++n) {
    if (!can_sound(c, n)) continue;
    if (!((c.regs[7] >> n) & 1)) next = std::min(next, first_run_out(c.tone_counter[n], tone_period(c, n)));
    noise_heard |= !((c.regs[7] >> (n + 3)) & 1);
    envelope_heard |= (c.regs[8 + n] & ENVELOPE_VOLUME) && !(c.envelope_state & HELD);
  }
  if (noise_heard) {
    // The output after k shifts is the register's bit k now: count the shifts that keep bit 0.
    const uint32_t lfsr = noise_lfsr(c);
    int32_t shifts = 1;
    while (shifts < 16 && ((lfsr >> shifts) & 1) == (lfsr & 1)) ++shifts;
    next = std::min(next, first_run_out(c.noise_counter, noise_period(c)) + int64_t{shifts - 1} * noise_period(c));
  }
  if (envelope_heard) next = std::min(next, first_run_out(c.envelope_counter, envelope_period(c)));
  if (next == std::numeric_limits<int64_t>::max()) return FOREVER;
  const int64_t cycles = CYCLES_PER_TICK - (c.prescaler & (CYCLES_PER_TICK - 1)) + CYCLES_PER_TICK * (next - 1);
  return static_cast<int32_t>(std::min<int64_t>(cycles - 1, FOREVER));
}

void sunsoft5b_write(Sunsoft5b& c, uint16_t address, uint8_t value) {
  if (address < 0xE000) {
    c.address = value;
    return;
  }
  if (c.address & 0xF0) return;
  const int reg = c.address & 0x0F;
  c.regs[reg] = value;
  c.written = 1;
  if (reg == 0x0D) {
    c.envelope_step = 0;
    c.envelope_state = 0;
    c.envelope_counter = 0;
  }
}
