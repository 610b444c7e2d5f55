// Konami VRC2 and VRC4 (mappers 21, 22, 23 and 25). Each $x000 page from $8000 to $FFFF holds four
// registers, picked by the chip's two select pins, which each board wires to different CPU address
// lines (the submapper says which; without one, the candidate lines ORed):
//
//   board   A0  A1   mapper      board   A0  A1   mapper      unknown board (submapper 0)
//   VRC2a   A1  A0   22          VRC4a   A1  A2   21.1        21: A0 = A1|A6, A1 = A2|A7
//   VRC2b   A0  A1   23.3        VRC4b   A1  A0   25.1        23: A0 = A0|A2, A1 = A1|A3
//   VRC2c   A1  A0   25.3        VRC4c   A6  A7   21.2        25: A0 = A1|A3, A1 = A0|A2
//                                VRC4d   A3  A2   25.2
//                                VRC4e   A2  A3   23.2
//                                VRC4f   A0  A1   23.1
//
// Registers by page: $8000 program bank #0, $A000 program bank #1 (8 KiB each; 4 bits on the VRC2,
// 5 on the VRC4); $9000 mirroring (VRC2: bit 0, vertical or horizontal; VRC4, registers 0-1: two
// bits, adding one-screen lower and upper); VRC4 $9000 registers 2-3: bit 1 swaps the program windows
// $8000 and $C000 (bit 0, a RAM control, is ignored); $B000-$E000: eight 1 KiB pattern banks, a pair
// of registers each (registers 0/2 the low four bits of the banks for $0000/$0400 of that page's
// 2 KiB, registers 1/3 the high bits: four on the VRC2, five on the VRC4); VRC4 $F000: the VRC
// interrupt (vrc_irq.h) with the latch in two nibbles, control and acknowledge.
//
// Program windows: $8000 bank #0, $A000 bank #1, $C000 the second-last, $E000 the last; with the
// VRC4's swap bit, $8000 the second-last and $C000 bank #0. The VRC2a leaves pattern bank bit 0
// unconnected (its CHR A10 comes from bit 1: the bank number is halved). VRC2 boards without RAM
// have a 1-bit latch at $6000-$6FFF (a copy check reads it back). No bus conflicts. Power-on is
// undefined on the chips; here every register is 0 (vertical mirroring, banks 0). An unknown board
// of mapper 23 or 25 is a VRC4: all VRC2 games run on it.
#include <cstdint>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/vrc_irq.h"
#include "cart/cartridge.h"
#include "core/bus.h"

namespace {
struct VrcRegisters {
  uint8_t prg[2];       // program banks #0 ($8000) and #1 ($A000)
  uint8_t mirroring;    // $9000
  uint8_t swap;         // VRC4 $9002: bit 1
  uint16_t chr[8];      // the pattern banks of $0000, $0400, ... $1C00
  uint8_t latch_6000;   // VRC2 without RAM: bit 0
  uint8_t unused[3];
  VrcIrq irq;           // VRC4
};
VrcRegisters& r() { return board_registers<VrcRegisters>(); }

// A board: the address lines on the chip's two select pins (a mask each, ORed for unknown boards)
// and the chip.
struct Wiring {
  uint16_t a0, a1;
  bool vrc4;
  bool chr_halved;  // VRC2a
};

constexpr uint32_t SECOND_LAST = ~1u, LAST = ~0u;

template <const Wiring& W>
void update_banks() {
  const VrcRegisters& m = r();
  const uint32_t prg_mask = W.vrc4 ? 0x1F : 0x0F;
  const bool swapped = W.vrc4 && (m.swap & 2);
  set_prg_pages(8192, 0x8000, swapped ? SECOND_LAST : m.prg[0] & prg_mask);
  set_prg_pages(8192, 0xA000, m.prg[1] & prg_mask);
  set_prg_pages(8192, 0xC000, swapped ? m.prg[0] & prg_mask : SECOND_LAST);
  set_prg_pages(8192, 0xE000, LAST);
  for (uint32_t s = 0; s < 8; ++s) {
    const uint32_t bank = m.chr[s] & (W.vrc4 ? 0x1FFu : 0xFFu);
    set_chr_pages(1024, s << 10, W.chr_halved ? bank >> 1 : bank);
  }
  switch (m.mirroring & (W.vrc4 ? 3 : 1)) {
    case 0: set_nametable_pages(0, 1, 0, 1); break;
    case 1: set_nametable_pages(0, 0, 1, 1); break;
    case 2: set_nametable_pages(0, 0, 0, 0); break;
    default: set_nametable_pages(1, 1, 1, 1); break;
  }
}

template <const Wiring& W>
void write(uint16_t address, uint8_t value) {
  VrcRegisters& m = r();
  const int reg = ((address & W.a0) ? 1 : 0) | ((address & W.a1) ? 2 : 0);
  switch (address >> 12) {
    case 0x8: m.prg[0] = value; break;
    case 0x9:
      if (W.vrc4 && reg >= 2) m.swap = value;
      else m.mirroring = value;
      break;
    case 0xA: m.prg[1] = value; break;
    case 0xF:
      if (!W.vrc4) return;
      switch (reg) {
        case 0: vrc_irq_write_latch_low(m.irq, value); return;
        case 1: vrc_irq_write_latch_high(m.irq, value); return;
        case 2: vrc_irq_write_control(m.irq, value); return;
        default: vrc_irq_acknowledge(m.irq); return;
      }
    default: {  // $B000-$EFFF: the pattern banks, a nibble at a time
      uint16_t& bank = m.chr[((address >> 12) - 0xB) * 2 + (reg >> 1)];
      if (reg & 1) bank = static_cast<uint16_t>((bank & 0x0F) | ((value & (W.vrc4 ? 0x1F : 0x0F)) << 4));
      else bank = static_cast<uint16_t>((bank & 0x1F0) | (value & 0x0F));
      break;
    }
  }
  mapper_update_banks();
}

// VRC2 boards: cartridge RAM when the header gives some, else the latch at $6000-$6FFF.
bool has_ram() { return cartridge.prg_ram_size + cartridge.prg_nvram_size != 0; }

uint8_t vrc2_low_read(uint16_t address) {
  if ((address >> 13) != 3) return 0;
  if (has_ram()) return bus.cartridge_ram[address & 0x1FFF];
  return address < 0x7000 ? r().latch_6000 & 1 : 0;
}

void vrc2_low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3) return;
  if (has_ram()) {
    bus.cartridge_ram[address & 0x1FFF] = value;
    cartridge_ram_changed = true;
  } else if (address < 0x7000) {
    r().latch_6000 = value & 1;
  }
}

template <const Wiring& W>
constexpr Board vrc_board(const char* name) {
  return {.name = name,
          .write = write<W>,
          .update_banks = update_banks<W>,
          .low_read = W.vrc4 ? nullptr : vrc2_low_read,
          .low_write = W.vrc4 ? nullptr : vrc2_low_write};
}

constexpr uint16_t A0 = 1 << 0, A1 = 1 << 1, A2 = 1 << 2, A3 = 1 << 3, A6 = 1 << 6, A7 = 1 << 7;
constexpr Wiring vrc2a{A1, A0, false, true}, vrc2b{A0, A1, false, false}, vrc2c{A1, A0, false, false};
constexpr Wiring vrc4a{A1, A2, true, false}, vrc4b{A1, A0, true, false}, vrc4c{A6, A7, true, false},
    vrc4d{A3, A2, true, false}, vrc4e{A2, A3, true, false}, vrc4f{A0, A1, true, false};
constexpr Wiring vrc4_21{A1 | A6, A2 | A7, true, false}, vrc4_23{A0 | A2, A1 | A3, true, false},
    vrc4_25{A1 | A3, A0 | A2, true, false};
}  // namespace

extern const Board vrc2a_board = vrc_board<vrc2a>("VRC2a");
extern const Board vrc2b_board = vrc_board<vrc2b>("VRC2b");
extern const Board vrc2c_board = vrc_board<vrc2c>("VRC2c");
extern const Board vrc4a_board = vrc_board<vrc4a>("VRC4a");
extern const Board vrc4b_board = vrc_board<vrc4b>("VRC4b");
extern const Board vrc4c_board = vrc_board<vrc4c>("VRC4c");
extern const Board vrc4d_board = vrc_board<vrc4d>("VRC4d");
extern const Board vrc4e_board = vrc_board<vrc4e>("VRC4e");
extern const Board vrc4f_board = vrc_board<vrc4f>("VRC4f");
extern const Board vrc4_21_board = vrc_board<vrc4_21>("VRC4a/c");
extern const Board vrc4_23_board = vrc_board<vrc4_23>("VRC2b/VRC4e/f");
extern const Board vrc4_25_board = vrc_board<vrc4_25>("VRC2c/VRC4b/d");
