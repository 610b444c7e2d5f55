// Jaleco SS 88006 (mapper 18): three 8 KiB program banks at $8000, $A000 and $C000 (the last 8 KiB
// fixed at $E000), eight 1 KiB pattern banks, the nametable arrangement, an enable and a write
// enable for 8 KiB of RAM at $6000, and an interrupt counter on the CPU's clock. The chip sees only
// D0-D3, so every register is written a nibble at a time: the low nibble at the even address, the
// high one at the odd (address AND $F003 picks the register). No bus conflicts. The speech chip's
// control at $F003 (a µPD7756C on a few boards) is not modelled: writes there change nothing.
//
// The counter: while enabled it counts down once per CPU cycle in its low 16, 12, 8 or 4 bits (the
// bits above hold), and when that field wraps from 0 to all ones the line goes up and stays up until
// $F000 (reload all 16 bits from the reload nibbles) or $F001 (enable and width) is written. It is
// kept as a value and the CPU cycle it had that value at; the wrap's cycle follows in closed form,
// and the line is raised ahead of time for it. Counting starts on the cycle after the enabling
// write, so a field of R gives its interrupt R + 1 cycles after that write.
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "cpu/bus_access.h"
#include "cpu/cpu.h"

namespace {
struct Ss88006Registers {
  uint64_t counted_at;  // the CPU cycle at which the counter held `counter`
  uint16_t reload;      // $E000-$E003, four nibbles
  uint16_t counter;
  uint8_t prg[3];       // program banks at $8000, $A000, $C000: low nibble, then bits 5-4
  uint8_t chr[8];       // pattern banks at $0000 ... $1C00
  uint8_t ram;          // $9002: bit 0 RAM enable, bit 1 write enable
  uint8_t control;      // $F001: bit 0 counting, bits 3-1 the width
  uint8_t arrangement;  // $F002: 0 horizontal, 1 vertical, 2 one-screen page 0, 3 page 1
};
Ss88006Registers& r() { return board_registers<Ss88006Registers>(); }

constexpr uint8_t arrangement_pages[4][4] = {{0, 0, 1, 1}, {0, 1, 0, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}};

// The counting bits for a control value: 16 for width 0, 12 for 1, 8 for 2-3, 4 for 4-7.
uint16_t counting_mask(uint8_t control) {
  const uint8_t width = (control >> 1) & 7;
  return width == 0 ? 0xFFFF : width == 1 ? 0x0FFF : width < 4 ? 0x00FF : 0x000F;
}

void update_banks() {
  for (int k = 0; k < 3; ++k) set_prg_pages(8192, static_cast<uint32_t>(0x8000 + 0x2000 * k), r().prg[k] & 0x3Fu);
  set_prg_pages(8192, 0xE000, ~0u);
  for (int k = 0; k < 8; ++k) set_chr_pages(1024, static_cast<uint32_t>(0x400 * k), r().chr[k]);
  const uint8_t* pages = arrangement_pages[r().arrangement & 3];
  set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
}

// Brings the counter to the current CPU cycle.
void catch_up() {
  const uint64_t now = cpu_cycles();
  if (r().control & 1) {
    const uint16_t mask = counting_mask(r().control);
    const auto field = static_cast<uint16_t>((r().counter - (now - r().counted_at)) & mask);
    r().counter = static_cast<uint16_t>((r().counter & ~mask) | field);
  }
  r().counted_at = now;
}

// Acknowledges, and raises the line ahead for the next wrap of the field when counting.
void schedule() {
  lower_cartridge_irq();
  if (r().control & 1) raise_cartridge_irq_on_cycle(r().counted_at + (r().counter & counting_mask(r().control)) + 1u);
}

// Sets the low (`high` false) or high nibble of a byte.
void set_nibble(uint8_t& target, bool high, uint8_t value) {
  target = high ? static_cast<uint8_t>((target & 0x0F) | (value & 0x0F) << 4)
                : static_cast<uint8_t>((target & 0xF0) | (value & 0x0F));
}

void write(uint16_t address, uint8_t value) {
  address &= 0xF003;
  const int low_bits = address & 3;
  switch (address & 0xF000) {
    case 0x8000:
    case 0x9000: {
      const int k = ((address & 0x1000) >> 11) | (low_bits >> 1);  // $8000 0, $8002 1, $9000 2, $9002 3
      if (k == 3) {
        if (low_bits == 2) r().ram = value & 3;
        return;
      }
      uint8_t& bank = r().prg[k];
      bank = (low_bits & 1) ? static_cast<uint8_t>((bank & 0x0F) | (value & 3) << 4)
                            : static_cast<uint8_t>((bank & 0xF0) | (value & 0x0F));
      break;
    }
    case 0xA000:
    case 0xB000:
    case 0xC000:
    case 0xD000:
      set_nibble(r().chr[((address - 0xA000) >> 11) | (low_bits >> 1)], low_bits & 1, value);
      break;
    case 0xE000: {
      const int shift = 4 * low_bits;
      r().reload = static_cast<uint16_t>((r().reload & ~(0xF << shift)) | (value & 0xF) << shift);
      return;
    }
    default:  // $F000-$FFFF
      if (low_bits == 0) {
        catch_up();
        r().counter = r().reload;
        schedule();
      } else if (low_bits == 1) {
        catch_up();
        r().control = value & 0x0F;
        schedule();
      } else if (low_bits == 2) {
        r().arrangement = value & 3;
        break;
      }
      return;
  }
  mapper_update_banks();
}

uint8_t low_read(uint16_t address) {
  if ((address >> 13) != 3 || !(r().ram & 1)) return 0;
  return bus.cartridge_ram[address & 0x1FFF];
}

void low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3 || r().ram != 3) return;
  bus.cartridge_ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
}
}  // namespace

extern const Board ss88006_board = {.name = "Jaleco SS 88006",
                                    .write = write,
                                    .update_banks = update_banks,
                                    .low_read = low_read,
                                    .low_write = low_write};
