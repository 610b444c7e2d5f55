// Writes the frame buffer as a 256x240 8-bit RGB PNG.
#pragma once
#include <string>

// Returns false with a message in `error` when the file cannot be written.
bool write_frame_png(const char* path, std::string& error);
