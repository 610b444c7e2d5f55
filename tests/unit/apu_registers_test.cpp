// APU register writes and the status read: what each register loads, the channel enables, the
// frame counter write and the interrupt acknowledgement through $4015.
#include <gtest/gtest.h>

#include "apu_machine.h"

namespace {

using apu_test::reset_apu;

class ApuRegisters : public ::testing::Test {
 protected:
  void SetUp() override { reset_apu(); }
  ApuChannel& pulse1 = apu.channels[PULSE1];
  ApuChannel& triangle = apu.channels[TRIANGLE];
  ApuChannel& dmc = apu.channels[DMC];
};

TEST_F(ApuRegisters, StatusReadsZeroAtPowerOn) { EXPECT_EQ(apu_read_status(), 0); }

TEST_F(ApuRegisters, RegisterBytesLandInTheirBytesOfTheWord) {
  apu_write(0x04, 0x12);
  apu_write(0x05, 0x34);
  apu_write(0x06, 0x56);
  apu_write(0x07, 0x78);
  EXPECT_EQ(apu.channels[PULSE2].regs, 0x78563412u);
  EXPECT_EQ(timer_period(apu.channels[PULSE2]), 0x056);  // register 2 and bits 0-2 of register 3
  EXPECT_EQ(apu.channels[PULSE1].regs, 0u);
  apu_write(0x0E, 0x8B);
  EXPECT_EQ(apu.channels[NOISE].regs, 0x008B0000u);
}

TEST_F(ApuRegisters, LengthLoadOnlyWhileEnabled) {
  pulse1.step = 5;
  apu_write(0x03, 0x08);  // length index 1, pulse 1 disabled
  EXPECT_EQ(pulse1.length_counter, 0);
  EXPECT_EQ(pulse1.envelope_volume, 15);
  EXPECT_EQ(pulse1.step, 0);

  apu_write(0x15, 0x01);
  apu_write(0x03, 0x08);
  EXPECT_EQ(pulse1.length_counter, 254);
  // Every index of the length table reaches the counter: bits 3-7 select, bits 0-2 are the period.
  const int loads[32] = {10, 254, 20, 2,  40, 4,  80, 6,  160, 8,  60, 10, 14, 12, 26, 14,
                         12, 16,  24, 18, 48, 20, 96, 22, 192, 24, 72, 26, 16, 28, 32, 30};
  for (int index = 0; index < 32; ++index) {
    apu_write(0x03, static_cast<uint8_t>(index << 3 | 7));
    EXPECT_EQ(pulse1.length_counter, loads[index]) << "index " << index;
  }
}

TEST_F(ApuRegisters, RegisterThreeWriteRestartsEnvelopeAndOnlyPulsesResetTheirStep) {
  apu_write(0x15, 0x0F);
  apu_write(0x0C, 0x37);  // noise register 0: envelope period 7
  apu.channels[NOISE].envelope_volume = 3;
  apu.channels[NOISE].step = 4;
  apu_write(0x0F, 0x00);
  EXPECT_EQ(apu.channels[NOISE].envelope_volume, 15);
  EXPECT_EQ(apu.channels[NOISE].envelope_divider, 7);
  EXPECT_EQ(apu.channels[NOISE].step, 4);
  triangle.step = 9;
  apu_write(0x0B, 0x00);
  EXPECT_EQ(triangle.step, 9);
  apu.channels[PULSE2].step = 6;
  apu_write(0x07, 0x00);
  EXPECT_EQ(apu.channels[PULSE2].step, 0);
}

TEST_F(ApuRegisters, DisablingAChannelClearsItsLengthAndSilencesItsGenerator) {
  apu_write(0x15, 0x01);
  apu_write(0x00, 0x3F);  // constant volume 15
  apu_write(0x03, 0x08);
  apu_write(0x15, 0x02);
  EXPECT_EQ(pulse1.length_counter, 0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(pulse_tick(PULSE1), 8);
  EXPECT_EQ(apu_read_status() & 0x01, 0);
}

TEST_F(ApuRegisters, StatusBitsFollowTheLengthCounters) {
  apu_write(0x15, 0x0F);
  apu_write(0x03, 0x08);
  apu_write(0x0B, 0x08);
  EXPECT_EQ(apu_read_status(), 0x05);
  apu_write(0x07, 0x08);
  apu_write(0x0F, 0x08);
  EXPECT_EQ(apu_read_status(), 0x0F);
}

TEST_F(ApuRegisters, TriangleLinearCounterLoadsFromRegisterZeroOnlyWhenControlWasAlreadySet) {
  apu_write(0x08, 0x85);  // control was clear: the old byte decides, nothing loaded
  EXPECT_EQ(triangle.linear_counter, 0);
  apu_write(0x08, 0x85);  // now bit 7 of the stored byte is set
  EXPECT_EQ(triangle.linear_counter, 5);
  apu_write(0x08, 0x21);  // stored byte still has bit 7: loads 0x21
  EXPECT_EQ(triangle.linear_counter, 0x21);
  apu_write(0x08, 0x44);  // stored byte 0x21 has bit 7 clear
  EXPECT_EQ(triangle.linear_counter, 0x21);
  apu_write(0x0B, 0x00);  // register 3 loads it from register 0 whatever its bit 7
  EXPECT_EQ(triangle.linear_counter, 0x44);
}

TEST_F(ApuRegisters, DmcRegistersLoadRateLevelAddressAndLength) {
  apu_write(0x12, 0x00);
  apu_write(0x10, 0xCF);  // IRQ, loop, rate 15
  EXPECT_EQ(timer_period(dmc), 54);
  EXPECT_EQ(dmc.regs >> 30, 3u);  // loop and IRQ flags in register 3 bits 6-7
  apu_write(0x10, 0x00);
  EXPECT_EQ(timer_period(dmc), 428);
  EXPECT_EQ(dmc.regs >> 30, 0u);
  const int rates[16] = {428, 380, 340, 320, 286, 254, 226, 214, 190, 160, 142, 128, 106, 84, 72, 54};
  for (int r = 0; r < 16; ++r) {
    apu_write(0x10, static_cast<uint8_t>(r));
    EXPECT_EQ(timer_period(dmc), rates[r]);
  }
  apu_write(0x11, 0xFF);
  EXPECT_EQ(dmc.linear_counter, 127);
  apu_write(0x12, 0x01);
  EXPECT_EQ(dmc.sample_address, 0xC040);
  apu_write(0x12, 0xFF);
  EXPECT_EQ(dmc.sample_address, 0xFFC0);
  EXPECT_EQ(dmc.regs & 0xFF, 0xFFu);
  apu_write(0x13, 0x02);
  EXPECT_EQ(dmc.length_counter, 33);  // counts even while the DMC is disabled
  EXPECT_EQ(apu_read_status(), 0x10);
  EXPECT_EQ(timer_period(dmc), 54);  // the start and length writes leave the rate alone
}

TEST_F(ApuRegisters, EnablingTheDmcRestartsAnEndedSampleWhereItStopped) {
  apu_write(0x12, 0x10);
  apu_write(0x13, 0x03);
  dmc.length_counter = 0;
  dmc.sample_address = 0xC123;
  apu_write(0x15, 0x10);
  EXPECT_EQ(dmc.length_counter, 49);
  EXPECT_EQ(dmc.sample_address, 0xC123);
  dmc.length_counter = 7;  // a sample still playing is not restarted
  apu_write(0x15, 0x10);
  EXPECT_EQ(dmc.length_counter, 7);
  apu_write(0x15, 0x00);
  EXPECT_EQ(dmc.length_counter, 0);
  EXPECT_FALSE(apu.channel_enabled[DMC]);
}

TEST_F(ApuRegisters, FrameCounterWriteRestartsTheSequencerAndSetsItsMode) {
  apu.frame_divider = 1234;
  apu.frame_step = 3;
  apu_write(0x17, 0x80);
  EXPECT_TRUE(apu.five_step_mode);
  EXPECT_FALSE(apu.frame_irq_inhibit);
  EXPECT_EQ(apu.frame_divider, 0);
  EXPECT_EQ(apu.frame_step, 0);
  apu_write(0x17, 0x40);
  EXPECT_FALSE(apu.five_step_mode);
  EXPECT_TRUE(apu.frame_irq_inhibit);
}

TEST_F(ApuRegisters, InhibitClearsBothPendingFlagsAndTheLine) {
  apu.frame_irq_flag = true;
  apu.dmc_irq_flag = true;
  irq_line = true;
  apu_write(0x17, 0x00);  // without bit 6 nothing is acknowledged
  EXPECT_TRUE(apu.frame_irq_flag);
  EXPECT_TRUE(apu.dmc_irq_flag);
  EXPECT_TRUE(irq_line);
  apu_write(0x17, 0x40);
  EXPECT_FALSE(apu.frame_irq_flag);
  EXPECT_FALSE(apu.dmc_irq_flag);
  EXPECT_FALSE(irq_line);
  EXPECT_EQ(apu_read_status(), 0x00);
}

TEST_F(ApuRegisters, StatusReadReportsAndAcknowledgesBothInterrupts) {
  apu.frame_irq_flag = true;
  apu.dmc_irq_flag = true;
  irq_line = true;
  EXPECT_EQ(apu_read_status(), 0xC0);
  EXPECT_FALSE(irq_line);
  EXPECT_EQ(apu_read_status(), 0x00);
}

TEST_F(ApuRegisters, IndexesWithoutARegisterChangeNothing) {
  apu_write(0x15, 0x1F);
  apu_write(0x17, 0x00);
  for (int index : {0x14, 0x16, 0x18, 0x1F}) apu_write(static_cast<uint8_t>(index), 0xFF);
  for (int n = 0; n < 5; ++n) EXPECT_TRUE(apu.channel_enabled[n]);
  EXPECT_FALSE(apu.frame_irq_inhibit);
  EXPECT_FALSE(apu.five_step_mode);
  for (const ApuChannel& c : apu.channels) EXPECT_EQ(c.regs, 0u);
}

}  // namespace
