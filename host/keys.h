// What the keyboard does, the same on every platform: the key table (host/controls.h: the
// controllers' keys, turbo, the speed keys and the session's keys; today's layout unless the
// configuration file changes it), turbo, and the controller bytes the console reads. Each window
// layer turns its own key codes into Key and hands every key going down (also the system's
// auto-repeat) and up to key_event; what concerns the window itself (full screen, Escape's style
// switch) comes back for the layer to carry out.
#pragma once
#include <cstdint>
#include <vector>

#include "core/joypad.h"
#include "host/controls.h"

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

// Before the window opens: the keys and what they do, the pads' inputs, the turbo rate (presses
// per second, MIN_TURBO_RATE to MAX_TURBO_RATE).
void set_controls(std::vector<KeyBinding> table, const PadMap& pads, int turbo_rate);
// The pads' inputs as set_controls left them, for the platform's pad layer.
const PadMap& pad_map();

KeyResult key_event(const KeyEvent& event);
// Every key let go, as when the window loses the keyboard: keys released elsewhere never come.
void release_all_keys();

// Sets the controller bytes the console reads: the keyboard and the first game controller on the
// first port, the second game controller on the second (and the keyboard's keys for it).
void update_controllers(PadButtons pad_0, PadButtons pad_1);

// On the emulation thread before each frame played: while a turbo button is held, it is pressed
// for turbo_half_period_frames(rate) frames and released for as many, starting pressed.
void controllers_next_frame();

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
