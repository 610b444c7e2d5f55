// UxROM (mapper 2): a latch at $8000-$FFFF selects the 16 KiB program bank at $8000; the last bank
// stays at $C000.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct UxromRegisters {
  uint8_t prg_bank;  // the whole byte last written
};
UxromRegisters& r() { return board_registers<UxromRegisters>(); }

void update_banks() { set_prg_pages(16384, 0x8000, r().prg_bank); }

void write(uint16_t, uint8_t value) {
  r().prg_bank = value;
  mapper_update_banks();
}
}  // namespace

extern const Board uxrom_board = {.name = "UxROM", .write = write, .update_banks = update_banks};
