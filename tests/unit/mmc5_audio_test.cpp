// The MMC5's sound: its closed form (what the APU's quiet runs pay) against stepping it one cycle
// at a time; its registers, the 240 Hz clock and the PCM's $00 rule; and its place in the mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "apu/apu.h"
#include "cart/boards/mmc5_audio.h"
#include "core_test_machine.h"

namespace {

using namespace core_test;

struct Write {
  uint16_t address;
  uint8_t value;
};

// A machine whose board memory holds the sound's record, driven through the register writes.
void power_on_with_sound(const std::vector<Write>& writes) {
  power_on(2, 1, 0);
  cartridge.board_memory.assign(MMC5_MEMORY_SIZE, 0);
  for (const Write& w : writes) mmc5_audio_write(w.address, w.value);
}

std::vector<uint8_t> record() {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&mmc5_audio());
  return {bytes, bytes + sizeof(Mmc5Audio)};
}
void restore(const std::vector<uint8_t>& bytes) { std::memcpy(&mmc5_audio(), bytes.data(), bytes.size()); }

double db(double a, double b) { return 20.0 * std::log10(a / b); }

// Each row writes the registers and runs them for `cycles`: stepped one cycle at a time, and again
// in the APU's way (quiet stretches paid in closed form, each followed by one stepped cycle). The
// levels of every cycle and the records must agree, and one closed-form jump over the whole
// stretch must give the same record.
TEST(Mmc5Sound, ClosedFormAgreesWithSteppingEachCycle) {
  struct Row {
    const char* what;
    std::vector<Write> writes;
    int32_t cycles;
    bool all_ones = false;  // the record starts as all $FF bytes (any bytes a state may hold)
  };
  const Row rows[] = {
      {"pulse 1, duty 2, constant 15, halted length",
       {{0x5015, 0x01}, {0x5000, 0xBF}, {0x5002, 200}, {0x5003, 0x08}}, 40000},
      {"pulse 2, duty 3, envelope 3, length runs out",
       {{0x5015, 0x02}, {0x5004, 0xC3}, {0x5006, 37}, {0x5007, 0x18}}, 60000},
      {"pulse 1, duty 0, looping envelope 0", {{0x5015, 0x01}, {0x5000, 0x20}, {0x5002, 90}, {0x5003, 0x01}}, 40000},
      {"pulse 2, duty 1, period 0 (ultrasonic)", {{0x5015, 0x02}, {0x5004, 0x79}, {0x5006, 0}, {0x5007, 0x00}}, 3000},
      {"both pulses, one then switched off",
       {{0x5015, 0x03}, {0x5000, 0x9A}, {0x5002, 0x45}, {0x5003, 0x0A}, {0x5004, 0x55}, {0x5006, 0xF0},
        {0x5007, 0xF9}, {0x5015, 0x02}}, 50000},
      {"pulse at volume 0, the DAC at $80", {{0x5015, 0x01}, {0x5000, 0x30}, {0x5002, 9}, {0x5003, 0x08}, {0x5011, 0x80}}, 20000},
      {"nothing enabled", {{0x5000, 0xBF}, {0x5002, 9}, {0x5003, 0x08}}, 20000},
      {"a record of all $FF bytes", {}, 80000, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on_with_sound(row.writes);
    if (row.all_ones) std::memset(&mmc5_audio(), 0xFF, sizeof(Mmc5Audio));
    const std::vector<uint8_t> start = record();
    std::vector<int32_t> level{mmc5_sound_level()};
    std::vector<std::vector<uint8_t>> records{start};
    for (int32_t c = 0; c < row.cycles; ++c) {
      level.push_back(mmc5_sound_tick());
      records.push_back(record());
    }
    restore(start);
    int32_t pos = 0, events = 0;
    while (pos < row.cycles) {
      const int32_t quiet = std::min(mmc5_sound_quiet_cycles(), row.cycles - pos);
      for (int32_t c = 1; c <= quiet; ++c) ASSERT_EQ(level[pos + c], level[pos]) << "cycle " << pos + c;
      mmc5_sound_advance(quiet);
      pos += quiet;
      ASSERT_EQ(record(), records[pos]) << "cycle " << pos;
      if (pos == row.cycles) break;
      ASSERT_EQ(mmc5_sound_tick(), level[pos + 1]) << "cycle " << pos + 1;
      ++pos;
      ++events;
    }
    // The walk stops only where the level may change (a duty edge or the 240 Hz clock).
    int32_t changes = 0;
    for (size_t c = 1; c < level.size(); ++c) changes += level[c] != level[c - 1];
    EXPECT_LE(events, 2 * changes + row.cycles / MMC5_CLOCK_PERIOD + 2);
    restore(start);
    mmc5_sound_advance(row.cycles);
    EXPECT_EQ(record(), records.back());
  }
}

// A pulse's period, duty and level; the length counter at 240 Hz read through $5015; the enables.
TEST(Mmc5Sound, PulsesPlayTheirPeriodDutyAndLength) {
  // Pulse 1: duty 2 (4/8), constant volume 12, timer 99: 16 x 100 cycles per waveform; length
  // index 0 loads 10.
  power_on_with_sound({{0x5015, 0x01}, {0x5000, 0x9C}, {0x5002, 99}, {0x5003, 0x00}});
  EXPECT_EQ(mmc5_audio_read_status(), 0x01);
  std::vector<int32_t> wave;
  for (int c = 0; c < 16 * 100 * 4; ++c) wave.push_back(mmc5_sound_tick());
  int32_t high = 0, rises = 0;
  for (size_t c = 0; c < wave.size(); ++c) {
    EXPECT_TRUE(wave[c] == 0 || wave[c] == 12 * MMC5_PULSE_WEIGHT) << c;
    high += wave[c] != 0;
    if (c > 0 && wave[c] != 0 && wave[c - 1] == 0) ++rises;
  }
  EXPECT_EQ(high, 4 * 8 * 100);
  EXPECT_EQ(rises, 4);
  // Ten clocks of 7457 cycles empty the length counter: twice as fast as the console's 120 Hz.
  power_on_with_sound({{0x5015, 0x01}, {0x5000, 0x9C}, {0x5002, 99}, {0x5003, 0x00}});
  mmc5_sound_advance(9 * MMC5_CLOCK_PERIOD);  // the clocks at cycles 1, 1 + 7457 ... (nine of them)
  EXPECT_EQ(mmc5_audio_read_status(), 0x01);
  mmc5_sound_advance(1);
  EXPECT_EQ(mmc5_audio_read_status(), 0x00);
  EXPECT_EQ(mmc5_sound_level(), 0);
  // A disabled pulse takes no length; clearing the enable zeroes it.
  mmc5_audio_write(0x5007, 0x08);
  EXPECT_EQ(mmc5_audio_read_status(), 0x00);
  mmc5_audio_write(0x5015, 0x03);
  mmc5_audio_write(0x5003, 0x08);
  mmc5_audio_write(0x5007, 0x08);
  EXPECT_EQ(mmc5_audio_read_status(), 0x03);
  mmc5_audio_write(0x5015, 0x02);
  EXPECT_EQ(mmc5_audio_read_status(), 0x02);
  // The envelope decays from 15 by one step per (period + 1) clocks: period 1, no loop.
  power_on_with_sound({{0x5015, 0x01}, {0x5000, 0x81}, {0x5002, 99}, {0x5003, 0x00}});
  std::vector<int32_t> peaks;
  for (int clock = 0; clock < 8; ++clock) {
    int32_t peak = 0;
    for (int c = 0; c < MMC5_CLOCK_PERIOD; ++c) peak = std::max(peak, mmc5_sound_tick());
    peaks.push_back(peak / MMC5_PULSE_WEIGHT);
  }
  EXPECT_EQ(peaks, (std::vector<int32_t>{15, 14, 14, 13, 13, 12, 12, 11}));
}

// The DAC takes non-zero bytes and trips on $00 (from $5011 in write mode, from program reads in
// read mode); $5010 reports trip AND enable and the read clears trip.
TEST(Mmc5Sound, PcmTakesBytesAndTripsOnZero) {
  power_on_with_sound({{0x5011, 0x40}});
  EXPECT_EQ(mmc5_sound_level(), 0x40 * MMC5_PCM_WEIGHT);
  mmc5_audio_write(0x5011, 0x00);
  EXPECT_EQ(mmc5_sound_level(), 0x40 * MMC5_PCM_WEIGHT);
  EXPECT_FALSE(mmc5_audio_irq());                  // tripped, but the interrupt is off
  EXPECT_EQ(mmc5_audio_read_pcm(), 0x00);
  mmc5_audio_write(0x5011, 0x00);
  mmc5_audio_write(0x5010, 0x80);
  EXPECT_TRUE(mmc5_audio_irq());
  EXPECT_EQ(mmc5_audio_read_pcm(), 0x80);
  EXPECT_FALSE(mmc5_audio_irq());
  EXPECT_EQ(mmc5_audio_read_pcm(), 0x00);
  mmc5_audio_write(0x5011, 0x00);
  mmc5_audio_write(0x5011, 0x01);  // a non-zero byte clears trip
  EXPECT_FALSE(mmc5_audio_irq());
  // Read mode: $5011 is ignored, program bytes feed the DAC.
  mmc5_audio_write(0x5010, 0x81);
  EXPECT_TRUE(mmc5_audio_read_mode());
  mmc5_audio_write(0x5011, 0x33);
  EXPECT_EQ(mmc5_sound_level(), 0x01 * MMC5_PCM_WEIGHT);
  mmc5_audio_pcm_read(0xC8);
  EXPECT_EQ(mmc5_sound_level(), 0xC8 * MMC5_PCM_WEIGHT);
  mmc5_audio_pcm_read(0x00);
  EXPECT_EQ(mmc5_audio_read_pcm(), 0x81);
  EXPECT_EQ(mmc5_audio_read_pcm(), 0x01);
}

// A pulse at volume 15 swings the stream as far as a console pulse at 15 (0 dB); the DAC at 127 as
// far as the DMC at 127, and at 254 twice that.
TEST(Mmc5Sound, MixesAtThePulsesAndDmcsLevels) {
  power_on_with_sound({});
  cartridge_sound = &mmc5_sound;
  auto chip = [](int32_t level) { return mix_sample_with_cartridge(0, 0, 0, 0, level) - mix_sample(0, 0, 0, 0); };
  const double apu_pulse = mix_sample(15, 0, 0, 0) - mix_sample(0, 0, 0, 0);
  const double apu_dmc = mix_sample(0, 0, 0, 127) - mix_sample(0, 0, 0, 0);
  EXPECT_LT(std::fabs(db(chip(15 * MMC5_PULSE_WEIGHT), apu_pulse)), 0.1);
  EXPECT_LT(std::fabs(db(chip(127 * MMC5_PCM_WEIGHT), apu_dmc)), 0.1);
  EXPECT_LT(std::fabs(db(chip(254 * MMC5_PCM_WEIGHT), 2 * apu_dmc)), 0.1);
  cartridge_sound = nullptr;
}

}  // namespace
