// A DMC sample fetch is bus work of its own: it stalls the CPU for four cycles (one while the period
// is still 0), wherever it falls, also inside a sprite DMA, and the PPU runs on through them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apu_machine.h"
#include "tests/headless_launch.h"

namespace {

using apu_test::power_on_machine;
using apu_test::ppu_position;

constexpr int DMC_STALL = 4;

// Starts a one-byte DMC sample at `rate` whose timer expires after `delay` more cycles.
void start_one_byte_sample(int rate, int32_t delay) {
  if (rate >= 0) apu_write(0x10, static_cast<uint8_t>(rate));
  apu_write(0x12, 0x00);
  apu_write(0x13, 0x00);
  apu_write(0x15, 0x10);
  apu.channels[DMC].timer = delay;
  apu_rebuild_derived();
}

TEST(DmcFetchCycles, FourExtraCyclesAtEveryRateWhereverTheFetchFalls) {
  for (int rate = 0; rate < 16; ++rate) {
    power_on_machine({});  // NOPs everywhere: 2 cycles each
    cartridge.prg_rom[0x4000] = 0x9C;
    const int32_t delay = (rate * 37) % 101;  // lands on opcode fetches and on dummy reads
    start_one_byte_sample(rate, delay);
    const int64_t position = ppu_position();
    constexpr int STEPS = 300;
    for (int i = 0; i < STEPS; ++i) cpu_step();
    EXPECT_EQ(bus.cycles, 2u * STEPS + DMC_STALL) << "rate " << rate;
    EXPECT_EQ(ppu_position() - position, 3 * (2 * STEPS + DMC_STALL)) << "rate " << rate;
    EXPECT_EQ(apu.channels[DMC].shift_register, 0x9C);
    EXPECT_EQ(cpu.PC, 0x8000 + STEPS);
  }
}

TEST(DmcFetchCycles, OneReadWhileThePeriodIsStillZero) {
  power_on_machine({});
  start_one_byte_sample(-1, 5);
  for (int i = 0; i < 100; ++i) cpu_step();
  EXPECT_EQ(bus.cycles, 2u * 100 + 1);
  EXPECT_EQ(apu.channels[DMC].length_counter, 0);
}

TEST(DmcFetchCycles, FetchInsideSpriteDmaLengthensItAndTheCopyIsIntact) {
  // LDA #$02; STA $4014; then NOPs.
  for (const bool fetch : {false, true}) {
    power_on_machine({0xA9, 0x02, 0x8D, 0x14, 0x40});
    for (int i = 0; i < 256; ++i) bus.work_ram[0x200 + i] = static_cast<uint8_t>(i * 7 + 3);
    if (fetch) start_one_byte_sample(15, 200);  // expires on cycle 201, inside the DMA (cycles 7-519)
    const int64_t position = ppu_position();
    cpu_step();
    cpu_step();
    // LDA 2 cycles, STA 3 cycles before its write, the write and the 512 cycles of the copy.
    const uint64_t expected = 2 + 3 + 513 + (fetch ? DMC_STALL : 0);
    EXPECT_EQ(bus.cycles, expected) << (fetch ? "with" : "without") << " a fetch";
    EXPECT_EQ(ppu_position() - position, static_cast<int32_t>(3 * expected));
    for (int i = 0; i < 256; ++i) ASSERT_EQ(ppu.oam[i], static_cast<uint8_t>(i * 7 + 3)) << i;
    if (fetch) {
      EXPECT_EQ(apu.channels[DMC].length_counter, 0);
    }
  }
}

// The same through the runner's trace: the CYC column of our DMC cartridge.
struct TraceLine {
  uint16_t pc;
  uint64_t cycles;
};

std::vector<TraceLine> trace_of(const std::string& image) {
  const auto trace = std::filesystem::temp_directory_path() / ("apu_trace_" + std::to_string(getpid()) + ".txt");
  const headless::Run run = headless::run({image, "--result", "--frames", "300", "--trace", trace.string()});
  EXPECT_EQ(run.exit_code, 0) << run.describe();
  std::vector<TraceLine> lines;
  std::ifstream in(trace);
  std::string line;
  while (std::getline(in, line)) {
    const size_t cyc = line.find("CYC:");
    if (cyc == std::string::npos) continue;
    lines.push_back({static_cast<uint16_t>(std::stoul(line.substr(0, 4), nullptr, 16)),
                     std::stoull(line.substr(cyc + 4))});
  }
  std::filesystem::remove(trace);
  return lines;
}

TEST(DmcFetchTrace, CycleCountsShowEveryFetch) {
  const std::string image = std::string(OWN_ROM_DIR) + "/apu_dmc_stall.nes";
  if (!std::filesystem::exists(image)) GTEST_SKIP() << image << " was not built (no ca65)";
  const std::vector<TraceLine> lines = trace_of(image);
  ASSERT_GT(lines.size(), 1000u);
  // Cycles of each instruction, from one line to the next.
  std::vector<std::pair<uint16_t, uint64_t>> spans;
  for (size_t i = 0; i + 1 < lines.size(); ++i) spans.push_back({lines[i].pc, lines[i + 1].cycles - lines[i].cycles});

  // The sled at $8000-$80EF: one pass per rate; in each pass exactly one NOP takes 2 + 4 cycles.
  std::vector<int> stalled_per_pass;
  int current = -1;
  for (size_t i = 0; i < spans.size(); ++i) {
    const auto [pc, cycles] = spans[i];
    if (pc > 0x80EF) {
      if (current >= 0) stalled_per_pass.push_back(current);
      current = -1;
      continue;
    }
    if (current < 0) current = 0;
    if (cycles == 2 + DMC_STALL) ++current;
    else ASSERT_EQ(cycles, 2u) << "NOP at " << std::hex << pc;
  }
  EXPECT_EQ(stalled_per_pass, std::vector<int>(16, 1));

  // Period 0: the first fetch ever is one read, on the NOP right after the enable at $80F1.
  int enable_passes = 0;
  for (size_t i = 0; i < spans.size(); ++i) {
    if (spans[i].first != 0x80F1) continue;
    ++enable_passes;
    EXPECT_EQ(spans[i + 1].first, 0x80F4);
    EXPECT_EQ(spans[i + 1].second, 3u);
    for (size_t k = i + 2; spans[k].first <= 0x8103; ++k) EXPECT_EQ(spans[k].second, 2u);
  }
  EXPECT_EQ(enable_passes, 1);

  // STA $4014: 3 cycles, the write and 512 copy cycles; with a fetch inside 4 more.
  int dma_plain = 0, dma_fetch = 0;
  for (const auto& [pc, cycles] : spans) {
    if (pc == 0x8110) {
      ++dma_plain;
      EXPECT_EQ(cycles, 516u);
    }
    if (pc == 0x810A) {
      ++dma_fetch;
      EXPECT_EQ(cycles, 516u + DMC_STALL);
    }
  }
  EXPECT_EQ(dma_plain, 1);
  EXPECT_EQ(dma_fetch, 1);
}

}  // namespace
