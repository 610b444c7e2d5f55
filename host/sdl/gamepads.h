// Game controllers through SDL's game-controller layer: the first one plugged in drives the
// console's first controller (together with the keyboard), the second the second controller. They
// may come and go while the program runs. The left stick gives the D-pad; the buttons do what the
// pad map says (host/controls.h; by default the D-pad is the D-pad, the south face button is B,
// the east one A, Back is Select and Start is Start).
#pragma once
#include <SDL.h>

#include <cstdint>

#include "host/controls.h"

// After SDL_INIT_GAMECONTROLLER. When NES_TEST_PADS names a file, virtual controllers described
// by it stand in for real ones (see gamepads_poll_test_file).
void gamepads_open();

// Takes a controller event (added, removed, button, axis); returns false for any other event.
bool gamepads_handle(const SDL_Event& event);

// The console controller's buttons (BUTTON_* bits) that the pad on `port` (0 or 1) holds now.
PadButtons gamepad_buttons(int port);

// Tests only: with NES_TEST_PADS=FILE, reads FILE (when it changed) and sets the virtual
// controllers to it. Line N describes virtual controller N: "-" unplugged, otherwise plugged in
// with the inputs named on the line held: a b back start dpup dpdown dpleft dpright, and left,
// right, up, down (the left stick pushed all the way) or nudge (pushed a little to the right,
// inside the dead zone).
void gamepads_poll_test_file();
