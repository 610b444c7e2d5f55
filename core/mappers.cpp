// Register logic of mappers 1, 2, 3 and 7. Each register write rewrites bank slots at once, so
// the very next CPU read or PPU fetch sees the new bank.
#include "core/mappers.h"

#include "core/banks.h"
#include "core/bus.h"
#include "core/cartridge.h"

Mapper1 mapper1;

namespace {
// Nametable pages by mirroring mode: one-screen low, one-screen high, vertical, horizontal.
constexpr uint8_t mapper1_mirroring_table[4][4] = {
    {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}};

void mapper1_apply() {
  const uint8_t c = mapper1.regs[0];
  mapper1.shift_count = 0;
  mapper1.shift_value = 0;
  const uint8_t* pages = mapper1_mirroring_table[c & 3];
  set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
  if (c & 0x10) {  // two 4 KiB pattern banks
    set_chr_pages(4096, 0x0000, mapper1.regs[1]);
    set_chr_pages(4096, 0x1000, mapper1.regs[2]);
  } else {  // one 8 KiB pattern bank
    set_chr_pages(4096, 0x0000, mapper1.regs[1] & 0xFEu);
    set_chr_pages(4096, 0x1000, (mapper1.regs[1] & 0xFEu) + 1);
  }
  const uint8_t prg = mapper1.regs[3];
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

void mapper1_write(uint16_t address, uint8_t value) {
  if (value & 0x80) {  // reset: the control register is replaced, the collected bits dropped
    mapper1.regs[0] = 12;
    mapper1_apply();
    return;
  }
  mapper1.shift_value = static_cast<uint8_t>(mapper1.shift_value | ((value & 1) << mapper1.shift_count));
  if (++mapper1.shift_count == 5) {
    mapper1.regs[(address >> 13) & 3] = mapper1.shift_value;
    mapper1_apply();
  }
}
}  // namespace

uint8_t mapper_write(uint16_t address, uint8_t value, bool write) {
  if (write && address >= 0x8000) {
    switch (cartridge.mapper_number) {
      case 7: {
        set_prg_pages(32768, 0x8000, value & 7u);
        const int page = (value >> 4) & 1;
        set_nametable_pages(page, page, page, page);
        break;
      }
      case 2: set_prg_pages(16384, 0x8000, value); break;
      case 3:
        // Bus conflict: the ROM drives the bus too, so the value is ANDed with the byte there.
        value &= mapper_write(address, 0, false);
        set_chr_pages(8192, 0x0000, value & 3u);
        break;
      case 1: mapper1_write(address, value); break;
      default: break;
    }
  }
  if ((address >> 13) == 3) return bus.cartridge_ram[address & 0x1FFF];
  return banks.prg_slots[(address >> 13) & 7][address & 0x1FFF];
}
