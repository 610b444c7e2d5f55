// Color Dreams (mapper 11): a latch at $8000-$FFFF, `CCCC LLPP`: the 8 KiB pattern bank, two bits
// of the lockout defeat (no effect here) and the 32 KiB program bank. Bus conflicts.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct ColorDreamsRegisters {
  uint8_t latch;  // power-on 0 (undefined on the boards)
};
ColorDreamsRegisters& r() { return board_registers<ColorDreamsRegisters>(); }

void update_banks() {
  set_prg_pages(32768, 0x8000, r().latch & 3u);
  set_chr_pages(8192, 0x0000, r().latch >> 4);
}

void write(uint16_t address, uint8_t value) {
  r().latch = bus_conflict(address, value);
  mapper_update_banks();
}
}  // namespace

extern const Board color_dreams_board = {.name = "Color Dreams", .write = write, .update_banks = update_banks};
