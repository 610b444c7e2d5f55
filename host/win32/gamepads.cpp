// XInput pads, loaded from the system's XInput library at run time (the program also runs where
// there is none). Pads may come and go: each repaint reads the connected ones, and looks for new
// ones about once a second (asking an empty slot is slow on some systems). The D-pad and the left
// stick give the D-pad; A (south) is B, B (east) is A, Back is Select, Start is Start.
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
uint8_t buttons[XUSER_MAX_COUNT] = {};
int repaints = 0;

struct PadButton {
  WORD button;
  uint8_t bit;
};
constexpr PadButton PAD_BUTTONS[] = {
    {XINPUT_GAMEPAD_DPAD_UP, BUTTON_UP},     {XINPUT_GAMEPAD_DPAD_DOWN, BUTTON_DOWN},
    {XINPUT_GAMEPAD_DPAD_LEFT, BUTTON_LEFT}, {XINPUT_GAMEPAD_DPAD_RIGHT, BUTTON_RIGHT},
    {XINPUT_GAMEPAD_A, BUTTON_B},            {XINPUT_GAMEPAD_B, BUTTON_A},
    {XINPUT_GAMEPAD_BACK, BUTTON_SELECT},    {XINPUT_GAMEPAD_START, BUTTON_START},
};

uint8_t read_pad(const XINPUT_GAMEPAD& pad) {
  uint8_t bits = 0;
  for (const PadButton& b : PAD_BUTTONS)
    if (pad.wButtons & b.button) bits |= b.bit;
  return bits | stick_directions(pad.sThumbLX, -pad.sThumbLY);  // XInput's y axis points up
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
    buttons[i] = connected[i] ? read_pad(state.Gamepad) : 0;
  }
}

uint8_t gamepad_buttons(int port) {
  // The ports go to the connected pads in slot order.
  int seen = 0;
  for (DWORD i = 0; i < XUSER_MAX_COUNT; ++i)
    if (connected[i] && seen++ == port) return buttons[i];
  return 0;
}
