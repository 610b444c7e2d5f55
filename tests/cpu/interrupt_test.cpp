// The reset step, the NMI and IRQ sequences and when they are taken: NMI once per high period of
// its line, IRQ at every step while its line is high and I is clear, NMI ahead of IRQ, the I flag
// tested at the step itself, and the lines sampled around the opcode fetch.
#include <gtest/gtest.h>

#include <vector>

#include "cpu/cpu.h"
#include "tests/cpu/bus_recorder.h"

namespace {

constexpr uint16_t nmi_handler = 0x9000, reset_handler = 0x8000, irq_handler = 0xA000;
constexpr uint8_t NOP = 0xEA, RTI = 0x40, CLI = 0x58, SEI = 0x78, PLP = 0x28;

// All memory NOPs, with the three vectors pointing at their handlers.
void nop_machine() {
  recorder.memory.fill(NOP);
  set_vector(0xFFFA, nmi_handler);
  set_vector(0xFFFC, reset_handler);
  set_vector(0xFFFE, irq_handler);
}

std::vector<StepKind> run_steps(int count) {
  std::vector<StepKind> kinds;
  for (int n = 0; n < count; ++n) kinds.push_back(kind_of(step()));
  return kinds;
}

constexpr StepKind op = StepKind::instruction, nmi = StepKind::nmi, irq = StepKind::irq_or_brk;

TEST(ResetStep, PowerOnReadsVectorAndStackWithoutWriting) {
  power_on();
  nop_machine();
  load(0x0100, {0x11});
  load(0x01FE, {0x22, 0x33});
  cpu.P = 0;
  EXPECT_EQ(step(), (std::vector{bus_read(0xC000), bus_read(0xFFFC), bus_read(0xFFFD), bus_idle(),
                                 bus_read(0x0100), bus_read(0x01FF), bus_read(0x01FE)}));
  EXPECT_EQ(cpu.PC, reset_handler);
  EXPECT_EQ(cpu.S, 0xFD);
  EXPECT_EQ(cpu.P, 0x04);
  EXPECT_EQ(cpu.A | cpu.X | cpu.Y, 0);
  EXPECT_FALSE(reset_active);
  EXPECT_EQ(recorder.memory[0x0100], 0x11);
  EXPECT_EQ(recorder.memory[0x01FE], 0x22);
  EXPECT_EQ(recorder.memory[0x01FF], 0x33);
  // From now on pushes are writes.
  load(reset_handler, {0x48});  // PHA
  EXPECT_EQ(step(), (std::vector{bus_read(reset_handler), bus_idle(), bus_write(0x01FD, 0x00)}));
}

TEST(ResetStep, WinsOverBothLinesAndLeavesTheNmiForTheNextStep) {
  power_on();
  nop_machine();
  nmi_line = true;
  irq_line = true;
  EXPECT_EQ(run_steps(4), (std::vector{StepKind::reset, nmi, op, op}));  // I stays set: no IRQ
}

// The pushes and register effects of the three sequences that share the interrupt pattern.
TEST(InterruptSequence, NmiPushesTheAddressOfTheDiscardedOpcode) {
  power_on_past_reset();
  nop_machine();
  cpu.PC = 0x8000;
  cpu.S = 0xFD;
  cpu.P = 0xCB;  // N V D Z C set, I clear
  nmi_line = true;
  EXPECT_EQ(step(), (std::vector{bus_read(0x8000), bus_read(0xFFFA), bus_read(0xFFFB), bus_idle(),
                                 bus_write(0x01FD, 0x80), bus_write(0x01FC, 0x00), bus_write(0x01FB, 0xEB)}));
  EXPECT_EQ(cpu.PC, nmi_handler);
  EXPECT_EQ(cpu.S, 0xFA);
  EXPECT_EQ(cpu.P, 0xCF);  // I set, D kept
}

TEST(InterruptSequence, BrkAt8000SkipsItsSecondByteWhileIrqRefetches) {
  power_on_past_reset();
  nop_machine();
  load(0x8000, {0x00, 0x77});  // BRK and the byte it skips
  cpu.PC = 0x8000;
  cpu.S = 0xFD;
  cpu.P = 0x01;
  EXPECT_EQ(step(), (std::vector{bus_read(0x8000), bus_read(0xFFFE), bus_read(0xFFFF), bus_idle(),
                                 bus_write(0x01FD, 0x80), bus_write(0x01FC, 0x02), bus_write(0x01FB, 0x31)}));
  EXPECT_EQ(cpu.PC, irq_handler);
  EXPECT_EQ(cpu.P, 0x05);

  // The same place taken by an IRQ: B clear in the pushed byte, and a return to the BRK itself.
  cpu.PC = 0x8000;
  cpu.S = 0xFD;
  cpu.P = 0x01;
  irq_line = true;
  EXPECT_EQ(step(), (std::vector{bus_read(0x8000), bus_read(0xFFFE), bus_read(0xFFFF), bus_idle(),
                                 bus_write(0x01FD, 0x80), bus_write(0x01FC, 0x00), bus_write(0x01FB, 0x21)}));
  irq_line = false;
  load(irq_handler, {RTI});
  step();
  EXPECT_EQ(cpu.PC, 0x8000);
  EXPECT_EQ(step().front(), bus_read(0x8000));  // the opcode is fetched a second time
}

TEST(InterruptSequence, StackWrapsFrom00AndDecimalFlagStays) {
  power_on_past_reset();
  nop_machine();
  cpu.PC = 0x0400;
  cpu.S = 0x00;
  cpu.P = 0x08;
  irq_line = true;
  EXPECT_EQ(step(), (std::vector{bus_read(0x0400), bus_read(0xFFFE), bus_read(0xFFFF), bus_idle(),
                                 bus_write(0x0100, 0x04), bus_write(0x01FF, 0x00), bus_write(0x01FE, 0x28)}));
  EXPECT_EQ(cpu.S, 0xFD);
  EXPECT_EQ(cpu.P, 0x0C);
}

// The NMI line is a level; the CPU takes one NMI per high period.
TEST(NmiLatch, OneNmiPerHighPeriod) {
  power_on_past_reset();
  nop_machine();
  nmi_line = true;
  EXPECT_EQ(run_steps(6), (std::vector{nmi, op, op, op, op, op}));
  nmi_line = false;
  EXPECT_EQ(run_steps(1), std::vector{op});
  nmi_line = true;
  EXPECT_EQ(run_steps(3), (std::vector{nmi, op, op}));
}

TEST(NmiLatch, PulseBetweenTwoSamplesIsMissed) {
  power_on_past_reset();
  nop_machine();
  cpu.PC = 0x0400;
  load(0x0400, {0xAD, 0x00, 0x05});  // LDA $0500: four cycles
  recorder.before_cycle = [](std::size_t cycle) {
    if (cycle == 1) nmi_line = true;   // rises while LDA fetches its operand ...
    if (cycle == 3) nmi_line = false;  // ... and falls before the next step samples it
  };
  EXPECT_EQ(run_steps(3), (std::vector{op, op, op}));
}

TEST(NmiLatch, NmiWinsOverIrqWhichWaitsForIToClear) {
  power_on_past_reset();
  nop_machine();
  load(nmi_handler, {NOP, RTI});
  cpu.P = 0x00;
  nmi_line = true;
  irq_line = true;
  // NMI; its handler runs with I set; RTI restores I clear; the IRQ comes right after.
  EXPECT_EQ(run_steps(4), (std::vector{nmi, op, op, irq}));
}

// IRQ is level-triggered and masked by I, which is looked at in the step itself.
TEST(IrqLevel, TakenAgainAfterRtiWhileTheLineStaysHigh) {
  power_on_past_reset();
  nop_machine();
  load(irq_handler, {NOP, NOP, RTI});
  cpu.P = 0x00;
  irq_line = true;
  EXPECT_EQ(run_steps(5), (std::vector{irq, op, op, op, irq}));
  irq_line = false;
  load(irq_handler, {RTI});
  cpu.P = 0x04;
  EXPECT_EQ(run_steps(3), (std::vector{op, op, op}));
}

// `opcode` (CLI, SEI or PLP) at $0400 with P = `p`, and `pulled` on top of the stack for PLP.
void change_of_i_at_0400(uint8_t opcode, uint8_t p, uint8_t pulled) {
  power_on_past_reset();
  nop_machine();
  cpu.PC = 0x0400;
  cpu.S = 0xFC;
  cpu.P = p;
  load(0x01FD, {pulled});
  load(0x0400, {opcode});
}

TEST(IrqLevel, CliAndPlpUnmaskAtTheVeryNextStep) {
  for (const bool use_plp : {false, true}) {
    SCOPED_TRACE(use_plp ? "PLP" : "CLI");
    change_of_i_at_0400(use_plp ? PLP : CLI, 0x04, 0x00);  // PLP pulls I clear
    irq_line = true;
    EXPECT_EQ(run_steps(2), (std::vector{op, irq}));
  }
}

TEST(IrqLevel, SeiAndPlpMaskAtTheVeryNextStep) {
  for (const bool use_plp : {false, true}) {
    SCOPED_TRACE(use_plp ? "PLP" : "SEI");
    change_of_i_at_0400(use_plp ? PLP : SEI, 0x00, 0x04);  // PLP pulls I set
    const std::size_t fetch = recorder.cycles.size();
    recorder.before_cycle = [fetch](std::size_t cycle) {
      if (cycle == fetch + 1) irq_line = true;  // rises while the instruction runs
    };
    EXPECT_EQ(run_steps(3), (std::vector{op, op, op}));
  }
}

// irq_line is read after the opcode fetch, nmi_line before it.
TEST(LineSampling, IrqRaisedDuringTheFetchCountsInThatStep) {
  power_on_past_reset();
  nop_machine();
  cpu.PC = 0x0400;
  cpu.S = 0xFD;
  recorder.before_cycle = [](std::size_t cycle) {
    if (cycle == 0) irq_line = true;
  };
  EXPECT_EQ(step(), (std::vector{bus_read(0x0400), bus_read(0xFFFE), bus_read(0xFFFF), bus_idle(),
                                 bus_write(0x01FD, 0x04), bus_write(0x01FC, 0x00), bus_write(0x01FB, 0x20)}));
}

TEST(LineSampling, NmiRaisedDuringTheFetchCountsOnlyInTheNextStep) {
  power_on_past_reset();
  nop_machine();
  recorder.before_cycle = [](std::size_t cycle) {
    if (cycle == 0) nmi_line = true;
  };
  EXPECT_EQ(run_steps(3), (std::vector{op, nmi, op}));
}

}  // namespace
