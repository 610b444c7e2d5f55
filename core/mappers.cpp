// Register logic of mappers 1, 2, 3 and 7. A register write stores the value, then the bank slots
// are derived from the registers at once, so the very next CPU read or PPU fetch sees the new bank.
#include "core/mappers.h"

#include "core/banks.h"
#include "core/bus.h"
#include "core/cartridge.h"

Mapper mapper;

namespace {
// Nametable pages by mirroring mode: one-screen low, one-screen high, vertical, horizontal.
constexpr uint8_t mapper1_mirroring_table[4][4] = {
    {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};
constexpr uint8_t MAPPER1_CONTROL_RESET = 12;  // program mode 3: last bank fixed at $C000

void mapper1_banks() {
  const uint8_t c = mapper.regs[0];
  const uint8_t* pages = mapper1_mirroring_table[c & 3];
  set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
  if (c & 0x10) {  // two 4 KiB pattern banks
    set_chr_pages(4096, 0x0000, mapper.regs[1]);
    set_chr_pages(4096, 0x1000, mapper.regs[2]);
  } else {  // one 8 KiB pattern bank
    set_chr_pages(4096, 0x0000, mapper.regs[1] & 0xFEu);
    set_chr_pages(4096, 0x1000, (mapper.regs[1] & 0xFEu) + 1);
  }
  const uint8_t prg = mapper.regs[3];
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

// Returns true when the write completed a register (or reset the shift register).
bool mapper1_write(uint16_t address, uint8_t value) {
  if (value & 0x80) {  // reset: the control register is replaced, the collected bits dropped
    mapper.regs[0] = MAPPER1_CONTROL_RESET;
  } else {
    mapper.shift_value = static_cast<uint8_t>(mapper.shift_value | ((value & 1) << mapper.shift_count));
    if (++mapper.shift_count < 5) return false;
    mapper.regs[(address >> 13) & 3] = mapper.shift_value;
  }
  mapper.shift_count = 0;
  mapper.shift_value = 0;
  return true;
}
}  // namespace

void mapper_update_banks() {
  mapper_power_on();
  if (!mapper.written) return;
  switch (cartridge.mapper_number) {
    case 1: mapper1_banks(); break;
    case 2: set_prg_pages(16384, 0x8000, mapper.prg_bank); break;
    case 3: set_chr_pages(8192, 0x0000, mapper.chr_bank); break;
    case 7: {
      set_prg_pages(32768, 0x8000, mapper.prg_bank);
      const int page = mapper.nametable_page;
      set_nametable_pages(page, page, page, page);
      break;
    }
    default: break;
  }
}

uint8_t mapper_write(uint16_t address, uint8_t value, bool write) {
  if (write && address >= 0x8000) {
    bool changed = true;
    switch (cartridge.mapper_number) {
      case 7:
        mapper.prg_bank = value & 7;
        mapper.nametable_page = (value >> 4) & 1;
        break;
      case 2: mapper.prg_bank = value; break;
      case 3:
        // Bus conflict: the ROM drives the bus too, so the value is ANDed with the byte there.
        mapper.chr_bank = (value & mapper_write(address, 0, false)) & 3;
        break;
      case 1: changed = mapper1_write(address, value); break;
      default: changed = false; break;
    }
    if (changed) {
      mapper.written = true;
      mapper_update_banks();
    }
  }
  if ((address >> 13) == 3) return bus.cartridge_ram[address & 0x1FFF];
  return banks.prg_slots[(address >> 13) & 7][address & 0x1FFF];
}
