// One PPU dot: the vertical-blank schedule that sets and clears PPUSTATUS and drives the NMI line,
// the open-bus decay, rendering on the pre-render and visible lines, and the dot/scanline counters.
#include <algorithm>

#include "cart/board.h"
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
  ppu_derived.line_start += static_cast<uint64_t>(ppu.scanline_length);
  ppu.scanline_length = DOTS_PER_LINE;
  ppu.dot = 0;
  switch (++ppu.scanline) {
    case POST_RENDER_LINE:
      ++ppu.frames;
      // The fetches are over: the address bus carries the VRAM address again.
      if (ppu_derived.bus_watch == PpuWatch::A12 && rendering_enabled())
        cartridge_ppu_bus(address_field(ppu.vram_address) & 0x3FFF, ppu_derived.line_start);
      if (ppu_derived.bus_watch == PpuWatch::MMC5) mmc5_rendering_stopped();
      break;
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

namespace {
// Dots 336-340 of a line take the one-dot path: the shortened pre-render line is decided at dot 337,
// and the line's last dot moves on to the next.
constexpr int32_t RUN_END_DOT = 336;

// Dots until the start of the next line where something the CPU sees happens (240, 241 or the
// pre-render line). A pre-render line counted at its full length may end a dot sooner, which only
// makes the catch-up one cycle early.
int32_t dots_to_next_event_line() {
  int32_t next_event_line;
  if (ppu.scanline < POST_RENDER_LINE) next_event_line = POST_RENDER_LINE;
  else if (ppu.scanline == POST_RENDER_LINE) next_event_line = FIRST_VBLANK_LINE;
  else next_event_line = LINES_END;
  const int32_t line_length = ppu.scanline == PRE_RENDER_LINE ? DOTS_PER_LINE - 1 : ppu.scanline_length;
  return line_length - ppu.dot + DOTS_PER_LINE * (next_event_line - ppu.scanline - 1);
}
}  // namespace

void ppu_run_dots(int32_t dots) {
  while (dots > 0) {
    if (ppu.vblank_countdown != 0 || ppu.dot >= RUN_END_DOT) {
      ppu_tick();
      --dots;
      continue;
    }
    // A stretch within the line and outside the vertical-blank schedule: the NMI line holds its
    // value, the open-bus latch counts down in one subtraction, and the fetches run as a group.
    const int32_t run = dots < RUN_END_DOT - ppu.dot ? dots : RUN_END_DOT - ppu.dot;
    nmi_line = (ppustatus() & STATUS_VBLANK) && (ppuctrl() & CTRL_NMI_ENABLE);
    if (ppu.open_bus_timer != 0) {
      ppu.open_bus_timer -= run;
      if (ppu.open_bus_timer <= 0) {
        ppu.open_bus_timer = 0;
        ppu.open_bus = 0;
      }
    }
    if (ppu.scanline < POST_RENDER_LINE && rendering_enabled()) rendering_run(ppu.dot + run);
    else ppu.dot += run;
    dots -= run;
  }
}

void ppu_plan_catch_up() {
  // The next cycle runs on time while the schedule runs, and once more after it (or after an
  // access) when the NMI line has yet to follow the flags: the next dot sets it.
  const bool nmi_settled = nmi_line == ((ppustatus() & STATUS_VBLANK) && (ppuctrl() & CTRL_NMI_ENABLE));
  int32_t at = ppu.vblank_countdown == 0 && nmi_settled ? dots_to_next_event_line() : 1;
  if (board->irq_deadline) [[unlikely]] at = std::min(at, board->irq_deadline());
  ppu_derived.catch_up_at = at;
}

void ppu_catch_up() {
  const int32_t dots = ppu_derived.dots_owed;
  ppu_derived.dots_owed = 0;
  ppu_run_dots(dots);
  ppu_plan_catch_up();
}
