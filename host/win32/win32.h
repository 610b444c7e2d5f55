// What the files of the Win32 layer share among themselves.
#pragma once
#include <cstdint>

#include "host/controls.h"

// The error of window_open when the window class cannot be registered (after its own message box).
constexpr const char* WINDOW_CLASS_REFUSED = "Program requires Windows NT!";

// Game controllers through XInput, when its library is present: the first pad connected drives the
// console's first controller (with the keyboard), the second pad the second. Not tested under Wine,
// which offers no pads here.
void gamepads_open();
// Reads the pads; on every repaint.
void gamepads_poll();
// The console controller's buttons (BUTTON_* bits) that the pad on `port` (0 or 1) holds now.
PadButtons gamepad_buttons(int port);
