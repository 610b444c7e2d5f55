// The MMC5's sound channels. Two pulses copy the console's pulse channels without their sweep:
//   $5000/$5004 `DDLCVVVV` duty, length halt / envelope loop, constant volume, volume or envelope period
//   $5001/$5005 nothing
//   $5002/$5006 timer low byte; $5003/$5007 `LLLLLHHH` length index and timer high bits. The write
//               loads the length counter (only while the channel is enabled), restarts the envelope
//               and the duty sequence, and leaves the timer's divider running.
// The timer counts t..0 once every 2 CPU cycles, so the duty sequence steps every 2(t + 1) cycles;
// short periods are not muted. Envelopes and length counters are clocked at 240 Hz by the chip's
// own divider (every MMC5_CLOCK_PERIOD CPU cycles; the console's $4017 has no say), so a length
// runs out twice as fast as on the console's pulses. A pulse plays its envelope or constant volume
// while its duty bit is 1 and its length counter is not 0.
//   $5015 write: bits 0-1 enable the pulses; clearing one zeroes its length counter.
//         read:  bit n = pulse n's length counter is not 0.
// The PCM channel is an 8-bit DAC:
//   $5010 write: bit 0 read mode, bit 7 interrupt enable; read: bit 7 = trip AND enable (the read
//               clears trip), bit 0 the mode.
//   $5011 write (write mode only): a non-zero value becomes the DAC's level and clears trip; $00
//               leaves the level and sets trip. In read mode each CPU read of $8000-$BFFF feeds the
//               byte read to the DAC under the same rule. Trip AND enable drives the cartridge's /IRQ.
// Power-on (the board's memory is zeroed): everything 0, the DAC included. The chip's DAC comes up
// at $EF or $FF, but this mix is not AC-coupled as a console's output is: a constant level that
// high would sit beside the console's channels at the top of the 16-bit range and clip them.
//
// Loudness: a pulse at volume 15 is as loud as a console pulse at volume 15 (a level step is a
// fifteenth of the console mixer's pulse group at 15), and the DAC steps as the DMC's do on
// average over its 0-127 range, so that its eighth bit reaches twice as loud. The chip inverts
// its outputs; the sum here keeps the console's polarity, which leaves the DAC's loud half the
// room above the console's silent level instead of clipping below it.
//
// The chip does not tick with the CPU: the APU steps it (mmc5_tick) on the cycles it runs in full,
// ends its quiet runs before the chip's next change of level (mmc5_quiet_cycles: a duty edge of a
// sounding pulse, or the 240 Hz clock) and pays it the quiet cycles in closed form (mmc5_advance).
#include "cart/boards/mmc5_audio.h"

#include <algorithm>
#include <limits>

#include "apu/apu.h"

namespace {

constexpr uint8_t CONSTANT_VOLUME = 0x10, LENGTH_HALT = 0x20;  // register 0
constexpr uint8_t READ_MODE = 0x01, PCM_IRQ_ENABLE = 0x80;
constexpr int32_t FOREVER = std::numeric_limits<int32_t>::max();

Mmc5Audio& a() { return mmc5_audio(); }

int32_t timer_of(const Mmc5Pulse& p) { return ((p.regs[3] & 7) << 8) | p.regs[2]; }
// CPU cycles between the duty sequence's steps.
int32_t step_cycles(const Mmc5Pulse& p) { return 2 * (timer_of(p) + 1); }

bool duty_bit(const Mmc5Pulse& p, uint32_t step) {
  return (DUTY_PATTERNS >> (8 * static_cast<uint32_t>(p.regs[0] >> 6) + (step & 7))) & 1;
}

int32_t volume(const Mmc5Pulse& p) {
  if (p.length == 0) return 0;
  return (p.regs[0] & CONSTANT_VOLUME) ? p.regs[0] & 0x0F : p.envelope_volume & 0x0F;
}

int32_t output(const Mmc5Pulse& p) { return duty_bit(p, p.step) ? volume(p) : 0; }

int32_t level() {
  const Mmc5Audio& s = a();
  return MMC5_PULSE_WEIGHT * (output(s.pulse[0]) + output(s.pulse[1])) + MMC5_PCM_WEIGHT * s.pcm_level;
}

// The 240 Hz clock: each envelope, then each length counter.
void clock_pulses() {
  for (Mmc5Pulse& p : a().pulse) {
    const int32_t period = p.regs[0] & 0x0F;
    const int32_t divider = (p.envelope_divider & 0x0F) - 1;
    if (divider >= 0) {
      p.envelope_divider = static_cast<uint8_t>(divider);
    } else {
      p.envelope_divider = static_cast<uint8_t>(period);
      if ((p.envelope_volume & 0x0F) > 0 || (p.regs[0] & LENGTH_HALT))
        p.envelope_volume = static_cast<uint8_t>(((p.envelope_volume & 0x0F) - 1) & 0x0F);
    }
    if (p.length != 0 && !(p.regs[0] & LENGTH_HALT)) --p.length;
  }
}

// One CPU cycle, stepped plainly: the reference the closed forms below are held to.
int32_t mmc5_tick() {
  Mmc5Audio& s = a();
  for (Mmc5Pulse& p : s.pulse) {
    if (p.divider == 0) {
      p.divider = static_cast<uint16_t>(step_cycles(p) - 1);
      p.step = static_cast<uint8_t>((p.step + 1) & 7);
    } else {
      --p.divider;
    }
  }
  if (s.clock_divider == 0) {
    s.clock_divider = MMC5_CLOCK_PERIOD - 1;
    clock_pulses();
  } else {
    --s.clock_divider;
  }
  return level();
}

// Steps of a sounding pulse that leave its output as it is, before the one that changes it.
int32_t steady_steps(const Mmc5Pulse& p) {
  const bool now = duty_bit(p, p.step);
  int32_t k = 0;
  while (k < 8 && duty_bit(p, p.step + 1u + static_cast<uint32_t>(k)) == now) ++k;
  return k;  // every duty has both bits, so k < 8
}

int32_t mmc5_quiet_cycles() {
  const Mmc5Audio& s = a();
  int32_t quiet = s.clock_divider;  // the clock may change an envelope or a length
  for (const Mmc5Pulse& p : s.pulse) {
    if (volume(p) == 0) continue;  // silent until a clock or a write
    quiet = std::min(quiet, p.divider + steady_steps(p) * step_cycles(p));
  }
  return quiet;
}

// Expiries of a divider holding `divider` (cycles to the next, less 1) and reloaded with every - 1,
// over `cycles` cycles; leaves it where stepping would.
uint32_t run_divider(uint16_t& divider, int32_t every, int32_t cycles) {
  if (cycles <= divider) {
    divider = static_cast<uint16_t>(divider - cycles);
    return 0;
  }
  const int32_t after_first = cycles - divider - 1;
  divider = static_cast<uint16_t>(every - 1 - after_first % every);
  return static_cast<uint32_t>(1 + after_first / every);
}

void mmc5_advance(int32_t cycles) {
  Mmc5Audio& s = a();
  for (Mmc5Pulse& p : s.pulse) {
    if (const uint32_t steps = run_divider(p.divider, step_cycles(p), cycles))
      p.step = static_cast<uint8_t>((p.step + steps) & 7);
  }
  // Envelopes and lengths do not touch the timers, so their clocks may come after the steps.
  for (uint32_t clocks = run_divider(s.clock_divider, MMC5_CLOCK_PERIOD, cycles); clocks > 0; --clocks)
    clock_pulses();
}

void pcm_take(uint8_t value) {
  Mmc5Audio& s = a();
  if (value == 0) {
    s.pcm_trip = 1;
  } else {
    s.pcm_level = value;
    s.pcm_trip = 0;
  }
}

// A pulse level step: a fifteenth of the console's pulse group at 15, computed as its mixer does.
constexpr float PULSE_STEP_GAIN = 95.88f / (8128.0f / 15.0f + 100.0f) / 15.0f;
}  // namespace

const CartridgeSound mmc5_sound{mmc5_tick, level, mmc5_quiet_cycles, mmc5_advance,
                                PULSE_STEP_GAIN / static_cast<float>(MMC5_PULSE_WEIGHT)};

void mmc5_audio_write(uint16_t address, uint8_t value) {
  if (address < 0x5000 || address > 0x5015) return;
  apu_sync();  // the cycles before this write ran with the old values
  Mmc5Audio& s = a();
  if (address < 0x5008) {
    const int n = (address >> 2) & 1;
    Mmc5Pulse& p = s.pulse[n];
    const int reg = address & 3;
    p.regs[reg] = value;
    if (reg == 3) {
      if (s.enables & (1 << n)) p.length = length_table[value >> 3];
      p.envelope_volume = 15;
      p.envelope_divider = p.regs[0] & 0x0F;
      p.step = 0;
    }
  } else if (address == 0x5010) {
    s.pcm_control = value & (READ_MODE | PCM_IRQ_ENABLE);
  } else if (address == 0x5011) {
    if (!(s.pcm_control & READ_MODE)) pcm_take(value);
  } else if (address == 0x5015) {
    s.enables = value & 3;
    for (int n = 0; n < 2; ++n)
      if (!(s.enables & (1 << n))) s.pulse[n].length = 0;
  }
  apu_rebuild_derived();
}

uint8_t mmc5_audio_read_pcm() {
  Mmc5Audio& s = a();
  const uint8_t value = static_cast<uint8_t>((mmc5_audio_irq() ? 0x80 : 0) | (s.pcm_control & READ_MODE));
  s.pcm_trip = 0;
  return value;
}

uint8_t mmc5_audio_read_status() {
  apu_sync();  // the length counters owe the clocks of the quiet run so far
  const Mmc5Audio& s = a();
  return static_cast<uint8_t>((s.pulse[0].length ? 1 : 0) | (s.pulse[1].length ? 2 : 0));
}

bool mmc5_audio_read_mode() { return a().pcm_control & READ_MODE; }

void mmc5_audio_pcm_read(uint8_t value) {
  apu_sync();
  pcm_take(value);
  apu_rebuild_derived();
}

bool mmc5_audio_irq() {
  const Mmc5Audio& s = a();
  return (s.pcm_trip & 1) && (s.pcm_control & PCM_IRQ_ENABLE);
}

int32_t mmc5_sound_tick() { return mmc5_tick(); }
int32_t mmc5_sound_level() { return level(); }
int32_t mmc5_sound_quiet_cycles() { return mmc5_quiet_cycles(); }
void mmc5_sound_advance(int32_t cycles) { mmc5_advance(cycles); }
