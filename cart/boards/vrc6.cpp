// Konami VRC6 (mapper 24, VRC6a; mapper 26, VRC6b, whose board swaps the chip's A0 and A1 so that
// registers $x001 and $x002 trade places): program and pattern banking, cartridge RAM, the VRC
// interrupt and three sound channels.
//
// Registers by page, register = the two select pins:
//   $8000       `....PPPP` 16 KiB program bank at $8000-$BFFF
//   $9000-$9002 pulse 1; $9003 `.....ABH` frequency control
//   $A000-$A002 pulse 2
//   $B000-$B002 sawtooth; $B003 `W.PNMMDD` W cartridge RAM enable, MM mirroring, DD PPU banking mode
//   $C000       `...PPPPP` 8 KiB program bank at $C000; $E000-$FFFF is the last 8 KiB
//   $D000-$E003 eight 1 KiB pattern banks R0-R7
//   $F000 interrupt latch, $F001 control, $F002 acknowledge (vrc_irq.h)
// Only PPU banking mode 0 is built, the one every game uses (they write $20/$24/$28/$2C to $B003,
// perhaps with bit 7): R0-R7 bank $0000-$1C00 in 1 KiB, and MM picks vertical, horizontal,
// one-screen lower or upper. The other modes and the nametables-from-CHR bit are taken as mode 0.
// No bus conflicts. Power-on: every register 0, sound silent.
//
// Sound: each channel has a 12-bit period and a divider counting CPU cycles that expires every
// period + 1 cycles ($9003: B uses period >> 4, A period >> 8 and wins over B; H freezes every
// divider). A pulse steps a 16-step phase down at each expiry (15, 14 ... 0, 15) and outputs its
// volume while the phase is at most its duty D (duty (D + 1) / 16), or always with the digitised
// mode bit. The sawtooth steps a 14-step phase: each second step adds the rate to an 8-bit
// accumulator, and the 14th resets it to 0; it outputs the accumulator's top 5 bits. Clearing a
// channel's enable silences it and resets its phase (and the sawtooth's accumulator); a disabled
// channel's divider stands still. The output is linear, 0-61, at the loudness of the console's
// pulse channels: a VRC6 pulse at volume 15 is as loud as an APU pulse at volume 15.
//
// The channels do not tick with the CPU on every cycle: the APU steps them (vrc6_tick) only on the
// cycles it runs in full, ends its quiet runs before their next change of output (vrc6_quiet_cycles)
// and pays them the quiet cycles in closed form (vrc6_advance).
#include <algorithm>
#include <cstdint>
#include <limits>

#include "apu/apu.h"
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/vrc6.h"
#include "cart/boards/vrc_irq.h"
#include "core/bus.h"

namespace {

// One sound channel. regs: pulse `MDDDVVVV` / saw `..AAAAAA`, period low, `E...FFFF`.
struct Vrc6Channel {
  uint16_t divider;  // cycles to the next expiry, less 1
  uint8_t regs[3];
  uint8_t phase;        // pulse: 15-0; saw: 0-13 (read modulo 14)
  uint8_t accumulator;  // saw
  uint8_t unused;
};

struct Vrc6Registers {
  VrcIrq irq;
  Vrc6Channel channel[3];  // pulse 1, pulse 2, saw
  uint8_t prg16, prg8, control, frequency;
  uint8_t chr[8];
};
Vrc6Registers& r() { return board_registers<Vrc6Registers>(); }

constexpr int SAW = 2;
constexpr uint8_t CHANNEL_ENABLE = 0x80, DIGITISED = 0x80, RAM_ENABLE = 0x80;
constexpr uint8_t HALT = 1, SHIFT_4 = 2, SHIFT_8 = 4;
constexpr int32_t FOREVER = std::numeric_limits<int32_t>::max();
constexpr int32_t SAW_STEPS = 14, PULSE_STEPS = 16;

bool running(const Vrc6Channel& c) { return (c.regs[2] & CHANNEL_ENABLE) && !(r().frequency & HALT); }

int32_t reload(const Vrc6Channel& c) {
  const int32_t period = ((c.regs[2] & 0x0F) << 8) | c.regs[1];
  const uint8_t f = r().frequency;
  return f & SHIFT_8 ? period >> 8 : f & SHIFT_4 ? period >> 4 : period;
}

int32_t output(int n) {
  const Vrc6Channel& c = r().channel[n];
  if (!(c.regs[2] & CHANNEL_ENABLE)) return 0;
  if (n == SAW) return c.accumulator >> 3;
  const bool high = (c.regs[0] & DIGITISED) || (c.phase & 15) <= ((c.regs[0] >> 4) & 7);
  return high ? c.regs[0] & 0x0F : 0;
}

// `steps` expiries at once.
void step_phase(int n, uint32_t steps) {
  Vrc6Channel& c = r().channel[n];
  if (n != SAW) {
    c.phase = static_cast<uint8_t>((c.phase - steps) & 15);
    return;
  }
  const uint32_t from = c.phase % SAW_STEPS, to = (from + steps) % SAW_STEPS;
  const uint32_t rate = c.regs[0] & 0x3F;
  if (from + steps >= SAW_STEPS) c.accumulator = static_cast<uint8_t>(rate * (to / 2));  // passed the reset
  else c.accumulator = static_cast<uint8_t>(c.accumulator + rate * (to / 2 - from / 2));
  c.phase = static_cast<uint8_t>(to);
}

// Expiries of channel n that leave its output as it is before the one that may change it.
int32_t steady_expiries(int n) {
  const Vrc6Channel& c = r().channel[n];
  if (n == SAW) {
    if ((c.regs[0] & 0x3F) == 0 && c.accumulator == 0) return FOREVER;
    return c.phase % SAW_STEPS % 2 == 0 ? 1 : 0;  // the accumulator moves on even phases
  }
  const int32_t duty = (c.regs[0] >> 4) & 7;
  if ((c.regs[0] & DIGITISED) || (c.regs[0] & 0x0F) == 0) return FOREVER;
  // The output rises when the phase reaches the duty and falls when it wraps to 15.
  const int32_t s = c.phase & 15;
  const int32_t to_rise = (s - duty + PULSE_STEPS - 1) % PULSE_STEPS + 1;
  const int32_t to_fall = s % PULSE_STEPS + 1;
  return std::min(to_rise, to_fall) - 1;
}

// One CPU cycle, stepped plainly: the reference the closed forms below are held to.
int32_t vrc6_tick() {
  for (int n = 0; n < 3; ++n) {
    Vrc6Channel& c = r().channel[n];
    if (!running(c)) continue;
    if (c.divider == 0) {
      c.divider = static_cast<uint16_t>(reload(c));
      step_phase(n, 1);
    } else {
      --c.divider;
    }
  }
  return output(0) + output(1) + output(SAW);
}

int32_t vrc6_level() { return output(0) + output(1) + output(SAW); }

int32_t vrc6_quiet_cycles() {
  int32_t quiet = FOREVER;
  for (int n = 0; n < 3; ++n) {
    const Vrc6Channel& c = r().channel[n];
    if (!running(c)) continue;
    const int32_t steady = steady_expiries(n);
    if (steady == FOREVER) continue;
    quiet = std::min(quiet, c.divider + steady * (reload(c) + 1));
  }
  return quiet;
}

void vrc6_advance(int32_t cycles) {
  for (int n = 0; n < 3; ++n) {
    Vrc6Channel& c = r().channel[n];
    if (!running(c)) continue;
    if (cycles <= c.divider) {
      c.divider = static_cast<uint16_t>(c.divider - cycles);
      continue;
    }
    const int32_t after_first = cycles - c.divider - 1, every = reload(c) + 1;
    c.divider = static_cast<uint16_t>(reload(c) - after_first % every);
    step_phase(n, static_cast<uint32_t>(1 + after_first / every));
  }
}

// A pulse volume step is as loud as one of the console's pulse channels at volume 15, divided over
// its 15 steps.
const CartridgeSound vrc6_sound{vrc6_tick, vrc6_level, vrc6_quiet_cycles, vrc6_advance, APU_PULSE_AT_15 / 15.0f};

void write_sound(int n, int reg, uint8_t value) {
  apu_sync();  // the cycles before this write ran with the old values
  Vrc6Channel& c = r().channel[n];
  c.regs[reg] = value;
  if (reg == 2 && !(value & CHANNEL_ENABLE)) {
    c.phase = n == SAW ? 0 : 15;
    c.accumulator = 0;
  }
  apu_rebuild_derived();
}

void write_frequency(uint8_t value) {
  apu_sync();
  r().frequency = value & 7;
  apu_rebuild_derived();
}

void update_banks() {
  const Vrc6Registers& m = r();
  set_prg_pages(16384, 0x8000, m.prg16 & 0x0F);
  set_prg_pages(8192, 0xC000, m.prg8 & 0x1F);
  set_prg_pages(8192, 0xE000, ~0u);
  for (uint32_t s = 0; s < 8; ++s) set_chr_pages(1024, s << 10, m.chr[s]);
  switch ((m.control >> 2) & 3) {
    case 0: set_nametable_pages(0, 1, 0, 1); break;
    case 1: set_nametable_pages(0, 0, 1, 1); break;
    case 2: set_nametable_pages(0, 0, 0, 0); break;
    default: set_nametable_pages(1, 1, 1, 1); break;
  }
}

template <bool SWAPPED>
void write(uint16_t address, uint8_t value) {
  Vrc6Registers& m = r();
  const int pins = address & 3;
  const int reg = SWAPPED ? ((pins & 1) << 1) | (pins >> 1) : pins;
  switch (address >> 12) {
    case 0x8: m.prg16 = value; break;
    case 0x9:
      if (reg == 3) write_frequency(value);
      else write_sound(0, reg, value);
      return;
    case 0xA:
      if (reg != 3) write_sound(1, reg, value);
      return;
    case 0xB:
      if (reg != 3) {
        write_sound(SAW, reg, value);
        return;
      }
      m.control = value;
      break;
    case 0xC: m.prg8 = value; break;
    case 0xD: m.chr[reg] = value; break;
    case 0xE: m.chr[4 + reg] = value; break;
    default:
      switch (reg) {
        case 0: vrc_irq_write_latch(m.irq, value); return;
        case 1: vrc_irq_write_control(m.irq, value); return;
        case 2: vrc_irq_acknowledge(m.irq); return;
        default: return;
      }
  }
  mapper_update_banks();
}

// Cartridge RAM at $6000-$7FFF while $B003 bit 7 is set; otherwise reads give 0 and writes are lost.
bool ram_enabled(uint16_t address) { return address >= 0x6000 && (r().control & RAM_ENABLE); }

uint8_t low_read(uint16_t address) { return ram_enabled(address) ? bus.cartridge_ram[address & 0x1FFF] : 0; }

void low_write(uint16_t address, uint8_t value) {
  if (!ram_enabled(address)) return;
  bus.cartridge_ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
}

template <bool SWAPPED>
constexpr Board vrc6_board(const char* name) {
  return {.name = name,
          .write = write<SWAPPED>,
          .update_banks = update_banks,
          .low_read = low_read,
          .low_write = low_write,
          .sound = &vrc6_sound};
}
}  // namespace

extern const Board vrc6a_board = vrc6_board<false>("VRC6a");
extern const Board vrc6b_board = vrc6_board<true>("VRC6b");

// For the tests: the per-cycle reference and the closed form of the sound.
int32_t vrc6_sound_tick() { return vrc6_tick(); }
void vrc6_sound_advance(int32_t cycles) { vrc6_advance(cycles); }
int32_t vrc6_sound_quiet_cycles() { return vrc6_quiet_cycles(); }
int32_t vrc6_sound_level() { return vrc6_level(); }
