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

// Batches of three dots that start at or before this dot stay within the line: the line ends at
// dot 340 at the earliest, and the shortened pre-render line is decided at dot 337.
constexpr int32_t LAST_BATCH_START = 333;
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

// The CPU looks at the PPU only between its cycles: at its register accesses (ppu_access) and at
// the NMI line before an opcode fetch. So within a cycle's three dots, what only those see can be
// done once:
//  - the NMI line: between the vertical-blank events it is recomputed every dot from flags that
//    only a register access changes, so the first dot's value holds for the other two. Three dots
//    that start inside the event schedule take the dot-by-dot path.
//  - the open-bus decay: three decrements at once; the latch clears if the count reaches 0.
// Lines 240-260 do nothing else, nor do the others with rendering off (their pixels are drawn in
// runs). Three dots that could reach the end of the line take the dot-by-dot path.
void ppu_cycle() {
  if (ppu.vblank_countdown != 0 || ppu.dot > LAST_BATCH_START) {
    ppu_tick();
    ppu_tick();
    ppu_tick();
    return;
  }
  nmi_line = (ppustatus() & STATUS_VBLANK) && (ppuctrl() & CTRL_NMI_ENABLE);
  if (ppu.open_bus_timer != 0) {
    ppu.open_bus_timer -= 3;
    if (ppu.open_bus_timer <= 0) {
      ppu.open_bus_timer = 0;
      ppu.open_bus = 0;
    }
  }
  if (ppu.scanline < POST_RENDER_LINE && rendering_enabled()) {
    rendering_cycle();
  } else {
    ppu.dot += 3;
  }
}
