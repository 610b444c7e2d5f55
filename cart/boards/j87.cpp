// J87 (mapper 87; Jaleco, Konami, Taito) and its dumps with the bits in order (mapper 101): a latch
// at $6000-$7FFF selects the 8 KiB pattern bank; on 87 bit 0 is CHR A14 and bit 1 CHR A13. No
// cartridge RAM (the latch is there), no bus conflicts.
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"

namespace {
struct J87Registers {
  uint8_t latch;  // power-on 0 (undefined on the boards)
};
J87Registers& r() { return board_registers<J87Registers>(); }

void update_banks() {
  const uint32_t v = r().latch;
  set_chr_pages(8192, 0x0000, cartridge.mapper_number == 87 ? ((v & 1) << 1) | ((v >> 1) & 1) : v & 3u);
}

void low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3) return;
  r().latch = value;
  mapper_update_banks();
}
}  // namespace

extern const Board j87_board = {.name = "J87",
                                .update_banks = update_banks,
                                .low_read = read_nothing,
                                .low_write = low_write};
