// Interrupt counters on the CPU's clock (Jaleco SS 88006, Bandai FCG-1/2 and LZ93D50). The boards
// keep such a counter as a value and the cycle it had it at, and raise the cartridge's line ahead of
// time for the cycle it will expire on. Here readable references step the counters one CPU cycle at
// a time, and long pseudo-random runs of register writes at chosen cycles must give the same
// interrupt cycles: every time the line shows up, and the one it is raised ahead for at the end.
#include <gtest/gtest.h>

#include <memory>

#include "core_test_machine.h"
#include "cpu/cpu.h"

namespace {

using namespace core_test;

// A counter stepped one CPU cycle at a time: `step` is what happens in a cycle before a write in it
// (the write sees the counter as that cycle left it), `write` what a register write does.
struct Reference {
  virtual ~Reference() = default;
  virtual void step() = 0;
  virtual void write(uint16_t address, uint8_t value) = 0;
  bool line = false;
  uint64_t raised = 0;  // the cycle the line went up on
  uint64_t cycle = 0;
  void raise() {
    if (!line) raised = cycle;
    line = true;
  }
};

// SS 88006: counts down in the low 16/12/8/4 bits while enabled; a wrap of that field from 0
// raises the line; $F000 reloads and acknowledges, $F001 sets enable and width and acknowledges.
struct Ss88006Reference : Reference {
  uint16_t reload = 0, counter = 0;
  uint8_t control = 0;
  void step() override {
    if (!(control & 1)) return;
    const uint8_t width = (control >> 1) & 7;
    const uint16_t mask = width == 0 ? 0xFFFF : width == 1 ? 0x0FFF : width < 4 ? 0x00FF : 0x000F;
    if ((counter & mask) == 0) raise();
    counter = static_cast<uint16_t>((counter & ~mask) | ((counter - 1) & mask));
  }
  void write(uint16_t address, uint8_t value) override {
    const int shift = 4 * (address & 3);
    switch (address & 0xF003) {
      case 0xE000: case 0xE001: case 0xE002: case 0xE003:
        reload = static_cast<uint16_t>((reload & ~(0xF << shift)) | (value & 0xF) << shift);
        break;
      case 0xF000: counter = reload; line = false; break;
      case 0xF001: control = value & 0x0F; line = false; break;
      default: break;
    }
  }
};

// Bandai: a 16-bit counter counting down while enabled, raising the line on the cycle it becomes
// 0. $A sets the enable and acknowledges; the counter bytes $B/$C go into the counter at
// $6000-$7FFF (FCG-1/2) and into a latch at $8000-$FFFF (LZ93D50), whose $A also copies the latch.
struct BandaiReference : Reference {
  uint16_t counter = 0, latch = 0;
  bool enabled = false;
  void step() override {
    if (!enabled) return;
    if (--counter == 0) raise();
  }
  void write(uint16_t address, uint8_t value) override {
    const bool latched = address >= 0x8000;
    const int k = address & 0x0F;
    const int shift = k == 0x0C ? 8 : 0;
    auto set = [&](uint16_t& target) { target = static_cast<uint16_t>((target & ~(0xFF << shift)) | value << shift); };
    if (k == 0x0A) {
      enabled = value & 1;
      if (latched) counter = latch;
      line = false;
    } else if (k == 0x0B || k == 0x0C) {
      set(latched ? latch : counter);
    }
  }
};

// Whether the board's line has come up by `cycle`, and on which cycle.
bool board_line_by(uint64_t cycle) {
  return cartridge_irq_line && cartridge_irq_since + CARTRIDGE_IRQ_DELAY <= 3 * cycle;
}
uint64_t board_raised() { return (cartridge_irq_since + CARTRIDGE_IRQ_DELAY) / 3; }

TEST(CpuClockCounters, ClosedFormsRaiseTheLineOnTheCyclesSteppingGives) {
  struct Row {
    const char* what;
    uint32_t mapper_number;
    uint8_t submapper;
    std::vector<uint16_t> registers;  // the addresses the run writes
    Reference* (*make)();
  };
  const Row rows[] = {
      {"SS 88006", 18, 0, {0xE000, 0xE001, 0xE002, 0xE003, 0xF000, 0xF001, 0xFFFD, 0xF002},
       [] { return static_cast<Reference*>(new Ss88006Reference); }},
      {"FCG-1/2 (16.4)", 16, 4, {0x600A, 0x600B, 0x600C, 0x7FFB, 0x7FFC, 0x6009},
       [] { return static_cast<Reference*>(new BandaiReference); }},
      {"LZ93D50 (16.5)", 16, 5, {0x800A, 0x800B, 0x800C, 0xFFFA, 0xC00B, 0x8008},
       [] { return static_cast<Reference*>(new BandaiReference); }},
      {"both chips (16.0)", 16, 0, {0x800A, 0x800B, 0x800C, 0x600A, 0x600B, 0x600C},
       [] { return static_cast<Reference*>(new BandaiReference); }},
      {"LZ93D50 with a 24C01 (159)", 159, 0, {0x800A, 0x800B, 0x800C, 0x800D}, [] { return static_cast<Reference*>(new BandaiReference); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    power_on(8, 16, row.mapper_number, 0x01, row.submapper);
    std::unique_ptr<Reference> reference(row.make());
    std::mt19937 random(row.mapper_number * 100 + row.submapper);
    uint64_t cycle = bus.cycles = 1000;
    reference->cycle = cycle;
    int seen = 0;  // writes made with the line up
    for (int op = 0; op < 4000; ++op) {
      // Mostly short gaps, some of a few hundred cycles, a few past the counters' longest periods.
      const uint32_t kind = random() % 16;
      const uint64_t gap = kind < 8 ? random() % 4 : kind < 15 ? random() % 600 : random() % 140000;
      for (uint64_t k = 0; k < gap; ++k) {
        reference->cycle = ++cycle;
        reference->step();
      }
      ASSERT_EQ(board_line_by(cycle), reference->line) << "op " << op << " cycle " << cycle;
      if (reference->line) {
        ASSERT_EQ(board_raised(), reference->raised) << "op " << op;
        ++seen;
      }
      const uint16_t address = row.registers[random() % row.registers.size()];
      // Counter values small enough to expire often (the high bits mostly clear), and the enable
      // bit set most of the time.
      auto value = static_cast<uint8_t>(random());
      const bool high_byte = (address & 0x0F) == 0x0C || ((address & 0xF003) >= 0xE002 && (address & 0xF003) <= 0xE003);
      if (high_byte && random() % 4) value = 0;
      if ((address & 0x0F) == 0x0A || (address & 0xF003) == 0xF001)
        value = static_cast<uint8_t>(value | (random() % 4 ? 1 : 0));
      bus.cycles = cycle;
      reference->write(address, value);
      (void)mapper_write(address, value, true);
    }
    EXPECT_GT(seen, 100);
    // What the board raised the line ahead for: the next interrupt the reference reaches.
    for (int k = 0; k < 140000 && !reference->line; ++k) {
      reference->cycle = ++cycle;
      reference->step();
    }
    ASSERT_EQ(cartridge_irq_line, reference->line);
    if (reference->line) {
      EXPECT_EQ(board_raised(), reference->raised);
    }
  }
}

}  // namespace
