// The player's controls as data, free of any platform: the keyboard's keys by platform-neutral
// names (each window layer turns its own key codes into Key), the game controller's inputs by
// name, and the tables saying what each key and input does. The defaults here are the program's
// fixed layout; a configuration file (host/config.h) may replace any part of it.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

// Every key a binding can name: X(enumerator, name in the configuration file).
#define NES_KEY_LIST(X)                                                                                  \
  X(a, "A") X(b, "B") X(c, "C") X(d, "D") X(e, "E") X(f, "F") X(g, "G") X(h, "H") X(i, "I") X(j, "J")  \
  X(k, "K") X(l, "L") X(m, "M") X(n, "N") X(o, "O") X(p, "P") X(q, "Q") X(r, "R") X(s, "S") X(t, "T")  \
  X(u, "U") X(v, "V") X(w, "W") X(x, "X") X(y, "Y") X(z, "Z")                                          \
  X(digit_0, "0") X(digit_1, "1") X(digit_2, "2") X(digit_3, "3") X(digit_4, "4")                      \
  X(digit_5, "5") X(digit_6, "6") X(digit_7, "7") X(digit_8, "8") X(digit_9, "9")                      \
  X(f1, "F1") X(f2, "F2") X(f3, "F3") X(f4, "F4") X(f5, "F5") X(f6, "F6") X(f7, "F7") X(f8, "F8")      \
  X(f9, "F9") X(f10, "F10") X(f11, "F11") X(f12, "F12")                                                \
  X(up, "Up") X(down, "Down") X(left, "Left") X(right, "Right")                                        \
  X(space, "Space") X(enter, "Return") X(tab, "Tab") X(backspace, "Backspace") X(escape, "Escape")     \
  X(insert, "Insert") X(delete_, "Delete") X(home, "Home") X(end, "End") X(page_up, "PageUp")          \
  X(page_down, "PageDown")                                                                             \
  X(keypad_0, "KP_0") X(keypad_1, "KP_1") X(keypad_2, "KP_2") X(keypad_3, "KP_3") X(keypad_4, "KP_4")  \
  X(keypad_5, "KP_5") X(keypad_6, "KP_6") X(keypad_7, "KP_7") X(keypad_8, "KP_8") X(keypad_9, "KP_9")  \
  X(keypad_plus, "KP_Plus") X(keypad_minus, "KP_Minus") X(keypad_multiply, "KP_Multiply")              \
  X(keypad_divide, "KP_Divide") X(keypad_period, "KP_Period")                                          \
  X(minus, "Minus") X(equals, "Equals") X(comma, "Comma") X(period, "Period") X(slash, "Slash")        \
  X(semicolon, "Semicolon") X(apostrophe, "Apostrophe") X(left_bracket, "LeftBracket")                 \
  X(right_bracket, "RightBracket") X(backslash, "Backslash") X(grave, "Grave")                         \
  X(left_shift, "LeftShift") X(right_shift, "RightShift") X(left_ctrl, "LeftCtrl")                     \
  X(right_ctrl, "RightCtrl") X(left_alt, "LeftAlt") X(right_alt, "RightAlt")

#define NES_KEY_ENUMERATOR(id, name) id,
enum class Key : uint8_t {
  other,  // any key without a name here
  NES_KEY_LIST(NES_KEY_ENUMERATOR)
  count
};
#undef NES_KEY_ENUMERATOR

// Names compare without regard to case; "Enter" is another name of Return (the keypad's Enter is
// the same key to both systems). Key::other when there is no such name.
Key key_from_name(std::string_view name);
std::string_view key_name(Key key);

// The console controller's buttons and the turbo buttons, in the order of the configuration
// file's names.
enum class Control : uint8_t { a, b, select, start, up, down, left, right, turbo_a, turbo_b, count };
constexpr int CONTROLS = static_cast<int>(Control::count);
std::string_view control_name(Control c);
// The controller byte's bit (BUTTON_*) a control holds: a turbo control holds A or B.
uint8_t control_bit(Control c);

// What a key does.
enum class KeyUse : uint8_t {
  button,        // holds `value` (BUTTON_* bits) on controller `port` while down
  turbo,         // presses and releases `value` on controller `port` at the turbo rate while down
  save_state, load_state,
  select_slot,   // chooses state slot `value`
  rewind,        // runs the game backwards while held
  reset, pause, run_ahead, full_screen, window_style,
  slower, faster,  // repeat while held
  fast_forward,    // runs the game as fast as it goes while held
};

struct KeyBinding {
  Key key = Key::other;
  bool ctrl = false;  // only with a Control key held
  bool alt = false;   // only with an Alt key held
  KeyUse use = KeyUse::button;
  uint8_t port = 0;
  uint8_t value = 0;
  bool operator==(const KeyBinding&) const = default;
};

// Today's table: arrows, Z (A), X (B), Space (Select), Return (Start) on the first controller;
// F5, F7, 0-9, Backspace, Ctrl+R, P, F9, F11 and Alt+Return, Escape, keypad plus and minus, Tab.
std::vector<KeyBinding> default_key_table();

// The emulator's own keys by their names in the configuration file; `select_slot` is "slots".
struct KeyUseName {
  KeyUse use;
  std::string_view name;
};
constexpr KeyUseName EMULATOR_KEY_NAMES[] = {
    {KeyUse::save_state, "save_state"}, {KeyUse::load_state, "load_state"}, {KeyUse::select_slot, "slots"},
    {KeyUse::rewind, "rewind"},         {KeyUse::reset, "reset"},           {KeyUse::pause, "pause"},
    {KeyUse::run_ahead, "run_ahead"},   {KeyUse::full_screen, "full_screen"},
    {KeyUse::window_style, "window_style"}, {KeyUse::slower, "slower"},     {KeyUse::faster, "faster"},
    {KeyUse::fast_forward, "fast_forward"},
};

// A game controller's inputs, by SDL's names (the same on Windows through XInput).
enum class PadInput : uint8_t {
  a, b, x, y, back, guide, start, left_stick, right_stick, left_shoulder, right_shoulder,
  dpad_up, dpad_down, dpad_left, dpad_right, count
};
constexpr int PAD_INPUTS = static_cast<int>(PadInput::count);
// PadInput::count when there is no such name.
PadInput pad_input_from_name(std::string_view name);
std::string_view pad_input_name(PadInput input);

// For each control, the pad inputs (bit 1 << PadInput) that press it. The same for both pads.
struct PadMap {
  uint16_t inputs[CONTROLS] = {};
  bool operator==(const PadMap&) const = default;
};
// Today's: the D-pad, the south face button (a) as B, the east one (b) as A, Back as Select,
// Start as Start; no turbo. (The left stick always gives the D-pad as well.)
PadMap default_pad_map();

// A pad's buttons as the console sees them: held, and pressed by turbo.
struct PadButtons {
  uint8_t held = 0;
  uint8_t turbo = 0;
};
// The buttons that the inputs `pressed` (bit 1 << PadInput) give through `map`.
PadButtons pad_buttons(const PadMap& map, uint16_t pressed);

// Turbo: presses per second, and the frames a press lasts at that rate (the console shows 60 frames
// a second; half of each period held, half released, at least a frame each).
constexpr int DEFAULT_TURBO_RATE = 10, MIN_TURBO_RATE = 1, MAX_TURBO_RATE = 30;
constexpr int turbo_half_period_frames(int rate) {
  const int frames = (60 + rate) / (2 * rate);  // 60 / (2 * rate), rounded
  return frames < 1 ? 1 : frames;
}
