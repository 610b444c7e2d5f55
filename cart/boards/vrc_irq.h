// The interrupt counter of Konami's VRC4, VRC6 and VRC7: an 8-bit counter that counts up to $FF and
// then reloads from the latch and raises the cartridge's line. In cycle mode every CPU cycle clocks
// it; in scanline mode a prescaler does, which counts 3 down from 341 per CPU cycle and clocks the
// counter each time it reaches 0 or below (then adding 341): every 114, 114, 113 cycles, 113 2/3 on
// average, a scanline's worth whatever the PPU does. Nothing counts while the enable bit is 0.
//
// Registers: the latch (8 bits; the VRC4 takes it in two nibbles); control `.... .MEA` (M 1 = cycle
// mode, E enable, A enable after acknowledge), whose write acknowledges, resets the prescaler and,
// with E set, reloads the counter from the latch; acknowledge (any value), which lowers the line and
// copies A into E, leaving counter and prescaler as they are.
//
// The counter does not tick with the CPU. The record keeps its value and the prescaler's and the CPU
// cycle they had those values at; every register write first brings them up to its own cycle in one
// step (vrc_irq_catch_up) and, when the line could change, schedules the next overflow ahead with
// raise_cartridge_irq_on_cycle. A cartridge whose counter is off costs nothing between writes.
#pragma once
#include <cstdint>

// Part of a board's register record, at an offset that is a multiple of 8.
struct VrcIrq {
  uint64_t cycle;            // CPU cycle at which `counter` and `prescaler_count` held their values
  uint16_t prescaler_count;  // how far the prescaler has counted down from 341 (0-340; read modulo 341)
  uint8_t latch;
  uint8_t control;           // VRC_IRQ_* bits
  uint8_t counter;
};

constexpr uint8_t VRC_IRQ_ENABLE_AFTER_ACK = 0x01, VRC_IRQ_ENABLE = 0x02, VRC_IRQ_CYCLE_MODE = 0x04;
// The prescaler counts 3 a CPU cycle (one per PPU dot) through the 341 of a scanline.
constexpr uint16_t VRC_PRESCALER_PERIOD = 341;

// Brings counter and prescaler from irq.cycle to CPU cycle `now` (including the clock of cycle
// `now` itself). A record whose cycle lies past `now` (a crafted state) counts from `now`.
void vrc_irq_catch_up(VrcIrq& irq, uint64_t now);
// The CPU cycle after irq.cycle on which the counter next overflows, or UINT64_MAX when disabled.
uint64_t vrc_irq_next_overflow(const VrcIrq& irq);

// The register writes, at the CPU's current cycle.
void vrc_irq_write_latch(VrcIrq& irq, uint8_t value);
void vrc_irq_write_latch_low(VrcIrq& irq, uint8_t value);   // VRC4: bits 0-3
void vrc_irq_write_latch_high(VrcIrq& irq, uint8_t value);  // VRC4: bits 4-7
void vrc_irq_write_control(VrcIrq& irq, uint8_t value);
void vrc_irq_acknowledge(VrcIrq& irq);
