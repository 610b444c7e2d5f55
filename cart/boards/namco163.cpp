// Namco 129 and 163 (mapper 19): three 8 KiB program banks ($8000, $A000, $C000; $E000 is the last),
// eight 1 KiB pattern banks and four nametable slots, each a register $800 bytes wide. A pattern
// bank value of $E0 or more shows nametable RAM page (value AND 1) instead of character ROM, unless
// $E800's bit 6 (for $0000-$0FFF) or bit 7 (for $1000-$1FFF) asks for ROM; a nametable value below
// $E0 shows that KiB of character ROM (read only), $E0 and up nametable RAM page (value AND 1).
// $F800 sets the internal RAM's address port and guards cartridge RAM: $6000-$7FFF takes writes
// only while its upper nibble is %0100, and not in the 2 KiB quarters whose bits 0-3 are set.
// $4800 reads and writes the internal RAM at that address, stepping it when bit 7 asks. The 163's
// sound (namco163_sound.cpp) keeps its channels in that RAM; $E000's bit 6 silences it, and the chip
// is in the mix only while the bit is clear. No bus conflicts; power-on all zero but $E000 bit 6:
// the chip is silent until a program writes the bit as 0. The submapper names the mixing resistor:
// 1 and 2 have no sound (the 129, or a 163 whose output is not wired), 4 and 5 the louder ones.
//
// The interrupt counter: 15 bits at $5000/$5800, readable, counting up once per CPU cycle while
// enabled ($5800 bit 7) and below $7FFF; reaching $7FFF it interrupts and stops. A write of $5000
// or $5800 lowers the line. It runs on the CPU's clock, so it is kept as a value and the cycle at
// whose end it had it: a register access in cycle w sees the counter after w's count, and a value N
// written with the counter enabled reaches $7FFF in cycle w + $7FFF - N.
//
// The battery keeps what the header says: the internal RAM (a battery without NVRAM in an NES 2.0
// header, or submapper 1), and the 8 KiB of cartridge RAM too when the header gives NVRAM or is
// iNES 1.0. The file holds the cartridge RAM first, then the 128 bytes.
#include <algorithm>
#include <cstdint>

#include "cart/banks.h"
#include "cart/board.h"
#include "apu/apu.h"
#include "cart/boards/namco163.h"
#include "cart/boards/namco163_sound.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "cpu/bus_access.h"
#include "cpu/cpu.h"

namespace {
Namco163Registers& r() { return board_registers<Namco163Registers>(); }

constexpr uint8_t SOUND_OFF = 0x40;  // $E000 bit 6

void power_on() {
  r().prg[0] = SOUND_OFF;  // the bank bits are 0
  r().sound_channel = 7;   // channel 8 takes the first update
}

bool sound_on() { return !(r().prg[0] & SOUND_OFF); }

constexpr uint16_t COUNTER_TOP = 0x7FFF;
constexpr uint8_t CIRAM_FROM = 0xE0;

void update_banks() {
  const Namco163Registers& m = r();
  for (uint32_t k = 0; k < 3; ++k) set_prg_pages(8192, 0x8000 + 0x2000 * k, m.prg[k] & 0x3Fu);
  set_prg_pages(8192, 0xE000, ~0u);
  for (uint32_t s = 0; s < 8; ++s) {
    const uint8_t v = m.chr[s];
    const uint8_t rom_bit = s < 4 ? 0x40 : 0x80;
    if (v >= CIRAM_FROM && !(m.prg[1] & rom_bit)) set_chr_nametable_page(s << 10, v & 1);
    else set_chr_pages(1024, s << 10, v);
  }
  for (int k = 0; k < 4; ++k) {
    const uint8_t v = m.nametable[k];
    if (v >= CIRAM_FROM) banks.nametable_slots[k] = banks.nametable_ram + 0x400 * (v & 1);
    else set_nametable_chr_page(k, v);
  }
}

void schedule_irq() {
  const Namco163Registers& m = r();
  if (m.irq_pending) return;  // raised for its cycle already
  lower_cartridge_irq();
  if (const uint64_t cycle = namco163_irq_cycle(m); cycle != UINT64_MAX) raise_cartridge_irq_on_cycle(cycle);
}

void write(uint16_t address, uint8_t value) {
  Namco163Registers& m = r();
  const uint32_t reg = (address >> 11) & 0x0F;  // $8000 = 0, $8800 = 1, ... $F800 = 15
  if (reg < 8) m.chr[reg] = value;
  else if (reg < 12) m.nametable[reg - 8] = value;
  else if (reg == 12 && ((m.prg[0] ^ value) & SOUND_OFF)) {
    apu_sync();  // the cycles before this write ran with the chip on or off as it was
    m.prg[0] = value;
    mapper_update_banks();  // the chip joins or leaves the mix
    apu_rebuild_derived();
    return;
  } else if (reg < 15) m.prg[reg - 12] = value;
  else m.port = value;
  if (reg < 15) mapper_update_banks();
}

bool has_cartridge_ram() {
  return !cartridge.nes2 || cartridge.prg_ram_size + cartridge.prg_nvram_size != 0;
}

// The internal RAM byte the port names; the port steps on when it asks to.
uint8_t& port_byte() {
  Namco163Registers& m = r();
  uint8_t& byte = cartridge.board_memory[m.port & (NAMCO163_RAM_SIZE - 1)];
  if (m.port & 0x80) m.port = static_cast<uint8_t>(0x80 | ((m.port + 1) & 0x7F));
  return byte;
}

uint8_t low_read(uint16_t address) {
  Namco163Registers& m = r();
  if (address >= 0x6000) return has_cartridge_ram() ? bus.cartridge_ram[address & 0x1FFF] : 0;
  if (address >= 0x5000) {
    namco163_count_to(m, cpu_cycles());
    return address >= 0x5800 ? static_cast<uint8_t>((m.irq_enable << 7) | ((m.counter >> 8) & 0x7F))
                             : static_cast<uint8_t>(m.counter);
  }
  if (address >= 0x4800) {
    apu_sync();  // the sound's phases in RAM brought up to this cycle
    return port_byte();
  }
  return 0;
}

void low_write(uint16_t address, uint8_t value) {
  Namco163Registers& m = r();
  if (address >= 0x6000) {
    const bool open = (m.port & 0xF0) == 0x40 && !((m.port >> ((address >> 11) & 3)) & 1);
    if (!open || !has_cartridge_ram()) return;
    bus.cartridge_ram[address & 0x1FFF] = value;
    cartridge_ram_changed = true;
  } else if (address >= 0x5000) {
    namco163_count_to(m, cpu_cycles());
    if (address >= 0x5800) {
      m.counter = static_cast<uint16_t>((m.counter & 0x00FF) | ((value & 0x7F) << 8));
      m.irq_enable = value >> 7;
    } else {
      m.counter = static_cast<uint16_t>((m.counter & 0x7F00) | value);
    }
    m.irq_pending = 0;
    schedule_irq();
  } else if (address >= 0x4800) {
    apu_sync();
    port_byte() = value;
    cartridge_ram_changed = true;  // the battery may keep it
    apu_rebuild_derived();
  }
}

}  // namespace

const char* namco163_impossible() {
  const Namco163Registers& m = r();
  if (m.counter_cycle > cpu_cycles() || m.counter > COUNTER_TOP || m.irq_enable > 1 || m.irq_pending > 1)
    return "Namco 163 interrupt counter";
  return nullptr;
}

namespace {

// The 8 KiB of cartridge RAM is kept when the header says it is battery-backed (iNES 1.0 implies it).
bool battery_keeps_cartridge_ram() {
  if (cartridge.submapper == 1) return false;
  return !cartridge.nes2 || cartridge.prg_nvram_size != 0;
}
size_t battery_size() { return (battery_keeps_cartridge_ram() ? CARTRIDGE_RAM_BANK : 0) + NAMCO163_RAM_SIZE; }
void battery_save(uint8_t* out) {
  if (battery_keeps_cartridge_ram()) out = std::copy_n(bus.cartridge_ram, CARTRIDGE_RAM_BANK, out);
  std::copy_n(cartridge.board_memory.data(), NAMCO163_RAM_SIZE, out);
}
void battery_load(const uint8_t* in) {
  if (battery_keeps_cartridge_ram()) {
    std::copy_n(in, CARTRIDGE_RAM_BANK, bus.cartridge_ram);
    in += CARTRIDGE_RAM_BANK;
  }
  std::copy_n(in, NAMCO163_RAM_SIZE, cartridge.board_memory.data());
}
}  // namespace

void namco163_count_to(Namco163Registers& m, uint64_t cycle) {
  if (cycle <= m.counter_cycle) return;
  const uint64_t elapsed = cycle - m.counter_cycle;
  m.counter_cycle = cycle;
  if (!m.irq_enable || m.counter >= COUNTER_TOP) return;
  if (elapsed >= uint64_t{COUNTER_TOP} - m.counter) {
    m.counter = COUNTER_TOP;
    m.irq_pending = 1;
  } else {
    m.counter = static_cast<uint16_t>(m.counter + elapsed);
  }
}

uint64_t namco163_irq_cycle(const Namco163Registers& m) {
  if (m.irq_pending || !m.irq_enable || m.counter >= COUNTER_TOP) return UINT64_MAX;
  return m.counter_cycle + (COUNTER_TOP - m.counter);
}

void namco163_count_one_cycle(Namco163Registers& m) {
  ++m.counter_cycle;
  if (!m.irq_enable || m.counter >= COUNTER_TOP) return;
  if (++m.counter == COUNTER_TOP) m.irq_pending = 1;
}

namespace {
constexpr Board namco163_family(const char* name, const CartridgeSound* sound) {
  return {.name = name,
          .power_on = power_on,
          .write = write,
          .update_banks = update_banks,
          .low_read = low_read,
          .low_write = low_write,
          .impossible = namco163_impossible,
          .memory_size = NAMCO163_RAM_SIZE,
          .battery_size = battery_size,
          .battery_save = battery_save,
          .battery_load = battery_load,
          .sound = sound,
          .sound_on = sound ? sound_on : nullptr};
}
}  // namespace

extern const Board namco163_board = namco163_family("Namco 129/163", &namco163_sound);
extern const Board namco163_quiet_board = namco163_family("Namco 129/163, no sound", nullptr);
extern const Board namco163_16_5db_board = namco163_family("Namco 163, sound +16.5 dB", &namco163_sound_16_5db);
extern const Board namco163_18db_board = namco163_family("Namco 163, sound +18 dB", &namco163_sound_18db);
