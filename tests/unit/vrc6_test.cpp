// Konami VRC6 (24, 26): the registers each wiring decodes into banks, mirroring and cartridge RAM;
// the sound channels' closed form (what the APU's quiet runs pay) against stepping them one cycle
// at a time; and the chip's place in the mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "apu/apu.h"
#include "cart/boards/vrc6.h"
#include "core_test_machine.h"
#include "cpu/cpu.h"
#include "sound_chip_walk.h"

namespace {

using namespace core_test;

const uint8_t* prg(size_t offset) { return cartridge.prg_rom.data() + offset; }
const uint8_t* chr(size_t offset) { return cartridge.chr_rom.data() + offset; }
const uint8_t* page(int n) { return banks.nametable_ram + 0x400 * n; }

// Register `reg` (0-3, as the chip numbers them) of the page at `base` on board `mapper_number`.
uint16_t vrc6_register(uint32_t mapper_number, uint16_t base, int reg) {
  const int pins = mapper_number == 26 ? ((reg & 1) << 1) | (reg >> 1) : reg;
  return static_cast<uint16_t>(base | pins);
}

struct Write {
  uint16_t address;
  uint8_t value;
};
std::vector<uint8_t> record() { return {mapper.bytes, mapper.bytes + sizeof mapper.bytes}; }
void restore(const std::vector<uint8_t>& bytes) { std::memcpy(mapper.bytes, bytes.data(), sizeof mapper.bytes); }
void write_all(const std::vector<Write>& writes) {
  for (const Write& w : writes) cpu_write(w.address, w.value);
}

TEST(Mappers, Vrc6MapsWhatItsRegistersSayOnBothWirings) {
  constexpr size_t K = 1024;
  for (const uint32_t mapper_number : {24u, 26u}) {
    SCOPED_TRACE(mapper_number);
    auto reg = [&](uint16_t base, int n) { return vrc6_register(mapper_number, base, n); };
    power_on(16, 32, mapper_number);  // 256 KiB program, 256 KiB pattern ROM
    EXPECT_EQ(banks.prg_slots[7], prg(248 * K));
    cpu_write(reg(0x8000, 0), 0xF6);  // 16 KiB bank 6 (4 bits)
    cpu_write(reg(0xC000, 0), 0xF3);  // 8 KiB bank 19 (5 bits)
    EXPECT_EQ(banks.prg_slots[4], prg(6 * 16 * K));
    EXPECT_EQ(banks.prg_slots[5], prg(6 * 16 * K + 8 * K));
    EXPECT_EQ(banks.prg_slots[6], prg(19 * 8 * K));
    EXPECT_EQ(banks.prg_slots[7], prg(248 * K));
    for (int s = 0; s < 8; ++s) cpu_write(reg(s < 4 ? 0xD000 : 0xE000, s & 3), static_cast<uint8_t>(0x11 + 0x25 * s));
    for (int s = 0; s < 8; ++s) EXPECT_EQ(banks.chr_slots[s], chr((0x11 + 0x25 * s) % 256 * K)) << s;
    const int pages[4][4] = {{0, 1, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}};
    for (int mm = 0; mm < 4; ++mm) {
      cpu_write(reg(0xB000, 3), static_cast<uint8_t>(0x20 | mm << 2));
      for (int n = 0; n < 4; ++n) EXPECT_EQ(banks.nametable_slots[n], page(pages[mm][n])) << mm << " " << n;
    }
    // Cartridge RAM answers only while $B003 bit 7 is set.
    cpu_write(0x6123, 0xA5);
    EXPECT_EQ(cpu_read(0x6123), 0x00);
    cpu_write(reg(0xB000, 3), 0xA0);
    cpu_write(0x6123, 0xA5);
    EXPECT_EQ(cpu_read(0x6123), 0xA5);
    EXPECT_EQ(cpu_read(0x7FFF), bus.cartridge_ram[0x1FFF]);
    cpu_write(reg(0xB000, 3), 0x20);
    EXPECT_EQ(cpu_read(0x6123), 0x00);
    cpu_write(reg(0xB000, 3), 0x80);
    EXPECT_EQ(cpu_read(0x6123), 0xA5);
    // The interrupt at $F000-$F002: latch $FD, cycle mode and enabled, so the counter reloaded
    // by the control write overflows on the third cycle after it; the acknowledge lowers the line.
    bus.cycles = 5000;
    (void)mapper_write(reg(0xF000, 0), 0xFD, true);
    (void)mapper_write(reg(0xF000, 1), 0x06, true);
    ASSERT_TRUE(cartridge_irq_line);
    EXPECT_EQ((cartridge_irq_since + CARTRIDGE_IRQ_DELAY) / 3, 5003u);
    bus.cycles = 5010;
    (void)mapper_write(reg(0xF000, 2), 0x00, true);
    EXPECT_FALSE(cartridge_irq_line);  // A was 0: the acknowledge also disabled the counter
  }
}

// Each row sets the sound registers (chip numbering, mapper 24) and runs them for `cycles`, stepped
// and walked (sound_chip_walk.h); the walk stops only where the level may change: about once per
// change, never every cycle.
TEST(Vrc6Sound, ClosedFormAgreesWithSteppingEachCycle) {
  struct Row {
    const char* what;
    std::vector<Write> writes;
    int32_t cycles;
  };
  const Row rows[] = {
      {"pulse 1, duty 3, volume 15", {{0x9000, 0x3F}, {0x9001, 0x23}, {0x9002, 0x81}}, 40000},
      {"pulse 2, duty 7, volume 9, period 0", {{0xA000, 0x79}, {0xA001, 0x00}, {0xA002, 0x80}}, 3000},
      {"pulse, duty 0, the digitised bit", {{0x9000, 0x8C}, {0x9001, 0x10}, {0x9002, 0x80}}, 5000},
      {"pulse at volume 0", {{0x9000, 0x40}, {0x9001, 0x10}, {0x9002, 0x80}}, 5000},
      {"saw, rate 42", {{0xB000, 0x2A}, {0xB001, 0x57}, {0xB002, 0x80}}, 40000},
      {"saw, rate 63 (wraps)", {{0xB000, 0x3F}, {0xB001, 0x05}, {0xB002, 0x80}}, 20000},
      {"saw, rate 0", {{0xB000, 0x00}, {0xB001, 0x05}, {0xB002, 0x80}}, 5000},
      {"all three, x16", {{0x9003, 0x02}, {0x9000, 0x1F}, {0x9001, 0x45}, {0x9002, 0x8F}, {0xA000, 0x57},
                          {0xA001, 0x99}, {0xA002, 0x8C}, {0xB000, 0x11}, {0xB001, 0xFF}, {0xB002, 0x8A}}, 40000},
      {"all three, x256 over x16", {{0x9003, 0x06}, {0x9000, 0x1F}, {0x9001, 0x45}, {0x9002, 0x8F},
                                    {0xB000, 0x21}, {0xB001, 0xFF}, {0xB002, 0x8F}}, 20000},
      {"halted", {{0x9003, 0x07}, {0x9000, 0x3F}, {0x9001, 0x01}, {0x9002, 0x80}}, 3000},
      {"disabled", {{0x9000, 0x3F}, {0x9001, 0x01}, {0x9002, 0x0F}}, 3000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on(16, 32, 24);
    write_all(row.writes);
    ASSERT_NE(cartridge_sound, nullptr);
    const sound_chip_walk::Walk w = sound_chip_walk::walk(*cartridge_sound, record, restore, row.cycles);
    EXPECT_LE(w.events, 2 * w.changes() + 2);
  }
}

// The sound the channels make: a pulse's frequency, duty and level, and the sawtooth's seven steps.
TEST(Vrc6Sound, ChannelsPlayTheirPeriodsDutiesAndRamp) {
  power_on(16, 32, 24);
  // Pulse 1: duty 5 (6/16), volume 12, period 99: 16 x 100 cycles per waveform.
  write_all({{0x9000, 0x5C}, {0x9001, 99}, {0x9002, 0x80}});
  std::vector<int32_t> wave;
  for (int c = 0; c < 16 * 100 * 4; ++c) wave.push_back(vrc6_sound_tick());
  int32_t high = 0, rises = 0;
  for (size_t c = 0; c < wave.size(); ++c) {
    EXPECT_TRUE(wave[c] == 0 || wave[c] == 12) << c;
    high += wave[c] == 12;
    if (c > 0 && wave[c] == 12 && wave[c - 1] == 0) ++rises;
  }
  EXPECT_EQ(high, 4 * 6 * 100);
  EXPECT_EQ(rises, 4);
  cpu_write(0x9002, 0x00);  // disabled: silent
  EXPECT_EQ(vrc6_sound_level(), 0);
  // Saw: rate 40, period 9: 14 x 10 cycles per ramp through 0, 40 ... 240, top five bits.
  write_all({{0xB000, 40}, {0xB001, 9}, {0xB002, 0x80}});
  std::vector<int32_t> seen;
  for (int c = 0; c < 14 * 10; ++c) {
    const int32_t l = vrc6_sound_tick();
    if (seen.empty() || seen.back() != l) seen.push_back(l);
  }
  const std::vector<int32_t> ramp = {0, 5, 10, 15, 20, 25, 30, 0};
  EXPECT_EQ(seen, std::vector<int32_t>(ramp.begin() + (seen.front() == 0 ? 0 : 1), ramp.end()));
}

// A VRC6 pulse at volume 15 swings the stream as far as an APU pulse at volume 15 (0 dB); the
// silent chip adds nothing; and the loudest sum clips at the top of the 16-bit range.
TEST(Vrc6Sound, MixesAtThePulseChannelsLevelAndClips) {
  power_on(16, 32, 24);
  ASSERT_NE(cartridge_sound, nullptr);
  const int32_t apu_swing = mix_sample(15, 0, 0, 0) - mix_sample(0, 0, 0, 0);
  const int32_t chip_swing = mix_sample_with_cartridge(0, 0, 0, 0, 15) - mix_sample_with_cartridge(0, 0, 0, 0, 0);
  EXPECT_LT(std::fabs(20.0 * std::log10(static_cast<double>(chip_swing) / apu_swing)), 0.5);
  EXPECT_LE(std::abs(chip_swing - apu_swing), 1);
  for (int32_t p = 0; p <= 30; p += 5)
    for (int32_t t = 0; t < 16; t += 5)
      for (int32_t d = 0; d < 128; d += 21) EXPECT_EQ(mix_sample_with_cartridge(p, t, 3, d, 0), mix_sample(p, t, 3, d));
  int32_t previous = mix_sample_with_cartridge(30, 15, 15, 127, 0);
  for (int32_t level = 1; level <= 61; ++level) {
    const int32_t s = mix_sample_with_cartridge(30, 15, 15, 127, level);
    EXPECT_GE(s, previous) << level;
    previous = s;
  }
  EXPECT_EQ(previous, 32767);
  power_on(2, 1, 0);
  EXPECT_EQ(cartridge_sound, nullptr);
}

}  // namespace
