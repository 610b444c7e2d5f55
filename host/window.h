// The window titled "NES": the 256x240 picture stretched to the whole drawing area and repainted
// every 16 ms, the keyboard as the first controller, the speed keys, and Escape's switch between the
// framed window and a bare 256x240 one kept on top in the screen's top-left corner.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// Creates the window (SDL's video must be initialised). On failure returns false with a message.
bool window_open(std::string& error);

// Handles window and key events until the next repaint is due (every 16 ms) and returns true then;
// returns false as soon as the window is closed.
bool window_wait_for_repaint();

// Shows `pixels` (FRAME_WIDTH x FRAME_HEIGHT, 0x00RRGGBB), or black when null.
void window_repaint(const std::atomic<uint32_t>* pixels);

// A message box over the window (or alone, when the window could not be made), waiting until the
// user closes it.
void window_message_box(const std::string& text);
