// Action 53 (mapper 28, the InfiniteNESLives multicart CPLD): games of up to 256 KiB inside an outer
// program ROM of up to 8 MiB, with 32 KiB of character RAM in 8 KiB banks. A write to $5000-$5FFF
// selects a register by its bits 7 and 0; a write to $8000-$FFFF goes to the selected one (no bus
// conflicts):
// - $00 `...M ..BB`: the character RAM bank;
// - $01 `...M BBBB`: the game's (inner) program bank;
// - $80 `..SS PPMM`: game size 32/64/128/256 KiB (SS), program mode (PP: 0-1 32 KiB, 2 the outer
//   bank's first 16 KiB fixed at $8000, 3 its last 16 KiB fixed at $C000), arrangement (MM: one
//   screen low/high, vertical, horizontal);
// - $81: the outer bank, in 32 KiB.
// In the one-screen arrangements a write to $00 or $01 copies its bit 4 (M) to the page, as an
// AxROM game expects. Power-on (not documented): $81 = $FF, the rest 0, which shows the last
// 32 KiB, where the menu's vectors are.
#include "cart/banks.h"
#include "cart/board.h"
#include "core/bus.h"

namespace {
struct Action53Registers {
  uint8_t select;  // the last $5000-$5FFF write: bit 7 and bit 0 pick the register
  uint8_t regs[4];  // $00 pattern bank, $01 inner program bank, $80 mode, $81 outer bank
};
Action53Registers& r() { return board_registers<Action53Registers>(); }

constexpr uint32_t CHR_BANK = 0, INNER = 1, MODE = 2, OUTER = 3;

void power_on() { r().regs[OUTER] = 0xFF; }

void update_banks() {
  const Action53Registers& m = r();
  const uint32_t mode = m.regs[MODE], inner = m.regs[INNER];
  const uint32_t size_mask = (2u << ((mode >> 4) & 3)) - 1;  // 32, 64, 128, 256 KiB in 16 KiB units
  const uint32_t prg_mode = (mode >> 2) & 3;
  for (uint32_t a14 = 0; a14 < 2; ++a14) {
    const uint32_t outer = (uint32_t{m.regs[OUTER]} << 1) | a14;
    uint32_t bank;
    if (prg_mode >= 2 && a14 == (prg_mode & 1)) bank = outer;  // the fixed half of the outer bank
    else if (prg_mode >= 2) bank = (outer & ~size_mask) | (inner & size_mask);
    else bank = (outer & ~size_mask) | (((inner << 1) | a14) & size_mask);
    set_prg_pages(16384, 0x8000 + 0x4000 * a14, bank);
  }
  set_chr_pages(8192, 0x0000, m.regs[CHR_BANK] & 3u);
  switch (mode & 3) {
    case 0: set_nametable_pages(0, 0, 0, 0); break;
    case 1: set_nametable_pages(1, 1, 1, 1); break;
    case 2: set_nametable_pages(0, 1, 0, 1); break;
    default: set_nametable_pages(0, 0, 1, 1); break;
  }
}

void write(uint16_t, uint8_t value) {
  Action53Registers& m = r();
  const uint32_t reg = ((m.select >> 6) & 2u) | (m.select & 1u);
  m.regs[reg] = value;
  if (reg <= INNER && (m.regs[MODE] & 2) == 0)  // one screen: the page follows bit 4
    m.regs[MODE] = static_cast<uint8_t>((m.regs[MODE] & ~1u) | ((value >> 4) & 1u));
  mapper_update_banks();
}

// $5000-$5FFF select; the cartridge RAM at $6000-$7FFF as on any board.
void low_write(uint16_t address, uint8_t value) {
  if ((address & 0xF000) == 0x5000) {
    r().select = value;
  } else if ((address >> 13) == 3) {
    banks.cartridge_ram_slot[address & 0x1FFF] = value;
    cartridge_ram_changed = true;
  }
}
}  // namespace

extern const Board action53_board = {.name = "Action 53",
                                     .power_on = power_on,
                                     .write = write,
                                     .update_banks = update_banks,
                                     .low_write = low_write,
                                     .chr_ram_size = 32768};
