// The FME-7's register record (with the 5B's sound) and its interrupt counter in closed form and
// cycle by cycle (the second is the reference the first is tested against).
#pragma once
#include <cstdint>

#include "cart/boards/sunsoft5b.h"

struct Fme7Registers {
  uint64_t counter_cycle;  // the CPU cycle at whose end the counter held `counter`
  uint16_t counter;        // commands E (low byte) and F (high byte), written directly
  uint8_t command;         // $8000: bits 0-3
  uint8_t chr[8];          // commands 0-7
  uint8_t low_window;      // command 8: E (bit 7) RAM enable, R (bit 6) RAM, bits 0-5 ROM bank
  uint8_t prg[3];          // commands 9-B
  uint8_t mirroring;       // command C, bits 0-1
  uint8_t irq_control;     // command D: bit 0 interrupts on, bit 7 counting on
  uint8_t irq_pending;     // the counter wrapped with interrupts on and no command D since
  Sunsoft5b sound;         // the 5B's sound; silent on the FME-7 and 5A, which ignore $C000-$FFFF
};

// Brings the counter from its cycle to the end of CPU cycle `cycle`, at once.
void fme7_count_to(Fme7Registers& m, uint64_t cycle);
// The cycle in which the counter's next interrupt comes as things stand, or UINT64_MAX: none (one is
// pending already, or counting or interrupts are off).
uint64_t fme7_irq_cycle(const Fme7Registers& m);
// One CPU cycle of the counter.
void fme7_count_one_cycle(Fme7Registers& m);
