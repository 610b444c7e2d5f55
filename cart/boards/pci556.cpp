// Bit Corp UNL-PCI556 (mapper 38, Crime Busters): a latch at $7000-$7FFF, `.... CCPP`: the 8 KiB
// pattern bank and the 32 KiB program bank. No cartridge RAM, no bus conflicts.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct Pci556Registers {
  uint8_t latch;  // power-on 0 (undefined on the board)
};
Pci556Registers& r() { return board_registers<Pci556Registers>(); }

void update_banks() {
  set_prg_pages(32768, 0x8000, r().latch & 3u);
  set_chr_pages(8192, 0x0000, (r().latch >> 2) & 3u);
}

void low_write(uint16_t address, uint8_t value) {
  if (address < 0x7000 || address >= 0x8000) return;
  r().latch = value;
  mapper_update_banks();
}
}  // namespace

extern const Board pci556_board = {.name = "UNL-PCI556",
                                   .update_banks = update_banks,
                                   .low_read = read_nothing,
                                   .low_write = low_write};
