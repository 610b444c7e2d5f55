// Pixel output: background and sprite layers with edge-column clipping, sprite priority and sprite 0
// hit, the palette lookup with greyscale and colour emphasis, and the colours of the 512 PPU pixel
// values, computed from a model of the composite video signal (square-wave chroma, YIQ decoding).
#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>
#include <numbers>

#include "cart/banks.h"
#include "cart/board.h"
#include "ppu/ppu.h"

std::atomic<uint32_t>* frame_buffer = nullptr;

namespace {
// Signal level of one sample, indexed by s + 2n + 4L: s the chroma square wave, n whether the sample
// is not attenuated by emphasis, L the luminance row.
constexpr int8_t signal_levels[16] = {-6, -69, 26, -59, 29, -55, 73, -40,
                                      68, -17, 125, 11, 68, 33, 125, 78};
// Emphasis bits (PPUMASK bits 5-7 as bits 0-2) that attenuate each pair of the twelve samples.
constexpr uint8_t emphasis_masks[6] = {6, 2, 3, 1, 5, 4};
constexpr int SIGNAL_SAMPLES = 12;
constexpr int SIGNAL_OFFSET = 40;
constexpr double CHROMA_SCALE = 5909.0;
constexpr float LUMA_SCALE = 1980.0f, CHROMA_DIVISOR = 9000000.0f;
// The gamma exponent: 2.2 / 1.8 computed in single precision.
constexpr double GAMMA = 1.2222223281860352;
static_assert(GAMMA == static_cast<double>(2.2f / 1.8f));

uint32_t colour_byte(float f) {
  const float g = f <= 0.0f ? 0.0f : static_cast<float>(std::pow(static_cast<double>(f), GAMMA));
  const auto level = static_cast<int32_t>(g * 255.0f);
  return static_cast<uint32_t>(level > 255 ? 255 : level);
}

uint32_t composite_colour(uint32_t v) {
  const uint32_t hue = v & 15;
  const uint32_t row = hue < 14 ? (v >> 4) & 3 : 1;
  const uint32_t emphasis = v >> 6;
  int32_t y = 0, i = 0, q = 0;
  for (int p = 0; p < SIGNAL_SAMPLES; ++p) {
    const uint32_t threshold = (hue + 8 + static_cast<uint32_t>(p)) % 12 < 6 ? 12 : 0;
    const uint32_t s = hue > threshold ? 1 : 0;
    const uint32_t n = (emphasis_masks[p / 2] & emphasis) ? 0 : 1;
    const int32_t b = SIGNAL_OFFSET + signal_levels[s + 2 * n + 4 * row];
    const double angle = std::numbers::pi * p / 6;
    y += b;
    i += b * static_cast<int32_t>(std::cos(angle) * CHROMA_SCALE);
    q += b * static_cast<int32_t>(std::sin(angle) * CHROMA_SCALE);
  }
  const auto fy = static_cast<float>(y), fi = static_cast<float>(i), fq = static_cast<float>(q);
  const float red = (fi * 0.947f / CHROMA_DIVISOR + fy / LUMA_SCALE) + fq * 0.624f / CHROMA_DIVISOR;
  const float green = (fy / LUMA_SCALE - fi * 0.275f / CHROMA_DIVISOR) - fq * 0.636f / CHROMA_DIVISOR;
  const float blue = (fy / LUMA_SCALE - fi * 1.109f / CHROMA_DIVISOR) + fq * 1.709f / CHROMA_DIVISOR;
  return colour_byte(red) * 65536 + colour_byte(green) * 256 + colour_byte(blue);
}

// The mean level of the pixel's twelve samples (its luma), with emphasis: 0 at the black of $1D,
// 1 at the white of $20.
float signal_luminance(uint32_t v) {
  const uint32_t hue = v & 15;
  const uint32_t row = hue < 14 ? (v >> 4) & 3 : 1;
  const uint32_t emphasis = (v >> 6) & 7;
  int32_t sum = 0;
  for (int p = 0; p < SIGNAL_SAMPLES; ++p) {
    const uint32_t threshold = (hue + 8 + static_cast<uint32_t>(p)) % 12 < 6 ? 12 : 0;
    const uint32_t s = hue > threshold ? 1 : 0;
    const uint32_t n = (emphasis_masks[p / 2] & emphasis) ? 0 : 1;
    sum += signal_levels[s + 2 * n + 4 * row];
  }
  constexpr int32_t black = signal_levels[1 + 2 + 4], white = signal_levels[0 + 2 + 8];
  return (static_cast<float>(sum) / SIGNAL_SAMPLES - black) / static_cast<float>(white - black);
}

std::array<uint32_t, PIXEL_VALUES> build_colour_table() {
  std::array<uint32_t, PIXEL_VALUES> table{};
  for (uint32_t v = 0; v < PIXEL_VALUES; ++v) table[v] = composite_colour(v);
  return table;
}

constexpr uint8_t ATTR_PALETTE = 0x03, ATTR_BEHIND_BACKGROUND = 0x20, ATTR_FLIP_X = 0x40;
constexpr uint32_t SPRITE_PALETTES = 4;
constexpr uint32_t PALETTE_ADDRESS = 0x3F00;
}  // namespace

// Built during start-up, before any pixel is drawn; the math library's functions are not constexpr.
const std::array<uint32_t, PIXEL_VALUES> colour_table = build_colour_table();

float pixel_luminance(uint32_t pixel) { return signal_luminance(pixel & (PIXEL_VALUES - 1)); }

void put_pixel(uint32_t x, uint32_t y, uint32_t pixel) {
  frame_buffer[y * FRAME_WIDTH + x].store(colour_table[pixel], std::memory_order_relaxed);
}

PpuDerived ppu_derived;

namespace {
constexpr uint8_t ROW_PALETTE_SHIFT = 2, ROW_BEHIND = 0x10, ROW_SPRITE0 = 0x20;

// The frontmost opaque pixel of the line's sprites at every dot: the sprites are laid out from the
// last to the first, so a lower-numbered sprite overwrites a higher one, as the per-dot search for
// the first opaque sprite picks it.
void lay_out_sprite_row() {
  PpuDerived& d = ppu_derived;
  std::fill(std::begin(d.sprite_row), std::end(d.sprite_row), uint8_t{0});
  d.sprite_groups = 0;
  const uint32_t count = ppu.line_sprite_count < 8 ? ppu.line_sprite_count : 8;
  for (uint32_t n = count; n-- > 0;) {
    const SpriteEntry& sprite = ppu.line_sprites[n];
    const auto info = static_cast<uint8_t>(((sprite.attributes & ATTR_PALETTE) << ROW_PALETTE_SHIFT) |
                                           ((sprite.attributes & ATTR_BEHIND_BACKGROUND) ? ROW_BEHIND : 0) |
                                           (sprite.sprite_number == 0 ? ROW_SPRITE0 : 0));
    for (uint32_t xd = 0; xd < 8 && sprite.x + xd < FRAME_WIDTH; ++xd) {
      const uint32_t k = (sprite.attributes & ATTR_FLIP_X) ? xd : 7 - xd;
      const uint32_t sp = (sprite.pattern >> (2 * k)) & 3;
      if (sp) {
        d.sprite_row[sprite.x + xd] = static_cast<uint8_t>(sp | info);
        d.sprite_groups |= 1u << ((sprite.x + xd) >> 3);
      }
    }
  }
  d.sprite_row_stale = false;
}

// The colours of the 32 palette entries under the current greyscale and emphasis bits, redone when
// a palette entry or PPUMASK has been written since (registers.cpp marks them stale).
void refresh_colours(uint8_t mask) {
  const uint32_t colour_mask = (mask & MASK_GREYSCALE) ? 0x30 : 0x3F;
  const uint32_t emphasis = uint32_t{mask} >> 5 << 6;
  for (uint32_t k = 0; k < 32; ++k) ppu_derived.colours[k] = colour_table[(banks.palette_ram[k] & colour_mask) | emphasis];
  ppu_derived.colours_stale = false;
}

// The pixel position in the shift registers that dot column c (0-7) shows with fine X f: column 0
// comes before the reload of its group, so it shows the older tile; q is the bit offset.
constexpr std::array<std::array<uint8_t, 8>, 8> build_shift_offsets() {
  std::array<std::array<uint8_t, 8>, 8> q{};
  for (uint32_t f = 0; f < 8; ++f)
    for (uint32_t c = 0; c < 8; ++c) q[f][c] = static_cast<uint8_t>(2 * (15 - ((c + f + (c ? 8 : 0)) & 15)));
  return q;
}
constexpr auto shift_offsets = build_shift_offsets();

// A run of pixels whose layers are shown (Background, Sprites) throughout.
template <bool Background, bool Sprites>
void draw_run(std::atomic<uint32_t>* row, uint32_t x, uint32_t end, const uint32_t* colours) {
  const auto& offsets = shift_offsets[ppu.temp_address & 7];
  const uint32_t patterns = ppu.bg_pattern_shift, attributes = ppu.bg_attribute_shift;
  for (; x < end; ++x) {
    uint32_t entry = 0;  // palette entry: pixel value in bits 0-1, palette in bits 2-4
    if constexpr (Background) {
      const uint32_t q = offsets[x & 7];
      const uint32_t pixel = (patterns >> q) & 3;
      entry = pixel ? pixel | ((attributes >> q) & 3) << 2 : 0;
    }
    if constexpr (Sprites) {
      const uint32_t sprite = ppu_derived.sprite_row[x];
      if (sprite) {
        if (x < 255 && entry && (sprite & ROW_SPRITE0)) set_ppustatus(ppustatus() | STATUS_SPRITE0_HIT);
        if (!(sprite & ROW_BEHIND) || !entry) entry = (sprite & 0x0F) | 0x10;  // sprite palettes 4-7
      }
    }
    row[x].store(colours[entry], std::memory_order_relaxed);
  }
}

// Pixels x to end - 1 of the current line. Everything they read is constant over the run: the
// callers draw before the shift registers reload, before a register access and at the line's end.
void draw_pixels(uint32_t x, uint32_t end) {
  const uint8_t mask = ppumask();
  if (ppu_derived.colours_stale) refresh_colours(mask);
  const uint32_t* colours = ppu_derived.colours;
  std::atomic<uint32_t>* row = frame_buffer + static_cast<uint32_t>(ppu.scanline) * FRAME_WIDTH;
  if (!(mask & (MASK_BACKGROUND | MASK_SPRITES))) {
    // Rendering off: the backdrop, or the palette entry the VRAM address points at; one colour.
    const uint32_t address = address_field(ppu.vram_address);
    const uint32_t pixel = (address & PALETTE_ADDRESS) == PALETTE_ADDRESS ? address : 0;
    const uint32_t colour = colours[pixel & 31];
    for (; x < end; ++x) row[x].store(colour, std::memory_order_relaxed);
    return;
  }
  if ((mask & MASK_SPRITES) && ppu_derived.sprite_row_stale) lay_out_sprite_row();
  const bool background = mask & MASK_BACKGROUND;
  const bool sprites = mask & MASK_SPRITES;
  // The edge columns (dots 0-7 and 248-255) show each layer only with its left-column bit.
  auto layers = [&](uint32_t from, uint32_t to, bool edge) {
    if (from >= to) return;
    const bool bg = background && (!edge || (mask & MASK_BACKGROUND_LEFT));
    // Sprites only where the row has any: eight-dot groups without one skip the sprite layer.
    bool spr = sprites && (!edge || (mask & MASK_SPRITES_LEFT));
    if (spr) {
      const uint64_t groups_to_last = (uint64_t{2} << ((to - 1) >> 3)) - 1;  // groups 0 to that of dot to - 1
      spr = (ppu_derived.sprite_groups & groups_to_last) >> (from >> 3);
    }
    if (bg) {
      if (spr) draw_run<true, true>(row, from, to, colours);
      else draw_run<true, false>(row, from, to, colours);
    } else {
      if (spr) draw_run<false, true>(row, from, to, colours);
      else draw_run<false, false>(row, from, to, colours);
    }
  };
  constexpr uint32_t EDGE = 8, RIGHT_EDGE = FRAME_WIDTH - 8;
  if (x >= EDGE && end <= RIGHT_EDGE) return layers(x, end, false);  // the common run
  layers(x, std::min(end, EDGE), true);
  layers(std::max(x, EDGE), std::min(end, RIGHT_EDGE), false);
  layers(std::max(x, RIGHT_EDGE), end, true);
}
}  // namespace

void ppu_flush_pixels() {
  PpuDerived& d = ppu_derived;
  const int32_t end = ppu.dot < FRAME_WIDTH ? ppu.dot : FRAME_WIDTH;
  if (d.pixel_line != ppu.scanline) {  // moved from outside: nothing of this line is owed
    d.pixel_line = ppu.scanline;
    d.pixels_drawn = end;
    return;
  }
  if (d.pixels_drawn < end && ppu.scanline >= 0 && ppu.scanline < FRAME_HEIGHT && frame_buffer)
    draw_pixels(static_cast<uint32_t>(d.pixels_drawn), static_cast<uint32_t>(end));
  d.pixels_drawn = end;
}

bool prepare_pixel_runs(PixelRuns& runs) {
  PpuDerived& d = ppu_derived;
  const uint8_t mask = ppumask();
  if (d.pixel_line != ppu.scanline || ppu.scanline < 0 || ppu.scanline >= FRAME_HEIGHT || !frame_buffer ||
      !(mask & (MASK_BACKGROUND | MASK_SPRITES)))
    return false;
  if (d.colours_stale) refresh_colours(mask);
  if ((mask & MASK_SPRITES) && d.sprite_row_stale) lay_out_sprite_row();
  runs.row = frame_buffer + static_cast<uint32_t>(ppu.scanline) * FRAME_WIDTH;
  runs.colours = d.colours;
  runs.background = mask & MASK_BACKGROUND;
  runs.sprites = mask & MASK_SPRITES;
  // The eight pixels of a group's run, dots d - 7 to d, show positions f + 9 to f + 16 (mod 16) of
  // the two tiles in the shift registers, f the fine X scroll (see shift_offsets): one rotation
  // brings them to the low 16 bits, leftmost in the top bits, as a pattern row.
  const uint32_t first_bit = 2 * (15 - (((ppu.temp_address & 7) + 9) & 15));
  runs.group_rotation = (first_bit - 14) & 31;
  for (uint32_t n = 0; n < 16; ++n) runs.background_colours[n] = d.colours[(n & 3) ? n : 0];
  return true;
}

namespace {
// Each 2-bit field k of a 16-bit row moved to bits 4k and 4k + 1.
uint32_t spread_fields(uint32_t row) {
  row = (row | row << 8) & 0x00FF00FFu;
  row = (row | row << 4) & 0x0F0F0F0Fu;
  return (row | row << 2) & 0x33333333u;
}

// The eight pixels from `x` of a group whose run shows the background alone: their pixel values
// and palettes are gathered into one nibble each, then looked up.
void draw_background_group(const PixelRuns& runs, uint32_t x) {
  const uint32_t patterns = std::rotr(ppu.bg_pattern_shift, static_cast<int>(runs.group_rotation)) & 0xFFFF;
  const uint32_t attributes = std::rotr(ppu.bg_attribute_shift, static_cast<int>(runs.group_rotation)) & 0xFFFF;
  const uint32_t nibbles = spread_fields(patterns) | spread_fields(attributes) << 2;
  std::atomic<uint32_t>* out = runs.row + x;
#pragma GCC unroll 8
  for (uint32_t i = 0; i < 8; ++i)
    out[i].store(runs.background_colours[(nibbles >> (28 - 4 * i)) & 15], std::memory_order_relaxed);
}
}  // namespace

void draw_inner_pixels(const PixelRuns& runs, int32_t end) {
  PpuDerived& d = ppu_derived;
  const auto from = static_cast<uint32_t>(d.pixels_drawn), to = static_cast<uint32_t>(end);
  d.pixels_drawn = end;
  if (from >= to) return;
  // Sprites only where the row has any, as in draw_pixels.
  const bool sprites = runs.sprites && ((d.sprite_groups & ((uint64_t{2} << ((to - 1) >> 3)) - 1)) >> (from >> 3));
  if (runs.background) {
    if (sprites) draw_run<true, true>(runs.row, from, to, runs.colours);
    else if (to - from == 8 && (from & 7) == 1) draw_background_group(runs, from);
    else draw_run<true, false>(runs.row, from, to, runs.colours);
  } else {
    if (sprites) draw_run<false, true>(runs.row, from, to, runs.colours);
    else draw_run<false, false>(runs.row, from, to, runs.colours);
  }
}

void ppu_rebuild_derived() {
  ppu_derived.dots_owed = 0;
  ppu_derived.catch_up_at = 0;  // the first cycle catches up and plans the next
  ppu_derived.bus_watch = board->watch;
  ppu_derived.colours_stale = true;
  ppu_derived.pixel_line = ppu.scanline;
  ppu_derived.pixels_drawn = ppu.dot < FRAME_WIDTH ? ppu.dot : FRAME_WIDTH;
  ppu_derived.sprite_row_stale = true;
}

void render_pixel() {
  ppu_derived.sprite_row_stale = true;
  ppu_derived.colours_stale = true;
  const auto dot = static_cast<uint32_t>(ppu.dot);
  draw_pixels(dot, dot + 1);
}
