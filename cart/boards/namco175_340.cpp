// Namco 175 and 340 (mapper 210), cut-down 163s: the same program and pattern bank registers
// ($E000/$E800/$F000 bits 0-5 for $8000/$A000/$C000, $E000 the last page; $8000-$B800 eight 1 KiB
// pattern banks of character ROM, no nametable RAM among them), and no counter, sound, internal RAM
// or nametables from character ROM. The 175 (210.1) has the header's fixed arrangement and may carry
// 2 KiB of RAM, repeated over $6000-$7FFF, that $C000's bit 0 switches on; the 340 (210.2) has no
// RAM and takes the arrangement from $E000's bits 6-7: one-screen lower, vertical, horizontal,
// one-screen upper (the order is the one the games' bugs suggest, unconfirmed).
//
// Without a submapper the board says what it is by what the game writes: a write to $4800-$5FFF,
// $C800-$DFFF or $F800-$FFFF makes it a 163 for good (the registers are kept as the 163 keeps
// them, so it carries on as one); else $E000 with bit 7 set makes it a 340, then a write to $C000
// a 175, then $E000 with bit 6 set a 340; until then a 175. (A 163 found this way keeps only its
// cartridge RAM in the battery file, not its internal RAM.)
#include <cstdint>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/namco163.h"
#include "cart/cartridge.h"
#include "core/bus.h"

namespace {
struct Namco210Registers {
  Namco163Registers chip;  // the registers as a 163 keeps them: chr, nametable[0] ($C000), prg
  uint8_t seen;            // without a submapper: the writes that tell the chip (SEEN_*)
};
Namco210Registers& r() { return board_registers<Namco210Registers>(); }

constexpr uint8_t SEEN_163 = 1, SEEN_E000_BIT7 = 2, SEEN_C000 = 4, SEEN_E000_BIT6 = 8;

enum Chip { N175, N340, N163 };

Chip chip() {
  if (cartridge.submapper == 1) return N175;
  if (cartridge.submapper == 2) return N340;
  const uint8_t seen = r().seen;
  if (seen & SEEN_163) return N163;
  if (seen & SEEN_E000_BIT7) return N340;
  if (seen & SEEN_C000) return N175;
  return (seen & SEEN_E000_BIT6) ? N340 : N175;
}

// Nametable pages by the 340's $E000 bits 6-7.
constexpr uint8_t arrangements[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 1, 1}};

void update_banks() {
  const Chip c = chip();
  if (c == N163) {
    namco163_board.update_banks();
    return;
  }
  const Namco163Registers& m = r().chip;
  for (uint32_t k = 0; k < 3; ++k) set_prg_pages(8192, 0x8000 + 0x2000 * k, m.prg[k] & 0x3Fu);
  set_prg_pages(8192, 0xE000, ~0u);
  for (uint32_t s = 0; s < 8; ++s) set_chr_pages(1024, s << 10, m.chr[s]);
  if (c == N340) {
    const uint8_t* pages = arrangements[m.prg[0] >> 6];
    set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
  }
}

void note(uint8_t what) {
  if (cartridge.submapper == 1 || cartridge.submapper == 2) return;
  r().seen = static_cast<uint8_t>(r().seen | what);
}

void write(uint16_t address, uint8_t value) {
  if (address >= 0xC800 && address < 0xE000) note(SEEN_163);
  else if (address >= 0xF800) note(SEEN_163);
  else if (address >= 0xC000 && address < 0xC800) note(SEEN_C000);
  else if (address >= 0xE000 && address < 0xE800) note(static_cast<uint8_t>(((value & 0x80) ? SEEN_E000_BIT7 : 0) |
                                                                             ((value & 0x40) ? SEEN_E000_BIT6 : 0)));
  namco163_board.write(address, value);  // stores the register and moves the banks
}

// The 175's RAM: 2 KiB at $6000, repeated, while $C000's bit 0 is set (and the header gives RAM).
bool n175_ram_on() {
  return (r().chip.nametable[0] & 1) && (!cartridge.nes2 || cartridge.prg_ram_size + cartridge.prg_nvram_size != 0);
}

uint8_t low_read(uint16_t address) {
  switch (chip()) {
    case N163: return namco163_board.low_read(address);
    case N175: return address >= 0x6000 && n175_ram_on() ? bus.cartridge_ram[address & 0x7FF] : 0;
    default: return 0;
  }
}

void low_write(uint16_t address, uint8_t value) {
  if (address >= 0x4800 && address < 0x6000) note(SEEN_163);
  switch (chip()) {
    case N163: namco163_board.low_write(address, value); return;
    case N175:
      if (address < 0x6000 || !n175_ram_on()) return;
      bus.cartridge_ram[address & 0x7FF] = value;
      cartridge_ram_changed = true;
      return;
    default: return;
  }
}

template <uint32_t MemorySize>
constexpr Board namco210_family(const char* name) {
  return {.name = name,
          .write = write,
          .update_banks = update_banks,
          .low_read = low_read,
          .low_write = low_write,
          .impossible = namco163_impossible,
          .memory_size = MemorySize};
}
}  // namespace

extern const Board namco175_board = namco210_family<0>("Namco 175");
extern const Board namco340_board = namco210_family<0>("Namco 340");
extern const Board namco210_board = namco210_family<NAMCO163_RAM_SIZE>("Namco 175/340");
