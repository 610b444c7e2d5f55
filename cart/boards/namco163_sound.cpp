// The Namco 163's sound: up to eight wavetable channels whose registers and phases live in the top
// of its 128 bytes of internal RAM (cartridge.board_memory). Channel k (1-8) has 8 bytes at
// $40 + 8 (k - 1):
//   +0, +2, +4 bits 0-1  18-bit frequency (low, middle, high)
//   +1, +3, +5           24-bit phase (low, middle, high)
//   +4 bits 2-7          wave length: 256 - (value AND $FC) four-bit samples
//   +6                   wave start, in four-bit samples (sample n is the low nibble of byte n / 2
//                        when n is even, the high nibble when odd)
//   +7 bits 0-3          volume; $7F bits 4-6: enabled channels less 1
// With N channels enabled they are channels 8 down to 9 - N.
//
// The chip has one adder and one output: every 15 CPU cycles it takes the next channel in the order
// 8, 7 ... 9 - N, 8 ..., adds its frequency to its phase modulo (length << 16), writes the phase back
// to RAM, and puts (sample - 8) x volume of the sample at ((phase >> 16) + start) AND $FF on its
// output, where it stays until the next channel's turn. So a channel is heard only 1/N of the time:
// with N channels each is 1/N as loud as alone (in the sound's average), notes step 15 x N cycles
// apart, and the switching between channels is itself a tone at 1789773 / (15 N) Hz (119 kHz for
// one channel, 14.9 kHz for eight: the whine the hardware makes with many channels).
// A note's frequency: CPU x frequency / (15 x 65536 x N x length).
//
// $E000 bit 6 silences the chip: the output is 0 and nothing moves while it is set; it is set at
// power-on (the chip is silent until a program writes the bit as 0).
//
// The record holds the slot position (cycles since the last update), the next channel and the
// output held; any bytes there give a valid chip (a slot past its end updates on the next cycle).
// Between updates the output cannot change, so the APU's quiet runs last to the next update and pay
// the cycles in closed form; a disabled chip never interrupts them.
#include "cart/boards/namco163_sound.h"

#include <cstdint>
#include <limits>

#include "cart/boards/namco163.h"
#include "cart/cartridge.h"

namespace {
Namco163Registers& r() { return board_registers<Namco163Registers>(); }
uint8_t* ram() { return cartridge.board_memory.data(); }

constexpr int32_t SLOT_CYCLES = 15;
constexpr int32_t FOREVER = std::numeric_limits<int32_t>::max();
constexpr uint8_t SOUND_OFF = 0x40;  // $E000 bit 6

bool silenced() { return r().prg[0] & SOUND_OFF; }
int32_t enabled_channels() { return ((ram()[0x7F] >> 4) & 7) + 1; }

// The update of the next channel: phase, write-back, output; then the channel after it.
void update_channel() {
  Namco163Registers& m = r();
  uint8_t* const c = ram() + 0x40 + 8 * (m.sound_channel & 7);
  const uint32_t frequency = c[0] | c[2] << 8 | (c[4] & 3u) << 16;
  const uint32_t length = 256 - (c[4] & 0xFCu);
  uint32_t phase = c[1] | c[3] << 8 | static_cast<uint32_t>(c[5]) << 16;
  phase = (phase + frequency) % (length << 16);
  c[1] = static_cast<uint8_t>(phase);
  c[3] = static_cast<uint8_t>(phase >> 8);
  c[5] = static_cast<uint8_t>(phase >> 16);
  const uint32_t index = ((phase >> 16) + c[6]) & 0xFF;
  const int32_t sample = (ram()[index >> 1] >> ((index & 1) * 4)) & 0x0F;
  m.sound_output = static_cast<int8_t>((sample - 8) * (c[7] & 0x0F));
  const int32_t first = 8 - enabled_channels();  // the lowest channel index that plays
  m.sound_channel = static_cast<uint8_t>((m.sound_channel & 7) > first ? (m.sound_channel & 7) - 1 : 7);
}

// One CPU cycle, stepped plainly: the reference the closed form below is held to.
int32_t tick() {
  Namco163Registers& m = r();
  if (silenced()) return 0;
  if (m.sound_slot >= SLOT_CYCLES - 1) {
    m.sound_slot = 0;
    update_channel();
  } else {
    ++m.sound_slot;
  }
  return m.sound_output;
}

int32_t level() { return silenced() ? 0 : r().sound_output; }

// Cycles to the next update, whose cycle is the first that may sound different.
int32_t cycles_to_update() {
  const uint8_t slot = r().sound_slot;
  return slot >= SLOT_CYCLES - 1 ? 1 : SLOT_CYCLES - slot;
}

int32_t quiet_cycles() { return silenced() ? FOREVER : cycles_to_update() - 1; }

void advance(int32_t cycles) {
  Namco163Registers& m = r();
  if (silenced() || cycles <= 0) return;
  const int32_t first = cycles_to_update();
  if (cycles < first) {
    m.sound_slot = static_cast<uint8_t>(m.sound_slot + cycles);
    return;
  }
  // The first update, then one every 15 cycles; each channel's phase moves only at its own.
  const int32_t after = cycles - first;
  for (int32_t n = after / SLOT_CYCLES; n >= 0; --n) update_channel();
  m.sound_slot = static_cast<uint8_t>(after % SLOT_CYCLES);
}

// Loudness: one channel at full volume playing a square of samples 0 and 15 sounds 11 dB (RMS)
// above the console's pulse at volume 15. The boards differ (their mixing resistors give 11 to 19.5
// dB); 11 dB is the range Megami Tensei II's board is in, and the lower figure keeps headroom, since the
// time-multiplexed output puts a channel's whole swing on the output in its slot however many
// channels play. The square's swing is 15 x 15 level steps, the pulse's its mixer level.
const float PULSE_15 = 95.88f / (8128.0f / 15.0f + 100.0f);
}  // namespace

const CartridgeSound namco163_sound{tick, level, quiet_cycles, advance,
                                    PULSE_15 * 3.5481339f / (15.0f * 15.0f)};  // 10^(1100/2000)

int32_t namco163_sound_tick() { return tick(); }
void namco163_sound_advance(int32_t cycles) { advance(cycles); }
int32_t namco163_sound_quiet_cycles() { return quiet_cycles(); }
int32_t namco163_sound_level() { return level(); }
