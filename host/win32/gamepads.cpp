// XInput pads, loaded from the system's XInput library at run time (the program also runs where
// there is none). Pads may come and go: each repaint reads the connected ones, and looks for new
// ones about once a second (asking an empty slot is slow on some systems). The left
// stick gives the D-pad; the buttons do what the pad map says (host/controls.h; by default the
// D-pad, A (south) as B, B (east) as A, Back as Select, Start as Start).
#include <windows.h>
#include <xinput.h>

#include "core/joypad.h"
#include "host/keys.h"
#include "host/win32/win32.h"

namespace {

constexpr int PORTS = 2;
constexpr int SEARCH_EVERY = 60;    // repaints between looks at the empty slots

using GetState = DWORD(WINAPI*)(DWORD, XINPUT_STATE*);
GetState get_state = nullptr;
bool connected[XUSER_MAX_COUNT] = {};
PadButtons buttons[XUSER_MAX_COUNT] = {};
int repaints = 0;

// XInput's buttons of the named inputs, in PadInput's order (XInput has no guide button).
constexpr WORD XINPUT_BUTTONS[] = {
    XINPUT_GAMEPAD_A,          XINPUT_GAMEPAD_B,          XINPUT_GAMEPAD_X,
    XINPUT_GAMEPAD_Y,          XINPUT_GAMEPAD_BACK,       0,
    XINPUT_GAMEPAD_START,      XINPUT_GAMEPAD_LEFT_THUMB, XINPUT_GAMEPAD_RIGHT_THUMB,
    XINPUT_GAMEPAD_LEFT_SHOULDER, XINPUT_GAMEPAD_RIGHT_SHOULDER, XINPUT_GAMEPAD_DPAD_UP,
    XINPUT_GAMEPAD_DPAD_DOWN,  XINPUT_GAMEPAD_DPAD_LEFT,  XINPUT_GAMEPAD_DPAD_RIGHT,
};
static_assert(sizeof XINPUT_BUTTONS / sizeof XINPUT_BUTTONS[0] == PAD_INPUTS);

PadButtons read_pad(const XINPUT_GAMEPAD& pad) {
  uint16_t pressed = 0;
  for (int i = 0; i < PAD_INPUTS; ++i)
    if (pad.wButtons & XINPUT_BUTTONS[i]) pressed |= static_cast<uint16_t>(1u << i);
  PadButtons b = pad_buttons(pad_map(), pressed);
  b.held |= stick_directions(pad.sThumbLX, -pad.sThumbLY);  // XInput's y axis points up
  return b;
}

}  // namespace

void gamepads_open() {
  for (const wchar_t* name : {L"xinput1_4.dll", L"xinput1_3.dll", L"xinput9_1_0.dll"}) {
    if (HMODULE library = LoadLibraryW(name)) {
      get_state = reinterpret_cast<GetState>(reinterpret_cast<void*>(GetProcAddress(library, "XInputGetState")));
      if (get_state) return;
    }
  }
}

void gamepads_poll() {
  if (!get_state) return;
  const bool search = repaints++ % SEARCH_EVERY == 0;
  for (DWORD i = 0; i < XUSER_MAX_COUNT; ++i) {
    if (!connected[i] && !search) continue;
    XINPUT_STATE state{};
    connected[i] = get_state(i, &state) == ERROR_SUCCESS;
    buttons[i] = connected[i] ? read_pad(state.Gamepad) : PadButtons{};
  }
}

PadButtons gamepad_buttons(int port) {
  // The ports go to the connected pads in slot order.
  int seen = 0;
  for (DWORD i = 0; i < XUSER_MAX_COUNT; ++i)
    if (connected[i] && seen++ == port) return buttons[i];
  return {};
}
