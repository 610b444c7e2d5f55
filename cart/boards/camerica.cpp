// Camerica / Codemasters (mapper 71: BF9093, BF9097): $C000-$FFFF selects the 16 KiB program bank at
// $8000 (the last stays at $C000; four bits on the BF9093, three on the BF9097); the BF9097 (Fire Hawk, 71.1) also picks a one-screen page with
// bit 4 of writes to $8000-$9FFF. Without a submapper the header's arrangement stands until a write
// to $9000-$9FFF (other games write $8000 at start-up and have no such register). No bus conflicts.
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"

namespace {
struct CamericaRegisters {
  uint8_t prg_bank;     // power-on 0 (undefined on the boards)
  uint8_t one_screen;   // the page register has been written: one-screen arrangement
  uint8_t page;         // bit 4 of the last such write
};
CamericaRegisters& r() { return board_registers<CamericaRegisters>(); }

void update_banks() {
  set_prg_pages(16384, 0x8000, r().prg_bank & (cartridge.submapper == 1 ? 0x07u : 0x0Fu));
  if (r().one_screen) {
    const int page = (r().page >> 4) & 1;
    set_nametable_pages(page, page, page, page);
  }
}

void write(uint16_t address, uint8_t value) {
  if (address >= 0xC000) {
    r().prg_bank = value;
  } else if (address < 0xA000 && (cartridge.submapper == 1 || address >= 0x9000)) {
    r().page = value;
    r().one_screen = 1;
  } else {
    return;
  }
  mapper_update_banks();
}
}  // namespace

extern const Board camerica_board = {.name = "Camerica BF909x", .write = write, .update_banks = update_banks};
