// The VRC interrupt counter's closed form (cart/boards/vrc_irq.h) against the counter stepped one
// CPU cycle at a time as the hardware does it: from many start states, the counter and prescaler
// after any number of cycles, and the cycle of every overflow.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cart/boards/vrc_irq.h"

namespace {

// One CPU cycle of the counter: in scanline mode the prescaler counts 3 down from 341 and clocks the
// counter when it reaches 0 or below; a clock at $FF reloads the latch and overflows (the IRQ).
struct Stepped {
  uint8_t counter, latch, control;
  int prescaler;  // 341 down to 1
};
bool step(Stepped& s) {
  if (!(s.control & VRC_IRQ_ENABLE)) return false;
  if (!(s.control & VRC_IRQ_CYCLE_MODE)) {
    s.prescaler -= 3;
    if (s.prescaler > 0) return false;
    s.prescaler += 341;
  }
  if (s.counter == 0xFF) {
    s.counter = s.latch;
    return true;
  }
  ++s.counter;
  return false;
}

TEST(Mappers, VrcIrqClosedFormMatchesTheCounterSteppedCycleByCycle) {
  const uint8_t counters[] = {0x00, 0x01, 0x80, 0xFD, 0xFE, 0xFF};
  const uint8_t latches[] = {0x00, 0x7F, 0xFE, 0xFF};
  const uint16_t prescaler_counts[] = {0, 1, 2, 3, 170, 338, 339, 340};
  const uint8_t controls[] = {VRC_IRQ_ENABLE, VRC_IRQ_ENABLE | VRC_IRQ_CYCLE_MODE,
                              VRC_IRQ_ENABLE | VRC_IRQ_ENABLE_AFTER_ACK, VRC_IRQ_CYCLE_MODE, 0};
  const uint64_t checkpoints[] = {0, 1, 2, 3, 112, 113, 114, 227, 228, 341, 342, 1000, 4097, 29099, 29100, 60000};
  const uint64_t start = 1234567;
  const uint64_t last = checkpoints[std::size(checkpoints) - 1];
  for (uint8_t counter : counters)
    for (uint8_t latch : latches)
      for (uint16_t count : prescaler_counts)
        for (uint8_t control : controls) {
          SCOPED_TRACE(::testing::Message() << "counter " << int{counter} << " latch " << int{latch} << " prescaler "
                                            << count << " control " << int{control});
          const VrcIrq initial{start, count, latch, control, counter};
          Stepped s{counter, latch, control, 341 - count};
          std::vector<uint64_t> overflows;  // cycles
          std::vector<Stepped> at_checkpoints;
          size_t next = 0;
          for (uint64_t n = 0; n <= last; ++n) {
            if (n > 0 && step(s)) overflows.push_back(start + n);
            if (n == checkpoints[next]) {
              at_checkpoints.push_back(s);
              ++next;
            }
          }
          // The first overflow after each checkpoint's state, as the closed form predicts it.
          for (size_t k = 0; k < std::size(checkpoints); ++k) {
            VrcIrq irq = initial;
            vrc_irq_catch_up(irq, start + checkpoints[k]);
            const Stepped& want = at_checkpoints[k];
            ASSERT_EQ(irq.counter, want.counter) << "after " << checkpoints[k];
            ASSERT_EQ(irq.prescaler_count, 341 - want.prescaler) << "after " << checkpoints[k];
            ASSERT_EQ(irq.latch, latch);
            ASSERT_EQ(irq.cycle, start + checkpoints[k]);
            uint64_t expected = UINT64_MAX;
            for (uint64_t cycle : overflows)
              if (cycle > start + checkpoints[k]) {
                expected = cycle;
                break;
              }
            const uint64_t predicted = vrc_irq_next_overflow(irq);
            if (expected != UINT64_MAX) ASSERT_EQ(predicted, expected) << "after " << checkpoints[k];
            else if (control & VRC_IRQ_ENABLE) ASSERT_GT(predicted, start + last) << "after " << checkpoints[k];
            else ASSERT_EQ(predicted, UINT64_MAX);
          }
        }
}

}  // namespace
