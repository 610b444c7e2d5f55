// Where the mouse points in the picture, the same on every platform: the window shows the 256x240
// picture stretched over its whole drawing area, or in full screen at the largest whole scale that
// fits, centred on black. A point off the picture (the black border, outside the window) aims the
// light gun away from the screen.
#pragma once
#include <algorithm>
#include <cstdint>

#include "ppu/ppu.h"

// The picture pixel under window point (x, y) of a drawing area `width` x `height`, as x + 256 y,
// or -1 off the picture.
constexpr int32_t aim_from_window(int x, int y, int width, int height, bool full_screen) {
  if (width <= 0 || height <= 0) return -1;
  int64_t px = 0, py = 0;
  if (full_screen) {
    const int scale = std::max(1, std::min(width / FRAME_WIDTH, height / FRAME_HEIGHT));
    const int left = (width - scale * FRAME_WIDTH) / 2, top = (height - scale * FRAME_HEIGHT) / 2;
    if (x < left || y < top) return -1;
    px = (x - left) / scale;
    py = (y - top) / scale;
  } else {
    if (x < 0 || y < 0) return -1;
    px = int64_t{x} * FRAME_WIDTH / width;
    py = int64_t{y} * FRAME_HEIGHT / height;
  }
  if (px >= FRAME_WIDTH || py >= FRAME_HEIGHT) return -1;
  return static_cast<int32_t>(px + FRAME_WIDTH * py);
}
