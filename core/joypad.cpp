// Controller shift registers. The latch follows the buttons only at a strobe; reads advance the
// position regardless of the last value written, and the ninth read starts over with A.
#include "core/joypad.h"

std::atomic<uint8_t> button_state[2] = {};
Joypads joypads;

void joypad_strobe(uint8_t value) {
  if (value == 0) return;
  for (int i = 0; i < 2; ++i) {
    joypads.latch[i] = button_state[i].load(std::memory_order_relaxed);
    joypads.position[i] = 0;
  }
}

uint8_t joypad_read(int i) {
  const uint8_t mask = joypad_bit_order[joypads.position[i] & 7];
  ++joypads.position[i];
  return (joypads.latch[i] & mask) ? 1 : 0;
}
