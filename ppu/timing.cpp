// One PPU dot: the vertical-blank schedule that sets and clears PPUSTATUS and drives the NMI line,
// the open-bus decay, rendering on the pre-render and visible lines, and the dot/scanline counters.
#include "cpu/cpu.h"
#include "ppu/ppu.h"

namespace {
constexpr int32_t PRE_RENDER_LINE = -1, POST_RENDER_LINE = 240, FIRST_VBLANK_LINE = 241,
                  LINES_END = 261, DOTS_PER_LINE = 341;
constexpr int32_t VBLANK_ARM = 2, PRE_RENDER_ARM = -5;

// Steps the schedule on the dots while an event is pending (countdown not 0).
void vblank_schedule_step() {
  switch (ppu.vblank_countdown) {
    case PRE_RENDER_ARM: set_ppustatus(0); break;
    case VBLANK_ARM: set_ppustatus(ppustatus() | STATUS_VBLANK); break;
    default: break;
  }
  ppu.vblank_countdown += ppu.vblank_countdown > 0 ? -1 : 1;
}

// The dot after the last of a line: the next scanline and its frame events.
[[gnu::noinline]] void next_scanline() {
  ppu_flush_pixels();  // the rest of the line, before the position moves on
  ppu.scanline_length = DOTS_PER_LINE;
  ppu.dot = 0;
  switch (++ppu.scanline) {
    case POST_RENDER_LINE: ++ppu.frames; break;
    case FIRST_VBLANK_LINE: ppu.vblank_countdown = VBLANK_ARM; break;
    case LINES_END:
      ppu.scanline = PRE_RENDER_LINE;
      ppu.odd_frame = !ppu.odd_frame;
      ppu.vblank_countdown = PRE_RENDER_ARM;
      break;
    default: break;
  }
  ppu_derived.pixel_line = ppu.scanline;
  ppu_derived.pixels_drawn = 0;
  ppu_derived.sprite_row_stale = true;
}

}  // namespace

void ppu_tick() {
  // Between the events the NMI line just follows the vertical-blank flag and its enable bit.
  if (ppu.vblank_countdown == 0) nmi_line = (ppustatus() & STATUS_VBLANK) && (ppuctrl() & CTRL_NMI_ENABLE);
  else vblank_schedule_step();
  if (ppu.open_bus_timer != 0 && --ppu.open_bus_timer == 0) ppu.open_bus = 0;
  // The pixel of a visible dot is drawn later, in a run (ppu_flush_pixels).
  if (ppu.scanline < POST_RENDER_LINE && rendering_enabled()) rendering_tick();
  if (++ppu.dot >= ppu.scanline_length) next_scanline();
}

void ppu_cycle_by_dots() {
  ppu_tick();
  ppu_tick();
  ppu_tick();
}
