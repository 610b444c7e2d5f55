// The colours of PPU pixel values (composite signal model) and the palette stage of the pixel
// output: greyscale, emphasis bits and the palette rule while rendering is off.
#include "tests/unit/ppu_test_machine.h"

namespace {

TEST(ColourTable, KnownColoursWithoutEmphasis) {
  EXPECT_EQ(colour_table[0x00], 0x535353u);
  EXPECT_EQ(colour_table[0x0F], 0x000000u);
  EXPECT_EQ(colour_table[0x10], 0xA0A0A0u);
  EXPECT_EQ(colour_table[0x16], 0x96271Bu);
  EXPECT_EQ(colour_table[0x20], 0xFFFFFFu);
  EXPECT_EQ(colour_table[0x2A], 0x55D131u);
  EXPECT_EQ(colour_table[0x3D], 0xA9A9A9u);
}

TEST(ColourTable, EmphasisAttenuatesTheSignal) {
  EXPECT_EQ(colour_table[0x060], 0xF9B7AFu);  // $20 with the first emphasis bit
}

TEST(ColourTable, BlackAndGreyColumns) {
  for (uint32_t row = 0; row < 4; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(colour_table[row * 16 + 14], 0u);
    EXPECT_EQ(colour_table[row * 16 + 15], 0u);
  }
  EXPECT_EQ(colour_table[0x0D], 0u);
  EXPECT_EQ(colour_table[0x1D], 0u);
  EXPECT_EQ(colour_table[0x2D], 0x3C3C3Cu);
  EXPECT_EQ(colour_table[0x3D], 0xA9A9A9u);
}

TEST(ColourTable, HuelessColoursAreGreyAndOnlyBytesAreUsed) {
  // Hue 0 and hue 13 have no chroma wave: without emphasis they decode to equal components.
  for (uint32_t v : {0x00u, 0x10u, 0x20u, 0x30u, 0x2Du, 0x3Du}) {
    SCOPED_TRACE(v);
    const uint32_t c = colour_table[v];
    EXPECT_EQ(c >> 16, (c >> 8) & 0xFF);
    EXPECT_EQ(c & 0xFF, (c >> 8) & 0xFF);
  }
  for (uint32_t v = 0; v < PIXEL_VALUES; ++v) EXPECT_EQ(colour_table[v] >> 24, 0u) << v;
}

TEST(ColourTable, FullEmphasisDarkensGreysEvenly) {
  // With all three emphasis bits every sample is attenuated alike, so a hueless colour stays grey
  // and gets darker.
  for (uint32_t v : {0x00u, 0x10u, 0x20u, 0x30u}) {
    SCOPED_TRACE(v);
    const uint32_t dim = colour_table[v | 0x1C0];
    EXPECT_EQ(dim >> 16, (dim >> 8) & 0xFF);
    EXPECT_EQ(dim & 0xFF, (dim >> 8) & 0xFF);
    EXPECT_LT(dim & 0xFF, colour_table[v] & 0xFF);
  }
}

using PaletteStage = PpuPicture;

TEST_F(PaletteStage, GreyscaleKeepsOnlyTheLuminanceRow) {
  banks.palette_ram[0] = 0x16;
  set_ppumask(MASK_BACKGROUND | MASK_BACKGROUND_LEFT | MASK_GREYSCALE);
  ppu.scanline = 5;
  ppu.dot = 40;
  render_pixel();  // shift registers are 0: the backdrop
  EXPECT_EQ(pixel_at(40, 5), colour_table[0x10]);
  set_ppumask(MASK_BACKGROUND | MASK_BACKGROUND_LEFT);
  render_pixel();
  EXPECT_EQ(pixel_at(40, 5), colour_table[0x16]);
}

TEST_F(PaletteStage, EmphasisBitsSelectTheUpperTableRows) {
  banks.palette_ram[0] = 0x20;
  ppu.scanline = 100;
  ppu.dot = 128;
  for (uint32_t e = 0; e < 8; ++e) {
    SCOPED_TRACE(e);
    set_ppumask(static_cast<uint8_t>(MASK_BACKGROUND | e << 5));
    render_pixel();
    EXPECT_EQ(pixel_at(128, 100), colour_table[0x20 | e << 6]);
  }
  EXPECT_EQ(pixel_at(128, 100), colour_table[0x1E0]);
}

TEST_F(PaletteStage, RenderingOffShowsThePaletteEntryTheAddressPointsAt) {
  for (uint8_t k = 0; k < 32; ++k) banks.palette_ram[k] = static_cast<uint8_t>(0x30 - k);
  banks.palette_ram[16] = 0;  // never reachable by writes
  set_ppumask(0);
  ppu.scanline = 7;
  ppu.dot = 3;
  ppu.vram_address = uint32_t{0x3F05} << 3;
  render_pixel();
  EXPECT_EQ(pixel_at(3, 7), colour_table[banks.palette_ram[5]]);
  // $3F10 is entry 16 when displayed, whatever a write to $3F10 stored in entry 0.
  poke(0x3F10, 0x21);
  EXPECT_EQ(banks.palette_ram[0], 0x21);
  ppu.vram_address = uint32_t{0x3F10} << 3;
  render_pixel();
  EXPECT_EQ(pixel_at(3, 7), colour_table[0x00]);
  // Outside the palette the backdrop shows.
  ppu.vram_address = uint32_t{0x2F05} << 3;
  render_pixel();
  EXPECT_EQ(pixel_at(3, 7), colour_table[0x21]);
  // With rendering on (sprites only), the address does not choose the colour.
  set_ppumask(MASK_SPRITES);
  ppu.vram_address = uint32_t{0x3F05} << 3;
  render_pixel();
  EXPECT_EQ(pixel_at(3, 7), colour_table[0x21]);
}

}  // namespace
