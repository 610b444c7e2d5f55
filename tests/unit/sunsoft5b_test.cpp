// The Sunsoft 5B's sound on mapper 69: the closed form the APU's quiet runs pay against stepping the
// chip one cycle at a time, the envelope's sixteen shapes and the volume curve, the chip's place in
// the mix (which the chip joins at the first data write), and cartridges that write no sound data
// playing exactly the console's stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "cart/boards/fme7.h"
#include "core_test_machine.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"
#include "sound_chip_walk.h"

namespace {

using namespace core_test;

Sunsoft5b& chip() { return board_registers<Fme7Registers>().sound; }

struct Write {
  uint8_t reg, value;
};
std::vector<uint8_t> record() { return {mapper.bytes, mapper.bytes + sizeof mapper.bytes}; }
void restore(const std::vector<uint8_t>& bytes) { std::memcpy(mapper.bytes, bytes.data(), sizeof mapper.bytes); }

// Through the ports, as a program writes them.
void write_all(const std::vector<Write>& writes) {
  for (const Write& w : writes) {
    cpu_write(0xC000, w.reg);
    cpu_write(0xE000, w.value);
  }
}

// Each row writes the sound registers (after setting some of the record's bytes directly, for
// counters that a program cannot leave where a saved record may) and runs the chip for `cycles`,
// stepped and walked (sound_chip_walk.h); the walk must stop about once per change of level.
TEST(Sunsoft5bSound, ClosedFormAgreesWithSteppingEachCycle) {
  struct Row {
    const char* what;
    std::vector<Write> writes;
    int32_t cycles;
    void (*preset)(Sunsoft5b&);
    bool tone_masked_by_noise;  // tone flips under a silent noise output stop the walk in vain
  };
  const auto none = [](Sunsoft5b&) {};
  const Row rows[] = {
      {"tone A, period 127, volume 12", {{0, 127}, {1, 0}, {7, 0x3E}, {8, 12}}, 60000, none, false},
      {"tones A, B, C at periods 1, 300, 4095", {{0, 1}, {2, 0x2C}, {3, 1}, {4, 0xFF}, {5, 0xFF}, {7, 0x38},
                                                  {8, 15}, {9, 7}, {10, 1}}, 300000, none, false},
      {"tone period 0 counts as 1", {{0, 0}, {1, 0}, {7, 0x3E}, {8, 9}}, 3000, none, false},
      {"noise alone on B, period 31", {{6, 31}, {7, 0x2F}, {9, 15}}, 80000, none, false},
      {"noise period 0 counts as 1", {{6, 0}, {7, 0x1F}, {10, 4}}, 8000, none, false},
      {"tone and noise on A", {{0, 40}, {1, 0}, {6, 3}, {7, 0x36}, {8, 15}}, 40000, none, true},
      {"envelope /\\/\\ on C, period 3", {{7, 0x3F}, {11, 3}, {12, 0}, {10, 0x10}, {13, 0x0E}}, 20000, none, false},
      {"envelope \\\\\\\\ gating tone B", {{2, 9}, {3, 0}, {7, 0x3D}, {11, 5}, {12, 0}, {9, 0x10}, {13, 0x08}}, 30000,
       none, false},
      {"envelope /--- then held", {{7, 0x3F}, {11, 1}, {12, 0}, {8, 0x10}, {13, 0x0D}}, 5000, none, false},
      {"envelope period 0 counts as 1, shape 0", {{7, 0x3F}, {11, 0}, {12, 0}, {8, 0x1F}, {13, 0x00}}, 2000, none,
       false},
      {"all three on the envelope, long period", {{0, 0x55}, {2, 0x66}, {4, 0x77}, {7, 0x00}, {6, 5}, {11, 0x00},
                                                  {12, 0x02}, {8, 0x10}, {9, 0x10}, {10, 0x10}, {13, 0x0A}}, 200000,
       none, true},
      {"silent: volumes 0, counters running", {{0, 3}, {7, 0x00}}, 20000, none, false},
      {"counters past their periods, prescaler mid-tick",
       {{0, 10}, {1, 0}, {6, 2}, {7, 0x30}, {8, 8}, {11, 4}, {12, 0}, {9, 0x10}},
       20000,
       [](Sunsoft5b& c) {
         c.tone_counter[0] = 0xFFFF;
         c.noise_counter = 0xFF;
         c.envelope_counter = 0xFFFF;
         c.envelope_step = 0xFF;
         c.prescaler = 0xF7;
         c.noise_low = 0x1234;
       },
       true},
  };
  // The chip in the record, stepped and walked as the APU does it.
  const CartridgeSound walked{[] { return sunsoft5b_tick(chip()); }, [] { return sunsoft5b_level(chip()); },
                              [] { return sunsoft5b_quiet_cycles(chip()); },
                              [](int32_t cycles) { sunsoft5b_advance(chip(), cycles); }, 0.0f};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on(16, 32, 69);
    row.preset(chip());
    write_all(row.writes);
    const sound_chip_walk::Walk w = sound_chip_walk::walk(walked, record, restore, row.cycles);
    if (!row.tone_masked_by_noise) {
      EXPECT_LE(w.events, 2 * w.changes() + 2);
    }
    EXPECT_LE(w.events, row.cycles / 16 + 1);  // never more than once a tick
  }
}

// The envelope's shapes as the chip's documentation draws them, one character a ramp: '\' falls from
// 31 to 0, '/' rises from 0 to 31, '_' holds 0, '-' holds 31. Stepped once per 16 cycles (period 1)
// from the shape's write, which restarts the envelope.
TEST(Sunsoft5bSound, EnvelopeShapesAndTheVolumeCurve) {
  const char* shapes[16] = {"\\___", "\\___", "\\___", "\\___", "/___", "/___", "/___", "/___",
                            "\\\\\\\\", "\\___", "\\/\\/", "\\---", "////", "/---", "/\\/\\", "/___"};
  for (int shape = 0; shape < 16; ++shape) {
    SCOPED_TRACE("shape " + std::to_string(shape));
    power_on(16, 32, 69);
    write_all({{11, 1}, {12, 0}});
    sunsoft5b_advance(chip(), 16 - chip().prescaler);  // on a tick's edge: steps come every 16 cycles from here
    write_all({{13, static_cast<uint8_t>(shape)}});
    for (const char* ramp = shapes[shape]; *ramp; ++ramp) {
      for (int32_t step = 0; step < 32; ++step) {
        const int32_t expected = *ramp == '\\' ? 31 - step : *ramp == '/' ? step : *ramp == '-' ? 31 : 0;
        ASSERT_EQ(sunsoft5b_envelope_level(chip()), expected) << "ramp " << ramp - shapes[shape] << " step " << step;
        sunsoft5b_advance(chip(), 16);
      }
    }
  }
  // 1.5 dB per envelope level, 3 dB per volume step, level 0 silent.
  EXPECT_EQ(SUNSOFT5B_AMPLITUDE[0], 0);
  for (int e = 1; e < 32; ++e)
    EXPECT_NEAR(SUNSOFT5B_AMPLITUDE[static_cast<size_t>(e)], SUNSOFT5B_FULL * std::pow(10.0, -1.5 * (31 - e) / 20.0), 0.5)
        << e;
  power_on(16, 32, 69);
  write_all({{7, 0x3F}});  // tone and noise off: the channels are on all the time
  for (int v = 0; v < 16; ++v) {
    write_all({{9, static_cast<uint8_t>(v)}});
    EXPECT_EQ(sunsoft5b_level(chip()), SUNSOFT5B_AMPLITUDE[static_cast<size_t>(v ? 2 * v + 1 : 0)]) << v;
  }
  // While the address's top four bits are set, data writes are lost.
  cpu_write(0xC000, 0x19);
  cpu_write(0xE000, 0x00);
  EXPECT_EQ(chip().regs[9], 15);
}

// A square at volume 12 sits 1.3 dB below a console pulse at volume 15; the silent chip adds nothing.
TEST(Sunsoft5bSound, MixesAVolume12Square1Point3DecibelsBelowAConsolePulse) {
  power_on(16, 32, 69);
  EXPECT_EQ(cartridge_sound, nullptr);  // until the program writes to the chip
  write_all({{7, 0x3F}});
  ASSERT_NE(cartridge_sound, nullptr);
  const double apu_swing = mix_sample(15, 0, 0, 0) - mix_sample(0, 0, 0, 0);
  const double chip_swing =
      mix_sample_with_cartridge(0, 0, 0, 0, SUNSOFT5B_AMPLITUDE[25]) - mix_sample_with_cartridge(0, 0, 0, 0, 0);
  EXPECT_NEAR(20.0 * std::log10(chip_swing / apu_swing), -1.3, 0.05);
  for (int32_t p = 0; p <= 30; p += 5)
    for (int32_t t = 0; t < 16; t += 5)
      for (int32_t d = 0; d < 128; d += 21) EXPECT_EQ(mix_sample_with_cartridge(p, t, 3, d, 0), mix_sample(p, t, 3, d));
  EXPECT_EQ(mix_sample_with_cartridge(30, 15, 15, 127, 3 * SUNSOFT5B_FULL), 32767);  // the loudest sum clips
}

// A mapper 69 header cannot say whether the 5B is there: the chip joins the mix at the first write
// to its data port. Our pulse notes cartridge moved onto mapper 69 (whose power-on banks show its
// 16 KiB at $C000 as the NROM board does) writes none and must play, sample for sample, the stream
// it plays on NROM; so must it on mapper 19, where the Namco 163 stays out of the mix until $E000
// bit 6 is written as 0. Our FME-7 cartridge writes the address port, but with the top bits set, so
// its data writes (volume 8 on channel A) are lost and the chip never joins.
std::vector<int16_t> collected;
void collect(const int16_t* samples, size_t count) { collected.insert(collected.end(), samples, samples + count); }

std::vector<int16_t> stream_of(const fs::path& image, uint64_t frames) {
  collected.clear();
  test_machine::power_on_image(image.string());
  audio_sink = collect;
  while (ppu.frames < frames) cpu_step();
  audio_sink = nullptr;
  std::vector<int16_t> out = collected;
  const SampleStream& s = sample_stream;
  out.insert(out.end(), s.buffers[s.current_buffer], s.buffers[s.current_buffer] + s.sample_pos);
  return out;
}

TEST(Sunsoft5bSound, CartridgesWithoutSoundDataPlayTheConsolesStream) {
  TempDir dir;
  const fs::path notes = fs::path(OWN_ROM_DIR) / "apu_pulse_notes.nes", fme7 = fs::path(OWN_ROM_DIR) / "mapper69.nes";
  if (!fs::exists(notes) || !fs::exists(fme7)) GTEST_SKIP() << "our cartridges were not built";
  std::ifstream in(notes, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 16u);
  ASSERT_EQ(bytes[6] & 0xF0, 0) << "apu_pulse_notes.nes is on mapper 0";
  const std::vector<int16_t> on_nrom = stream_of(notes, 60);
  ASSERT_GT(on_nrom.size(), 60u * 29000);
  EXPECT_GT(std::count_if(on_nrom.begin(), on_nrom.end(), [&](int16_t v) { return v != on_nrom.front(); }), 100000)
      << "the pulses are in the stream";
  for (const uint32_t mapper_number : {69u, 19u}) {
    SCOPED_TRACE(mapper_number);
    bytes[6] = static_cast<char>((bytes[6] & 0x0F) | (mapper_number & 0x0F) << 4);
    bytes[7] = static_cast<char>((bytes[7] & 0x0F) | (mapper_number & 0xF0));
    const fs::path moved = dir.path() / ("pulse_notes_" + std::to_string(mapper_number) + ".nes");
    std::ofstream(moved, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::vector<int16_t> moved_stream = stream_of(moved, 60);
    ASSERT_EQ(cartridge.mapper_number, mapper_number);
    EXPECT_EQ(cartridge_sound, nullptr);
    EXPECT_TRUE(moved_stream == on_nrom);
  }

  const std::vector<int16_t> fme7_stream = stream_of(fme7, 60);
  EXPECT_EQ(cartridge_sound, nullptr) << "a data write got through the address port's top bits";
  EXPECT_EQ(std::count(fme7_stream.begin(), fme7_stream.end(), fme7_stream.front()),
            static_cast<std::ptrdiff_t>(fme7_stream.size()));
}

}  // namespace
