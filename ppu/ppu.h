// The picture processing unit: the eight CPU-visible registers and their open-bus latch, the dot and
// scanline timing with vertical blank and NMI, the background and sprite fetch pipeline, and the
// conversion of every visible dot into a colour of `frame_buffer`.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>

#include "cart/board.h"
#include "cpu/cpu.h"

// One decoded sprite of the current or the next scanline.
struct SpriteEntry {
  uint8_t sprite_number = 0;  // index 0-63 in oam
  uint8_t y = 0;
  uint8_t tile = 0;
  uint8_t attributes = 0;
  uint8_t x = 0;
  uint16_t pattern = 0;  // interleaved row of 8 two-bit pixels, leftmost in the top bits
};

struct Ppu {
  // Registers: PPUCTRL bits 0-7, PPUMASK 8-15, PPUSTATUS 16-23, OAMADDR 24-31.
  uint32_t registers = 0;
  // Scroll and address words: fine X 0-2, coarse X 3-7, coarse Y 8-12, nametable 13-14, fine Y
  // 15-17; bits 3-18 also form the 16-bit VRAM address.
  uint32_t temp_address = 0;
  uint32_t vram_address = 0;
  bool write_toggle = false;     // second write of a PPUSCROLL/PPUADDR pair comes next
  uint8_t read_buffer = 0;       // PPUDATA read buffer
  uint8_t oam[256] = {};         // sprite memory: Y, tile, attributes, X of 64 sprites
  uint8_t open_bus = 0;          // last value driven on the PPU data bus
  int32_t open_bus_timer = 0;    // dots left before open_bus decays to 0; 0: no decay pending
  int32_t vblank_countdown = 0;  // schedule of the vertical-blank events, -5 to 2

  // Timing.
  int32_t scanline = 241;        // -1 pre-render, 0-239 visible, 240 idle, 241-260 vertical blank
  int32_t dot = 0;               // dot within the scanline
  int32_t scanline_length = 341; // 340 for a shortened pre-render line
  bool odd_frame = false;        // flips at the start of every pre-render line
  uint64_t frames = 0;           // frames finished: times the scanline became 240

  // Background pipeline.
  uint16_t fetch_address = 0;       // nametable or attribute address of the next fetch
  uint32_t pattern_address = 0;     // low pattern plane; the high plane is at this OR 8
  uint16_t tile_pattern = 0;        // low plane, then the interleaved row of the tile
  uint16_t tile_attribute = 0;      // palette selector of the tile just fetched
  uint32_t bg_pattern_shift = 0;    // rows of two tiles: older in bits 0-15, newer in 16-31
  uint32_t bg_attribute_shift = 0;  // their palette selectors, per pixel, same layout

  // Sprite pipeline.
  SpriteEntry eval_sprites[8] = {};  // found on this line for the next
  SpriteEntry line_sprites[8] = {};  // shown on this line
  uint32_t eval_scanned = 0;         // sprites examined on this line, 0-64
  uint32_t eval_found = 0;           // entries filled in eval_sprites, 0-8
  uint32_t line_sprite_count = 0;    // entries loaded into line_sprites, 0-8
  uint8_t oam_latch = 0;             // last byte the evaluation read from oam
};
extern Ppu ppu;

// Register fields of the packed word.
inline uint8_t ppuctrl() { return static_cast<uint8_t>(ppu.registers); }
inline uint8_t ppumask() { return static_cast<uint8_t>(ppu.registers >> 8); }
inline uint8_t ppustatus() { return static_cast<uint8_t>(ppu.registers >> 16); }
inline uint8_t oamaddr() { return static_cast<uint8_t>(ppu.registers >> 24); }
inline void set_ppuctrl(uint8_t v) { ppu.registers = (ppu.registers & 0xFFFFFF00u) | v; }
inline void set_ppumask(uint8_t v) { ppu.registers = (ppu.registers & 0xFFFF00FFu) | (uint32_t{v} << 8); }
inline void set_ppustatus(uint8_t v) { ppu.registers = (ppu.registers & 0xFF00FFFFu) | (uint32_t{v} << 16); }
inline void set_oamaddr(uint8_t v) { ppu.registers = (ppu.registers & 0x00FFFFFFu) | (uint32_t{v} << 24); }

constexpr uint8_t CTRL_INCREMENT_32 = 0x04, CTRL_SPRITE_TABLE = 0x08, CTRL_BACKGROUND_TABLE = 0x10,
                  CTRL_SPRITE_8X16 = 0x20, CTRL_NMI_ENABLE = 0x80;
constexpr uint8_t MASK_GREYSCALE = 0x01, MASK_BACKGROUND_LEFT = 0x02, MASK_SPRITES_LEFT = 0x04,
                  MASK_BACKGROUND = 0x08, MASK_SPRITES = 0x10;
constexpr uint8_t STATUS_OVERFLOW = 0x20, STATUS_SPRITE0_HIT = 0x40, STATUS_VBLANK = 0x80;

inline bool rendering_enabled() { return ppumask() & (MASK_BACKGROUND | MASK_SPRITES); }
// The 16-bit VRAM address held in bits 3-18 of an address word.
inline uint16_t address_field(uint32_t word) { return static_cast<uint16_t>(word >> 3); }

// Dots for which the open-bus latch holds a value after its last refresh.
constexpr int32_t OPEN_BUS_HOLD_DOTS = 77777;

// Working data derived from the saved fields above, not part of the machine's state:
// ppu_rebuild_derived() recomputes it, and must be called after the Ppu record is replaced (a loaded
// snapshot, a fresh power-on) or its position moved by hand.
//  - Pixels are drawn late, in runs: the dots of a visible line are only counted as they pass, and
//    the pixels are drawn when something they depend on is about to change (a reload of the
//    background shift registers every eight dots, any CPU access to a PPU register, dot 256 and the
//    end of the line). `pixel_line` and `pixels_drawn` say how far the drawing has got.
//  - The line's sprites do not change during its visible dots (they are loaded at dots 256-340 of
//    the line before), so their pixels are laid out once per line in `sprite_row`: per dot, the
//    frontmost opaque sprite pixel (bits 0-1), its palette (bits 2-3), behind-background (bit 4),
//    sprite 0 (bit 5); 0 where no sprite is opaque.
//  - The 32 palette entries' colours, under PPUMASK's greyscale and emphasis bits, are looked up
//    again only after a palette or PPUMASK write.
//  - The PPU runs behind the CPU: a CPU cycle only adds its three dots to `dots_owed`, and the dots
//    are run later, in one go (ppu_catch_up), before anything that could see the difference. See
//    ppu_cycle.
struct PpuDerived {
  int32_t dots_owed = 0;         // dots the CPU's cycles have passed that the PPU has not run
  int32_t catch_up_at = 0;       // dots_owed at which the next catch-up is due
  uint64_t line_start = 0;       // dot time (dots since power-on) of dot 0 of the current line
  PpuWatch bus_watch = PpuWatch::NONE;  // how the cartridge's board watches the address bus

  int32_t pixel_line = -2;       // scanline whose pixels are being drawn
  int32_t pixels_drawn = 0;      // its pixels 0 to pixels_drawn - 1 are in frame_buffer
  bool sprite_row_stale = true;  // line_sprites changed since sprite_row was laid out
  uint8_t sprite_row[256] = {};
  uint32_t sprite_groups = 0;    // bit g: some sprite pixel in dots 8g to 8g + 7
  bool colours_stale = true;     // palette or PPUMASK written since `colours` was filled
  uint32_t colours[32] = {};     // frame_buffer colour of each palette entry
};
extern PpuDerived ppu_derived;
void ppu_rebuild_derived();

// A CPU access to register `address & 7`, at CPU address `address` ($2000-$3FFF; the register
// number alone names an access through no address in particular). Returns the byte a read gives.
uint8_t ppu_access(uint16_t address, uint8_t value, bool write);
// Advances the PPU by one dot, at once.
void ppu_tick();
// One dot of fetches, scroll updates and sprite evaluation; runs while rendering is enabled.
void rendering_tick();
// The dots from ppu.dot up to `end` (exclusive, at most the line's dot 336) of a line with rendering
// enabled, with the same result as rendering_tick for each; ppu.dot is `end` afterwards.
void rendering_run(int32_t end);
// Draws the pixels of the dots of the current line that have passed and are not drawn yet.
void ppu_flush_pixels();
// The same for the runs of a catch-up's stretch of a visible line, whose drawing conditions hold
// throughout it (no register access can come between): prepared once, then each run pays only for
// its pixels. prepare_pixel_runs returns false where the stretch must use ppu_flush_pixels.
struct PixelRuns {
  std::atomic<uint32_t>* row = nullptr;
  const uint32_t* colours = nullptr;
  bool background = false, sprites = false;
  uint32_t group_rotation = 0;      // see draw_inner_pixels
  uint32_t background_colours[16];  // colour of pixel value (bits 0-1) with palette (bits 2-3)
};
bool prepare_pixel_runs(PixelRuns& runs);
// Draws the line's pixels from the last drawn up to `end`, all outside the edge columns 0-7 and
// 248-255.
void draw_inner_pixels(const PixelRuns& runs, int32_t end);
// The pixel of the current visible dot, drawn at once (the sprite layout is redone first).
void render_pixel();
// Stores the colour of PPU pixel value `pixel` (palette colour in bits 0-5, emphasis in bits 6-8)
// at (x, y) of frame_buffer.
void put_pixel(uint32_t x, uint32_t y, uint32_t pixel);

// The CPU sees the PPU only at a few moments: its register accesses (ppu_access), the NMI line it
// samples before each opcode fetch, and the frame count the host reads after each step. Between
// them the dots can run late, in long stretches that cost far less per dot than one call per
// cycle (a whole line's tile fetches in eight-dot groups, its idle dots in one addition):
//  - ppu_cycle only counts the cycle's three dots; when `dots_owed` reaches `catch_up_at`,
//    ppu_catch_up runs them.
//  - After a catch-up, the next one is due at the cycle that reaches the start of line 240 (the
//    frame count), line 241 (the vertical-blank flag and NMI) or the pre-render line (their end),
//    whichever comes first. Between those points the NMI line stays what it was: it follows only
//    PPUSTATUS and PPUCTRL. While the vertical-blank schedule runs, and while the NMI line has not
//    yet followed those flags (the dot after the schedule or an access sets it), the catch-up is
//    due every cycle.
//  - Everything else that looks at or changes the PPU from outside catches up first: a register
//    access (which also makes the next cycle catch up, so that the NMI line follows a changed
//    PPUCTRL or PPUSTATUS one cycle later, as it does when every dot runs on time), a mapper write
//    (it moves the banks the fetches read), the reset button, and saving a snapshot.
//  - A board with an interrupt names the earliest dot at which its line could change; the catch-up
//    is due no later than that, so the CPU sees the line change on the cycle it would with every
//    dot run on time (ppu_plan_catch_up).
// ppu_tick stays the one-dot reference that tests and the catch-up's rare dots use.
void ppu_catch_up();
// Sets catch_up_at for the PPU's position, after a catch-up or a write to the board.
void ppu_plan_catch_up();
// The dot time of the PPU's position (the next dot to run).
inline uint64_t ppu_dot_time() { return ppu_derived.line_start + static_cast<uint64_t>(ppu.dot); }
// Whether the PPU is fetching for rendering (rendering on, a visible or the pre-render line): the
// address bus then carries the fetches, and otherwise the VRAM address.
inline bool ppu_fetching() { return ppu.scanline < 240 && rendering_enabled(); }
// Runs `dots` dots, with the same result as that many ppu_tick calls.
void ppu_run_dots(int32_t dots);
// Advances the PPU by three dots (one CPU cycle). Inline and free of calls on its common path, so
// that the bus cycle pays for no call frame.
inline void ppu_cycle() {
  ppu_derived.dots_owed += 3;
  if (ppu_derived.dots_owed >= ppu_derived.catch_up_at) [[unlikely]] ppu_catch_up();
}

// The 32-bit colour 0x00RRGGBB of every 9-bit PPU pixel value, from the composite signal model.
constexpr uint32_t PIXEL_VALUES = 512;
extern const std::array<uint32_t, PIXEL_VALUES> colour_table;

// The picture: 256x240 pixels 0x00RRGGBB, row-major. Written by the emulation thread, read by the
// window thread, pixel by pixel, without locks.
constexpr int FRAME_WIDTH = 256, FRAME_HEIGHT = 240;
extern std::atomic<uint32_t>* frame_buffer;
