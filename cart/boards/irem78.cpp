// Irem IF-12 (78.3, Holy Diver) and Jaleco JF-16 (78.1, Uchuusen Cosmo Carrier): a latch at
// $8000-$FFFF, `CCCC MPPP`: the 8 KiB pattern bank, the arrangement bit and the 16 KiB program bank
// at $8000 (the last stays at $C000). Bus conflicts. M: on the IF-12 0 horizontal and 1 vertical
// mirroring; on the JF-16 the one-screen page. Without a submapper, a header with the four-screen
// bit set (as Holy Diver's old dumps have) takes the IF-12's meaning.
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"

namespace {
struct Irem78Registers {
  uint8_t latch;  // power-on 0 (undefined on the boards)
};
Irem78Registers& r() { return board_registers<Irem78Registers>(); }

bool holy_diver() {
  if (cartridge.submapper == 1 || cartridge.submapper == 3) return cartridge.submapper == 3;
  return cartridge.ctrlbyte & CTRL_FOUR_SCREEN;
}

void update_banks() {
  const uint32_t v = r().latch;
  set_prg_pages(16384, 0x8000, v & 7u);
  set_chr_pages(8192, 0x0000, v >> 4);
  const int m = (v >> 3) & 1;
  if (holy_diver()) {
    if (m) set_nametable_pages(0, 1, 0, 1);
    else set_nametable_pages(0, 0, 1, 1);
  } else {
    set_nametable_pages(m, m, m, m);
  }
}

void write(uint16_t address, uint8_t value) {
  r().latch = bus_conflict(address, value);
  mapper_update_banks();
}
}  // namespace

extern const Board irem78_board = {.name = "Irem IF-12 / Jaleco JF-16", .write = write, .update_banks = update_banks};
