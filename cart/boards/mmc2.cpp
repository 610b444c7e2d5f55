// MMC2 (mapper 9: PNROM, Punch-Out!!) and MMC4 (mapper 10: FJROM, FKROM, Fire Emblem). Registers
// by address AND $F000: $A000 program bank (bits 3-0: 8 KiB at $8000 on the MMC2, the last three
// 8 KiB pages fixed at $A000-$FFFF; 16 KiB at $8000 on the MMC4, the last 16 KiB fixed at $C000),
// $B000/$C000 the 4 KiB pattern bank at $0000 while latch 0 holds FD/FE, $D000/$E000 the same for
// $1000 and latch 1, $F000 bit 0 the arrangement (0 vertical, 1 horizontal). No interrupt, no bus
// conflicts; the MMC4's 8 KiB of RAM at $6000 has no enable (the cartridge RAM as it is).
//
// The latches follow the PPU's reads of the high plane of tiles $FD and $FE: latch 1 on
// $1FD8-$1FDF (FD) and $1FE8-$1FEF (FE), latch 0 on $0FD8/$0FE8 exactly on the MMC2 (row 0 of a
// left-table tile only) and on $0FD8-$0FDF/$0FE8-$0FEF on the MMC4. A latch switches after the
// read that sets it: that read, and so all of tile $FD or $FE, comes from the old bank, and the
// next fetch from the new one. Every read counts: background, sprites, the empty sprite slots
// and the CPU's through PPUDATA; writes do not.
//
// Power-on: registers and latches are undefined on the chips; here registers 0, both latches FE
// and the arrangement the header states.
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/mmc2.h"
#include "cart/cartridge.h"

extern const Board mmc4_board;

namespace {
struct Mmc2Registers {
  uint8_t prg_bank;    // $A000
  uint8_t chr_bank[4];  // $B000 (latch 0 FD), $C000 (latch 0 FE), $D000 (latch 1 FD), $E000 (latch 1 FE)
  uint8_t mirroring;   // $F000 bit 0: 0 vertical, 1 horizontal
  uint8_t latch[2];    // bit 0: 0 FD, 1 FE
};
Mmc2Registers& r() { return board_registers<Mmc2Registers>(); }

enum Chip { MMC2, MMC4 };

void power_on() {
  r().latch[0] = r().latch[1] = 1;
  r().mirroring = (cartridge.ctrlbyte & CTRL_VERTICAL_MIRRORING) ? 0 : 1;
}

// The 4 KiB pattern bank of half `h` (PPU $0000 or $1000) from its latch's register.
void map_pattern_half(uint32_t h) {
  const Mmc2Registers& m = r();
  set_chr_pages(4096, h << 12, m.chr_bank[2 * h + (m.latch[h] & 1)] & 0x1Fu);
}

template <Chip C>
void update_banks() {
  const Mmc2Registers& m = r();
  if (C == MMC2) {
    set_prg_pages(8192, 0x8000, m.prg_bank & 0x0Fu);
    for (uint32_t p = 0; p < 3; ++p) set_prg_pages(8192, 0xA000 + 0x2000 * p, ~2u + p);  // -3, -2, -1
  } else {
    set_prg_pages(16384, 0x8000, m.prg_bank & 0x0Fu);  // the last 16 KiB at $C000: power-on's
  }
  map_pattern_half(0);
  map_pattern_half(1);
  if (m.mirroring & 1) set_nametable_pages(0, 0, 1, 1);
  else set_nametable_pages(0, 1, 0, 1);
}

void write(uint16_t address, uint8_t value) {
  Mmc2Registers& m = r();
  switch (address & 0xF000) {
    case 0xA000: m.prg_bank = value; break;
    case 0xB000:
    case 0xC000:
    case 0xD000:
    case 0xE000: m.chr_bank[((address >> 12) - 0xB) & 3] = value; break;
    case 0xF000: m.mirroring = value; break;
    default: return;  // $8000-$9FFF: nothing
  }
  mapper_update_banks();
}

template <Chip C>
constexpr Board chip_board(const char* name) {
  return {.name = name,
          .power_on = power_on,
          .write = write,
          .update_banks = update_banks<C>,
          .watch = PpuWatch::LATCHES};
}
}  // namespace

void mmc2_latch_read(uint16_t address) {
  const uint32_t h = (address >> 12) & 1;
  const uint32_t tile = (address >> 4) & 0xFF;
  if (tile != 0xFD && tile != 0xFE) return;
  // The MMC2's latch 0 sees row 0 alone (the high plane's first byte, offset 8).
  if (h == 0 && board != &mmc4_board && (address & 0x0F) != 0x08) return;
  const uint8_t value = tile == 0xFE ? 1 : 0;
  Mmc2Registers& m = r();
  if (m.latch[h] == value) return;
  m.latch[h] = value;
  map_pattern_half(h);
}

extern const Board mmc2_board = chip_board<MMC2>("PxROM (MMC2)");
extern const Board mmc4_board = chip_board<MMC4>("FxROM (MMC4)");
