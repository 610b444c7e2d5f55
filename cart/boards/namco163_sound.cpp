// The Namco 163's sound: up to eight wavetable channels whose registers and phases live in the top
// of its 128 bytes of internal RAM (cartridge.board_memory). Channel k (1-8) has 8 bytes at
// $40 + 8 (k - 1):
//   +0, +2, +4 bits 0-1  18-bit frequency (low, middle, high)
//   +1, +3, +5           24-bit phase (low, middle, high)
//   +4 bits 2-7          wave length: 256 - (value AND $FC) four-bit samples
//   +6                   wave start, in four-bit samples (sample n is the low nibble of byte n / 2
//                        when n is even, the high nibble when odd)
//   +7 bits 0-3          volume; $7F bits 4-6: enabled channels less 1
// With N channels enabled they are channels 8 down to 9 - N; the RAM below the lowest enabled
// channel's registers is free for waves.
//
// The chip has one adder and one output: every 15 CPU cycles it takes the next channel in the order
// 8, 7 ... 9 - N, 8 ..., adds its frequency to its phase modulo (length << 16), writes the phase back
// to RAM, and puts (sample - 8) x volume of the sample at ((phase >> 16) + start) AND $FF on its
// output, where it stays until the next channel's turn. So a channel is heard only 1/N of the time:
// with N channels each is 1/N as loud as alone (in the sound's average), its notes step 15 x N
// cycles apart, and the switching between channels is itself a tone at 1789773 / (15 N) Hz (the
// whine the hardware makes with many channels: 14.9 kHz with eight).
// A note's frequency: CPU x frequency / (15 x 65536 x N x length).
// If the channel count is lowered while the turn is at a channel no longer enabled, the next turn
// is channel 8's.
//
// $E000 bit 6 silences the chip: the output is 0 and nothing moves while it is set. The bit is set at
// power-on: the chip stays silent until a program writes it as 0, and a game that never does runs
// without the chip in the mix at all (the board's sound_on).
//
// The record holds the slot position (cycles since the last update), the next channel and the
// output held; any bytes there give a valid chip (a slot past its end updates on the next cycle).
// Between updates the output cannot change, so the APU's quiet runs last to the next update; with
// one channel they last while its phase stays within the sample it plays; when every enabled
// channel is at volume 0 and the output is 0 nothing can be heard until a register changes, and the
// runs last until then. Either way the updates they pass are paid in closed form:
// each channel's phase moves by its frequency times the number of turns it had.
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
uint8_t* channel_registers(int32_t channel) { return ram() + 0x40 + 8 * channel; }

// The channel (0-7 for channels 1-8) that the next update takes.
int32_t next_channel() {
  const int32_t c = r().sound_channel & 7;
  return c >= 8 - enabled_channels() ? c : 7;
}

// Moves a channel's phase by `turns` additions of its frequency (modulo its wave's length).
void move_phase(uint8_t* c, uint64_t turns) {
  const uint64_t frequency = c[0] | c[2] << 8 | (c[4] & 3u) << 16;
  const uint64_t length = 256 - (c[4] & 0xFCu);
  uint64_t phase = c[1] | c[3] << 8 | static_cast<uint64_t>(c[5]) << 16;
  phase = (phase + turns * frequency) % (length << 16);
  c[1] = static_cast<uint8_t>(phase);
  c[3] = static_cast<uint8_t>(phase >> 8);
  c[5] = static_cast<uint8_t>(phase >> 16);
}

// What a channel puts on the output for its phase in RAM.
int8_t channel_output(const uint8_t* c) {
  const uint32_t phase = c[1] | c[3] << 8 | static_cast<uint32_t>(c[5]) << 16;
  const uint32_t index = ((phase >> 16) + c[6]) & 0xFF;
  const int32_t sample = (ram()[index >> 1] >> ((index & 1) * 4)) & 0x0F;
  return static_cast<int8_t>((sample - 8) * (c[7] & 0x0F));
}

// The channel after `channel` in the order 8, 7 ... 9 - N.
uint8_t channel_after(int32_t channel) {
  return static_cast<uint8_t>(channel > 8 - enabled_channels() ? channel - 1 : 7);
}

// `updates` (at least 1) updates at once: the channel taking update u (0, 1 ...) is the one u
// places after the next one in the order, so each has a known count of turns; the last update's
// channel, its phase final like every other's, gives the output.
void run_updates(uint64_t updates) {
  Namco163Registers& m = r();
  const int32_t n = enabled_channels(), first = next_channel();
  for (int32_t k = 0; k < n && static_cast<uint64_t>(k) < updates; ++k) {
    const int32_t channel = (first - k - (8 - n) + n) % n + (8 - n);
    move_phase(channel_registers(channel), (updates - 1 - k) / n + 1);
  }
  const auto back = static_cast<int32_t>((updates - 1) % n);
  const int32_t last = (first - back - (8 - n) + n) % n + (8 - n);
  m.sound_output = channel_output(channel_registers(last));
  m.sound_channel = channel_after(last);
}

// One CPU cycle, stepped plainly: the reference the closed form below is held to.
int32_t tick() {
  Namco163Registers& m = r();
  if (silenced()) return 0;
  if (m.sound_slot >= SLOT_CYCLES - 1) {
    m.sound_slot = 0;
    const int32_t channel = next_channel();
    uint8_t* const c = channel_registers(channel);
    move_phase(c, 1);
    m.sound_output = channel_output(c);
    m.sound_channel = channel_after(channel);
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

// Every enabled channel at volume 0 and nothing on the output: silent until a register changes.
bool mute() {
  if (r().sound_output != 0) return false;
  for (int32_t channel = 8 - enabled_channels(); channel < 8; ++channel)
    if (channel_registers(channel)[7] & 0x0F) return false;
  return true;
}

// One channel alone, its output already on: its turns keep that output while its phase stays within
// the same sample (unless the sample lies in the phase's own bytes). The turns after the next one
// that keep it, or FOREVER at frequency 0.
int32_t steady_turns() {
  const uint8_t* c = channel_registers(7);
  if (enabled_channels() != 1 || r().sound_output != channel_output(c)) return 0;
  const uint32_t phase = c[1] | c[3] << 8 | static_cast<uint32_t>(c[5]) << 16;
  const uint32_t frequency = c[0] | c[2] << 8 | (c[4] & 3u) << 16;
  if (phase >= (256 - (c[4] & 0xFCu)) << 16) return 0;  // the next turn wraps it
  if (frequency == 0) return FOREVER;
  const uint32_t byte = (((phase >> 16) + c[6]) & 0xFF) >> 1;
  if (byte == 0x79 || byte == 0x7B || byte == 0x7D) return 0;
  const uint32_t to_next_sample = (((phase >> 16) + 1) << 16) - phase;
  return static_cast<int32_t>((to_next_sample + frequency - 1) / frequency) - 1;
}

int32_t quiet_cycles() {
  if (silenced() || mute()) return FOREVER;
  const int32_t turns = steady_turns();
  if (turns == FOREVER) return FOREVER;
  return cycles_to_update() - 1 + SLOT_CYCLES * turns;
}

void advance(int32_t cycles) {
  Namco163Registers& m = r();
  if (silenced() || cycles <= 0) return;
  const int32_t first = cycles_to_update();
  if (cycles < first) {
    m.sound_slot = static_cast<uint8_t>(m.sound_slot + cycles);
    return;
  }
  const int32_t after = cycles - first;  // cycles after the first update
  run_updates(static_cast<uint64_t>(after / SLOT_CYCLES) + 1);
  m.sound_slot = static_cast<uint8_t>(after % SLOT_CYCLES);
}

// Loudness: one channel at full volume playing a square of samples 0 and 15 sounds 11 dB (RMS)
// above the console's pulse at volume 15 (the mixe figure for 1-channel mode; submapper 3's
// resistor, 11-13 dB, takes it too). Submappers 4 and 5 name louder resistors: 16-17 dB (16.5 is
// taken) and 18-19.5 dB (18, so that only sample 0 at volume 15 passes the stream's bottom, by 3%).
// The square's swing is 15 x 15 level steps, the pulse's APU_PULSE_AT_15.
constexpr float PER_STEP = APU_PULSE_AT_15 / (15.0f * 15.0f);
}  // namespace

const CartridgeSound namco163_sound{tick, level, quiet_cycles, advance, PER_STEP * 3.5481339f};  // 10^(1100/2000)
const CartridgeSound namco163_sound_16_5db{tick, level, quiet_cycles, advance, PER_STEP * 6.6834392f};
const CartridgeSound namco163_sound_18db{tick, level, quiet_cycles, advance, PER_STEP * 7.9432823f};

int32_t namco163_sound_tick() { return tick(); }
void namco163_sound_advance(int32_t cycles) { advance(cycles); }
int32_t namco163_sound_quiet_cycles() { return quiet_cycles(); }
int32_t namco163_sound_level() { return level(); }
