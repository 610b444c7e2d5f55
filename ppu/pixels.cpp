// Pixel output: background/sprite priority, sprite 0 hit, palette lookup and colour.
#include "ppu/ppu.h"

std::atomic<uint32_t>* frame_buffer = nullptr;

void render_pixel() {}
