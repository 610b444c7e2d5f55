// SxROM (mapper 1, the MMC1): five serial writes load a register, bit 0 of each; a write with bit 7
// set resets the shift register and sets program mode 3. Registers: control (nametable arrangement,
// program mode, 4 or 8 KiB pattern banks), two pattern banks, the program bank.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct Mmc1Registers {
  uint8_t written;       // a register has been loaded since power-on; until then the power-on
                         // arrangement stands
  uint8_t regs[4];       // control, CHR bank 0, CHR bank 1, PRG bank
  uint8_t shift_count;   // bits collected by the serial load, 0-4
  uint8_t shift_value;   // the bits themselves, first bit in bit 0
};
Mmc1Registers& r() { return board_registers<Mmc1Registers>(); }

// Nametable pages by mirroring mode: one-screen low, one-screen high, vertical, horizontal.
constexpr uint8_t mirroring_table[4][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
constexpr uint8_t CONTROL_RESET = 12;  // program mode 3: last bank fixed at $C000

void power_on() { r().regs[0] = CONTROL_RESET; }

void update_banks() {
  if (!r().written) return;
  const uint8_t c = r().regs[0];
  const uint8_t* pages = mirroring_table[c & 3];
  set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
  if (c & 0x10) {  // two 4 KiB pattern banks
    set_chr_pages(4096, 0x0000, r().regs[1]);
    set_chr_pages(4096, 0x1000, r().regs[2]);
  } else {  // one 8 KiB pattern bank
    set_chr_pages(4096, 0x0000, r().regs[1] & 0xFEu);
    set_chr_pages(4096, 0x1000, (r().regs[1] & 0xFEu) + 1);
  }
  const uint8_t prg = r().regs[3];
  switch ((c >> 2) & 3) {
    case 0:
    case 1: set_prg_pages(32768, 0x8000, (prg >> 1) & 7u); break;
    case 2:
      set_prg_pages(16384, 0x8000, 0);
      set_prg_pages(16384, 0xC000, prg & 0x0Fu);
      break;
    case 3:
      set_prg_pages(16384, 0x8000, prg & 0x0Fu);
      set_prg_pages(16384, 0xC000, ~0u);
      break;
  }
}

void write(uint16_t address, uint8_t value) {
  Mmc1Registers& m = r();
  if (value & 0x80) {  // reset: the control register is replaced, the collected bits dropped
    m.regs[0] = CONTROL_RESET;
  } else {
    m.shift_value = static_cast<uint8_t>(m.shift_value | ((value & 1) << m.shift_count));
    if (++m.shift_count < 5) return;
    m.regs[(address >> 13) & 3] = m.shift_value;
  }
  m.shift_count = 0;
  m.shift_value = 0;
  m.written = 1;
  mapper_update_banks();
}

const char* impossible() { return r().shift_count > 4 ? "mapper shift count" : nullptr; }
}  // namespace

extern const Board mmc1_board = {.name = "SxROM (MMC1)",
                                 .power_on = power_on,
                                 .write = write,
                                 .update_banks = update_banks,
                                 .impossible = impossible};
