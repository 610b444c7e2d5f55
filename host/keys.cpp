#include "host/keys.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/driver.h"
#include "host/messages.h"
#include "host/session.h"

namespace {

// The window thread's own.
struct Keyboard {
  std::vector<KeyBinding> table = default_key_table();
  std::vector<bool> held = std::vector<bool>(table.size());  // per binding: its key is down
  PadMap pads = default_pad_map();
  PadButtons keys[2];  // the controllers' buttons held on the keyboard
};
Keyboard k;

// Between the window thread and the emulation thread.
std::atomic<uint8_t> held_buttons[2], turbo_buttons[2];
std::atomic<bool> turbo_pressed{true};
std::atomic<int> turbo_half_period{turbo_half_period_frames(DEFAULT_TURBO_RATE)};
int turbo_frames = 0;  // the emulation thread's: frames since a turbo button was first held

void store_buttons() {
  const bool pressed = turbo_pressed.load(std::memory_order_relaxed);
  for (int p = 0; p < 2; ++p) {
    const uint8_t turbo = pressed ? turbo_buttons[p].load(std::memory_order_relaxed) : 0;
    button_state[p].store(held_buttons[p].load(std::memory_order_relaxed) | turbo, std::memory_order_relaxed);
  }
}

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

// The held keys' buttons, rewind and fast-forward, after a key went down or up.
void held_changed() {
  PadButtons keys[2];
  bool rewind = false, fast = false;
  for (size_t i = 0; i < k.table.size(); ++i) {
    if (!k.held[i]) continue;
    const KeyBinding& b = k.table[i];
    if (b.use == KeyUse::button) keys[b.port & 1].held |= b.value;
    else if (b.use == KeyUse::turbo) keys[b.port & 1].turbo |= b.value;
    else if (b.use == KeyUse::rewind) rewind = true;
    else if (b.use == KeyUse::fast_forward) fast = true;
  }
  k.keys[0] = keys[0];
  k.keys[1] = keys[1];
  session_set_rewinding(rewind);
  session_set_fast_forward(fast);
}

// The binding a key going down with these modifiers takes: one asking for modifiers that are held
// comes first (Alt+Return is not Start), then one asking for none; the slot keys only without any
// (Alt+digit stays the system's).
int binding_of(const KeyEvent& e) {
  for (size_t i = 0; i < k.table.size(); ++i) {
    const KeyBinding& b = k.table[i];
    if (b.key == e.key && (b.ctrl || b.alt) && (!b.ctrl || e.ctrl) && (!b.alt || e.alt)) return static_cast<int>(i);
  }
  for (size_t i = 0; i < k.table.size(); ++i) {
    const KeyBinding& b = k.table[i];
    if (b.key != e.key || b.ctrl || b.alt) continue;
    if (b.use == KeyUse::select_slot && (e.ctrl || e.alt)) continue;
    return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

void set_controls(std::vector<KeyBinding> table, const PadMap& pads, int turbo_rate) {
  k.table = std::move(table);
  k.held.assign(k.table.size(), false);
  k.pads = pads;
  turbo_half_period.store(turbo_half_period_frames(turbo_rate), std::memory_order_relaxed);
}

const PadMap& pad_map() { return k.pads; }

KeyResult key_event(const KeyEvent& e) {
  if (e.key == Key::other) return KeyResult::unused;
  if (!e.down) {  // whatever the modifiers now, the key lets go of all it holds
    bool known = false, was_held = false;
    for (size_t i = 0; i < k.table.size(); ++i) {
      if (k.table[i].key != e.key) continue;
      known = true;
      was_held = was_held || k.held[i];
      k.held[i] = false;
    }
    if (was_held) held_changed();
    return known ? KeyResult::used : KeyResult::unused;
  }
  const int i = binding_of(e);
  if (i < 0) return KeyResult::unused;
  const KeyBinding& b = k.table[static_cast<size_t>(i)];
  switch (b.use) {  // the held uses and the speed keys go on while held, the others act once per press
    case KeyUse::button:
    case KeyUse::turbo:
    case KeyUse::rewind:
    case KeyUse::fast_forward:
      if (!k.held[static_cast<size_t>(i)]) {
        k.held[static_cast<size_t>(i)] = true;
        held_changed();
      }
      return KeyResult::used;
    case KeyUse::slower: change_sleep_interval(SLEEP_STEP_MS); return KeyResult::used;
    case KeyUse::faster: change_sleep_interval(-SLEEP_STEP_MS); return KeyResult::used;
    default: break;
  }
  if (e.repeat) return KeyResult::used;
  switch (b.use) {
    case KeyUse::save_state: session_save_state(); break;
    case KeyUse::load_state: session_load_state(); break;
    case KeyUse::select_slot: session_select_slot(b.value % STATE_SLOTS); break;
    case KeyUse::reset: session_reset(); break;
    case KeyUse::pause: session_toggle_pause(); break;
    case KeyUse::run_ahead: session_cycle_run_ahead(); break;
    case KeyUse::full_screen: return KeyResult::switch_full_screen;
    case KeyUse::window_style: return KeyResult::switch_window_style;
    default: break;
  }
  return KeyResult::used;
}

void release_all_keys() {
  k.held.assign(k.table.size(), false);
  held_changed();
}

void update_controllers(PadButtons pad_0, PadButtons pad_1) {
  const PadButtons pads[2] = {pad_0, pad_1};
  for (int p = 0; p < 2; ++p) {
    held_buttons[p].store(k.keys[p].held | pads[p].held, std::memory_order_relaxed);
    turbo_buttons[p].store(k.keys[p].turbo | pads[p].turbo, std::memory_order_relaxed);
  }
  store_buttons();
}

void controllers_next_frame() {
  if (!(turbo_buttons[0].load(std::memory_order_relaxed) | turbo_buttons[1].load(std::memory_order_relaxed))) {
    turbo_frames = 0;  // the next turbo button held starts pressed
    if (!turbo_pressed.load(std::memory_order_relaxed)) turbo_pressed.store(true, std::memory_order_relaxed);
    return;
  }
  const int half = turbo_half_period.load(std::memory_order_relaxed);
  turbo_pressed.store((turbo_frames / half) % 2 == 0, std::memory_order_relaxed);
  turbo_frames = (turbo_frames + 1) % (2 * half);
  store_buttons();
}
