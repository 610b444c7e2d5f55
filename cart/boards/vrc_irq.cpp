// The VRC interrupt counter in closed form (see vrc_irq.h).
#include "cart/boards/vrc_irq.h"

#include <cstdint>

#include "cpu/bus_access.h"
#include "cpu/cpu.h"

void vrc_irq_catch_up(VrcIrq& irq, uint64_t now) {
  const uint64_t elapsed = now > irq.cycle ? now - irq.cycle : 0;
  irq.cycle = now;
  const uint32_t count = irq.prescaler_count % VRC_PRESCALER_PERIOD;
  irq.prescaler_count = static_cast<uint16_t>(count);
  if (!(irq.control & VRC_IRQ_ENABLE) || elapsed == 0) return;
  uint64_t clocks = elapsed;
  if (!(irq.control & VRC_IRQ_CYCLE_MODE)) {
    const uint64_t total = count + 3 * elapsed;
    clocks = total / VRC_PRESCALER_PERIOD;
    irq.prescaler_count = static_cast<uint16_t>(total % VRC_PRESCALER_PERIOD);
  }
  // The first overflow comes on clock 256 - counter, then one every 256 - latch clocks.
  const uint64_t to_first = 256u - irq.counter;
  if (clocks < to_first) {
    irq.counter = static_cast<uint8_t>(irq.counter + clocks);
  } else {
    irq.counter = static_cast<uint8_t>(irq.latch + (clocks - to_first) % (256u - irq.latch));
  }
}

uint64_t vrc_irq_next_overflow(const VrcIrq& irq) {
  if (!(irq.control & VRC_IRQ_ENABLE)) return UINT64_MAX;
  const uint64_t clocks = 256u - irq.counter;
  if (irq.control & VRC_IRQ_CYCLE_MODE) return irq.cycle + clocks;
  // The first cycle n after which count + 3n reaches clocks * 341.
  const uint64_t needed = clocks * VRC_PRESCALER_PERIOD - irq.prescaler_count % VRC_PRESCALER_PERIOD;
  return irq.cycle + (needed + 2) / 3;
}

namespace {
// The line after a write that acknowledged: low, and raised ahead for the next overflow when the
// counter runs (the line is a level the CPU counts from that cycle on).
void schedule(const VrcIrq& irq) {
  lower_cartridge_irq();
  if (irq.control & VRC_IRQ_ENABLE) raise_cartridge_irq_on_cycle(vrc_irq_next_overflow(irq));
}
}  // namespace

void vrc_irq_write_latch(VrcIrq& irq, uint8_t value) {
  vrc_irq_catch_up(irq, cpu_cycles());  // overflows before this cycle reloaded the old latch
  irq.latch = value;
}

void vrc_irq_write_latch_low(VrcIrq& irq, uint8_t value) {
  vrc_irq_write_latch(irq, static_cast<uint8_t>((irq.latch & 0xF0) | (value & 0x0F)));
}

void vrc_irq_write_latch_high(VrcIrq& irq, uint8_t value) {
  vrc_irq_write_latch(irq, static_cast<uint8_t>((irq.latch & 0x0F) | (value << 4)));
}

void vrc_irq_write_control(VrcIrq& irq, uint8_t value) {
  vrc_irq_catch_up(irq, cpu_cycles());
  irq.control = value & 7;
  irq.prescaler_count = 0;
  if (irq.control & VRC_IRQ_ENABLE) irq.counter = irq.latch;
  schedule(irq);
}

void vrc_irq_acknowledge(VrcIrq& irq) {
  vrc_irq_catch_up(irq, cpu_cycles());
  irq.control = static_cast<uint8_t>((irq.control & ~VRC_IRQ_ENABLE) |
                                     ((irq.control & VRC_IRQ_ENABLE_AFTER_ACK) ? VRC_IRQ_ENABLE : 0));
  schedule(irq);
}
