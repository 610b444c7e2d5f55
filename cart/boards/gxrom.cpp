// GxROM (mapper 66: GNROM, MHROM): a latch at $8000-$FFFF, `..PP ..CC`: the 32 KiB program bank
// and the 8 KiB pattern bank. The ROM drives the bus during the write (bus conflicts). Images
// larger than the boards' 128 KiB / 32 KiB take the latch's other bits as well (bits 7-4, 3-0).
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"

namespace {
struct GxromRegisters {
  uint8_t latch;  // power-on 0 (undefined on the boards)
};
GxromRegisters& r() { return board_registers<GxromRegisters>(); }

void update_banks() {
  const uint32_t v = r().latch;
  const bool big_prg = cartridge.prg_rom.size() > 128 * 1024, big_chr = cartridge.chr_rom.size() > 32 * 1024;
  set_prg_pages(32768, 0x8000, (v >> 4) & (big_prg ? 0x0Fu : 0x03u));
  set_chr_pages(8192, 0x0000, v & (big_chr ? 0x0Fu : 0x03u));
}

void write(uint16_t address, uint8_t value) {
  r().latch = bus_conflict(address, value);
  mapper_update_banks();
}
}  // namespace

extern const Board gxrom_board = {.name = "GxROM", .write = write, .update_banks = update_banks};
