// Background and sprite fetches, scroll updates and sprite evaluation, one dot at a time.
#include "ppu/ppu.h"

void rendering_tick() {}
