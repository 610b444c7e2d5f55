// AxROM (mapper 7): a latch at $8000-$FFFF selects the 32 KiB program bank (bits 0-2) and the one
// nametable page all four nametables show (bit 4).
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct AxromRegisters {
  uint8_t written;         // until the first write the power-on arrangement stands
  uint8_t prg_bank;        // bits 0-2
  uint8_t nametable_page;  // 0 or 1
};
AxromRegisters& r() { return board_registers<AxromRegisters>(); }

void update_banks() {
  if (!r().written) return;
  set_prg_pages(32768, 0x8000, r().prg_bank & 7u);
  const int page = r().nametable_page & 1;
  set_nametable_pages(page, page, page, page);
}

void write(uint16_t, uint8_t value) {
  r().prg_bank = value & 7;
  r().nametable_page = (value >> 4) & 1;
  r().written = 1;
  mapper_update_banks();
}
}  // namespace

extern const Board axrom_board = {.name = "AxROM", .write = write, .update_banks = update_banks};
