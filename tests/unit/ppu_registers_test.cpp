// The PPU's CPU interface driven through ppu_access: the open-bus latch (what refreshes it, what
// reads it, its decay after 77777 dots), PPUSTATUS, OAMDATA, the scroll/address latches and the
// buffered PPUDATA port.
#include <gtest/gtest.h>

#include "core_test_machine.h"

namespace {

using namespace core_test;

enum Register : uint16_t { CTRL = 0, MASK = 1, STATUS = 2, OAM_ADDR = 3, OAM_DATA = 4, SCROLL = 5, ADDR = 6, DATA = 7 };

class PpuRegisters : public ::testing::Test {
 protected:
  void SetUp() override { power_on(1, 1, 0, 0x01); }
  static uint8_t read(Register r) { return ppu_access(r, 0, false); }
  static void write(Register r, uint8_t value) { ppu_access(r, value, true); }
  static void set_address(uint16_t a) {
    write(ADDR, static_cast<uint8_t>(a >> 8));
    write(ADDR, static_cast<uint8_t>(a));
  }
  static uint16_t address() { return address_field(ppu.vram_address); }
  // Expects the latch to hold `value` for 77776 more dots and to read 0 after one more.
  static void expect_latch_decays(uint8_t value) {
    ppu_ticks(77776);
    EXPECT_EQ(read(SCROLL), value);
    ppu_ticks(1);
    EXPECT_EQ(read(SCROLL), 0);
  }
};

TEST_F(PpuRegisters, WriteOnlyRegistersReadTheLatch) {
  write(MASK, 0x5A);
  for (Register r : {CTRL, MASK, OAM_ADDR, SCROLL, ADDR}) EXPECT_EQ(read(r), 0x5A) << r;
  write(STATUS, 0xC3);  // a PPUSTATUS write refreshes the latch and changes nothing else
  EXPECT_EQ(read(SCROLL), 0xC3);
  EXPECT_EQ(ppustatus(), 0);
}

TEST_F(PpuRegisters, LatchDecaysAfter77777DotsAndReadsDoNotExtendIt) {
  write(OAM_ADDR, 0x77);
  ppu_ticks(50000);
  EXPECT_EQ(read(CTRL), 0x77);
  EXPECT_EQ(read(STATUS), 0x17);  // low five bits from the latch, not refreshed
  ppu_ticks(77776 - 50000);
  EXPECT_EQ(read(SCROLL), 0x77);
  ppu_ticks(1);
  EXPECT_EQ(read(SCROLL), 0x00);
  ppu_ticks(200000);              // stays decayed
  EXPECT_EQ(read(MASK), 0x00);
}

TEST_F(PpuRegisters, OamDataAndPpuDataReadsRefreshTheLatch) {
  ppu.oam[0] = 0x4C;
  EXPECT_EQ(read(OAM_DATA), 0x4C);
  expect_latch_decays(0x4C);

  *vram_map(0x2345) = 0x91;
  set_address(0x2345);
  ppu_ticks(70000);
  (void)read(DATA);               // fills the buffer
  EXPECT_EQ(read(DATA), 0x91);
  expect_latch_decays(0x91);
}

TEST_F(PpuRegisters, StatusReadMergesTheLatchAndClearsOnlyVerticalBlank) {
  write(STATUS, 0xFF);
  set_ppustatus(STATUS_VBLANK);
  EXPECT_EQ(read(STATUS), 0x9F);
  EXPECT_EQ(read(STATUS), 0x1F);
  set_ppustatus(STATUS_VBLANK | STATUS_SPRITE0_HIT | STATUS_OVERFLOW);
  write(MASK, 0x00);
  EXPECT_EQ(read(STATUS), 0xE0);
  EXPECT_EQ(read(STATUS), 0x60);
}

TEST_F(PpuRegisters, StatusReadResetsTheWriteToggle) {
  write(ADDR, 0x12);
  (void)read(STATUS);
  set_address(0x2155);            // taken as a fresh pair
  EXPECT_EQ(address(), 0x2155);
}

TEST_F(PpuRegisters, OamDataReadsMaskAttributeBytesAndDoNotMove) {
  for (int i = 0; i < 256; ++i) {
    set_oamaddr(static_cast<uint8_t>(i));
    write(OAM_DATA, 0xFF);
  }
  for (int i = 0; i < 256; ++i) {
    write(OAM_ADDR, static_cast<uint8_t>(i));
    const uint8_t expected = (i % 4 == 2) ? 0xE3 : 0xFF;  // bits 2-4 of attribute bytes read 0
    EXPECT_EQ(read(OAM_DATA), expected) << i;
    EXPECT_EQ(read(OAM_DATA), expected) << i;
    EXPECT_EQ(read(SCROLL), expected) << i;   // the latch holds what OAMDATA returned
    EXPECT_EQ(oamaddr(), i);
    EXPECT_EQ(ppu.oam[i], 0xFF);              // stored unmasked
  }
  write(OAM_ADDR, 0xFF);
  write(OAM_DATA, 0x12);
  EXPECT_EQ(oamaddr(), 0);                    // writes advance and wrap
  write(OAM_DATA, 0x34);
  EXPECT_EQ(ppu.oam[0xFF], 0x12);
  EXPECT_EQ(ppu.oam[0x00], 0x34);
}

TEST_F(PpuRegisters, PpuDataReadsOutsideThePaletteAreOneAccessLate) {
  *vram_map(0x2000) = 0x11;
  *vram_map(0x2001) = 0x22;
  ppu.read_buffer = 0x99;
  set_address(0x2000);
  EXPECT_EQ(read(DATA), 0x99);
  EXPECT_EQ(read(DATA), 0x11);
  EXPECT_EQ(address(), 0x2002);
  EXPECT_EQ(ppu.read_buffer, 0x22);
}

TEST_F(PpuRegisters, PaletteReadsAreImmediateWithTheTopBitsFromTheLatch) {
  *vram_map(0x3F01) = 0x2D;
  *vram_map(0x2F01) = 0x66;       // the nametable byte under the palette
  write(STATUS, 0xC5);            // latch $C5
  set_address(0x3F01);            // latch $01 now
  write(STATUS, 0x80);            // latch $80
  EXPECT_EQ(read(DATA), 0x80 | 0x2D);
  EXPECT_EQ(ppu.read_buffer, 0x2D);
  EXPECT_EQ(read(SCROLL), 0xAD);  // the result went to the latch
}

TEST_F(PpuRegisters, AddressStepsBy1Or32AndWrapsAt16Bits) {
  set_address(0x2100);
  write(DATA, 1);
  EXPECT_EQ(address(), 0x2101);
  write(CTRL, CTRL_INCREMENT_32);
  write(DATA, 2);
  EXPECT_EQ(address(), 0x2121);
  (void)read(DATA);
  EXPECT_EQ(address(), 0x2141);
  EXPECT_EQ(*vram_map(0x2100), 1);
  EXPECT_EQ(*vram_map(0x2101), 2);

  write(CTRL, 0);
  set_address(0x3FFF);
  write(DATA, 0x0A);              // palette $3FFF = $3F1F
  EXPECT_EQ(address(), 0x4000);   // the field is 16 bits wide ...
  write(DATA, 0x3C);              // ... and $4000 reaches the byte of $0000
  EXPECT_EQ(banks.palette_ram[0x1F], 0x0A);
  EXPECT_EQ(cartridge.chr_rom[0], 0x3C);

  ppu.vram_address = (0xFFFFu << 3) | 5;
  write(DATA, 0x0B);
  EXPECT_EQ(ppu.vram_address, 5u);  // wrapped to 0; bits 0-2 untouched
  EXPECT_EQ(banks.palette_ram[0x1F], 0x0B);
}

TEST_F(PpuRegisters, FirstAddressWriteKeepsSixBits) {
  set_address(0xFF10);
  EXPECT_EQ(address(), 0x3F10);
  ppu.temp_address |= 7u << 15;   // fine Y bit 2 and word bit 18 are address bits 14 and 15
  ppu.temp_address |= 1u << 18;
  set_address(0x2000);
  EXPECT_EQ(address(), 0x2000);
}

TEST_F(PpuRegisters, ScrollAndControlWritesFillTheTempWord) {
  write(SCROLL, 0xFD);            // fine X 5, coarse X 31
  write(SCROLL, 0x9E);            // fine Y 6, coarse Y 19
  EXPECT_EQ(ppu.temp_address, 5u | 31u << 3 | 19u << 8 | 6u << 15);
  write(CTRL, 0xFF);              // only bits 13-14 of the temp word change
  EXPECT_EQ(ppu.temp_address, 5u | 31u << 3 | 19u << 8 | 3u << 13 | 6u << 15);
  EXPECT_EQ(ppu.vram_address, 0u);
  write(CTRL, 0x00);
  EXPECT_EQ(ppu.write_toggle, false);
}

TEST_F(PpuRegisters, ScrollThenAddressWriteCompletesAPair) {
  write(CTRL, 0x02);              // nametable Y: address bit 11
  write(SCROLL, 0xFF);            // first of a pair
  write(ADDR, 0x45);              // second: the low address byte, then the copy
  EXPECT_EQ(address(), 0x0845);
  EXPECT_EQ(ppu.vram_address & 7u, 0u);
  EXPECT_EQ(ppu.temp_address & 7u, 7u);
  EXPECT_FALSE(ppu.write_toggle);
}

TEST_F(PpuRegisters, PpuDataWritesReachCharacterRom) {
  set_address(0x0010);
  write(DATA, 0xE7);
  EXPECT_EQ(cartridge.chr_rom[0x10], 0xE7);
}

}  // namespace
