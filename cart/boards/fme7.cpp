// Sunsoft FME-7 (mapper 69; the 5A and 5B are the same banking): a command register at
// $8000-$9FFF picks which of sixteen internal registers the parameter register at $A000-$BFFF
// writes. Commands 0-7 are the 1 KiB pattern banks, 8 the $6000 window (ROM bank, RAM, or nothing),
// 9-B the 8 KiB program banks at $8000, $A000 and $C000 ($E000 is the last bank), C the nametable
// arrangement, D-F the interrupt counter: a 16-bit counter that counts down once per CPU cycle
// while enabled and interrupts when it wraps from $0000 to $FFFF. No bus conflicts.
//
// $C000-$FFFF are the 5B's sound ports (sunsoft5b.cpp). A mapper 69 header cannot say which of the
// three chips the cartridge has, so the 5B's sound joins the mix at the first write to its data
// port: an FME-7 game never writes there and plays the console's own stream, paying nothing for
// the chip. (The chip's counters start then; on the console their phase at that moment is unknown
// anyway.)
// The 5B at volume 12 is set 1.3 dB below a console pulse channel at volume 15 (see the gain below).
//
// The counter runs on the CPU's clock, so it is not stepped: the record holds its value and the
// CPU cycle at whose end it had that value, and the line is raised ahead for the cycle of the next
// wrap. A register write in cycle w comes after that cycle's count: the counter counts from w + 1 on,
// and a value N written with counting on wraps in cycle w + N + 1.
#include <cstdint>

#include "apu/apu.h"
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/fme7.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "cpu/bus_access.h"
#include "cpu/cpu.h"

namespace {
Fme7Registers& r() { return board_registers<Fme7Registers>(); }

constexpr uint8_t RAM_SELECT = 0x40, RAM_ENABLE = 0x80;  // command 8
constexpr uint8_t IRQ_ENABLE = 0x01, COUNT_ENABLE = 0x80;  // command D

// Nametable pages by command C: vertical, horizontal, one-screen lower, one-screen upper.
constexpr uint8_t arrangements[4][4] = {{0, 1, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}};

void update_banks() {
  const Fme7Registers& m = r();
  for (uint32_t s = 0; s < 8; ++s) set_chr_pages(1024, s << 10, m.chr[s]);
  set_prg_pages(8192, 0x6000, m.low_window & 0x3Fu);  // read only when the window shows ROM
  for (uint32_t k = 0; k < 3; ++k) set_prg_pages(8192, 0x8000 + 0x2000 * k, m.prg[k] & 0x3Fu);
  set_prg_pages(8192, 0xE000, ~0u);
  const uint8_t* pages = arrangements[m.mirroring & 3];
  set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
}

// The line as the record now says: high from the wrap that interrupted until command D; else low,
// and raised ahead for the next wrap when counting and interrupts are both on.
void schedule_irq() {
  const Fme7Registers& m = r();
  if (m.irq_pending) return;  // raised for its cycle already
  lower_cartridge_irq();
  if (const uint64_t cycle = fme7_irq_cycle(m); cycle != UINT64_MAX) raise_cartridge_irq_on_cycle(cycle);
}

void write(uint16_t address, uint8_t value) {
  Fme7Registers& m = r();
  if (address < 0xA000) {
    m.command = value & 0x0F;
    return;
  }
  if (address >= 0xC000) {
    if (address < 0xE000) {
      sunsoft5b_write(m.sound, address, value);
      return;
    }
    apu_sync();  // the cycles before this write ran with the old values
    const bool was_on = m.sound.written & 1;
    sunsoft5b_write(m.sound, address, value);
    if (!was_on && (m.sound.written & 1)) mapper_update_banks();  // the chip joins the mix
    apu_rebuild_derived();
    return;
  }
  const uint8_t c = m.command & 0x0F;
  if (c < 8) {
    m.chr[c] = value;
  } else if (c == 8) {
    m.low_window = value;
  } else if (c < 0x0C) {
    m.prg[c - 9] = value;
  } else if (c == 0x0C) {
    m.mirroring = value & 3;
  } else {
    fme7_count_to(m, cpu_cycles());
    if (c == 0x0D) {
      m.irq_control = value & (IRQ_ENABLE | COUNT_ENABLE);
      m.irq_pending = 0;  // any write acknowledges
    } else if (c == 0x0E) {
      m.counter = static_cast<uint16_t>((m.counter & 0xFF00) | value);
    } else {
      m.counter = static_cast<uint16_t>((m.counter & 0x00FF) | (value << 8));
    }
    schedule_irq();
    return;
  }
  mapper_update_banks();
}

// $6000-$7FFF: ROM when command 8's R bit is clear, the 8 KiB of RAM when R and E are set, and
// nothing (reads 0, the machine's unmapped value) when R is set without E, or on an NES 2.0 image
// without PRG RAM.
bool ram_on() {
  return (r().low_window & (RAM_SELECT | RAM_ENABLE)) == (RAM_SELECT | RAM_ENABLE) &&
         (!cartridge.nes2 || cartridge.prg_ram_size + cartridge.prg_nvram_size != 0);
}

uint8_t low_read(uint16_t address) {
  if ((address >> 13) != 3) return 0;
  if (!(r().low_window & RAM_SELECT)) return banks.prg_slots[3][address & 0x1FFF];
  return ram_on() ? bus.cartridge_ram[address & 0x1FFF] : 0;
}

void low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3 || !ram_on()) return;
  bus.cartridge_ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
}

int32_t sound_tick() { return sunsoft5b_tick(r().sound); }
int32_t sound_level() { return sunsoft5b_level(r().sound); }
int32_t sound_quiet_cycles() { return sunsoft5b_quiet_cycles(r().sound); }
void sound_advance(int32_t cycles) { sunsoft5b_advance(r().sound, cycles); }

// A square at volume 12 (envelope level 25) has the RMS of a console pulse at volume 15 times
// 10^(-1.3 / 20), the level the 5B is measured at (its amplifier compresses above volume 12). Both
// are squares of half duty, so their RMS are in the ratio of their swings, and the swing of level 25
// is its amplitude times the gain. Volume 15 then comes out 7.7 dB above the console's pulse.
constexpr float MINUS_1_3_DB = 0.8609937521846006f;  // 10^(-1.3 / 20)
const CartridgeSound sunsoft5b_sound{sound_tick, sound_level, sound_quiet_cycles, sound_advance,
                                     APU_PULSE_AT_15 * MINUS_1_3_DB / static_cast<float>(SUNSOFT5B_AMPLITUDE[25])};

bool sound_on() { return r().sound.written & 1; }

const char* impossible() {
  return r().counter_cycle > cpu_cycles() || r().irq_pending > 1 ? "FME-7 interrupt counter" : nullptr;
}
}  // namespace

void fme7_count_to(Fme7Registers& m, uint64_t cycle) {
  if (cycle <= m.counter_cycle) return;
  const uint64_t elapsed = cycle - m.counter_cycle;
  m.counter_cycle = cycle;
  if (!(m.irq_control & COUNT_ENABLE)) return;
  if ((m.irq_control & IRQ_ENABLE) && elapsed > m.counter) m.irq_pending = 1;
  m.counter = static_cast<uint16_t>(m.counter - elapsed);
}

uint64_t fme7_irq_cycle(const Fme7Registers& m) {
  if (m.irq_pending || (m.irq_control & (IRQ_ENABLE | COUNT_ENABLE)) != (IRQ_ENABLE | COUNT_ENABLE)) return UINT64_MAX;
  return m.counter_cycle + m.counter + 1;
}

void fme7_count_one_cycle(Fme7Registers& m) {
  ++m.counter_cycle;
  if (!(m.irq_control & COUNT_ENABLE)) return;
  if (m.counter == 0 && (m.irq_control & IRQ_ENABLE)) m.irq_pending = 1;
  --m.counter;
}

extern const Board fme7_board = {.name = "Sunsoft FME-7",
                                 .write = write,
                                 .update_banks = update_banks,
                                 .low_read = low_read,
                                 .low_write = low_write,
                                 .impossible = impossible,
                                 .sound = &sunsoft5b_sound,
                                 .sound_on = sound_on};
