// Mapper 34, two unrelated boards. BNROM (34.2): a latch at $8000-$FFFF selects the 32 KiB program
// bank (all 8 bits, for the larger homebrew boards), with bus conflicts; 8 KiB of character RAM.
// NINA-001/002 (34.1, AVE): registers at $7FFD (32 KiB program bank), $7FFE and $7FFF (4 KiB pattern
// banks at $0000 and $1000), written through to the cartridge RAM beneath them; no bus conflicts.
// Without a submapper, more than 8 KiB of character ROM makes a NINA.
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"

namespace {
struct Mapper34Registers {
  uint8_t prg_bank;     // power-on 0 (undefined on both boards)
  uint8_t chr_bank[2];  // NINA: the 4 KiB banks at $0000 and $1000
};
Mapper34Registers& r() { return board_registers<Mapper34Registers>(); }

bool nina() {
  if (cartridge.submapper == 1 || cartridge.submapper == 2) return cartridge.submapper == 1;
  return cartridge.chr_units != 0 && cartridge.chr_rom.size() > 8192;
}

void update_banks() {
  if (!nina()) {
    set_prg_pages(32768, 0x8000, r().prg_bank);
    return;
  }
  set_prg_pages(32768, 0x8000, r().prg_bank & 3u);  // NINA-002: 128 KiB
  set_chr_pages(4096, 0x0000, r().chr_bank[0] & 0x0Fu);
  set_chr_pages(4096, 0x1000, r().chr_bank[1] & 0x0Fu);
}

void write(uint16_t address, uint8_t value) {
  if (nina()) return;
  r().prg_bank = bus_conflict(address, value);
  mapper_update_banks();
}

void low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3) return;
  bus.cartridge_ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
  if (!nina() || address < 0x7FFD) return;
  if (address == 0x7FFD) r().prg_bank = value;
  else r().chr_bank[address - 0x7FFE] = value;
  mapper_update_banks();
}
}  // namespace

extern const Board mapper34_board = {
    .name = "BNROM / NINA-001", .write = write, .update_banks = update_banks, .low_write = low_write};
