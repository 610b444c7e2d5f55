// SxROM (mapper 1, the MMC1): five serial writes load a register, bit 0 of each; a write with bit 7
// set resets the shift register and sets program mode 3. Registers: control (nametable arrangement,
// program mode, 4 or 8 KiB pattern banks), two pattern banks, the program bank.
//
// The large boards, with 8 KiB of character RAM, use pattern bank 0's high lines for program memory
// (in 4 KiB pattern mode the lines follow whichever pattern register the PPU uses at the moment; as
// games keep both equal, pattern bank 0 stands for both here):
// - SUROM (512 KiB program ROM, Dragon Warrior III and IV): bit 4 picks the 256 KiB half of the
//   program ROM; the program modes switch within it, and the fixed first or last 16 KiB are those
//   of that half.
// - SOROM (16 KiB of RAM at $6000, the second 8 KiB kept by the battery; Nobunaga's Ambition): the
//   RAM bank is bit 3 in 8 KiB pattern mode, bit 4 in 4 KiB mode.
// - SXROM (32 KiB of RAM, 512 KiB of program ROM; Genghis Khan): bits 3-2 pick the RAM bank, bit 4
//   the program half as on SUROM.
// An NES 2.0 header tells them by its RAM sizes (16 KiB: SOROM; 32 KiB: SXROM); an iNES 1.0 image
// of 512 KiB is a SUROM. Images of 256 KiB or less with 8 KiB of RAM are the plain boards.
#include <algorithm>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "core/machine.h"

namespace {
struct Mmc1Registers {
  uint8_t written;       // a register has been loaded since power-on; until then the power-on
                         // arrangement stands
  uint8_t regs[4];       // control, CHR bank 0, CHR bank 1, PRG bank
  uint8_t shift_count;   // bits collected by the serial load, 0-4
  uint8_t shift_value;   // the bits themselves, first bit in bit 0
};
Mmc1Registers& r() { return board_registers<Mmc1Registers>(); }

constexpr size_t LARGE_PRG_ROM = 256 * 1024;
constexpr uint32_t SOROM_RAM = 2 * CARTRIDGE_RAM_BANK, SXROM_RAM = 4 * CARTRIDGE_RAM_BANK;

// The cartridge RAM at $6000: 8 KiB, or SOROM's 16 KiB and SXROM's 32 KiB, as NES 2.0 sizes say.
uint32_t ram_size() {
  if (!cartridge.nes2) return CARTRIDGE_RAM_BANK;
  const uint32_t total = cartridge.prg_ram_size + cartridge.prg_nvram_size;
  return total > SOROM_RAM ? SXROM_RAM : total > CARTRIDGE_RAM_BANK ? SOROM_RAM : CARTRIDGE_RAM_BANK;
}

// The battery keeps the banks after those without it: SOROM's second bank, all of SXROM's RAM, the
// 8 KiB boards as any board.
size_t battery_offset() {
  return ram_size() > CARTRIDGE_RAM_BANK ? std::min<size_t>(cartridge.prg_ram_size, ram_size()) : 0;
}
size_t battery_size() {
  if (ram_size() == CARTRIDGE_RAM_BANK) return cartridge_battery_size();
  if (!cartridge_has_battery() || !cartridge.prg_nvram_size) return 0;
  return std::min<size_t>(cartridge.prg_nvram_size, ram_size() - battery_offset());
}
void battery_save(uint8_t* out) { std::copy_n(bus.cartridge_ram + battery_offset(), battery_size(), out); }
void battery_load(const uint8_t* in) { std::copy_n(in, battery_size(), bus.cartridge_ram + battery_offset()); }

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
  // The 256 KiB half, in 16 KiB units, and the last unit of the modes that fix one.
  const bool halves = cartridge.prg_rom.size() > LARGE_PRG_ROM;
  const uint32_t outer = halves ? (r().regs[1] & 0x10u) : 0u;
  const uint32_t last = halves ? outer + 15 : ~0u;
  switch ((c >> 2) & 3) {
    case 0:
    case 1: set_prg_pages(32768, 0x8000, outer / 2 + ((prg >> 1) & 7u)); break;
    case 2:
      set_prg_pages(16384, 0x8000, outer);
      set_prg_pages(16384, 0xC000, outer + (prg & 0x0Fu));
      break;
    case 3:
      set_prg_pages(16384, 0x8000, outer + (prg & 0x0Fu));
      set_prg_pages(16384, 0xC000, last);
      break;
  }
  uint32_t ram_bank = 0;
  switch (ram_size()) {
    case SOROM_RAM: ram_bank = (c & 0x10) ? (r().regs[1] >> 4) & 1 : (r().regs[1] >> 3) & 1; break;
    case SXROM_RAM: ram_bank = (r().regs[1] >> 2) & 3; break;
    default: break;
  }
  set_cartridge_ram_bank(ram_bank);
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
                                 .impossible = impossible,
                                 .ram_size = ram_size,
                                 .battery_size = battery_size,
                                 .battery_save = battery_save,
                                 .battery_load = battery_load};
