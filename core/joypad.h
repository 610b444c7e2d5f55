// The two controller ports: a write to $4016 latches both controllers' buttons, and each read of
// $4016 or $4017 returns the next button of one controller, A first.
#pragma once
#include <atomic>
#include <cstdint>

// Buttons held, one byte per controller, written by the window thread at any moment.
constexpr uint8_t BUTTON_RIGHT = 0x01, BUTTON_LEFT = 0x02, BUTTON_UP = 0x04, BUTTON_DOWN = 0x08,
                  BUTTON_B = 0x10, BUTTON_A = 0x20, BUTTON_SELECT = 0x40, BUTTON_START = 0x80;
extern std::atomic<uint8_t> button_state[2];

struct Joypads {
  uint8_t latch[2] = {};     // buttons copied at the last strobe
  uint32_t position[2] = {}; // reads since the last strobe; the low three bits count
};
extern Joypads joypads;

// The order of the serial reads: A, B, Select, Start, Up, Down, Left, Right.
constexpr uint8_t joypad_bit_order[8] = {0x20, 0x10, 0x40, 0x80, 0x04, 0x08, 0x02, 0x01};

// A write to $4016: any non-zero value latches both controllers and restarts their sequence.
void joypad_strobe(uint8_t value);
// A read of $4016 (0) or $4017 (1): 0 or 1.
uint8_t joypad_read(int i);
