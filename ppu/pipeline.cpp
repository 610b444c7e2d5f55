// Background and sprite fetches, scroll updates and sprite evaluation, one dot at a time: eight-dot
// fetch groups for the background tiles (dots 0-255 and 320-335) and the sprite rows (256-319), the
// copies of the scroll latch, and the byte-by-byte search of sprite memory for the next line.
#include <array>

#include "cart/banks.h"
#include "cart/board.h"
#include "ppu/ppu.h"

namespace {
constexpr int32_t PRE_RENDER_LINE = -1;
// Bit (dot / 16) is set for the 16-dot groups that fetch background tiles: dots 0-255 and 320-335.
constexpr uint32_t TILE_FETCH_GROUPS = 0x10FFFF;
constexpr int32_t VERTICAL_STEP_DOT = 251, HORIZONTAL_COPY_DOT = 256, VERTICAL_COPY_DOT = 304,
                  ODD_FRAME_SKIP_DOT = 337;
constexpr int32_t EVALUATION_FIRST_DOT = 65, EVALUATION_LAST_DOT = 255;
constexpr int32_t GROUP_DOTS = 8, SPRITE_FETCH_FIRST_DOT = 256, SPRITE_FETCH_END_DOT = 320,
                  LATE_TILES_END_DOT = 336;
constexpr uint32_t SPRITES_PER_LINE = 8, OAM_SPRITES = 64;

// Fields of the scroll/address words.
constexpr uint32_t COARSE_X = 0x1Fu << 3, COARSE_Y = 0x1Fu << 8, NAMETABLE_X = 1u << 13,
                   NAMETABLE_Y = 1u << 14, FINE_Y = 7u << 15, ADDRESS_BITS = 0xFFFFu << 3;
constexpr uint32_t NAMETABLE_BASE = 0x2000, ATTRIBUTE_BASE = 0x23C0, PATTERN_TABLE_SIZE = 0x1000;
constexpr uint32_t HIGH_PLANE = 8;
constexpr uint32_t ATTRIBUTE_REPEAT_HIGH = 0x55550000u;  // a 2-bit value repeated over 8 pixels

uint32_t coarse_x(uint32_t word) { return (word >> 3) & 0x1F; }
uint32_t coarse_y(uint32_t word) { return (word >> 8) & 0x1F; }
uint32_t fine_y(uint32_t word) { return (word >> 15) & 7; }

// Bit k of a byte moved to bit 2k, for every byte.
constexpr std::array<uint16_t, 256> build_spread_bits() {
  std::array<uint16_t, 256> table{};
  for (uint32_t b = 0; b < 256; ++b)
    for (uint32_t k = 0; k < 8; ++k) table[b] = static_cast<uint16_t>(table[b] | ((b >> k) & 1) << (2 * k));
  return table;
}
constexpr std::array<uint16_t, 256> spread_bits = build_spread_bits();

// The two pattern planes as one row of 2-bit pixels: bit k of the low plane goes to bit 2k, bit k of
// the high plane to bit 2k+1 (two lookups in the table of spread bytes). The input is the 16-bit sum
// low + 256 x high; when the low-plane fetch was skipped (rendering off at its dot) `low` still holds
// a whole interleaved row, and its high byte takes part in the sum, wrapping at 16 bits.
uint16_t interleave_planes(uint16_t low, uint8_t high) {
  const uint32_t v = static_cast<uint16_t>(low + (uint32_t{high} << 8));
  return static_cast<uint16_t>(spread_bits[v & 0xFF] | spread_bits[v >> 8] << 1);
}

void coarse_x_step() {
  uint32_t& v = ppu.vram_address;
  if ((v & COARSE_X) == COARSE_X) v = (v & ~COARSE_X) ^ NAMETABLE_X;
  else v += 1u << 3;
}

// Next pixel row: fine Y, then coarse Y; row 29 moves to the other nametable, rows 30 and 31 (only
// reachable by writes) wrap within the field without switching it.
void vertical_step() {
  uint32_t& v = ppu.vram_address;
  if ((v & FINE_Y) != FINE_Y) {
    v += 1u << 15;
    return;
  }
  v &= ~FINE_Y;
  const uint32_t row = (coarse_y(v) + 1) & 0x1F;
  v = (v & ~COARSE_Y) | (row << 8);
  if (row == 30) v = (v & ~COARSE_Y) ^ NAMETABLE_Y;
}

void nametable_address() {
  ppu.fetch_address = static_cast<uint16_t>(NAMETABLE_BASE + (address_field(ppu.vram_address) & 0x0FFF));
}

void attribute_address() {
  const uint32_t v = ppu.vram_address;
  ppu.fetch_address = static_cast<uint16_t>(ATTRIBUTE_BASE + 0x400 * ((v >> 13) & 3) + 8 * (coarse_y(v) >> 2) +
                                            (coarse_x(v) >> 2));
}

// Every memory read of rendering: the byte at `address`, a pattern-table address (below $2000) or a
// nametable address ($2000-$2FFF), which the PPU puts on its bus at dot `dot` of the current line.
// A board that watches the bus sees them here, as its kind of watch (W) asks: every address as it
// appears (A12), or every pattern address once its byte is read (LATCHES); or the board supplies
// every byte itself (MMC5), knowing from the dot whether the fetch is a sprite's or a tile's.
template <PpuWatch W>
[[gnu::always_inline]] inline uint8_t fetch_pattern(uint32_t address, int32_t dot) {
  if constexpr (W == PpuWatch::MMC5) return cartridge_pattern_fetch(static_cast<uint16_t>(address), dot);
  if constexpr (W == PpuWatch::A12)
    cartridge_ppu_bus(static_cast<uint16_t>(address), ppu_derived.line_start + static_cast<uint32_t>(dot));
  const uint8_t byte = pattern_byte(address);
  if constexpr (W == PpuWatch::LATCHES) cartridge_ppu_read(static_cast<uint16_t>(address));
  return byte;
}
template <PpuWatch W>
[[gnu::always_inline]] inline uint8_t fetch_nametable(uint32_t address, int32_t dot) {
  if constexpr (W == PpuWatch::MMC5) return cartridge_nametable_fetch(static_cast<uint16_t>(address), dot);
  if constexpr (W == PpuWatch::A12)
    cartridge_ppu_bus(static_cast<uint16_t>(address), ppu_derived.line_start + static_cast<uint32_t>(dot));
  return nametable_byte(address);
}

// The fetches of an eight-dot group, each on its dot: the nametable byte (phase 1), the attribute
// byte (3), the low (5) and the high (7) pattern plane.
template <PpuWatch W>
[[gnu::always_inline]] inline void tile_fetch(uint8_t ctrl, int32_t dot) {
  const uint32_t tile = fetch_nametable<W>(ppu.fetch_address, dot);
  ppu.pattern_address = ((ctrl & CTRL_BACKGROUND_TABLE) ? PATTERN_TABLE_SIZE : 0) + 16 * tile +
                        fine_y(ppu.vram_address);
}

template <PpuWatch W>
[[gnu::always_inline]] inline void attribute_fetch(int32_t dot) {
  const uint32_t v = ppu.vram_address;
  const uint32_t a = fetch_nametable<W>(ppu.fetch_address, dot);
  ppu.tile_attribute = static_cast<uint16_t>((a >> ((coarse_x(v) & 2) + 2 * (coarse_y(v) & 2))) & 3);
  coarse_x_step();
  if (dot == VERTICAL_STEP_DOT) vertical_step();
}

template <PpuWatch W>
[[gnu::always_inline]] inline void pattern_low_fetch(int32_t dot) {
  ppu.tile_pattern = fetch_pattern<W>(ppu.pattern_address, dot);
}

template <PpuWatch W>
[[gnu::always_inline]] inline void pattern_high_fetch(int32_t dot) {
  ppu.tile_pattern = interleave_planes(ppu.tile_pattern, fetch_pattern<W>(ppu.pattern_address | HIGH_PLANE, dot));
}

// The row of a sprite group's slot goes to its line sprite; empty slots fetch a row that is dropped.
void store_sprite_row() {
  if (ppu.line_sprite_count < ppu.eval_found) ppu.line_sprites[ppu.line_sprite_count++].pattern = ppu.tile_pattern;
}

void shift_reload() {
  ppu.bg_pattern_shift = (ppu.bg_pattern_shift >> 16) + (uint32_t{ppu.tile_pattern} << 16);
  ppu.bg_attribute_shift = (ppu.bg_attribute_shift >> 16) + ppu.tile_attribute * ATTRIBUTE_REPEAT_HIGH;
}

// The search for the next line's sprites: one byte of sprite memory per odd dot 65-255, read
// into the latch at the dot before. Its working values are kept in locals over a run of steps and
// stored back once.
struct Evaluation {
  uint8_t address = oamaddr();
  uint32_t scanned = ppu.eval_scanned;
  uint32_t found = ppu.eval_found;
  bool overflow = false;

  // One step on the byte `byte`.
  [[gnu::always_inline]] void step(uint8_t byte, uint32_t sprite_height) {
    const uint32_t k = address & 3;
    auto next = static_cast<uint8_t>(address + 1);
    const bool room = found < SPRITES_PER_LINE;
    SpriteEntry& entry = ppu.eval_sprites[room ? found : 0];
    switch (k) {
      case 0: {
        if (scanned >= OAM_SPRITES) {
          next = 0;
          break;
        }
        ++scanned;
        if (room) {
          entry.y = byte;
          entry.sprite_number = static_cast<uint8_t>(next >> 2);
        }
        const int32_t line = ppu.scanline, top = byte;
        if (!(line >= top && line < top + static_cast<int32_t>(sprite_height)))
          next = scanned == 2 ? uint8_t{8} : static_cast<uint8_t>(next + 3);
        break;
      }
      case 1:
        if (room) entry.tile = byte;
        break;
      case 2:
        if (room) entry.attributes = byte;
        break;
      default:
        if (room) {
          entry.x = byte;
          ++found;
        } else {
          overflow = true;
        }
        if (scanned == 2) next = 8;
        break;
    }
    address = next;
  }

  // All 64 sprites examined and the address back at 0: every further step leaves it there.
  bool finished() const { return address == 0 && scanned >= OAM_SPRITES; }

  void store() const {
    set_oamaddr(address);
    ppu.eval_scanned = scanned;
    ppu.eval_found = found;
    if (overflow) set_ppustatus(ppustatus() | STATUS_OVERFLOW);
  }
};

// The step of one odd dot, on the byte its even dot latched.
void evaluation_step(uint32_t sprite_height) {
  Evaluation e;
  e.step(ppu.oam_latch, sprite_height);
  e.store();
}

// `pairs` times: the even dot's latch read, then the odd dot's step.
[[gnu::always_inline]] inline void evaluation_pairs(int32_t pairs, uint32_t sprite_height) {
  Evaluation e;
  const int32_t line = ppu.scanline;
  for (; pairs > 0; --pairs) {
    if (e.finished()) break;  // the remaining reads latch sprite memory's byte 0 again
    const uint8_t byte = ppu.oam[e.address];
    ppu.oam_latch = byte;
    // The most common step, taken here in short: the Y byte of a sprite that is not on the line,
    // with room left. The entry being filled takes its Y and number, and the search moves on.
    if ((e.address & 3) == 0 && e.scanned < OAM_SPRITES && e.found < SPRITES_PER_LINE &&
        static_cast<uint32_t>(line - byte) >= sprite_height) {
      SpriteEntry& entry = ppu.eval_sprites[e.found];
      entry.y = byte;
      entry.sprite_number = static_cast<uint8_t>(e.address >> 2);
      ++e.scanned;
      e.address = e.scanned == 2 ? uint8_t{8} : static_cast<uint8_t>(e.address + 4);
      continue;
    }
    e.step(byte, sprite_height);
  }
  if (pairs > 0) ppu.oam_latch = ppu.oam[0];
  e.store();
}

// The lines' fixed plan: what each dot 0-340 of a rendering line does is decided by the dot alone,
// so a table built at compile time replaces the tests of the dot's phase, fetch group and
// evaluation window. The rare dots with extra work (0, 256, 304 and 337) have their own entries.
enum DotAction : uint8_t {
  IDLE,                // phases 4 and 6
  NAMETABLE_ADDRESS,   // phase 0, and phase 2 outside the tile groups
  GROUP_START,         // phase 0 at dots 0, 256 and 304: also evaluation reset and scroll copies
  TILE_FETCH,          // phase 1 in a tile group: the nametable byte, shift registers reloaded
  TILE_FETCH_PLAIN,    // phase 1 outside: the nametable byte only
  ODD_FRAME_CHECK,     // phase 1 at dot 337: also the shortened pre-render line
  ATTRIBUTE_ADDRESS,   // phase 2 in a tile group
  ATTRIBUTE_FETCH,     // phase 3 in a tile group: attribute byte, coarse X (and Y at dot 251)
  SPRITE_ADDRESS,      // phase 3 outside: the next line sprite's pattern address
  PATTERN_LOW,         // phase 5
  PATTERN_HIGH,        // phase 7 in a tile group
  SPRITE_PATTERN_HIGH, // phase 7 outside: the row also goes to the line sprite
};
constexpr uint8_t EVALUATION_DOT = 0x80;  // plus the evaluation step, else the OAM latch refresh

constexpr std::array<uint8_t, 341> build_dot_plan() {
  std::array<uint8_t, 341> plan{};
  for (int32_t dot = 0; dot < 341; ++dot) {
    const bool tile = (TILE_FETCH_GROUPS >> (dot >> 4)) & 1;
    uint8_t action = IDLE;
    switch (dot & 7) {
      case 0:
        action = (dot == 0 || dot == HORIZONTAL_COPY_DOT || dot == VERTICAL_COPY_DOT) ? GROUP_START
                                                                                       : NAMETABLE_ADDRESS;
        break;
      case 1: action = dot == ODD_FRAME_SKIP_DOT ? ODD_FRAME_CHECK : tile ? TILE_FETCH : TILE_FETCH_PLAIN; break;
      case 2: action = tile ? ATTRIBUTE_ADDRESS : NAMETABLE_ADDRESS; break;
      case 3: action = tile ? ATTRIBUTE_FETCH : SPRITE_ADDRESS; break;
      case 5: action = PATTERN_LOW; break;
      case 7: action = tile ? PATTERN_HIGH : SPRITE_PATTERN_HIGH; break;
      default: break;
    }
    if ((dot & 1) && dot >= EVALUATION_FIRST_DOT && dot <= EVALUATION_LAST_DOT) action |= EVALUATION_DOT;
    plan[static_cast<size_t>(dot)] = action;
  }
  return plan;
}
constexpr std::array<uint8_t, 341> dot_plan = build_dot_plan();

[[gnu::noinline]] void group_start(int32_t dot, uint8_t mask) {
  if (dot == HORIZONTAL_COPY_DOT) {  // the visible dots are over
    ppu.dot = dot;
    ppu_flush_pixels();
  }
  if (dot == 0) {
    ppu.eval_scanned = 0;
    ppu.eval_found = 0;
    if (mask & MASK_SPRITES) set_oamaddr(0);
  }
  if (!(mask & MASK_BACKGROUND)) return;
  if (dot == VERTICAL_COPY_DOT && ppu.scanline == PRE_RENDER_LINE)
    ppu.vram_address = (ppu.vram_address & ~ADDRESS_BITS) | (ppu.temp_address & ADDRESS_BITS);
  if (dot == HORIZONTAL_COPY_DOT) {
    constexpr uint32_t horizontal = COARSE_X | NAMETABLE_X;
    ppu.vram_address = (ppu.vram_address & ~horizontal) | (ppu.temp_address & horizontal);
    ppu.line_sprite_count = 0;
    ppu_derived.sprite_row_stale = true;
  }
}

// Phase 3 outside the tile groups: the second nametable fetch of a sprite slot (and of dot 339), and
// in a sprite slot the pattern address of its sprite. A slot without a sprite fetches tile $FF with
// both flips, at the Y byte its evaluation left there (the last sprite examined in the first empty
// slot, $FF in the others).
template <PpuWatch W>
[[gnu::noinline]] void sprite_address(uint8_t ctrl, int32_t dot) {
  (void)fetch_nametable<W>(ppu.fetch_address, dot);
  if (dot >= SPRITE_FETCH_END_DOT) return;
  const bool tall_sprites = ctrl & CTRL_SPRITE_8X16;
  const uint32_t table_8x8 = (ctrl & CTRL_SPRITE_TABLE) ? PATTERN_TABLE_SIZE : 0;
  if (ppu.line_sprite_count >= ppu.eval_found) {  // an empty slot: tile $FF, both flips
    const auto slot = static_cast<uint32_t>(dot - SPRITE_FETCH_FIRST_DOT) >> 3;
    const int32_t y = slot == ppu.eval_found ? ppu.eval_sprites[slot].y : 0xFF;
    const uint32_t row = ~static_cast<uint32_t>(ppu.scanline - y) & (tall_sprites ? 15 : 7);
    ppu.pattern_address = tall_sprites ? PATTERN_TABLE_SIZE + 16 * 0xFE + (row & 7) + 2 * (row & 8)
                                       : table_8x8 + 16 * 0xFF + row;
    return;
  }
  ppu_derived.sprite_row_stale = true;
  SpriteEntry& sprite = ppu.line_sprites[ppu.line_sprite_count];
  sprite = ppu.eval_sprites[ppu.line_sprite_count];
  uint32_t row = static_cast<uint32_t>(ppu.scanline - sprite.y);
  if (sprite.attributes & 0x80) row ^= tall_sprites ? 15 : 7;
  uint32_t table, tile;
  if (tall_sprites) {
    table = (sprite.tile & 1) ? PATTERN_TABLE_SIZE : 0;
    tile = sprite.tile & 0xFE;
  } else {
    table = table_8x8;
    tile = sprite.tile;
  }
  ppu.pattern_address = table + 16 * tile + (row & 7) + 2 * (row & 8);
}

// One dot of a rendering line, as the plan says. PPUCTRL and PPUMASK change only through the CPU,
// between cycles, so a caller running several dots reads them once.
template <PpuWatch W>
[[gnu::always_inline]] inline void rendering_dot(int32_t dot, uint8_t ctrl, uint8_t mask) {
  const uint8_t plan = dot_plan[static_cast<size_t>(dot)];

  switch (plan & ~EVALUATION_DOT) {
    case NAMETABLE_ADDRESS: nametable_address(); break;
    case GROUP_START:
      nametable_address();
      group_start(dot, mask);
      break;
    case TILE_FETCH:
      tile_fetch<W>(ctrl, dot);
      ppu.dot = dot;  // the pixels before this dot show the registers before the reload
      ppu_flush_pixels();
      shift_reload();
      break;
    case ODD_FRAME_CHECK:
      if (ppu.scanline == PRE_RENDER_LINE && ppu.odd_frame && (mask & MASK_BACKGROUND)) ppu.scanline_length = 340;
      tile_fetch<W>(ctrl, dot);
      break;
    case TILE_FETCH_PLAIN: tile_fetch<W>(ctrl, dot); break;
    case ATTRIBUTE_ADDRESS: attribute_address(); break;
    case ATTRIBUTE_FETCH: attribute_fetch<W>(dot); break;
    case SPRITE_ADDRESS: sprite_address<W>(ctrl, dot); break;
    case PATTERN_LOW: pattern_low_fetch<W>(dot); break;
    case PATTERN_HIGH: pattern_high_fetch<W>(dot); break;
    case SPRITE_PATTERN_HIGH:
      pattern_high_fetch<W>(dot);
      store_sprite_row();
      break;
    default: break;
  }

  if (plan & EVALUATION_DOT) evaluation_step((ctrl & CTRL_SPRITE_8X16) ? 16 : 8);
  else ppu.oam_latch = ppu.oam[oamaddr()];
}

// Dots 64-255: the evaluation window, where the latch read at an even dot feeds the next odd dot.
constexpr int32_t LATCH_FEEDS_EVALUATION_FIRST = EVALUATION_FIRST_DOT - 1;
// The groups whose reload ends a run of pixels that lies wholly in columns 8-247: the run of the
// group at dot d ends at pixel d and starts after the previous group's.
constexpr int32_t FIRST_INNER_GROUP_DOT = 16, LAST_INNER_GROUP_DOT = 240;

// The OAM latch and sprite evaluation of the eight dots from `dot` (a multiple of 8). The fetches
// never touch what evaluation reads or writes, so a group can do its fetches first and its
// evaluation after. Outside the evaluation window every dot refreshes the latch from the same
// OAMADDR (dot 0's reset comes before its refresh), and only the last refresh can be seen.
[[gnu::always_inline]] inline void group_evaluation(int32_t dot, uint8_t ctrl) {
  if (dot >= LATCH_FEEDS_EVALUATION_FIRST && dot <= EVALUATION_LAST_DOT) {
    evaluation_pairs(GROUP_DOTS / 2, (ctrl & CTRL_SPRITE_8X16) ? 16 : 8);
  } else {
    ppu.oam_latch = ppu.oam[oamaddr()];
  }
}

// Dots dot to dot + 7 of a background tile group (dots 0-255 and 320-335), as the plan orders them.
// The pixels before the reload (dot + 1) show the registers before it; `runs` is null where the
// stretch draws through ppu_flush_pixels.
template <PpuWatch W>
void tile_group(int32_t dot, uint8_t ctrl, uint8_t mask, const PixelRuns* runs) {
  nametable_address();
  if (dot == 0) group_start(0, mask);
  tile_fetch<W>(ctrl, dot + 1);
  if (runs && dot >= FIRST_INNER_GROUP_DOT && dot <= LAST_INNER_GROUP_DOT) {
    draw_inner_pixels(*runs, dot + 1);
  } else {
    ppu.dot = dot + 1;
    ppu_flush_pixels();
  }
  shift_reload();
  attribute_address();
  attribute_fetch<W>(dot + 3);
  pattern_low_fetch<W>(dot + 5);
  pattern_high_fetch<W>(dot + 7);
  group_evaluation(dot, ctrl);
}

// Dots dot to dot + 7 of a sprite group (dots 256-319): two nametable fetches whose bytes go
// unused, then the row of the slot's sprite.
template <PpuWatch W>
void sprite_group(int32_t dot, uint8_t ctrl, uint8_t mask) {
  nametable_address();
  if (dot == HORIZONTAL_COPY_DOT || dot == VERTICAL_COPY_DOT) group_start(dot, mask);
  tile_fetch<W>(ctrl, dot + 1);
  nametable_address();
  sprite_address<W>(ctrl, dot + 3);
  pattern_low_fetch<W>(dot + 5);
  pattern_high_fetch<W>(dot + 7);
  store_sprite_row();
  ppu.oam_latch = ppu.oam[oamaddr()];
}

template <PpuWatch W>
void run_rendering(int32_t end) {
  // PPUCTRL and PPUMASK change only through the CPU, which waits for the run to finish.
  const uint8_t ctrl = ppuctrl(), mask = ppumask();
  int32_t dot = ppu.dot;
  PixelRuns runs;
  const bool prepared = dot <= LAST_INNER_GROUP_DOT && end > FIRST_INNER_GROUP_DOT && prepare_pixel_runs(runs);
  while (dot < end) {
    if ((dot & (GROUP_DOTS - 1)) == 0 && dot + GROUP_DOTS <= end) {
      if (dot < SPRITE_FETCH_FIRST_DOT || (dot >= SPRITE_FETCH_END_DOT && dot < LATE_TILES_END_DOT))
        tile_group<W>(dot, ctrl, mask, prepared ? &runs : nullptr);
      else
        sprite_group<W>(dot, ctrl, mask);
      dot += GROUP_DOTS;
    } else {
      rendering_dot<W>(dot, ctrl, mask);
      ++dot;
    }
  }
  ppu.dot = end;
}
}  // namespace

void rendering_tick() {
  switch (ppu_derived.bus_watch) {
    case PpuWatch::NONE: rendering_dot<PpuWatch::NONE>(ppu.dot, ppuctrl(), ppumask()); break;
    case PpuWatch::A12: rendering_dot<PpuWatch::A12>(ppu.dot, ppuctrl(), ppumask()); break;
    case PpuWatch::LATCHES: rendering_dot<PpuWatch::LATCHES>(ppu.dot, ppuctrl(), ppumask()); break;
    case PpuWatch::MMC5: rendering_dot<PpuWatch::MMC5>(ppu.dot, ppuctrl(), ppumask()); break;
  }
}

void rendering_run(int32_t end) {
  switch (ppu_derived.bus_watch) {
    case PpuWatch::NONE: run_rendering<PpuWatch::NONE>(end); break;
    case PpuWatch::A12: run_rendering<PpuWatch::A12>(end); break;
    case PpuWatch::LATCHES: run_rendering<PpuWatch::LATCHES>(end); break;
    case PpuWatch::MMC5: run_rendering<PpuWatch::MMC5>(end); break;
  }
}
