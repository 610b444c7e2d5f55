// Encodes the frame buffer as a 256x240 8-bit RGB PNG.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The whole PNG file in `out`. Returns false with a message in `error` when encoding fails.
bool encode_frame_png(std::vector<uint8_t>& out, std::string& error);
