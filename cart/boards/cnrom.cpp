// CNROM (mapper 3): a latch at $8000-$FFFF selects the 8 KiB pattern bank (bits 0-1), with bus
// conflicts.
#include "cart/banks.h"
#include "cart/board.h"

namespace {
struct CnromRegisters {
  uint8_t written;   // until the first write the power-on arrangement stands
  uint8_t chr_bank;  // bits 0-1
};
CnromRegisters& r() { return board_registers<CnromRegisters>(); }

void update_banks() {
  if (r().written) set_chr_pages(8192, 0x0000, r().chr_bank & 3u);
}

void write(uint16_t address, uint8_t value) {
  r().chr_bank = bus_conflict(address, value) & 3;
  r().written = 1;
  mapper_update_banks();
}
}  // namespace

extern const Board cnrom_board = {.name = "CNROM", .write = write, .update_banks = update_banks};
