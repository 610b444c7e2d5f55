// The instruction step: opcode fetch, the choice between the opcode and an interrupt, and the
// dispatch through the 259-entry handler table.
#include "cpu/cpu.h"

#include "cpu/bus_access.h"

Cpu cpu;
bool nmi_line = false;
bool irq_line = false;
bool cartridge_irq_line = false;
uint64_t cartridge_irq_since = 0;
bool reset_active = true;

uint8_t operand_fetch() { return cpu_read(cpu.PC++); }

void stack_push(uint8_t value) {
  cpu_write(static_cast<uint16_t>(0x0100 + cpu.S), value);
  --cpu.S;
}

uint8_t stack_pop() {
  ++cpu.S;
  return cpu_read(static_cast<uint16_t>(0x0100 + cpu.S));
}

void cpu_step() {
  // NMI is sampled before the fetch; the IRQ line and the I flag after it, so a change that the
  // fetch's own cycle makes to irq_line counts in this step.
  const bool nmi_sampled = nmi_line;
  const uint8_t opcode = operand_fetch();
  int entry = opcode;
  if (reset_active) {
    entry = ENTRY_RESET;
  } else if (nmi_sampled && !cpu.nmi_latched) {
    entry = ENTRY_NMI;
    cpu.nmi_latched = true;
  } else if ((irq_line || (cartridge_irq_line && 3 * cpu_cycles() >= cartridge_irq_since + CARTRIDGE_IRQ_DELAY)) &&
             !(cpu.P & FLAG_I)) {
    entry = ENTRY_IRQ;
  }
  if (!nmi_sampled) cpu.nmi_latched = false;
  opcode_handlers[entry]();
  reset_active = false;
}
