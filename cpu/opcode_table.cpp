// The 259 handlers: one per opcode, each a template instance with its addressing mode and operation
// fixed at compile time, then the NMI, RESET and IRQ sequences. Nothing is decoded at run time.
#include "cpu/bus_access.h"
#include "cpu/addressing.h"
#include "cpu/cpu.h"
#include "cpu/operations.h"

namespace {
using namespace ops;
using M = Mode;

template <class Op> void immediate() { Op::read(operand_fetch()); }
template <Mode A, class Op> void read() { Op::read(cpu_read(operand_address<A, Access::Read>())); }
template <Mode A, class Op> void write() {
  const uint16_t address = operand_address<A, Access::Write>();
  cpu_write(address, Op::value());
}
template <Mode A, class Op> void modify() {
  const uint16_t address = operand_address<A, Access::Modify>();
  const uint8_t result = Op::modify(cpu_read(address));
  cpu_write(address, result);
  system_tick();
}
template <Mode A> void nop() {
  (void)operand_address<A, Access::None>();
  system_tick();
}
template <class Op> void implied() {
  system_tick();
  Op::implied();
}
template <class Op> void accumulator() {
  system_tick();
  cpu.A = Op::modify(cpu.A);
}

// SHA abs,Y, SHX, SHY and TAS: the store lands in the page of the base address and ANDs in the
// high byte of the effective address.
template <Mode A, class Op> void unstable_store() {
  const uint16_t base = fetch_word();
  const uint16_t effective = static_cast<uint16_t>(base + index_register<A>());
  const uint16_t target = same_page_address(base, effective);
  (void)cpu_read(target);
  cpu_write(target, Op::value(static_cast<uint8_t>(effective >> 8)));
}

template <uint8_t Flag, bool Set> void branch() {
  const auto offset = static_cast<int8_t>(operand_fetch());
  if (((cpu.P & Flag) != 0) != Set) return;
  system_tick();
  const auto target = static_cast<uint16_t>(cpu.PC + offset);
  page_cross_dummy_read(cpu.PC, target);
  cpu.PC = target;
}

// BRK, NMI, RESET and IRQ: vector read first, then the three pushes.
template <uint16_t Vector, int ReturnOffset, uint8_t PushedBits> void interrupt_sequence() {
  const uint8_t lo = cpu_read(Vector);
  const uint8_t hi = cpu_read(Vector + 1);
  if constexpr (Vector == 0xFFFA) nmi_vector_fetched();
  system_tick();
  const auto return_address = static_cast<uint16_t>(cpu.PC + ReturnOffset);
  stack_push(static_cast<uint8_t>(return_address >> 8));
  stack_push(static_cast<uint8_t>(return_address));
  cpu.PC = static_cast<uint16_t>(lo | (hi << 8));
  stack_push(cpu.P | PushedBits);
  cpu.P = static_cast<uint8_t>((cpu.P & 0xCF) | FLAG_I);
}
constexpr auto brk = interrupt_sequence<0xFFFE, +1, 0x30>;
constexpr auto nmi = interrupt_sequence<0xFFFA, -1, 0x20>;
constexpr auto reset = interrupt_sequence<0xFFFC, -1, 0x20>;
constexpr auto irq = interrupt_sequence<0xFFFE, -1, 0x20>;

void php() {
  system_tick();
  stack_push(cpu.P | 0x30);
}
void pha() {
  system_tick();
  stack_push(cpu.A);
}
void plp() {
  system_tick();
  system_tick();
  cpu.P = stack_pop() & 0xCF;
}
void pla() {
  system_tick();
  system_tick();
  set_nz(cpu.A = stack_pop());
}
void jsr() {
  const uint16_t target = fetch_word();
  system_tick();
  const auto last_byte = static_cast<uint16_t>(cpu.PC - 1);
  stack_push(static_cast<uint8_t>(last_byte >> 8));
  stack_push(static_cast<uint8_t>(last_byte));
  cpu.PC = target;
}
void rts() {
  system_tick();
  (void)operand_fetch();
  const uint8_t lo = stack_pop();
  const uint8_t hi = stack_pop();
  const auto address = static_cast<uint16_t>(lo | (hi << 8));
  (void)cpu_read(address);
  cpu.PC = static_cast<uint16_t>(address + 1);
}
void rti() {
  system_tick();
  cpu.P = stack_pop() & 0xCF;
  (void)operand_fetch();
  const uint8_t lo = stack_pop();
  const uint8_t hi = stack_pop();
  cpu.PC = static_cast<uint16_t>(lo | (hi << 8));
}
void jmp_absolute() { cpu.PC = fetch_word(); }
void jmp_indirect() {
  const uint16_t pointer = fetch_word();
  const uint8_t lo = cpu_read(pointer);
  const uint8_t hi = cpu_read(same_page_address(pointer, static_cast<uint16_t>(pointer + 1)));
  cpu.PC = static_cast<uint16_t>(lo | (hi << 8));
}
}  // namespace

// Rows by high nibble, columns by low nibble, as in the datasheet's opcode matrix.
constexpr OpcodeHandler opcode_handlers[259] = {
  // 0x
  brk, read<M::IndX, ORA>, immediate<AND_ASL>, modify<M::IndX, SLO>,
  nop<M::Zp>, read<M::Zp, ORA>, modify<M::Zp, ASL>, modify<M::Zp, SLO>,
  php, immediate<ORA>, accumulator<ASL>, immediate<ANC>,
  nop<M::Abs>, read<M::Abs, ORA>, modify<M::Abs, ASL>, modify<M::Abs, SLO>,
  // 1x
  branch<FLAG_N, false>, read<M::IndY, ORA>, modify<M::IndY, ASL>, modify<M::IndY, SLO>,
  nop<M::ZpX>, read<M::ZpX, ORA>, modify<M::ZpX, ASL>, modify<M::ZpX, SLO>,
  implied<CLC>, read<M::AbsY, ORA>, implied<NOP>, modify<M::AbsY, SLO>,
  nop<M::AbsX>, read<M::AbsX, ORA>, modify<M::AbsX, ASL>, modify<M::AbsX, SLO>,
  // 2x
  jsr, read<M::IndX, AND>, immediate<AND_ROL>, modify<M::IndX, RLA>,
  read<M::Zp, BIT>, read<M::Zp, AND>, modify<M::Zp, ROL>, modify<M::Zp, RLA>,
  plp, immediate<AND>, accumulator<ROL>, immediate<ANC>,
  read<M::Abs, BIT>, read<M::Abs, AND>, modify<M::Abs, ROL>, modify<M::Abs, RLA>,
  // 3x
  branch<FLAG_N, true>, read<M::IndY, AND>, modify<M::IndY, ROL>, modify<M::IndY, RLA>,
  nop<M::ZpX>, read<M::ZpX, AND>, modify<M::ZpX, ROL>, modify<M::ZpX, RLA>,
  implied<SEC>, read<M::AbsY, AND>, implied<NOP>, modify<M::AbsY, RLA>,
  nop<M::AbsX>, read<M::AbsX, AND>, modify<M::AbsX, ROL>, modify<M::AbsX, RLA>,
  // 4x
  rti, read<M::IndX, EOR>, immediate<ALR>, modify<M::IndX, SRE>,
  nop<M::Zp>, read<M::Zp, EOR>, modify<M::Zp, LSR>, modify<M::Zp, SRE>,
  pha, immediate<EOR>, accumulator<LSR>, immediate<ALR>,
  jmp_absolute, read<M::Abs, EOR>, modify<M::Abs, LSR>, modify<M::Abs, SRE>,
  // 5x
  branch<FLAG_V, false>, read<M::IndY, EOR>, modify<M::IndY, LSR>, modify<M::IndY, SRE>,
  nop<M::ZpX>, read<M::ZpX, EOR>, modify<M::ZpX, LSR>, modify<M::ZpX, SRE>,
  implied<CLI>, read<M::AbsY, EOR>, implied<NOP>, modify<M::AbsY, SRE>,
  nop<M::AbsX>, read<M::AbsX, EOR>, modify<M::AbsX, LSR>, modify<M::AbsX, SRE>,
  // 6x
  rts, read<M::IndX, ADC>, immediate<AND_ROR>, modify<M::IndX, RRA>,
  nop<M::Zp>, read<M::Zp, ADC>, modify<M::Zp, ROR>, modify<M::Zp, RRA>,
  pla, immediate<ADC>, accumulator<ROR>, immediate<ARR>,
  jmp_indirect, read<M::Abs, ADC>, modify<M::Abs, ROR>, modify<M::Abs, RRA>,
  // 7x
  branch<FLAG_V, true>, read<M::IndY, ADC>, modify<M::IndY, ROR>, modify<M::IndY, RRA>,
  nop<M::ZpX>, read<M::ZpX, ADC>, modify<M::ZpX, ROR>, modify<M::ZpX, RRA>,
  implied<SEI>, read<M::AbsY, ADC>, implied<NOP>, modify<M::AbsY, RRA>,
  nop<M::AbsX>, read<M::AbsX, ADC>, modify<M::AbsX, ROR>, modify<M::AbsX, RRA>,
  // 8x
  immediate<NOP>, write<M::IndX, STA>, immediate<NOP>, write<M::IndX, SAX>,
  write<M::Zp, STY>, write<M::Zp, STA>, write<M::Zp, STX>, write<M::Zp, SAX>,
  implied<DEY>, immediate<NOP>, implied<TXA>, immediate<ANE>,
  write<M::Abs, STY>, write<M::Abs, STA>, write<M::Abs, STX>, write<M::Abs, SAX>,
  // 9x
  branch<FLAG_C, false>, write<M::IndY, STA>, write<M::IndY, STX>, write<M::IndY, SHA_IND>,
  write<M::ZpX, STY>, write<M::ZpX, STA>, write<M::ZpY, STX>, write<M::ZpY, SAX>,
  implied<TYA>, write<M::AbsY, STA>, implied<TXS>, unstable_store<M::AbsY, TAS>,
  unstable_store<M::AbsX, SHY>, write<M::AbsX, STA>, unstable_store<M::AbsY, SHX>, unstable_store<M::AbsY, SHA>,
  // Ax
  immediate<LDY>, read<M::IndX, LDA>, immediate<LDX>, read<M::IndX, LAX>,
  read<M::Zp, LDY>, read<M::Zp, LDA>, read<M::Zp, LDX>, read<M::Zp, LAX>,
  implied<TAY>, immediate<LDA>, implied<TAX>, immediate<LXA>,
  read<M::Abs, LDY>, read<M::Abs, LDA>, read<M::Abs, LDX>, read<M::Abs, LAX>,
  // Bx
  branch<FLAG_C, true>, read<M::IndY, LDA>, read<M::IndY, LDX>, read<M::IndY, LAX>,
  read<M::ZpX, LDY>, read<M::ZpX, LDA>, read<M::ZpY, LDX>, read<M::ZpY, LAX>,
  implied<CLV>, read<M::AbsY, LDA>, implied<TSX>, read<M::AbsY, LAS>,
  read<M::AbsX, LDY>, read<M::AbsX, LDA>, read<M::AbsY, LDX>, read<M::AbsY, LAX>,
  // Cx
  immediate<CPY>, read<M::IndX, CMP>, immediate<NOP>, modify<M::IndX, DCP>,
  read<M::Zp, CPY>, read<M::Zp, CMP>, modify<M::Zp, DEC>, modify<M::Zp, DCP>,
  implied<INY>, immediate<CMP>, implied<DEX>, immediate<SBX>,
  read<M::Abs, CPY>, read<M::Abs, CMP>, modify<M::Abs, DEC>, modify<M::Abs, DCP>,
  // Dx
  branch<FLAG_Z, false>, read<M::IndY, CMP>, modify<M::IndY, DEC>, modify<M::IndY, DCP>,
  nop<M::ZpX>, read<M::ZpX, CMP>, modify<M::ZpX, DEC>, modify<M::ZpX, DCP>,
  implied<CLD>, read<M::AbsY, CMP>, implied<NOP>, modify<M::AbsY, DCP>,
  nop<M::AbsX>, read<M::AbsX, CMP>, modify<M::AbsX, DEC>, modify<M::AbsX, DCP>,
  // Ex
  immediate<CPX>, read<M::IndX, SBC>, immediate<NOP>, modify<M::IndX, ISB>,
  read<M::Zp, CPX>, read<M::Zp, SBC>, modify<M::Zp, INC>, modify<M::Zp, ISB>,
  implied<INX>, immediate<SBC>, implied<NOP>, immediate<SBC>,
  read<M::Abs, CPX>, read<M::Abs, SBC>, modify<M::Abs, INC>, modify<M::Abs, ISB>,
  // Fx
  branch<FLAG_Z, true>, read<M::IndY, SBC>, modify<M::IndY, INC>, modify<M::IndY, ISB>,
  nop<M::ZpX>, read<M::ZpX, SBC>, modify<M::ZpX, INC>, modify<M::ZpX, ISB>,
  implied<SED>, read<M::AbsY, SBC>, implied<NOP>, modify<M::AbsY, ISB>,
  nop<M::AbsX>, read<M::AbsX, SBC>, modify<M::AbsX, INC>, modify<M::AbsX, ISB>,
  // Interrupt sequences
  nmi, reset, irq,
};
