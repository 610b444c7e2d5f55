// Pixel output: fine X selection from the shift registers, edge-column clipping on both sides,
// sprite priority by the first opaque sprite pixel, and the sprite 0 hit rules.
#include "tests/unit/ppu_test_machine.h"

namespace {

constexpr uint8_t BEHIND = 0x20, FLIP_X = 0x40;

class PixelOutput : public PpuPicture {
 protected:
  void SetUp() override {
    PpuPicture::SetUp();
    // A distinct, non-black colour in every palette entry (hues 1-12 of rows 0-2); black backdrop.
    for (uint8_t k = 0; k < 32; ++k) banks.palette_ram[k] = static_cast<uint8_t>(k % 12 + 1 + 16 * (k / 12));
    banks.palette_ram[0] = 0x0F;
    for (int a = 0; a < 32; ++a)
      for (int b = a + 1; b < 32; ++b)
        ASSERT_NE(colour_table[banks.palette_ram[a]], colour_table[banks.palette_ram[b]]) << a << " " << b;
  }
  // Background: every pixel colour `c` of palette `p` in both tiles of the shift registers.
  static void solid_background(uint32_t c, uint32_t p) {
    ppu.bg_pattern_shift = c * 0x55555555u;
    ppu.bg_attribute_shift = p * 0x55555555u;
  }
  static void sprite(int slot, uint8_t number, uint8_t x, uint8_t attributes, uint16_t pattern) {
    SpriteEntry& e = ppu.line_sprites[slot];
    e.sprite_number = number;
    e.x = x;
    e.attributes = attributes;
    e.pattern = pattern;
    if (static_cast<uint32_t>(slot) >= ppu.line_sprite_count) ppu.line_sprite_count = slot + 1;
  }
  static uint32_t draw(int x, int y = 10) {
    ppu.scanline = y;
    ppu.dot = x;
    render_pixel();
    return pixel_at(x, y);
  }
  static uint32_t background_colour(uint32_t c, uint32_t p) { return colour_table[banks.palette_ram[4 * p + c]]; }
  static uint32_t sprite_colour(uint32_t c, uint32_t p) { return colour_table[banks.palette_ram[16 + 4 * p + c]]; }
  static uint32_t backdrop() { return colour_table[banks.palette_ram[0]]; }
  static bool hit() { return ppustatus() & STATUS_SPRITE0_HIT; }
};

TEST_F(PixelOutput, FineXSelectsThePixelWithinTheTwoTiles) {
  set_ppumask(SHOW_ALL);
  // Older tile in bits 0-15: pixel k has colour k & 3; newer tile: all colour 1.
  uint32_t older = 0;
  for (uint32_t k = 0; k < 8; ++k) older |= (k & 3) << (2 * (7 - k));
  ppu.bg_pattern_shift = older | 0x5555u << 16;
  for (uint32_t fine_x = 0; fine_x < 8; ++fine_x) {
    ppu.temp_address = fine_x;
    SCOPED_TRACE(fine_x);
    // Dots 8k+1 to 8k+7 read the older tile at column (dot & 7) + fine X, spilling into the newer.
    for (int column = 1; column < 8; ++column) {
      const uint32_t k = column + fine_x;
      const uint32_t expected = k < 8 ? (k & 3) : 1;
      EXPECT_EQ(draw(16 + column), expected ? background_colour(expected, 0) : backdrop()) << column;
    }
    // Dot 8k has just shifted: it reads the newer tile at fine X.
    EXPECT_EQ(draw(16), background_colour(1, 0));
  }
}

TEST_F(PixelOutput, AttributeOfTransparentBackgroundIsIgnored) {
  set_ppumask(SHOW_ALL);
  solid_background(0, 3);
  EXPECT_EQ(draw(100), backdrop());
  solid_background(2, 3);
  EXPECT_EQ(draw(100), background_colour(2, 3));
}

TEST_F(PixelOutput, ClippingCoversBothEdgeColumns) {
  solid_background(3, 1);
  set_ppumask(MASK_BACKGROUND | MASK_SPRITES);
  for (int x : {0, 7, 248, 255}) EXPECT_EQ(draw(x), backdrop()) << x;
  for (int x : {8, 128, 247}) EXPECT_EQ(draw(x), background_colour(3, 1)) << x;
  set_ppumask(SHOW_ALL);
  for (int x : {0, 7, 248, 255}) EXPECT_EQ(draw(x), background_colour(3, 1)) << x;
}

TEST_F(PixelOutput, SpriteClippingCoversBothEdgeColumns) {
  sprite(0, 5, 0, 0, 0xFFFF);    // columns 0-7, colour 3
  sprite(1, 6, 248, 0, 0xAAAA);  // columns 248-255, colour 2
  set_ppumask(MASK_BACKGROUND | MASK_SPRITES | MASK_BACKGROUND_LEFT);
  EXPECT_EQ(draw(3), backdrop());
  EXPECT_EQ(draw(250), backdrop());
  set_ppumask(SHOW_ALL);
  EXPECT_EQ(draw(3), sprite_colour(3, 0));
  EXPECT_EQ(draw(250), sprite_colour(2, 0));
}

TEST_F(PixelOutput, SpritePixelsWithFlipAndPalette) {
  set_ppumask(SHOW_ALL);
  // Row with pixel k of colour k & 3: 0 1 2 3 0 1 2 3.
  uint16_t row = 0;
  for (uint32_t k = 0; k < 8; ++k) row = static_cast<uint16_t>(row | (k & 3) << (2 * (7 - k)));
  sprite(0, 9, 100, 0x02, row);
  for (int k = 0; k < 8; ++k) {
    const uint32_t c = k & 3;
    EXPECT_EQ(draw(100 + k), c ? sprite_colour(c, 2) : backdrop()) << k;
  }
  ppu.line_sprites[0].attributes = 0x02 | FLIP_X;
  for (int k = 0; k < 8; ++k) {
    const uint32_t c = (7 - k) & 3;
    EXPECT_EQ(draw(100 + k), c ? sprite_colour(c, 2) : backdrop()) << k;
  }
  EXPECT_EQ(draw(99), backdrop());
  EXPECT_EQ(draw(108), backdrop());
}

TEST_F(PixelOutput, FirstOpaqueSpriteDecidesEvenWhenBehind) {
  set_ppumask(SHOW_ALL);
  sprite(0, 3, 50, 0x00, 0x0000);          // transparent: passed over
  sprite(1, 4, 50, BEHIND | 0x01, 0xFFFF); // opaque, behind the background
  sprite(2, 5, 50, 0x02, 0xFFFF);          // opaque, in front, but later
  solid_background(1, 2);
  EXPECT_EQ(draw(52), background_colour(1, 2));
  solid_background(0, 2);
  EXPECT_EQ(draw(52), sprite_colour(3, 1));
  ppu.line_sprites[1].attributes = 0x01;
  solid_background(1, 2);
  EXPECT_EQ(draw(52), sprite_colour(3, 1));
}

TEST_F(PixelOutput, SpritesHiddenShowTheBackgroundOnly) {
  set_ppumask(MASK_BACKGROUND | MASK_BACKGROUND_LEFT);
  sprite(0, 0, 50, 0, 0xFFFF);
  solid_background(0, 0);
  EXPECT_EQ(draw(52), backdrop());
  solid_background(2, 0);
  EXPECT_EQ(draw(52), background_colour(2, 0));
  EXPECT_FALSE(hit());
}

TEST_F(PixelOutput, SpriteZeroHitNeedsBothLayersOpaque) {
  set_ppumask(SHOW_ALL);
  sprite(0, 0, 100, 0, 0xFFFF);
  solid_background(0, 0);
  draw(101);
  EXPECT_FALSE(hit());
  solid_background(2, 0);
  draw(99);  // left of the sprite
  EXPECT_FALSE(hit());
  draw(101);
  EXPECT_TRUE(hit());
}

TEST_F(PixelOutput, SpriteZeroHitOnlyForSpriteNumberZero) {
  set_ppumask(SHOW_ALL);
  solid_background(1, 0);
  sprite(0, 1, 100, 0, 0xFFFF);
  draw(101);
  EXPECT_FALSE(hit());
  // Sprite 0 behind another opaque sprite at the same dot: the first one decides, no hit.
  sprite(1, 0, 100, 0, 0xFFFF);
  draw(102);
  EXPECT_FALSE(hit());
  ppu.line_sprites[0].pattern = 0;
  draw(102);
  EXPECT_TRUE(hit());
}

TEST_F(PixelOutput, SpriteZeroHitBehindTheBackground) {
  set_ppumask(SHOW_ALL);
  solid_background(1, 0);
  sprite(0, 0, 100, BEHIND, 0xFFFF);
  EXPECT_EQ(draw(103), background_colour(1, 0));
  EXPECT_TRUE(hit());
}

TEST_F(PixelOutput, NoSpriteZeroHitAtDot255OrInClippedColumns) {
  solid_background(1, 0);
  set_ppumask(SHOW_ALL);
  sprite(0, 0, 248, 0, 0x0003);  // only the rightmost pixel, dot 255
  draw(255);
  EXPECT_FALSE(hit());
  ppu.line_sprites[0].pattern = 0x000C;  // dot 254
  draw(254);
  EXPECT_TRUE(hit());

  set_ppustatus(0);
  ppu.line_sprites[0].x = 0;
  ppu.line_sprites[0].pattern = 0xFFFF;
  set_ppumask(MASK_BACKGROUND | MASK_SPRITES | MASK_SPRITES_LEFT);  // background clipped
  for (int x = 0; x < 8; ++x) draw(x);
  EXPECT_FALSE(hit());
  set_ppumask(MASK_BACKGROUND | MASK_SPRITES | MASK_BACKGROUND_LEFT);  // sprites clipped
  for (int x = 0; x < 8; ++x) draw(x);
  EXPECT_FALSE(hit());
  set_ppumask(SHOW_ALL);
  draw(0);
  EXPECT_TRUE(hit());
}

// A whole frame through ppu_tick: a sprite with Y 239 or more never reaches a visible line.
TEST_F(PixelOutput, SpritesBelowLine238AreNeverShown) {
  for (int k = 0; k < 64; ++k) ppu.oam[4 * k] = 0xF8;
  for (uint32_t r = 0; r < 8; ++r) tile_row(0, 1, r, 0xFF, 0xFF);
  const uint8_t ys[] = {238, 239, 240, 255};
  for (int k = 0; k < 4; ++k) {
    ppu.oam[4 * k] = ys[k];
    ppu.oam[4 * k + 1] = 1;
    ppu.oam[4 * k + 3] = static_cast<uint8_t>(40 * k + 20);
  }
  set_ppumask(SHOW_ALL);
  ppu.scanline = -1;
  ppu.dot = 0;
  ppu.vblank_countdown = 0;
  while (ppu.scanline != 240) ppu_tick();
  // Y 238 shows on line 239, the only one; the others nowhere.
  EXPECT_EQ(pixel_at(20, 239), sprite_colour(3, 0));
  for (int k = 1; k < 4; ++k)
    for (int y = 0; y < 240; ++y) ASSERT_EQ(pixel_at(40 * k + 20, y), backdrop()) << k << " " << y;
  for (int y = 0; y < 239; ++y) ASSERT_EQ(pixel_at(20, y), backdrop()) << y;
}

}  // namespace
