// The MMC3 family: TxROM (mapper 4, the Sharp MMC3; submapper 4 the NEC chip), HKROM (4.1, the MMC6
// with its 1 KiB of RAM), TKSROM/TLSROM (118: nametables picked by pattern bank bit 7), TQROM (119:
// pattern banks in ROM or RAM by bit 6) and the Namco 108 (206: the banking alone).
//
// Registers (address AND $E001): $8000 bank select, $8001 bank data, $A000 mirroring, $A001 RAM
// enable and protect, $C000 IRQ latch, $C001 IRQ reload, $E000 IRQ disable and acknowledge, $E001
// IRQ enable. The IRQ counter is clocked by rising edges of PPU A12 that come after A12 has been low
// for a while: the chip's filter wants three falling edges of M2 (one per CPU cycle), which a low
// stretch of 10 dots or more always spans and one of 7-9 dots spans or not by the phase of the CPU
// to the dots. Here a stretch counts from 10 dots. The shorter ones seen in rendering are not
// counted: 4 dots between fetches, and the 9 dots from the last background fetch of a line to the
// first of the next with the background at $1000 (there the scanline-timing test ROM sees one clock
// per line, not two).
#include <climits>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/mmc3.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

extern const Board mmc3_nec_board;

namespace {
Mmc3Registers& r() { return mmc3_registers(); }

enum Chip { SHARP, NEC, MMC6, TXSROM, TQROM, NAMCO108 };

constexpr uint32_t SECOND_LAST = ~1u, LAST = ~0u;

template <Chip C>
void power_on() {
  if (C != MMC6) r().ram_protect = 0x80;  // RAM enabled and writable
}

// The 1 KiB pattern bank register value of slot `s` (PPU $0000 + s KiB).
uint8_t chr_bank(const Mmc3Registers& m, uint32_t s, bool inverted) {
  const uint32_t a = (s << 10) ^ (inverted ? 0x1000u : 0u);
  if (a < 0x1000) return static_cast<uint8_t>((m.banks[a >> 11] & 0xFE) | ((a >> 10) & 1));
  return m.banks[2 + ((a >> 10) & 3)];
}

template <Chip C>
void update_banks() {
  const Mmc3Registers& m = r();
  const bool prg_mode = C != NAMCO108 && (m.bank_select & 0x40);
  const bool inverted = C != NAMCO108 && (m.bank_select & 0x80);
  const uint32_t prg_mask = C == NAMCO108 ? 0x0F : 0x3F;
  const uint32_t r6 = m.banks[6] & prg_mask, r7 = m.banks[7] & prg_mask;
  if (!(C == NAMCO108 && cartridge.submapper == 1)) {  // 206.1: 32 KiB wired straight
    set_prg_pages(8192, 0x8000, prg_mode ? SECOND_LAST : r6);
    set_prg_pages(8192, 0xA000, r7);
    set_prg_pages(8192, 0xC000, prg_mode ? r6 : SECOND_LAST);
    set_prg_pages(8192, 0xE000, LAST);
  }
  for (uint32_t s = 0; s < 8; ++s) {
    uint32_t bank = chr_bank(m, s, inverted);
    if (C == NAMCO108) bank &= 0x3F;  // 64 KiB
    if (C == TQROM && (bank & 0x40)) set_chr_ram_pages(1024, s << 10, bank & 7);
    else set_chr_pages(1024, s << 10, C == TQROM ? bank & 0x3F : bank);
  }
  if (cartridge.ctrlbyte & CTRL_FOUR_SCREEN) return;  // the board's own 4 KiB: the power-on arrangement
  if (C == TXSROM) {
    // CIRAM A10 is bank bit 7 of the register that maps the nametable address AND $0FFF.
    int pages[4];
    for (uint32_t q = 0; q < 4; ++q) pages[q] = (chr_bank(m, q, inverted) >> 7) & 1;
    set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
  } else if (C != NAMCO108 && m.mirroring_written) {
    if (m.mirroring & 1) set_nametable_pages(0, 0, 1, 1);
    else set_nametable_pages(0, 1, 0, 1);
  }
}

template <Chip C>
void write(uint16_t address, uint8_t value) {
  Mmc3Registers& m = r();
  const uint32_t reg = address & 0xE001u;
  if (C == NAMCO108 && reg > 0x8001) return;
  switch (reg) {
    case 0x8000:
      m.bank_select = value;
      if (C == MMC6 && !(value & 0x20)) m.ram_protect = 0;  // RAM off: $A001 held at 0
      break;
    case 0x8001: m.banks[m.bank_select & 7] = value; break;
    case 0xA000:
      m.mirroring = value & 1;
      m.mirroring_written = 1;
      break;
    case 0xA001:
      if (C != MMC6 || (m.bank_select & 0x20)) m.ram_protect = value;
      return;
    case 0xC000: m.irq_latch = value; return;
    case 0xC001:
      m.irq_counter = 0;
      m.irq_reload = 1;
      return;
    case 0xE000:
      m.irq_enabled = 0;
      cartridge_irq_line = false;
      return;
    default:  // $E001
      m.irq_enabled = 1;
      return;
  }
  mapper_update_banks();
}

// Cartridge RAM at $6000-$7FFF behind $A001. iNES 1.0 images keep it enabled and writable whatever
// $A001 says: the MMC6 games among them write values that would shut an MMC3's RAM off.
bool ram_readable() {
  if (!cartridge.nes2) return true;
  return (r().ram_protect & 0x80) && cartridge.prg_ram_size + cartridge.prg_nvram_size != 0;
}

uint8_t low_read(uint16_t address) {
  if ((address >> 13) != 3 || !ram_readable()) return 0;
  return bus.cartridge_ram[address & 0x1FFF];
}

void low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3 || !ram_readable() || (cartridge.nes2 && (r().ram_protect & 0x40))) return;
  bus.cartridge_ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
}

// The MMC6's 1 KiB at $7000-$7FFF (mirrored), kept in the first KiB of cartridge RAM, in two halves
// with a read and a write enable each. With one half readable the other reads 0.
bool mmc6_half_readable(uint16_t address) {
  const uint8_t p = (r().bank_select & 0x20) ? r().ram_protect : 0;
  return (address & 0x200) ? (p & 0x80) : (p & 0x20);
}
uint8_t mmc6_low_read(uint16_t address) {
  if (address < 0x7000 || !mmc6_half_readable(address)) return 0;
  return bus.cartridge_ram[address & 0x3FF];
}
void mmc6_low_write(uint16_t address, uint8_t value) {
  if (address < 0x7000 || !mmc6_half_readable(address)) return;
  const uint8_t p = r().ram_protect;
  if (!((address & 0x200) ? (p & 0x40) : (p & 0x10))) return;
  bus.cartridge_ram[address & 0x3FF] = value;
  cartridge_ram_changed = true;
}
}  // namespace

void mmc3_clock_counter(uint64_t time) {
  Mmc3Registers& m = r();
  const bool reloaded = m.irq_reload;
  bool decremented = false;
  if (m.irq_counter == 0 || m.irq_reload) {
    m.irq_counter = m.irq_latch;
    m.irq_reload = 0;
  } else {
    --m.irq_counter;
    decremented = true;
  }
  // The Sharp chip (and the MMC6) interrupts whenever the counter is 0 after a clock; the NEC chip
  // only when the clock brought it to 0.
  const bool nec = board == &mmc3_nec_board;
  if (m.irq_counter == 0 && m.irq_enabled && (!nec || decremented || reloaded)) raise_cartridge_irq(time);
}

namespace {

// The dots from the PPU's position to the n-th dot (n >= 1) at which rendering could clock the
// counter: the first pattern fetch of a group whose A12 can be 1 after a long low stretch. Per
// rendering line: dots 5 and 325 with the background at $1000; 261 with 8x8 sprites at $1000; every
// sprite slot (261, 269, ... 317) with 8x16 sprites. Lines 240-260 make no fetches, and the PPU
// catches up at their starts anyway. INT32_MAX: never before a CPU access.
int32_t dots_to_possible_clock(int32_t n) {
  if (!rendering_enabled() || ppu.scanline >= 240) return INT32_MAX;
  const uint8_t ctrl = ppuctrl();
  int32_t dots[10];
  int32_t k = 0;
  if (ctrl & CTRL_BACKGROUND_TABLE) dots[k++] = 5;
  if (ctrl & CTRL_SPRITE_8X16)
    for (int32_t slot = 0; slot < 8; ++slot) dots[k++] = 261 + 8 * slot;
  else if (ctrl & CTRL_SPRITE_TABLE)
    dots[k++] = 261;
  if (ctrl & CTRL_BACKGROUND_TABLE) dots[k++] = 325;
  if (k == 0) return INT32_MAX;
  // The current line: from the next dot to run.
  for (int32_t i = 0; i < k; ++i)
    if (dots[i] >= ppu.dot && --n == 0) return dots[i] - ppu.dot + 1;
  // A pre-render line may be a dot shorter than counted: the catch-up then comes a dot early.
  int32_t to_line = (ppu.scanline == -1 ? 340 : 341) - ppu.dot;  // dots to dot 0 of `line`
  int32_t line = ppu.scanline + 1;
  const int32_t whole_lines = (n - 1) / k;
  line += whole_lines;
  to_line += 341 * whole_lines;
  n -= whole_lines * k;
  if (line >= 240) return INT32_MAX;
  return to_line + dots[n - 1] + 1;
}

int32_t irq_deadline() {
  const Mmc3Registers& m = r();
  if (!m.irq_enabled || cartridge_irq_line) return INT32_MAX;  // only a CPU write changes the line
  int32_t clocks;
  if (m.irq_reload || m.irq_counter == 0) clocks = m.irq_latch == 0 ? 1 : m.irq_latch + 1;
  else clocks = m.irq_counter;
  return dots_to_possible_clock(clocks);
}

// The board of each chip: the Namco 108 has neither the counter nor the RAM gate.
template <Chip C>
constexpr Board family_board(const char* name) {
  const bool counter = C != NAMCO108;
  return {.name = name,
          .power_on = power_on<C>,
          .write = write<C>,
          .update_banks = update_banks<C>,
          .low_read = C == MMC6 ? mmc6_low_read : counter ? low_read : nullptr,
          .low_write = C == MMC6 ? mmc6_low_write : counter ? low_write : nullptr,
          .watch = counter ? PpuWatch::A12 : PpuWatch::NONE,
          .irq_deadline = counter ? irq_deadline : nullptr,
          .chr_ram_beside_rom = C == TQROM ? 8192u : 0u};
}
}  // namespace

extern const Board mmc3_board = family_board<SHARP>("TxROM (MMC3)");
extern const Board mmc3_nec_board = family_board<NEC>("TxROM (NEC MMC3)");
extern const Board mmc6_board = family_board<MMC6>("HKROM (MMC6)");
extern const Board txsrom_board = family_board<TXSROM>("TxSROM (MMC3)");
extern const Board tqrom_board = family_board<TQROM>("TQROM (MMC3)");
extern const Board namco108_board = family_board<NAMCO108>("Namco 108");
