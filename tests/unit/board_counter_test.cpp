// Interrupt counters on the CPU's clock. The boards never step them: at a register access they
// bring the counter from the cycle it was last brought up to date to the access's cycle at once,
// and they raise the line ahead for the cycle of the next interrupt. Here each board's closed form
// is checked against its one-cycle step, run cycle by cycle from the same record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "cart/boards/fme7.h"

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
}

}  // namespace
