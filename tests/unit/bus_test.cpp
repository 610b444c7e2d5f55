// The CPU bus: the clock (three PPU dots per cycle, also inside sprite DMA), address decoding and
// mirrors, the low cartridge area, sprite DMA, the write suppression of the reset step, and the
// controller ports behind $4016/$4017.
#include <gtest/gtest.h>

#include "core_test_machine.h"

namespace {

using namespace core_test;

class CpuBus : public ::testing::Test {
 protected:
  void SetUp() override { power_on(2, 1, 0); }
};

TEST_F(CpuBus, EveryCycleAdvancesThePpuThreeDots) {
  const int64_t start = ppu_position();
  (void)cpu_read(0x0000);
  EXPECT_EQ(ppu_position() - start, 3);
  cpu_write(0x0000, 1);
  EXPECT_EQ(ppu_position() - start, 6);
  system_tick();
  EXPECT_EQ(ppu_position() - start, 9);
  EXPECT_EQ(bus.cycles, 3u);
}

TEST_F(CpuBus, WorkRamPowerOnPatternAndMirrors) {
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(bus.work_ram[i], (i % 8) >= 4 ? 0xFF : 0x00) << i;
  cpu_write(0x0805, 0x3C);
  EXPECT_EQ(cpu_read(0x1805), 0x3C);
  EXPECT_EQ(cpu_read(0x0005), 0x3C);
  cpu_write(0x1FFF, 0xA7);
  EXPECT_EQ(cpu_read(0x07FF), 0xA7);
}

TEST_F(CpuBus, PpuRegistersRepeatEveryEightBytes) {
  set_ppustatus(STATUS_VBLANK);
  EXPECT_EQ(cpu_read(0x3FFA) & STATUS_VBLANK, STATUS_VBLANK);
  EXPECT_EQ(cpu_read(0x2002) & STATUS_VBLANK, 0);  // the first read cleared the same flag
  cpu_write(0x3FFE, 0x21);                           // PPUADDR
  cpu_write(0x2006, 0x08);
  cpu_write(0x200F, 0x6B);                           // PPUDATA
  EXPECT_EQ(*vram_map(0x2108), 0x6B);
}

TEST_F(CpuBus, ApuAreaReadsZeroAndHasNoOpenBus) {
  cpu_write(0x4000, 0xBF);
  for (uint16_t a = 0x4000; a <= 0x4014; ++a) EXPECT_EQ(cpu_read(a), 0) << std::hex << a;
}

TEST_F(CpuBus, LowCartridgeAreaReadsTheFirstEightKiBOfProgramRomForEveryMapper) {
  for (uint32_t mapper : {0u, 1u, 2u, 3u, 7u}) {
    SCOPED_TRACE(mapper);
    power_on(8, 4, mapper);
    for (int v : {0x80, 0x0E, 0x0F, 0x03, 0x05}) cpu_write(0xE000, static_cast<uint8_t>(v));  // switch whatever the mapper has
    cpu_write(0x8000, 0x03);
    EXPECT_EQ(cpu_read(0x5000), cartridge.prg_rom[0x1000]);
    EXPECT_EQ(cpu_read(0x4018), cartridge.prg_rom[0x0018]);
    EXPECT_EQ(cpu_read(0x5FFF), cartridge.prg_rom[0x1FFF]);
  }
}

TEST_F(CpuBus, CartridgeRamKeepsWritesAndSwitchesNothing) {
  power_on(8, 4, 2);
  const uint8_t at_8000 = cpu_read(0x8000);
  cpu_write(0x6000, 0x03);
  cpu_write(0x7FFF, 0x44);
  EXPECT_EQ(cpu_read(0x6000), 0x03);
  EXPECT_EQ(cpu_read(0x7FFF), 0x44);
  EXPECT_EQ(cpu_read(0x8000), at_8000);
}

TEST_F(CpuBus, SpriteDmaCopiesThePageOfTheLowThreeBitsIn513Cycles) {
  for (int i = 0; i < 256; ++i) {
    bus.work_ram[0x200 + i] = static_cast<uint8_t>(i * 3 + 1);
    bus.work_ram[i] = static_cast<uint8_t>(255 - i);
  }
  const uint64_t cycles = bus.cycles;
  const int64_t dots = ppu_position();
  cpu_write(0x4014, 0xFA);  // $0200, not $FA00
  EXPECT_EQ(bus.cycles - cycles, 513u);
  EXPECT_EQ(ppu_position() - dots, 1539);
  EXPECT_TRUE(std::equal(ppu.oam, ppu.oam + 256, bus.work_ram + 0x200));
  EXPECT_EQ(oamaddr(), 0);  // 256 writes from 0 wrap to 0

  set_oamaddr(0x40);
  cpu_write(0x4014, 0x80);  // $0000, from sprite memory byte $40 on, wrapping
  for (int i = 0; i < 256; ++i) ASSERT_EQ(ppu.oam[(0x40 + i) & 0xFF], bus.work_ram[i]) << i;
}

TEST_F(CpuBus, WritesDuringTheResetStepAreReads) {
  reset_active = true;
  const uint8_t before = bus.work_ram[0x1FD];
  const uint64_t cycles = bus.cycles;
  cpu_write(0x01FD, static_cast<uint8_t>(before ^ 0xFF));
  EXPECT_EQ(bus.work_ram[0x1FD], before);
  EXPECT_EQ(bus.cycles - cycles, 1u);
  // The read's side effects happen: a write to $2002 clears the vertical-blank flag and does not
  // refresh the open-bus latch; a write to $4016 latches nothing.
  set_ppustatus(STATUS_VBLANK);
  cpu_write(0x2002, 0x55);
  EXPECT_EQ(ppustatus(), 0);
  EXPECT_EQ(ppu.open_bus, 0);
  button_state[0] = BUTTON_A;
  cpu_write(0x4016, 1);
  EXPECT_EQ(joypads.latch[0], 0);
  reset_active = false;
}

// ---- controller ports ----

// The serial order of the buttons: A, B, Select, Start, Up, Down, Left, Right.
constexpr uint8_t button_order[8] = {BUTTON_A,  BUTTON_B,  BUTTON_SELECT, BUTTON_START,
                                     BUTTON_UP, BUTTON_DOWN, BUTTON_LEFT, BUTTON_RIGHT};

TEST_F(CpuBus, ControllerReadsFollowTheButtonOrderAndRepeatAfterEight) {
  for (int buttons = 0; buttons < 256; ++buttons) {
    button_state[0] = static_cast<uint8_t>(buttons);
    cpu_write(0x4016, 1);
    cpu_write(0x4016, 0);
    for (int read = 0; read < 20; ++read)
      ASSERT_EQ(cpu_read(0x4016), (buttons & button_order[read % 8]) ? 1 : 0)
          << "buttons " << buttons << ", read " << read;
  }
}

TEST_F(CpuBus, ControllerStrobeLatchesOnlyOnNonZeroWrites) {
  EXPECT_EQ(cpu_read(0x4016), 0);  // before the first strobe, though A is held below
  button_state[0] = BUTTON_A | BUTTON_RIGHT;
  EXPECT_EQ(cpu_read(0x4016), 0);
  cpu_write(0x4016, 0x02);
  button_state[0] = BUTTON_B;  // pressed after the strobe: not seen until the next
  EXPECT_EQ(cpu_read(0x4016), 1);  // A
  EXPECT_EQ(cpu_read(0x4016), 0);  // B
  cpu_write(0x4016, 0);            // neither latches nor restarts
  for (int i = 2; i < 7; ++i) EXPECT_EQ(cpu_read(0x4016), 0) << i;
  EXPECT_EQ(cpu_read(0x4016), 1);  // Right
  cpu_write(0x4016, 0x80);
  EXPECT_EQ(cpu_read(0x4016), 0);  // A
  EXPECT_EQ(cpu_read(0x4016), 1);  // B
}

TEST_F(CpuBus, SecondControllerReadsAt4017AndWritesThereGoToTheApu) {
  for (int i = 0; i < 8; ++i) EXPECT_EQ(cpu_read(0x4017), 0);  // nothing held
  button_state[1] = BUTTON_B;
  cpu_write(0x4016, 1);
  EXPECT_EQ(cpu_read(0x4017), 0);  // A
  EXPECT_EQ(cpu_read(0x4016), 0);  // the first controller keeps its own position
  EXPECT_EQ(cpu_read(0x4017), 1);  // B
  button_state[1] = BUTTON_A;
  cpu_write(0x4017, 1);            // not a strobe
  EXPECT_EQ(cpu_read(0x4017), 0);  // Select of the old latch
}

}  // namespace
