// The window titled "NES": the 256x240 picture stretched to the whole drawing area (in full screen:
// scaled by the largest whole factor that fits, centred on black) and repainted every 16 ms, the
// keyboard and game controllers as the console's controllers, the session's keys, the speed keys,
// and Escape's switch between the framed window and a bare 256x240 one kept on top in the screen's
// top-left corner.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// Creates the window and, once it exists, starts the emulation (program_start_emulation). On failure
// returns false with a message. Implemented once on SDL (host/sdl/window.cpp: SDL's video must be
// initialised) and once on Win32 (host/win32/window.cpp).
bool window_open(std::string& error);

// Handles window, key, controller and drop events until the next repaint is due (every 16 ms) and
// returns true then; returns false as soon as the window is closed or `stop` is set.
bool window_wait_for_repaint(const std::atomic<bool>& stop);

// Shows `pixels` (FRAME_WIDTH x FRAME_HEIGHT, 0x00RRGGBB), or black when null, with `message` drawn
// over it.
void window_repaint(const std::atomic<uint32_t>* pixels, const std::string& message);

// A message box over the window (or alone, when the window could not be made), waiting until the
// user closes it.
void window_message_box(const std::string& text);

// Pushes a drop of `path` onto the window, as the desktop does when a file is dropped on it.
void window_push_drop(const std::string& path);
