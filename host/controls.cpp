#include "host/controls.h"

#include <cctype>

#include "core/joypad.h"

namespace {

#define NES_KEY_NAME(id, name) name,
constexpr std::string_view KEY_NAMES[] = {"", NES_KEY_LIST(NES_KEY_NAME)};
#undef NES_KEY_NAME
static_assert(std::size(KEY_NAMES) == static_cast<size_t>(Key::count));

constexpr std::string_view CONTROL_NAMES[] = {"a", "b", "select", "start", "up", "down", "left", "right",
                                              "turbo_a", "turbo_b"};
static_assert(std::size(CONTROL_NAMES) == CONTROLS);

constexpr std::string_view PAD_INPUT_NAMES[] = {"a", "b", "x", "y", "back", "guide", "start", "leftstick",
                                                "rightstick", "leftshoulder", "rightshoulder", "dpup",
                                                "dpdown", "dpleft", "dpright"};
static_assert(std::size(PAD_INPUT_NAMES) == PAD_INPUTS);

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

constexpr uint16_t input(PadInput i) { return static_cast<uint16_t>(1u << static_cast<unsigned>(i)); }

}  // namespace

Key key_from_name(std::string_view name) {
  if (same_name(name, "Enter")) return Key::enter;
  for (size_t i = 1; i < std::size(KEY_NAMES); ++i)
    if (same_name(name, KEY_NAMES[i])) return static_cast<Key>(i);
  return Key::other;
}

std::string_view key_name(Key key) {
  const auto i = static_cast<size_t>(key);
  return i < std::size(KEY_NAMES) && i > 0 ? KEY_NAMES[i] : "(none)";
}

std::string_view control_name(Control c) { return CONTROL_NAMES[static_cast<size_t>(c) % CONTROLS]; }

uint8_t control_bit(Control c) {
  switch (c) {
    case Control::turbo_a: return BUTTON_A;
    case Control::turbo_b: return BUTTON_B;
    default: return joypad_bit_order[static_cast<size_t>(c) % 8];  // the serial order: A, B, Select, ...
  }
}

std::vector<KeyBinding> default_key_table() {
  const auto button = [](Key k, uint8_t bit) { return KeyBinding{k, false, false, KeyUse::button, 0, bit}; };
  const auto use = [](Key k, KeyUse u, bool ctrl = false, bool alt = false) {
    return KeyBinding{k, ctrl, alt, u, 0, 0};
  };
  std::vector<KeyBinding> table = {
      button(Key::right, BUTTON_RIGHT), button(Key::left, BUTTON_LEFT),   button(Key::up, BUTTON_UP),
      button(Key::down, BUTTON_DOWN),   button(Key::z, BUTTON_A),         button(Key::x, BUTTON_B),
      button(Key::space, BUTTON_SELECT), button(Key::enter, BUTTON_START),
      use(Key::f5, KeyUse::save_state), use(Key::f7, KeyUse::load_state),
      use(Key::backspace, KeyUse::rewind), use(Key::r, KeyUse::reset, true),
      use(Key::p, KeyUse::pause),       use(Key::f9, KeyUse::run_ahead),
      use(Key::f11, KeyUse::full_screen), use(Key::enter, KeyUse::full_screen, false, true),
      use(Key::escape, KeyUse::window_style),
      use(Key::keypad_plus, KeyUse::slower), use(Key::keypad_minus, KeyUse::faster),
      use(Key::tab, KeyUse::fast_forward),
  };
  for (uint8_t slot = 0; slot < 10; ++slot)
    table.push_back(KeyBinding{static_cast<Key>(static_cast<int>(Key::digit_0) + slot), false, false,
                               KeyUse::select_slot, 0, slot});
  return table;
}

PadInput pad_input_from_name(std::string_view name) {
  for (size_t i = 0; i < std::size(PAD_INPUT_NAMES); ++i)
    if (same_name(name, PAD_INPUT_NAMES[i])) return static_cast<PadInput>(i);
  return PadInput::count;
}

std::string_view pad_input_name(PadInput i) { return PAD_INPUT_NAMES[static_cast<size_t>(i) % PAD_INPUTS]; }

PadMap default_pad_map() {
  PadMap m;
  const auto set = [&m](Control c, PadInput i) { m.inputs[static_cast<size_t>(c)] = input(i); };
  set(Control::a, PadInput::b);  // east
  set(Control::b, PadInput::a);  // south
  set(Control::select, PadInput::back);
  set(Control::start, PadInput::start);
  set(Control::up, PadInput::dpad_up);
  set(Control::down, PadInput::dpad_down);
  set(Control::left, PadInput::dpad_left);
  set(Control::right, PadInput::dpad_right);
  return m;
}

PadButtons pad_buttons(const PadMap& map, uint16_t pressed) {
  PadButtons b;
  for (int c = 0; c < CONTROLS; ++c) {
    if (!(map.inputs[c] & pressed)) continue;
    const auto control = static_cast<Control>(c);
    if (control == Control::turbo_a || control == Control::turbo_b) b.turbo |= control_bit(control);
    else b.held |= control_bit(control);
  }
  return b;
}
