#include "host/keys.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/driver.h"
#include "core/joypad.h"
#include "host/messages.h"
#include "host/session.h"

namespace {

uint8_t keyboard = 0;  // the first controller's buttons held on the keyboard

// The first controller's keys: the bit each one holds in the controller byte while it is down.
struct ControllerKey {
  Key key;
  uint8_t button;
};
constexpr ControllerKey CONTROLLER_KEYS[] = {
    {Key::right, BUTTON_RIGHT}, {Key::left, BUTTON_LEFT}, {Key::up, BUTTON_UP},
    {Key::down, BUTTON_DOWN},   {Key::x, BUTTON_B},       {Key::z, BUTTON_A},
    {Key::space, BUTTON_SELECT}, {Key::enter, BUTTON_START},
};

// Keypad plus and minus: the pause after every 10000 instructions, longer or shorter, shown.
void change_sleep_interval(int32_t delta) {
  int32_t v = sleep_interval.load(std::memory_order_relaxed) + delta;
  if (v < 0) v = 0;
  sleep_interval.store(v, std::memory_order_relaxed);
  messages.post(v == 0 ? std::string(delta > 0 ? "Slower" : "Faster") + ": no pause, full speed"
                       : std::string(delta > 0 ? "Slower" : "Faster") + ": " + std::to_string(v) +
                             " ms pause per 10000 instructions");
  if (std::getenv("NES_DEBUG")) {  // the tests read the setting here
    std::printf("nes: sleep_interval %d ms\n", v);
    std::fflush(stdout);
  }
}

}  // namespace

KeyResult key_event(const KeyEvent& e) {
  if (e.key == Key::backspace) {
    session_set_rewinding(e.down);
    return KeyResult::used;
  }
  if (e.alt && e.key == Key::enter)  // not the controller's Start
    return e.down && !e.repeat ? KeyResult::switch_full_screen : KeyResult::used;
  if (e.ctrl && e.key == Key::r) {
    if (e.down && !e.repeat) session_reset();
    return KeyResult::used;
  }
  for (const ControllerKey& k : CONTROLLER_KEYS) {
    if (k.key != e.key) continue;
    if (e.down) keyboard |= k.button;
    else keyboard &= static_cast<uint8_t>(~k.button);
    return KeyResult::used;
  }
  if (e.key == Key::other) return KeyResult::unused;
  if (!e.down) return KeyResult::used;
  switch (e.key) {  // the speed keys repeat while held, the others act once per press
    case Key::keypad_plus: change_sleep_interval(SLEEP_STEP_MS); return KeyResult::used;
    case Key::keypad_minus: change_sleep_interval(-SLEEP_STEP_MS); return KeyResult::used;
    default: break;
  }
  if (e.repeat) return KeyResult::used;
  if (e.key >= Key::digit_0 && e.key <= Key::digit_9) {
    if (e.ctrl || e.alt) return KeyResult::unused;
    session_select_slot(static_cast<int>(e.key) - static_cast<int>(Key::digit_0));
    return KeyResult::used;
  }
  switch (e.key) {
    case Key::escape: return KeyResult::switch_window_style;
    case Key::f5: session_save_state(); break;
    case Key::f7: session_load_state(); break;
    case Key::f9: session_cycle_run_ahead(); break;
    case Key::f11: return KeyResult::switch_full_screen;
    case Key::p: session_toggle_pause(); break;
    default: return KeyResult::unused;  // R without Control
  }
  return KeyResult::used;
}

uint8_t keyboard_buttons() { return keyboard; }

void update_controllers(uint8_t pad_0, uint8_t pad_1) {
  button_state[0].store(keyboard | pad_0, std::memory_order_relaxed);
  button_state[1].store(pad_1, std::memory_order_relaxed);
}
