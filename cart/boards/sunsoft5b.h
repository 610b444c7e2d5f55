// The Sunsoft 5B's sound (the FME-7 with a YM2149F beside it, mapper 69): its state as the FME-7's
// record holds it, the per-cycle reference and the closed form the APU's quiet runs use, and the
// chip as the mixer sees it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

struct CartridgeSound;

// Every byte value is a valid chip: counters past their period run out on the next tick, steps and
// flags are masked where they are read. A cleared record is the power-on chip (silent, every period
// 0, the noise generator seeded).
struct Sunsoft5b {
  uint16_t tone_counter[3];     // ticks since each tone last flipped
  uint16_t envelope_counter;    // ticks since the envelope last stepped
  uint16_t noise_low;           // the noise register's bits 0-15, kept inverted (see noise_lfsr)
  uint8_t regs[16];             // the chip's registers, as written through $E000
  uint8_t address;              // $C000: `DDDD RRRR`, data writes go to RRRR while DDDD is 0
  uint8_t prescaler;            // CPU cycles into the current tick (bits 0-3)
  uint8_t noise_counter;        // ticks since the noise register last shifted
  uint8_t noise_high;           // bit 0: the noise register's bit 16, inverted
  uint8_t tone_outputs;         // bits 0-2: the square outputs of tones A, B, C
  uint8_t envelope_step;        // bits 0-4: steps into the current ramp
  uint8_t envelope_state;       // bit 0: held at the end of the first ramp; bit 1: ramp direction flipped
  uint8_t written;              // bit 0: the data port has taken a write since power-on
};

// Amplitude of envelope level e (0-31): 1.5 dB per step down from level 31, level 0 silent. A fixed
// volume V is level 2V + 1 (V = 0 silent).
inline constexpr int32_t SUNSOFT5B_FULL = 10000;
constexpr std::array<int32_t, 32> sunsoft5b_amplitudes() {
  std::array<int32_t, 32> a{};
  double amplitude = SUNSOFT5B_FULL;
  for (int e = 31; e >= 1; --e) {
    a[static_cast<std::size_t>(e)] = static_cast<int32_t>(amplitude + 0.5);
    amplitude *= 0.8413951416451951;  // 10^(-1.5 / 20)
  }
  return a;
}
inline constexpr std::array<int32_t, 32> SUNSOFT5B_AMPLITUDE = sunsoft5b_amplitudes();

// The CPU's write to $C000-$FFFF: the address port below $E000, the data port above. The caller
// brings the sound up to the write's cycle first (apu_sync) and rebuilds the APU's quiet run after.
void sunsoft5b_write(Sunsoft5b& chip, uint16_t address, uint8_t value);
// One CPU cycle stepped plainly; the level after it (the sum of the three channels' amplitudes).
int32_t sunsoft5b_tick(Sunsoft5b& chip);
// That many CPU cycles at once.
void sunsoft5b_advance(Sunsoft5b& chip, int64_t cycles);
// Cycles from now during which the level stays as it is (INT32_MAX: until a register changes).
int32_t sunsoft5b_quiet_cycles(const Sunsoft5b& chip);
int32_t sunsoft5b_level(const Sunsoft5b& chip);
// The envelope's level now (0-31).
int32_t sunsoft5b_envelope_level(const Sunsoft5b& chip);
