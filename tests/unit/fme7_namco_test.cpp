// The FME-7's and the Namco 163's interrupt counters, on the CPU's clock. The boards never step
// them: at a register access they bring the counter from the cycle it was last brought up to date
// to the access's cycle at once, and they raise the line ahead for the cycle of the next interrupt.
// Here each board's closed form is checked against its one-cycle step, run cycle by cycle from the
// same record. And what the 163's battery keeps.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "cart/boards/fme7.h"
#include "cart/boards/namco163.h"
#include "core_test_machine.h"

namespace {

// A board's counter: its record and the functions that run it.
template <class R>
struct Counter {
  void (*count_to)(R&, uint64_t cycle);
  void (*count_one_cycle)(R&);
  uint64_t (*irq_cycle)(const R&);
  bool (*pending)(const R&);
  uint64_t (*cycle)(const R&);
};

// From `start`, at every stop (CPU cycles after the start's cycle): the record brought there at
// once is the record stepped there cycle by cycle, and the first cycle at which the stepped
// counter has an interrupt pending is the cycle the start predicted.
template <class R>
void check_counter(const std::string& what, const Counter<R>& c, const R& start,
                   std::initializer_list<uint64_t> stops) {
  SCOPED_TRACE(what);
  const uint64_t predicted = c.irq_cycle(start);
  R stepped = start;
  uint64_t first_pending = c.pending(start) ? c.cycle(start) : UINT64_MAX;
  for (const uint64_t stop : stops) {
    const uint64_t target = c.cycle(start) + stop;
    while (c.cycle(stepped) < target) {
      c.count_one_cycle(stepped);
      if (first_pending == UINT64_MAX && c.pending(stepped)) first_pending = c.cycle(stepped);
    }
    R closed = start;
    c.count_to(closed, target);
    EXPECT_EQ(std::memcmp(&closed, &stepped, sizeof(R)), 0) << "at +" << stop;
    R twice = start;  // brought up to date in two steps: the same
    c.count_to(twice, c.cycle(start) + stop / 2);
    c.count_to(twice, target);
    EXPECT_EQ(std::memcmp(&twice, &stepped, sizeof(R)), 0) << "at +" << stop << " in two steps";
  }
  if (!c.pending(start)) {
    if (predicted != UINT64_MAX && predicted <= c.cycle(stepped)) EXPECT_EQ(first_pending, predicted);
    else EXPECT_EQ(first_pending, UINT64_MAX) << "predicted " << predicted;
  }
}

constexpr std::initializer_list<uint64_t> STOPS = {0, 1, 2, 3, 255, 256, 4097, 65535, 65536, 65537, 65538, 140000};

TEST(Mappers, CpuClockCountersInClosedFormMatchThemCycleByCycle) {
  const Counter<Fme7Registers> fme7 = {
      fme7_count_to, fme7_count_one_cycle, fme7_irq_cycle,
      [](const Fme7Registers& m) { return m.irq_pending != 0; },
      [](const Fme7Registers& m) { return m.counter_cycle; }};
  struct Fme7Row {
    const char* what;
    uint16_t counter;
    uint8_t control, pending;
    uint64_t cycle;
  };
  const Fme7Row fme7_rows[] = {
      {"counting and interrupting from 0", 0x0000, 0x81, 0, 1000},
      {"from 1", 0x0001, 0x81, 0, 7},
      {"from $0100", 0x0100, 0x81, 0, 0},
      {"from $FFFF", 0xFFFF, 0x81, 0, 123456789},
      {"from $8000", 0x8000, 0x81, 0, 5},
      {"counting without interrupts", 0x0010, 0x80, 0, 40},
      {"interrupts without counting", 0x0010, 0x01, 0, 40},
      {"stopped", 0x1234, 0x00, 0, 40},
      {"pending already", 0x0003, 0x81, 1, 99},
  };
  for (const Fme7Row& row : fme7_rows) {
    Fme7Registers m{};
    m.counter = row.counter;
    m.irq_control = row.control;
    m.irq_pending = row.pending;
    m.counter_cycle = row.cycle;
    check_counter(std::string("FME-7, ") + row.what, fme7, m, STOPS);
  }

  const Counter<Namco163Registers> namco163 = {
      namco163_count_to, namco163_count_one_cycle, namco163_irq_cycle,
      [](const Namco163Registers& m) { return m.irq_pending != 0; },
      [](const Namco163Registers& m) { return m.counter_cycle; }};
  struct Namco163Row {
    const char* what;
    uint16_t counter;
    uint8_t enable, pending;
    uint64_t cycle;
  };
  const Namco163Row namco163_rows[] = {
      {"enabled from 0", 0x0000, 1, 0, 1000},
      {"from $7FFE", 0x7FFE, 1, 0, 3},
      {"from $7F00", 0x7F00, 1, 0, 0},
      {"from $00FF", 0x00FF, 1, 0, 987654321},
      {"stopped at $7FFF", 0x7FFF, 1, 0, 10},
      {"disabled", 0x1234, 0, 0, 10},
      {"pending already", 0x7FFF, 1, 1, 10},
      {"pending, written lower since", 0x7FF0, 1, 1, 10},
  };
  for (const Namco163Row& row : namco163_rows) {
    Namco163Registers m{};
    m.counter = row.counter;
    m.irq_enable = row.enable;
    m.irq_pending = row.pending;
    m.counter_cycle = row.cycle;
    check_counter(std::string("Namco 163, ") + row.what, namco163, m, STOPS);
  }
}

// The 163's battery file: the 8 KiB of cartridge RAM when the header backs it (iNES 1.0 implies
// it), then the chip's 128 bytes. What a run writes there comes back in the next through the file.
TEST(Mappers, Namco163BatteryKeepsCartridgeRamAndTheChipsRamAsTheHeaderSays) {
  struct Row {
    const char* what;
    bool nes2;
    uint8_t submapper;
    uint32_t prg_ram, prg_nvram;
    size_t size;
  };
  const Row rows[] = {
      {"iNES 1.0", false, 0, 0, 8192, 8192 + 128},
      {"NES 2.0, 8 KiB NVRAM", true, 0, 0, 8192, 8192 + 128},
      {"NES 2.0, RAM without battery", true, 0, 8192, 0, 128},
      {"NES 2.0, no RAM", true, 0, 0, 0, 128},
      {"submapper 1", true, 1, 0, 0, 128},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto power_on = [&] {
      core_test::power_on(8, 8, 19, CTRL_BATTERY, row.submapper);
      cartridge.nes2 = row.nes2;
      cartridge.prg_ram_size = row.prg_ram;
      cartridge.prg_nvram_size = row.prg_nvram;
      test_machine::power_on_cartridge();
    };
    power_on();
    ASSERT_EQ(battery_image_size(), row.size);
    cpu_write(0xF800, 0x40);  // cartridge RAM open; internal RAM address 0 without stepping
    cpu_write(0x6000, 0x5A);
    cpu_write(0x7FFF, 0xA5);
    cpu_write(0xF800, 0x80 | 0x7E);  // internal RAM from $7E, stepping
    for (const uint8_t v : {uint8_t{0x11}, uint8_t{0x22}, uint8_t{0x33}}) cpu_write(0x4800, v);  // $7E, $7F, $00
    std::vector<uint8_t> file(row.size);
    battery_image_save(file.data());
    power_on();
    battery_image_load(file.data());
    cpu_write(0xF800, 0x7E);
    EXPECT_EQ(cpu_read(0x4800), 0x11);
    cpu_write(0xF800, 0x7F);
    EXPECT_EQ(cpu_read(0x4800), 0x22);
    cpu_write(0xF800, 0x00);
    EXPECT_EQ(cpu_read(0x4800), 0x33);
    const bool kept = row.size > 128;
    EXPECT_EQ(cpu_read(0x6000), kept ? 0x5A : 0x00);
    EXPECT_EQ(cpu_read(0x7FFF), kept ? 0xA5 : 0x00);
    if (kept) EXPECT_EQ(file[8192 + 0x7F], 0x22);
    else EXPECT_EQ(file[0x7F], 0x22);
  }
}

}  // namespace
