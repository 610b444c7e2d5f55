// Jaleco JF-11/JF-14 (mapper 140): GxROM's latch moved to $6000-$7FFF, `..PP CCCC`: the 32 KiB
// program bank and the 8 KiB pattern bank. No cartridge RAM, no bus conflicts.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct Jf11Registers {
  uint8_t latch;  // power-on 0 (undefined on the boards)
};
Jf11Registers& r() { return board_registers<Jf11Registers>(); }

void update_banks() {
  set_prg_pages(32768, 0x8000, (r().latch >> 4) & 3u);
  set_chr_pages(8192, 0x0000, r().latch & 0x0Fu);
}

void low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3) return;
  r().latch = value;
  mapper_update_banks();
}
}  // namespace

extern const Board jf11_board = {.name = "Jaleco JF-11",
                                 .update_banks = update_banks,
                                 .low_read = read_nothing,
                                 .low_write = low_write};
