// The 6502 processor without decimal arithmetic: registers, the instruction step and the interrupt
// sequence shared by BRK, NMI, RESET and IRQ. The CPU keeps no cycle count of its own: every cycle
// of an instruction is a bus read, a bus write or an idle system tick.
#pragma once
#include <cstdint>

struct Cpu {
  uint16_t PC = 0xC000;      // next byte to fetch
  uint8_t A = 0;             // accumulator
  uint8_t X = 0;             // index register
  uint8_t Y = 0;             // index register
  uint8_t S = 0;             // stack pointer; the stack byte is at $0100 + S
  uint8_t P = 0;             // status flags; bits 4 and 5 are always 0 in the register
  bool nmi_latched = false;  // an NMI was taken during the current high period of nmi_line
};
extern Cpu cpu;

// Status flag bits.
constexpr uint8_t FLAG_C = 0x01, FLAG_Z = 0x02, FLAG_I = 0x04, FLAG_D = 0x08, FLAG_B = 0x10,
                  FLAG_U = 0x20, FLAG_V = 0x40, FLAG_N = 0x80;

// Interrupt inputs: the PPU drives nmi_line, the APU drives irq_line and the cartridge's board
// cartridge_irq_line; the CPU's IRQ input is the OR of the two, so acknowledging one leaves the
// other. reset_active is true only during the first step, the reset sequence, whose stack writes
// become reads.
extern bool nmi_line;
extern bool irq_line;
extern bool cartridge_irq_line;
// The dot time (PPU dots since power-on) at which cartridge_irq_line last rose. The CPU acts on
// the cartridge's line as it stood at the end of the instruction's second-to-last cycle: the line
// counts at a step once CARTRIDGE_IRQ_DELAY dots have passed since it rose, counted to the end of
// the step's opcode fetch (which is where the APU's line is sampled). The board raises the line on
// the dot of the PPU read that clocks it, one dot after the address went out.
extern uint64_t cartridge_irq_since;
constexpr uint64_t CARTRIDGE_IRQ_DELAY = 5;
// Raises the cartridge's line at dot time `time` (a board's interrupt event).
inline void raise_cartridge_irq(uint64_t time) {
  if (!cartridge_irq_line) cartridge_irq_since = time;
  cartridge_irq_line = true;
}
// Boards whose interrupt counter runs on the CPU's clock know in advance the cycle it will expire
// on: they keep the counter as a value and the CPU cycle it had that value at, and raise the line
// ahead of time. The line then counts exactly as the sound unit's does when its counter sets it on
// CPU cycle `cycle` (cpu_cycles() during that cycle): a step whose opcode fetch is cycle `cycle` or
// later takes it. A CPU access to the board before then may lower it again (lower_cartridge_irq) and
// schedule another.
inline void raise_cartridge_irq_on_cycle(uint64_t cycle) {
  raise_cartridge_irq(3 * cycle >= CARTRIDGE_IRQ_DELAY ? 3 * cycle - CARTRIDGE_IRQ_DELAY : 0);
}
inline void lower_cartridge_irq() { cartridge_irq_line = false; }
extern bool reset_active;

// Handler table entries past the 256 opcodes.
constexpr int ENTRY_NMI = 256, ENTRY_RESET = 257, ENTRY_IRQ = 258;
using OpcodeHandler = void (*)();
extern const OpcodeHandler opcode_handlers[259];

// Executes one instruction or one interrupt sequence, from its opcode fetch to its last cycle.
void cpu_step();

// Building blocks of every handler.
uint8_t operand_fetch();
void stack_push(uint8_t value);
uint8_t stack_pop();
