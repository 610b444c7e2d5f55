// The Namco 163's sound on mapper 19: the closed form the APU's quiet runs pay against stepping the
// chip one cycle at a time (over one and eight channels, odd slot positions, silenced and muted
// chips, the fastest frequency, waves over the registers and any record bytes), and the chip's
// place in the mix: its loudness per submapper, which boards have it, and $E000 bit 6.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "apu/apu.h"
#include "cart/boards/namco163.h"
#include "cart/boards/namco163_sound.h"
#include "core_test_machine.h"
#include "cpu/cpu.h"
#include "sound_chip_walk.h"

namespace {

using namespace core_test;

// A channel's settings, written to its eight bytes of internal RAM.
struct Channel {
  int number;  // 1-8
  uint32_t frequency;  // 18 bits
  uint32_t length;     // 4-256 samples, a multiple of 4
  uint8_t start, volume;
  uint32_t phase = 0;  // 24 bits
};

// Writes internal RAM through the port, as a program does: address with auto-increment, then data.
void ram_write(uint8_t address, const std::vector<uint8_t>& bytes) {
  cpu_write(0xF800, static_cast<uint8_t>(0x80 | address));
  for (uint8_t b : bytes) cpu_write(0x4800, b);
}

void set_channel(const Channel& c, int enabled) {
  const uint8_t high = static_cast<uint8_t>((256 - c.length) | (c.frequency >> 16 & 3));
  uint8_t volume = c.volume;
  if (c.number == 8) volume = static_cast<uint8_t>(volume | (enabled - 1) << 4);
  ram_write(static_cast<uint8_t>(0x40 + 8 * (c.number - 1)),
            {static_cast<uint8_t>(c.frequency), static_cast<uint8_t>(c.phase), static_cast<uint8_t>(c.frequency >> 8),
             static_cast<uint8_t>(c.phase >> 8), high, static_cast<uint8_t>(c.phase >> 16), c.start, volume});
}

// Mapper 19 with the chip's output on ($E000 bit 6 clear), waves of pseudo-random samples in
// $00-$3F and the channels set (channel 8 also carries the count).
void power_on_with(const std::vector<Channel>& channels, int enabled) {
  power_on(8, 16, 19);
  cpu_write(0xE000, 0x00);
  ram_write(0x00, random_bytes(0x40, 163));
  bool eight = false;
  for (const Channel& c : channels) {
    set_channel(c, enabled);
    eight = eight || c.number == 8;
  }
  if (!eight) set_channel({8, 0, 256, 0, 0}, enabled);
}

Namco163Registers& regs() { return board_registers<Namco163Registers>(); }

std::vector<uint8_t> record() {
  std::vector<uint8_t> bytes(sizeof mapper.bytes + cartridge.board_memory.size());
  std::memcpy(bytes.data(), mapper.bytes, sizeof mapper.bytes);
  std::memcpy(bytes.data() + sizeof mapper.bytes, cartridge.board_memory.data(), cartridge.board_memory.size());
  return bytes;
}
void restore(const std::vector<uint8_t>& bytes) {
  std::memcpy(mapper.bytes, bytes.data(), sizeof mapper.bytes);
  std::memcpy(cartridge.board_memory.data(), bytes.data() + sizeof mapper.bytes, cartridge.board_memory.size());
}

// Each row sets the channels (and perhaps record bytes a program cannot set) and runs the chip for
// `cycles` stepped and walked (sound_chip_walk.h). A walk stops at most once per channel update
// (every 15 cycles); with one channel about once per change of level; and not at all once every
// enabled channel is at volume 0 and the output is 0.
TEST(Namco163Sound, ClosedFormAgreesWithSteppingEachCycle) {
  struct Row {
    const char* what;
    std::vector<Channel> channels;
    int enabled;
    int32_t cycles;
    void (*preset)();
    int32_t most_events;  // -1: one per update; -2: about one per change of level
  };
  const auto none = [] {};
  const std::vector<Channel> eight = {{1, 0x00F00, 16, 0, 15},         {2, 0x01234, 32, 17, 9},
                                      {3, 0x3FFFF, 4, 3, 15, 0x12345}, {4, 0x00001, 256, 200, 1},
                                      {5, 0x20000, 64, 33, 7},         {6, 0x0ABCD, 8, 101, 12},
                                      {7, 0x00000, 16, 5, 15, 0x0A0000}, {8, 0x05555, 124, 255, 4}};
  const Row rows[] = {
      {"1 channel, length 16, volume 15", {{8, 0x0F1B, 16, 0, 15}}, 1, 30000, none, -1},
      {"8 channels, every length, frequency and volume", eight, 8, 120000, none, -1},
      {"8 channels, the fastest frequency, length 4", {{8, 0x3FFFF, 4, 1, 15}, {7, 0x3FFFF, 4, 9, 14}}, 8, 20000,
       none, -1},
      {"3 channels, an odd slot position, the turn at channel 7",
       {{8, 0x2000, 16, 0, 15}, {7, 0x3000, 20, 16, 11}, {6, 0x0777, 12, 40, 6}}, 3, 20000,
       [] {
         regs().sound_slot = 7;
         regs().sound_channel = 6;
       },
       -1},
      {"the turn at a channel no longer enabled, the slot past its end", {{8, 0x1800, 32, 2, 13}}, 1, 10000,
       [] {
         regs().sound_slot = 200;
         regs().sound_channel = 2;
       },
       -1},
      {"a phase beyond the wave's length", {{8, 0x0400, 8, 6, 10, 0xFFFFFF}}, 1, 6000, none, -1},
      {"1 channel, a slow frequency: 32 turns a sample", {{8, 0x0800, 8, 0, 15, 0x01F000}}, 1, 60000, none, -2},
      {"1 channel, frequency 0", {{8, 0, 16, 3, 15, 0x050000}}, 1, 20000, none, 2},
      {"a wave over the registers (its own phase)", {{8, 0x4321, 16, 0xF0, 15}}, 1, 20000, none, -1},
      {"silenced by $E000 bit 6", eight, 8, 20000, [] { cpu_write(0xE000, 0x40); }, 2},
      {"volume 0 on every enabled channel, an output still held",
       {{8, 0x1000, 16, 0, 0}, {7, 0x2345, 16, 8, 0}, {6, 0x3000, 16, 4, 0}, {5, 0x0100, 16, 1, 0}}, 4, 60000,
       [] { regs().sound_output = -60; },
       2},
      {"a record and internal RAM of all $FF bytes", {}, 1, 40000,
       [] {
         std::memset(mapper.bytes, 0xFF, sizeof mapper.bytes);
         regs().prg[0] = 0x00;  // the output on
         std::memset(cartridge.board_memory.data(), 0xFF, cartridge.board_memory.size());
       },
       -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on_with(row.channels, row.enabled);
    row.preset();
    const sound_chip_walk::Walk w = sound_chip_walk::walk(namco163_sound, record, restore, row.cycles);
    if (row.most_events < 0) {
      EXPECT_LE(w.events, row.most_events == -1 ? row.cycles / 15 + 1 : 2 * w.changes() + 2);
      EXPECT_GT(w.changes(), 0) << "the row plays something";
    } else {
      EXPECT_LE(w.events, row.most_events);
    }
  }
}

// In the stepping itself: channels take their turns 8, 7 ... 9 - N every 15 cycles, a turn adds
// the frequency to the phase, and the sample the phase points at, less 8, times the volume is held
// on the output for the turn.
TEST(Namco163Sound, TurnsComeEvery15CyclesInTheOrder8Down) {
  // Channel k plays a constant wave (all samples k + 4) at volume k, so its turns show as (k - 4) x k.
  power_on(8, 16, 19);
  cpu_write(0xE000, 0x00);
  for (int k = 6; k <= 8; ++k) {
    const uint8_t sample = static_cast<uint8_t>(k + 4);
    ram_write(static_cast<uint8_t>(8 * (k - 6)), std::vector<uint8_t>(8, static_cast<uint8_t>(sample * 0x11)));
    set_channel({k, 0x1000u * static_cast<uint32_t>(k), 16, static_cast<uint8_t>(16 * (k - 6)), static_cast<uint8_t>(k)},
                3);
  }
  regs().sound_slot = 0;  // a turn just ended; channel 8's is next
  regs().sound_channel = 7;
  std::vector<int32_t> levels;
  for (int c = 0; c < 15 * 9; ++c) levels.push_back(namco163_sound_tick());
  const int order[3] = {8, 7, 6};
  for (int c = 14; c < 15 * 9; ++c) {
    const int k = order[(c - 14) / 15 % 3];
    ASSERT_EQ(levels[static_cast<size_t>(c)], (k + 4 - 8) * k) << "cycle " << c;
  }
  EXPECT_EQ(levels[13], 0) << "nothing before the first turn";
  // Three turns each: the phases moved by three frequencies.
  for (int k = 6; k <= 8; ++k) {
    const uint8_t* c = cartridge.board_memory.data() + 0x40 + 8 * (k - 1);
    EXPECT_EQ(c[1] | c[3] << 8 | c[5] << 16, 3 * 0x1000 * k) << k;
  }
}

// One channel at full volume playing a square of samples 0 and 15 swings the stream 11 dB above a
// console pulse at volume 15 (16.5 dB and 18 dB on submappers 4 and 5); submappers 1 and 2 and the
// 175/340 have no sound; the chip is out of the mix until $E000 bit 6 is written as 0, which moves
// no program bank.
TEST(Namco163Sound, LoudnessBySubmapperAndTheBoardsWithoutSound) {
  const double apu_swing = mix_sample(15, 0, 0, 0) - mix_sample(0, 0, 0, 0);
  struct Loudness {
    uint8_t submapper;
    double decibels;
  };
  for (const Loudness l : {Loudness{0, 11.0}, Loudness{3, 11.0}, Loudness{4, 16.5}, Loudness{5, 18.0}}) {
    SCOPED_TRACE(int{l.submapper});
    power_on(8, 16, 19, 0x01, l.submapper);
    const uint8_t* bank0 = banks.prg_slots[4];
    EXPECT_EQ(bank0, cartridge.prg_rom.data());
    EXPECT_EQ(cartridge_sound, nullptr) << "silent at power-on";
    cpu_write(0xE000, 0x40);
    EXPECT_EQ(cartridge_sound, nullptr);
    cpu_write(0xE000, 0x00);
    ASSERT_NE(cartridge_sound, nullptr);
    EXPECT_EQ(banks.prg_slots[4], bank0);
    // The square's upper half (level 105 over 0), scaled to its whole swing of 225 steps: the lower
    // half of the loudest board's passes the stream's bottom.
    const double swing =
        (mix_sample_with_cartridge(0, 0, 0, 0, 7 * 15) - mix_sample_with_cartridge(0, 0, 0, 0, 0)) * 225.0 / 105.0;
    EXPECT_NEAR(20.0 * std::log10(swing / apu_swing), l.decibels, 0.05);
    for (int32_t p = 0; p <= 30; p += 10)
      for (int32_t d = 0; d < 128; d += 42) EXPECT_EQ(mix_sample_with_cartridge(p, 7, 3, d, 0), mix_sample(p, 7, 3, d));
    cpu_write(0xE003, 0x45);  // bank 5 and the output off again
    EXPECT_EQ(cartridge_sound, nullptr);
    EXPECT_EQ(banks.prg_slots[4], cartridge.prg_rom.data() + 5 * 8192);
  }
  struct Quiet {
    uint32_t mapper_number;
    uint8_t submapper;
  };
  for (const Quiet q : {Quiet{19, 1}, Quiet{19, 2}, Quiet{210, 0}, Quiet{210, 1}, Quiet{210, 2}}) {
    SCOPED_TRACE(std::to_string(q.mapper_number) + "." + std::to_string(q.submapper));
    power_on(8, 16, q.mapper_number, 0x01, q.submapper);
    ram_write(0x7F, {0x0F});
    cpu_write(0xE000, 0x00);
    EXPECT_EQ(cartridge_sound, nullptr);
  }
}

}  // namespace
