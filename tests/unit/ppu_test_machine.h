// A bare PPU for the picture tests: 8 KiB of pattern memory, four nametable pages, the palette and
// the machine's frame buffer, all reset before each test.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "cart/banks.h"
#include "ppu/ppu.h"
#include "tests/unit/test_machine.h"

// Both layers shown, in the edge columns too.
constexpr uint8_t SHOW_ALL = MASK_BACKGROUND | MASK_SPRITES | MASK_BACKGROUND_LEFT | MASK_SPRITES_LEFT;

class PpuPicture : public ::testing::Test {
 protected:
  static inline uint8_t chr[0x2000];

  void SetUp() override {
    ppu = Ppu{};
    banks = BankMap{};
    std::memset(chr, 0, sizeof chr);
    for (int k = 0; k < 8; ++k) banks.chr_slots[k] = chr + 0x400 * k;
    for (int k = 0; k < 4; ++k) banks.nametable_slots[k] = banks.nametable_ram + 0x400 * k;
    std::atomic<uint32_t>* pixels = test_machine::machine_frame_buffer();
    for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) pixels[i].store(0xDEADBEEF, std::memory_order_relaxed);
  }

  static uint32_t pixel_at(int x, int y) { return frame_buffer[y * FRAME_WIDTH + x].load(std::memory_order_relaxed); }
  static void poke(uint32_t address, uint8_t value) { *vram_map(address) = value; }
  // One row of a tile: the low plane at the row, the high plane 8 bytes on.
  static void tile_row(uint32_t table, uint32_t tile, uint32_t row, uint8_t low, uint8_t high) {
    chr[table + 16 * tile + row] = low;
    chr[table + 16 * tile + row + 8] = high;
  }
  // The row of 2-bit pixels the hardware builds from two plane bytes, bit by bit: pixel k (0 is the
  // leftmost) takes plane bit 7-k and sits at bits 2(7-k) and 2(7-k)+1.
  static uint16_t reference_row(uint8_t low, uint8_t high) {
    uint16_t row = 0;
    for (int k = 0; k < 8; ++k) {
      const int bit = 7 - k;
      const int colour = ((low >> bit) & 1) | (((high >> bit) & 1) << 1);
      row = static_cast<uint16_t>(row | (colour << (2 * bit)));
    }
    return row;
  }
  // Runs rendering_tick for dots [from, to] of `line`, as ppu_tick would with rendering on.
  static void fetch_dots(int line, int from, int to) {
    ppu.scanline = line;
    for (int d = from; d <= to; ++d) {
      ppu.dot = d;
      rendering_tick();
    }
  }
  // Scroll/address word from its fields.
  static uint32_t scroll_word(uint32_t fine_x, uint32_t coarse_x, uint32_t coarse_y, uint32_t nametable,
                              uint32_t fine_y) {
    return fine_x | coarse_x << 3 | coarse_y << 8 | nametable << 13 | fine_y << 15;
  }
};
