// The fetch pipeline: tile rows and attributes entering the shift registers, the scroll steps and
// copies, the odd-frame shortening, and the sprite evaluation and sprite row fetches.
#include "tests/unit/ppu_test_machine.h"

namespace {

using FetchPipeline = PpuPicture;

TEST_F(FetchPipeline, PlanesAreInterleavedIntoTwoBitPixels) {
  const uint8_t pairs[][2] = {{0x00, 0x00}, {0xFF, 0x00}, {0x00, 0xFF}, {0x80, 0x01}, {0xB1, 0x65},
                              {0x5A, 0xC3}, {0x0F, 0xF0}, {0x96, 0x69}};
  set_ppumask(SHOW_ALL);
  for (const auto& pair : pairs) {
    SCOPED_TRACE(testing::Message() << std::hex << int{pair[0]} << " " << int{pair[1]});
    tile_row(0, 7, 0, pair[0], pair[1]);
    banks.nametable_ram[0] = 7;
    ppu.vram_address = 0;
    fetch_dots(0, 0, 7);
    EXPECT_EQ(ppu.tile_pattern, reference_row(pair[0], pair[1]));
  }
}

// Rendering switched off over the low-plane dot: the high-plane step starts from the whole stale
// 16-bit row plus 256 x the high plane, wrapping at 16 bits.
TEST_F(FetchPipeline, HighPlaneAfterASkippedLowPlaneKeepsTheWholeRow) {
  set_ppumask(SHOW_ALL);
  tile_row(0, 7, 0, 0x00, 0xE0);
  banks.nametable_ram[0] = 7;
  ppu.vram_address = 0;
  fetch_dots(0, 0, 4);
  ppu.tile_pattern = 0xFC00;
  fetch_dots(0, 7, 7);
  EXPECT_EQ(ppu.tile_pattern, 0xA2A0);
}

TEST_F(FetchPipeline, FirstTwoTilesAreFetchedAtTheEndOfThePreviousLine) {
  set_ppumask(SHOW_ALL);
  // Tiles 1, 2, 3 at columns 0, 1, 2 of row 4, pixel row 5; attribute of that area: palette 2.
  const uint32_t row = 4, fine = 5;
  banks.nametable_ram[32 * row + 0] = 1;
  banks.nametable_ram[32 * row + 1] = 2;
  banks.nametable_ram[32 * row + 2] = 3;
  banks.nametable_ram[0x3C0 + 8 * (row / 4)] = 0x02;  // top-left quadrant of the 4x4 block
  tile_row(0, 1, fine, 0x81, 0x00);
  tile_row(0, 2, fine, 0x00, 0x3C);
  tile_row(0, 3, fine, 0xFF, 0xFF);
  ppu.vram_address = scroll_word(0, 0, row, 0, fine);
  ppu.temp_address = ppu.vram_address;
  fetch_dots(3, 320, 340);
  // Dots 320-335 fetched two tiles; the second is still outside the shift register.
  EXPECT_EQ(ppu.bg_pattern_shift >> 16, reference_row(0x81, 0x00));
  EXPECT_EQ(ppu.bg_attribute_shift >> 16, 0xAAAAu);  // palette 2 for all 8 pixels
  EXPECT_EQ(ppu.tile_pattern, reference_row(0x00, 0x3C));
  fetch_dots(4, 0, 1);
  EXPECT_EQ(ppu.bg_pattern_shift & 0xFFFF, reference_row(0x81, 0x00));
  EXPECT_EQ(ppu.bg_pattern_shift >> 16, reference_row(0x00, 0x3C));
  fetch_dots(4, 2, 9);
  EXPECT_EQ(ppu.bg_pattern_shift >> 16, reference_row(0xFF, 0xFF));
  EXPECT_EQ(ppu.bg_pattern_shift & 0xFFFF, reference_row(0x00, 0x3C));
}

TEST_F(FetchPipeline, SpriteDotsDoNotShiftTheBackground) {
  set_ppumask(SHOW_ALL);
  ppu.bg_pattern_shift = 0x12345678;
  ppu.tile_pattern = 0xFFFF;
  fetch_dots(10, 256, 319);
  EXPECT_EQ(ppu.bg_pattern_shift, 0x12345678u);
  fetch_dots(10, 336, 340);
  EXPECT_EQ(ppu.bg_pattern_shift, 0x12345678u);
}

TEST_F(FetchPipeline, AttributeQuadrantFollowsCoarseXAndY) {
  set_ppumask(SHOW_ALL);
  // Attribute byte of the block at columns 8-11, rows 4-7 of nametable 1 ($2400): quadrant
  // top-left 1, top-right 2, bottom-left 3, bottom-right 0.
  poke(0x2400 + 0x3C0 + 8 * 1 + 2, 0b00'11'10'01);
  const struct { uint32_t x, y, palette; } cases[] = {{8, 4, 1}, {9, 5, 1}, {10, 4, 2}, {11, 5, 2},
                                                     {8, 6, 3}, {9, 7, 3}, {10, 6, 0}, {11, 7, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    ppu.vram_address = scroll_word(0, c.x, c.y, 1, 0);
    fetch_dots(0, 0, 3);
    EXPECT_EQ(ppu.tile_attribute, c.palette);
  }
}

TEST_F(FetchPipeline, CoarseXStepsAndWrapsIntoTheOtherNametable) {
  set_ppumask(MASK_SPRITES);  // stepping happens with either layer
  ppu.vram_address = scroll_word(5, 30, 7, 2, 3);
  fetch_dots(0, 0, 3);
  EXPECT_EQ(ppu.vram_address, scroll_word(5, 31, 7, 2, 3));
  fetch_dots(0, 8, 11);
  EXPECT_EQ(ppu.vram_address, scroll_word(5, 0, 7, 3, 3));
  fetch_dots(0, 16, 19);
  EXPECT_EQ(ppu.vram_address, scroll_word(5, 1, 7, 3, 3));
}

TEST_F(FetchPipeline, VerticalStepWrapRules) {
  set_ppumask(MASK_BACKGROUND);
  const struct { uint32_t coarse_y, nametable, fine_y, next_coarse_y, next_nametable, next_fine_y; } cases[] = {
      {12, 0, 3, 12, 0, 4},  // inside a tile: fine Y only
      {12, 1, 7, 13, 1, 0},  // next tile row
      {29, 0, 7, 0, 2, 0},   // last row: top of the nametable below
      {29, 3, 7, 0, 1, 0},   // ... and back from the lower one
      {30, 0, 7, 31, 0, 0},  // rows 30 and 31 hold attributes: no switch
      {31, 2, 7, 0, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.coarse_y << "/" << c.fine_y);
    // Coarse X 31 at dot 248: the step at dot 251 also wraps coarse X, so start from 30.
    ppu.vram_address = scroll_word(0, 30, c.coarse_y, c.nametable, c.fine_y);
    fetch_dots(20, 248, 251);
    EXPECT_EQ(ppu.vram_address, scroll_word(0, 31, c.next_coarse_y, c.next_nametable, c.next_fine_y));
  }
}

TEST_F(FetchPipeline, HorizontalCopyOnlyWithTheBackgroundShown) {
  const uint32_t latch = scroll_word(6, 17, 3, 1, 2);
  const uint32_t current = scroll_word(0, 4, 20, 2, 5);
  ppu.temp_address = latch;
  ppu.vram_address = current;
  ppu.line_sprite_count = 5;
  set_ppumask(MASK_BACKGROUND);
  fetch_dots(30, 256, 256);
  // Coarse X and nametable X from the latch; coarse Y, nametable Y, fine Y and fine X stay.
  EXPECT_EQ(ppu.vram_address, scroll_word(0, 17, 20, 3, 5));
  EXPECT_EQ(ppu.line_sprite_count, 0u);

  ppu.vram_address = current;
  ppu.line_sprite_count = 5;
  set_ppumask(MASK_SPRITES);
  fetch_dots(30, 256, 256);
  EXPECT_EQ(ppu.vram_address, current);
  EXPECT_EQ(ppu.line_sprite_count, 5u);
}

TEST_F(FetchPipeline, FullCopyOnlyOnThePreRenderLineWithTheBackgroundShown) {
  const uint32_t latch = scroll_word(6, 17, 3, 1, 2);
  const uint32_t current = scroll_word(0, 4, 20, 2, 5);
  ppu.temp_address = latch;
  set_ppumask(MASK_BACKGROUND);
  ppu.vram_address = current;
  fetch_dots(-1, 304, 304);
  EXPECT_EQ(ppu.vram_address, latch & ~7u);  // fine X is not part of the address
  ppu.vram_address = current;
  fetch_dots(100, 304, 304);
  EXPECT_EQ(ppu.vram_address, current);
  set_ppumask(MASK_SPRITES);
  fetch_dots(-1, 304, 304);
  EXPECT_EQ(ppu.vram_address, current);
}

TEST_F(FetchPipeline, OddFramesDropADotOnlyWithTheBackgroundShown) {
  const struct { uint8_t mask; bool odd; int32_t line; int32_t length; } cases[] = {
      {MASK_BACKGROUND, true, -1, 340}, {MASK_BACKGROUND, false, -1, 341},
      {MASK_SPRITES, true, -1, 341},    {MASK_BACKGROUND, true, 0, 341}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.mask} << c.odd << c.line);
    ppu.scanline_length = 341;
    ppu.odd_frame = c.odd;
    set_ppumask(c.mask);
    fetch_dots(c.line, 336, 340);
    EXPECT_EQ(ppu.scanline_length, c.length);
  }
}

// Sprite evaluation over a whole line, as ppu_tick runs it.
class SpriteEvaluation : public PpuPicture {
 protected:
  void SetUp() override {
    PpuPicture::SetUp();
    for (int k = 0; k < 64; ++k) place(k, 0xF0, 0, 0, 0);  // all below the picture
    set_ppumask(SHOW_ALL);
  }
  static void place(int sprite, uint8_t y, uint8_t tile, uint8_t attributes, uint8_t x) {
    uint8_t* o = ppu.oam + 4 * sprite;
    o[0] = y, o[1] = tile, o[2] = attributes, o[3] = x;
  }
  static bool overflow() { return ppustatus() & STATUS_OVERFLOW; }
  // The search over line 62 with the sprites hidden, which leaves OAMADDR where `oam_address` put it.
  static void search_with_sprites_hidden_from(uint8_t oam_address) {
    set_ppumask(MASK_BACKGROUND);
    set_oamaddr(oam_address);
    fetch_dots(62, 0, 255);
  }
};

TEST_F(SpriteEvaluation, EightAreStoredAndTheNinthSetsOverflow) {
  for (int k = 0; k < 9; ++k) place(k, 50, static_cast<uint8_t>(k + 1), static_cast<uint8_t>(k), static_cast<uint8_t>(10 * k));
  fetch_dots(55, 0, 255);
  ASSERT_EQ(ppu.eval_found, 8u);
  for (uint32_t k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(ppu.eval_sprites[k].sprite_number, k);
    EXPECT_EQ(ppu.eval_sprites[k].y, 50);
    EXPECT_EQ(ppu.eval_sprites[k].tile, k + 1);
    EXPECT_EQ(ppu.eval_sprites[k].attributes, k);
    EXPECT_EQ(ppu.eval_sprites[k].x, 10 * k);
  }
  EXPECT_TRUE(overflow());
}

TEST_F(SpriteEvaluation, EightInRangeDoNotOverflow) {
  for (int k = 0; k < 8; ++k) place(3 * k, 50, 0, 0, 0);
  fetch_dots(57, 0, 255);
  EXPECT_EQ(ppu.eval_found, 8u);
  EXPECT_EQ(ppu.eval_sprites[7].sprite_number, 21);
  EXPECT_FALSE(overflow());
}

TEST_F(SpriteEvaluation, ALaterSpriteInRangeOverflowsPastAGap) {
  for (int k = 0; k < 8; ++k) place(k, 50, 0, 0, 0);
  place(8, 100, 0, 0, 0);  // out of range
  place(30, 45, 0, 0, 0);  // in range (rows 46-53)
  fetch_dots(50, 0, 255);
  EXPECT_EQ(ppu.eval_found, 8u);
  EXPECT_TRUE(overflow());
}

TEST_F(SpriteEvaluation, RangeCoversTheEightOrSixteenLinesBelowY) {
  place(4, 100, 0, 0, 0);
  for (const int line : {100, 107}) {
    fetch_dots(line, 0, 255);
    EXPECT_EQ(ppu.eval_found, 1u) << line;
  }
  for (const int line : {99, 108, 115, -1}) {
    fetch_dots(line, 0, 255);
    EXPECT_EQ(ppu.eval_found, 0u) << line;
  }
  set_ppuctrl(CTRL_SPRITE_8X16);
  for (const int line : {108, 115}) {
    fetch_dots(line, 0, 255);
    EXPECT_EQ(ppu.eval_found, 1u) << line;
  }
  fetch_dots(116, 0, 255);
  EXPECT_EQ(ppu.eval_found, 0u);
}

TEST_F(SpriteEvaluation, StepBudgetEndsTheSearch) {
  // 96 byte steps: eight sprites in range cost 32, so at most 64 more sprites are looked at. With
  // sprites 0-7 in range a sprite at 63 is still reached; with 22 sprites in range
  // (8 stored + 14 overflowing at 4 steps each = 88 steps) the ones after the next 8 are not.
  for (int k = 0; k < 8; ++k) place(k, 50, 0, 0, 0);
  fetch_dots(52, 0, 255);
  EXPECT_EQ(ppu.eval_scanned, 64u);
  for (int k = 8; k < 22; ++k) place(k, 50, 0, 0, 0);
  fetch_dots(52, 0, 255);
  EXPECT_EQ(ppu.eval_scanned, 30u);
}

TEST_F(SpriteEvaluation, OamAddressIsResetOnlyWithSpritesShown) {
  // Sprites hidden: the search starts where OAMADDR stands (sprite 16), so sprite 1 is skipped,
  // and realigns to sprite 2 after the second sprite it examined.
  place(1, 60, 0, 0, 0);
  place(2, 60, 0x22, 0x01, 0x33);
  search_with_sprites_hidden_from(0x40);
  ASSERT_GE(ppu.eval_found, 1u);
  EXPECT_EQ(ppu.eval_sprites[0].sprite_number, 2);
  EXPECT_EQ(ppu.eval_sprites[0].tile, 0x22);
  EXPECT_EQ(ppu.eval_found, 1u);
  // Sprites shown: OAMADDR goes to 0 at dot 0 and both are found.
  set_ppumask(SHOW_ALL);
  set_oamaddr(0x40);
  fetch_dots(62, 0, 255);
  EXPECT_EQ(ppu.eval_found, 2u);
  EXPECT_EQ(ppu.eval_sprites[0].sprite_number, 1);
}

TEST_F(SpriteEvaluation, SecondSpriteInRangeAlsoRealigns) {
  // Started at sprite 16 with sprite 17 in range: after its X byte the search goes on from sprite
  // 2, so sprite 2 is found, then sprite 17 a second time, then sprite 18.
  place(17, 60, 0x17, 0, 17);
  place(2, 60, 0x02, 0, 2);
  place(18, 60, 0x18, 0, 18);
  search_with_sprites_hidden_from(0x40);
  ASSERT_EQ(ppu.eval_found, 4u);
  const int order[] = {17, 2, 17, 18};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(ppu.eval_sprites[k].sprite_number, order[k]) << k;
    EXPECT_EQ(ppu.eval_sprites[k].x, order[k]) << k;
  }
}

TEST_F(SpriteEvaluation, MisalignedStartFinishesTheBrokenSpriteThenRealigns) {
  // OAMADDR 0x42 at the start: the attribute and X bytes of sprite 16 complete a stale entry;
  // sprites 17 and 18 are examined, then the search goes on from sprite 2.
  place(2, 60, 0x22, 0x01, 0x33);
  place(16, 0xF0, 0x44, 0x55, 0x66);
  search_with_sprites_hidden_from(0x42);
  ASSERT_EQ(ppu.eval_found, 2u);
  EXPECT_EQ(ppu.eval_sprites[0].attributes, 0x55);
  EXPECT_EQ(ppu.eval_sprites[0].x, 0x66);
  EXPECT_EQ(ppu.eval_sprites[1].sprite_number, 2);
  EXPECT_EQ(ppu.eval_sprites[1].x, 0x33);
}

TEST_F(SpriteEvaluation, SpriteRowsAreFetchedWithFlipsAndTableSelect) {
  // Every row of tiles 5 (table $0000) and 5 (table $1000) is distinct.
  for (uint32_t r = 0; r < 8; ++r) {
    tile_row(0x0000, 5, r, static_cast<uint8_t>(0x10 + r), static_cast<uint8_t>(0x80 >> r));
    tile_row(0x1000, 5, r, static_cast<uint8_t>(0x20 + r), static_cast<uint8_t>(0x01 << r));
  }
  place(0, 40, 5, 0x00, 0);  // row 3 on line 43
  place(1, 40, 5, 0x80, 0);  // vertically flipped: row 4
  fetch_dots(43, 0, 340);
  ASSERT_EQ(ppu.line_sprite_count, 2u);
  EXPECT_EQ(ppu.line_sprites[0].pattern, reference_row(0x13, 0x10));
  EXPECT_EQ(ppu.line_sprites[1].pattern, reference_row(0x14, 0x08));
  set_ppuctrl(CTRL_SPRITE_TABLE);
  fetch_dots(43, 0, 340);
  EXPECT_EQ(ppu.line_sprites[0].pattern, reference_row(0x23, 0x08));
  EXPECT_EQ(ppu.line_sprites[1].pattern, reference_row(0x24, 0x10));
}

TEST_F(SpriteEvaluation, TallSpritesUseTwoTilesAndTheirOwnTable) {
  // Tile number 7: bit 0 selects table $1000, the pair is tiles 6 (top) and 7 (bottom).
  for (uint32_t r = 0; r < 8; ++r) {
    tile_row(0x1000, 6, r, static_cast<uint8_t>(0x60 + r), 0);
    tile_row(0x1000, 7, r, static_cast<uint8_t>(0x70 + r), 0);
    tile_row(0x0000, 6, r, 0xFF, 0xFF);  // the wrong table
    tile_row(0x0000, 7, r, 0xFF, 0xFF);
  }
  set_ppuctrl(CTRL_SPRITE_8X16);
  place(0, 40, 7, 0x00, 0);
  place(1, 40, 7, 0x80, 0);  // vertical flip
  fetch_dots(42, 0, 340);    // row 2: top tile; flipped row 13 -> bottom tile row 5
  ASSERT_EQ(ppu.line_sprite_count, 2u);
  EXPECT_EQ(ppu.line_sprites[0].pattern, reference_row(0x62, 0));
  EXPECT_EQ(ppu.line_sprites[1].pattern, reference_row(0x75, 0));
  fetch_dots(51, 0, 340);    // row 11: bottom tile row 3; flipped row 4 -> top tile row 4
  EXPECT_EQ(ppu.line_sprites[0].pattern, reference_row(0x73, 0));
  EXPECT_EQ(ppu.line_sprites[1].pattern, reference_row(0x64, 0));
}

TEST_F(SpriteEvaluation, HiddenBackgroundKeepsTheLineSpriteCount) {
  // Without the background the count is not reset at dot 256, so a second line with the same
  // sprites loads nothing new.
  tile_row(0, 1, 0, 0xFF, 0);
  tile_row(0, 2, 0, 0x0F, 0);
  place(0, 40, 1, 0, 0);
  set_ppumask(MASK_SPRITES);
  fetch_dots(40, 0, 340);
  ASSERT_EQ(ppu.line_sprite_count, 1u);
  EXPECT_EQ(ppu.line_sprites[0].pattern, reference_row(0xFF, 0));
  place(0, 40, 2, 0, 0);
  fetch_dots(40, 0, 340);
  EXPECT_EQ(ppu.line_sprite_count, 1u);
  EXPECT_EQ(ppu.line_sprites[0].pattern, reference_row(0xFF, 0));
}

}  // namespace
