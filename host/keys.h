// What the keyboard does, the same on every platform: the first controller's keys, the speed keys
// and the session's keys. Each window layer turns its own key codes into Key and hands every key
// going down (also the system's auto-repeat) and up to key_event; what concerns the window itself
// (full screen, Escape's style switch) comes back for the layer to carry out.
#pragma once
#include <cstdint>

#include "core/joypad.h"

enum class Key : uint8_t {
  other,  // any key without a use
  right, left, up, down, x, z, space, enter,
  keypad_plus, keypad_minus,
  escape, backspace, f5, f7, f9, f11, p, r,
  digit_0, digit_1, digit_2, digit_3, digit_4, digit_5, digit_6, digit_7, digit_8, digit_9,
};

struct KeyEvent {
  Key key = Key::other;
  bool down = false;    // false: released
  bool repeat = false;  // a further key-down from holding the key
  bool ctrl = false;    // a Control key is held
  bool alt = false;     // an Alt key is held
};

enum class KeyResult {
  unused,              // the key does nothing here: the system may take it (Alt+F4, ...)
  used,
  switch_full_screen,  // F11, Alt+Enter
  switch_window_style, // Escape
};

// Sleep after every 10000 instructions changes by this much per speed-key press.
constexpr int32_t SLEEP_STEP_MS = 5;

KeyResult key_event(const KeyEvent& event);

// The first controller's buttons held on the keyboard now (BUTTON_* bits).
uint8_t keyboard_buttons();

// Sets the controller bytes the console reads: the keyboard and the first game controller on the
// first port, the second game controller on the second.
void update_controllers(uint8_t pad_0, uint8_t pad_1);

// The D-pad directions (BUTTON_* bits) that a game controller's analog stick at (x, y) gives, each
// axis -32768 to 32767 with y growing downward. Nearer the centre than STICK_DEAD_ZONE is the
// centre: a worn stick rests a little off it.
constexpr int STICK_DEAD_ZONE = 12000;
constexpr uint8_t stick_directions(int x, int y) {
  uint8_t bits = 0;
  if (x <= -STICK_DEAD_ZONE) bits |= BUTTON_LEFT;
  if (x >= STICK_DEAD_ZONE) bits |= BUTTON_RIGHT;
  if (y <= -STICK_DEAD_ZONE) bits |= BUTTON_UP;
  if (y >= STICK_DEAD_ZONE) bits |= BUTTON_DOWN;
  return bits;
}
