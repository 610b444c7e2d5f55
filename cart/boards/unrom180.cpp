// UNROM wired with a 74HC08 (mapper 180, Crazy Climber): the first 16 KiB bank stays at $8000 and a
// latch at $8000-$FFFF (bits 0-2) selects the one at $C000. Bus conflicts.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct Unrom180Registers {
  uint8_t prg_bank;  // power-on 0 (undefined on the board): bank 0 at $C000 too
};
Unrom180Registers& r() { return board_registers<Unrom180Registers>(); }

void update_banks() {
  set_prg_pages(16384, 0x8000, 0);
  set_prg_pages(16384, 0xC000, r().prg_bank & 7u);
}

void write(uint16_t address, uint8_t value) {
  r().prg_bank = bus_conflict(address, value);
  mapper_update_banks();
}
}  // namespace

extern const Board unrom180_board = {.name = "UNROM (74HC08)", .write = write, .update_banks = update_banks};
