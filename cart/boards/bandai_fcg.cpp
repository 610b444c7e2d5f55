// Bandai's FCG family: the FCG-1/FCG-2 and the LZ93D50 (mappers 16, 153, 159). A 16 KiB program bank
// at $8000 (the last 16 KiB fixed at $C000), eight 1 KiB pattern banks, the nametable arrangement and
// a 16-bit interrupt counter on the CPU's clock, in sixteen registers (address AND $000F, mirrored).
// The FCG-1/2 (16.4) answers at $6000-$7FFF and its counter bytes go straight into the counter; the
// LZ93D50 (16.5, 153, 159) answers at $8000-$FFFF, its counter bytes go into a latch that the enable
// write ($A) copies into the counter, and register $D talks to a serial EEPROM: a 24C02 of 256 bytes
// (16.5 when the header gives NVRAM; 16 without a submapper when it has a battery) or a 24C01 of 128
// (159). A mapper 16 image without a submapper gets both chips, each in its own range.
// Mapper 153 (Famicom Jump II) has 8 KiB of character RAM and battery RAM at $6000 instead: bit 0 of
// the pattern registers is program ROM A18 (the 256 KiB half for both windows; any of the eight
// set sets it), and bit 5 of $D enables the RAM.
//
// The counter counts down once per CPU cycle while enabled, and the cycle on which it becomes 0
// raises the line, which stays up until the next write of $A; it keeps counting (0 wraps to $FFFF,
// the next 0 comes 65536 cycles later). Counting starts on the cycle after the enabling write, so a
// counter of N gives its interrupt N cycles after it. It is kept as a value and the cycle it had that
// value at; the line is raised ahead of time for the cycle on which it reaches 0.
//
// The EEPROM sits on two lines: SCL is bit 5 of $D, and SDA is bit 6 while bit 7 is clear; with bit
// 7 set the chip lets go of SDA and only the EEPROM drives it. Bit 4 of every read of $6000-$7FFF
// gives SDA as it stands (the other bits read 0). The EEPROM takes a START (SDA falling while SCL is
// high), bytes of eight bits sampled on SCL's rising edges, each followed by a ninth clock in which
// the receiver pulls SDA low to acknowledge, and a STOP (SDA rising while SCL is high). The 24C02
// takes the device byte 1010 000 R/W (its address pins tied low), then for a write the word address
// and data bytes, MSB first, written at once within 8-byte pages; reads send bytes from the current
// address on while the console acknowledges. The 24C01 has no device byte: the START is followed by
// a 7-bit word address and the R/W bit, LSB first, and data goes LSB first too, written within
// 4-byte pages. Writes take no time here (the chip never answers busy). Writes to $6000-$7FFF reach
// the cartridge RAM beneath as on boards without registers there; on an EEPROM board the CPU reads
// the EEPROM's line instead, so a game never sees them (our test cartridges report through them).
// The cells are the board's memory and the battery file.
#include <algorithm>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "core/machine.h"
#include "cpu/bus_access.h"
#include "cpu/cpu.h"

extern const Board fcg_board, lz93d50_board, bandai16_board, bandai153_board, bandai159_board;

namespace {
enum EepromState : uint8_t { IDLE, DEVICE, ADDRESS, WRITE, READ };

struct BandaiRegisters {
  uint64_t counted_at;  // the CPU cycle at which the counter held `counter`
  uint16_t counter;
  uint16_t latch;       // LZ93D50: the value $A copies into the counter
  uint8_t chr[8];       // $0-$7
  uint8_t prg;          // $8
  uint8_t arrangement;  // $9: 0 vertical, 1 horizontal, 2 one-screen page 0, 3 page 1
  uint8_t enabled;      // $A bit 0
  uint8_t control;      // $D: bit 5 SCL (153: RAM enable), bit 6 SDA, bit 7 SDA released
  // The EEPROM's side of the serial lines.
  uint8_t scl, sda;     // the lines as the console drove them last (1 = high)
  uint8_t state;        // EepromState; any other value is IDLE
  uint8_t bit;          // bits of the byte clocked so far; 8, then 9 once the acknowledge is clocked
  uint8_t shift;        // the bits received so far
  uint8_t address;      // the word address
  uint8_t next;         // the state after the acknowledge (READ: the console acknowledged)
  uint8_t output;       // what the EEPROM drives on SDA: 0 pulls it low
};
BandaiRegisters& r() { return board_registers<BandaiRegisters>(); }

constexpr uint8_t arrangement_pages[4][4] = {{0, 1, 0, 1}, {0, 0, 1, 1}, {0, 0, 0, 0}, {1, 1, 1, 1}};

bool is_153() { return board == &bandai153_board; }
bool is_24c01() { return board == &bandai159_board; }
// The EEPROM's size in bytes, 0 without one.
size_t eeprom_size() {
  if (is_24c01()) return 128;
  if ((board == &lz93d50_board || board == &bandai16_board) && cartridge.prg_nvram_size) return 256;
  return 0;
}

void power_on() {
  r().scl = r().sda = r().output = 1;
}

void update_banks() {
  if (is_153()) {
    uint8_t outer = 0;
    for (uint8_t bank : r().chr) outer |= bank & 1;
    set_prg_pages(16384, 0x8000, (outer << 4) | (r().prg & 0x0Fu));
    set_prg_pages(16384, 0xC000, (outer << 4) | 0x0Fu);
  } else {
    set_prg_pages(16384, 0x8000, r().prg & 0x0Fu);
    for (int k = 0; k < 8; ++k) set_chr_pages(1024, static_cast<uint32_t>(0x400 * k), r().chr[k]);
  }
  const uint8_t* pages = arrangement_pages[r().arrangement & 3];
  set_nametable_pages(pages[0], pages[1], pages[2], pages[3]);
}

// --- the interrupt counter ---

void catch_up() {
  const uint64_t now = cpu_cycles();
  if (r().enabled) r().counter = static_cast<uint16_t>(r().counter - (now - r().counted_at));
  r().counted_at = now;
}

// After a change of the counter: the line comes down when acknowledged (or when it was only raised
// ahead for a 0 not yet reached), and goes up ahead for the next 0 while counting.
void schedule(bool acknowledge) {
  const bool reached = cartridge_irq_line && cartridge_irq_since + CARTRIDGE_IRQ_DELAY <= 3 * cpu_cycles();
  if (reached && !acknowledge) return;
  lower_cartridge_irq();
  if (r().enabled) raise_cartridge_irq_on_cycle(r().counted_at + (r().counter ? r().counter : 0x10000u));
}

// --- the EEPROM ---

uint8_t eeprom_data_bit() {
  const uint8_t cell = cartridge.board_memory[r().address % eeprom_size()];
  return is_24c01() ? (cell >> r().bit) & 1 : (cell >> (7 - r().bit)) & 1;
}

// The eighth bit of a byte the EEPROM receives has come: it acknowledges or stops listening.
void eeprom_byte_received() {
  const uint8_t b = r().shift;
  bool acknowledge = true;
  switch (r().state) {
    case DEVICE:
      acknowledge = (b & 0xFE) == 0xA0;
      r().next = (b & 1) ? READ : ADDRESS;
      break;
    case ADDRESS:
      r().address = is_24c01() ? b & 0x7F : b;
      r().next = is_24c01() && (b & 0x80) ? READ : WRITE;
      break;
    default: {  // WRITE
      const size_t size = eeprom_size();
      uint8_t& cell = cartridge.board_memory[r().address % size];
      if (cell != b) cartridge_ram_changed = true;
      cell = b;
      const uint8_t page = is_24c01() ? 3 : 7;
      r().address = static_cast<uint8_t>(((r().address & ~page) | ((r().address + 1) & page)) % size);
      r().next = WRITE;
      break;
    }
  }
  if (acknowledge) r().output = 0;
  else r().state = IDLE;
}

// SCL rising: the receiver samples SDA. `bit` counts the bits clocked in or out (8: the
// acknowledge clock comes next, 9: it has come).
void eeprom_rising(uint8_t sda) {
  if (r().state == IDLE || r().state > READ || r().bit > 8) return;
  if (r().bit == 8) {
    if (r().state == READ) {
      r().next = sda ? IDLE : READ;  // the console's acknowledge
      r().bit = 9;
    }
    return;
  }
  if (r().state != READ)
    r().shift = is_24c01() ? static_cast<uint8_t>(r().shift >> 1 | sda << 7) : static_cast<uint8_t>(r().shift << 1 | sda);
  ++r().bit;
}

// SCL falling: the sender puts out its next bit.
void eeprom_falling() {
  if (r().state == IDLE || r().state > READ) return;
  if (r().state != READ) {
    if (r().bit == 8) {
      eeprom_byte_received();
      r().bit = 9;
    } else if (r().bit > 8) {  // the end of the acknowledge clock
      r().output = 1;
      r().bit = 0;
      r().shift = 0;
      r().state = r().next == READ ? READ : r().next == WRITE ? WRITE : ADDRESS;
      if (r().state == READ) r().output = eeprom_data_bit();
    }
    return;
  }
  if (r().bit < 8) {
    r().output = eeprom_data_bit();
  } else if (r().bit == 8) {
    r().output = 1;  // the console acknowledges or not
  } else {
    r().address = static_cast<uint8_t>((r().address + 1) % eeprom_size());
    r().bit = 0;
    if (r().next == READ) r().output = eeprom_data_bit();
    else r().state = IDLE;
  }
}

// A write of $D: the lines' new levels, and what the EEPROM makes of their change.
void eeprom_lines(uint8_t value) {
  const uint8_t scl = (value >> 5) & 1, sda = (value & 0x80) ? 1 : (value >> 6) & 1;
  if (r().scl && scl && sda != r().sda) {
    r().state = sda ? IDLE : is_24c01() ? ADDRESS : DEVICE;  // STOP, START
    r().bit = 0;
    r().shift = 0;
    r().output = 1;
  } else if (!r().scl && scl) {
    eeprom_rising(sda);
  } else if (r().scl && !scl) {
    eeprom_falling();
  }
  r().scl = scl;
  r().sda = sda;
}

uint8_t sda_line() { return static_cast<uint8_t>(r().output & ((r().control & 0x80) ? 1 : (r().control >> 6) & 1)); }

// --- the registers ---

// One register write; `latched` for the LZ93D50's counter bytes and enable.
void write_register(uint16_t address, uint8_t value, bool latched) {
  const int k = address & 0x0F;
  if (k < 8) {
    r().chr[k] = value;
  } else if (k == 8) {
    r().prg = value;
  } else if (k == 9) {
    r().arrangement = value & 3;
  } else if (k == 0x0A) {
    catch_up();
    r().enabled = value & 1;
    if (latched) r().counter = r().latch;
    schedule(true);
    return;
  } else if (k == 0x0B || k == 0x0C) {
    const int shift = k == 0x0B ? 0 : 8;
    auto set = [&](uint16_t& target) {
      target = static_cast<uint16_t>((target & ~(0xFF << shift)) | value << shift);
    };
    if (latched) {
      set(r().latch);
      return;
    }
    catch_up();
    set(r().counter);
    schedule(false);
    return;
  } else if (k == 0x0D && latched) {
    r().control = value;
    if (eeprom_size()) eeprom_lines(value);
    return;
  } else {
    return;
  }
  mapper_update_banks();
}

// LZ93D50 boards: the registers at $8000-$FFFF.
void lz93d50_write(uint16_t address, uint8_t value) { write_register(address, value, true); }

// $6000-$7FFF on the LZ93D50 boards: the EEPROM's line, or without one cartridge RAM.
uint8_t eeprom_low_read(uint16_t address) {
  if ((address >> 13) != 3) return 0;
  if (eeprom_size()) return static_cast<uint8_t>(sda_line() << 4);
  return bus.cartridge_ram[address & 0x1FFF];
}
// The same with the FCG's registers there too (mapper 16 without a submapper): no RAM to read.
uint8_t both_low_read(uint16_t address) {
  return (address >> 13) == 3 && eeprom_size() ? static_cast<uint8_t>(sda_line() << 4) : 0;
}

// FCG-1/2 boards: the registers at $6000-$7FFF, nothing to read there.
void fcg_low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) == 3) write_register(address, value, false);
}

// Mapper 153: battery RAM at $6000 while $D bit 5 is set.
uint8_t ram_low_read(uint16_t address) {
  if ((address >> 13) != 3 || !(r().control & 0x20)) return 0;
  return bus.cartridge_ram[address & 0x1FFF];
}
void ram_low_write(uint16_t address, uint8_t value) {
  if ((address >> 13) != 3 || !(r().control & 0x20)) return;
  bus.cartridge_ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
}

// The battery file: the EEPROM's cells, or the battery-backed cartridge RAM on a board without one.
size_t battery_size() {
  if (size_t size = eeprom_size()) return size;
  return cartridge_battery_size();
}
void battery_save(uint8_t* out) {
  if (eeprom_size()) std::copy_n(cartridge.board_memory.data(), eeprom_size(), out);
  else std::copy_n(bus.cartridge_ram, cartridge_battery_size(), out);
}
void battery_load(const uint8_t* in) {
  if (eeprom_size()) std::copy_n(in, eeprom_size(), cartridge.board_memory.data());
  else std::copy_n(in, cartridge_battery_size(), bus.cartridge_ram);
}
}  // namespace

extern const Board fcg_board = {.name = "Bandai FCG-1/2",
                                .update_banks = update_banks,
                                .low_read = read_nothing,
                                .low_write = fcg_low_write};
extern const Board lz93d50_board = {.name = "Bandai LZ93D50",
                                    .power_on = power_on,
                                    .write = lz93d50_write,
                                    .update_banks = update_banks,
                                    .low_read = eeprom_low_read,
                                    .memory_size = 256,
                                    .battery_size = battery_size,
                                    .battery_save = battery_save,
                                    .battery_load = battery_load};
// Mapper 16 without a submapper: both chips' registers, each in its own range.
extern const Board bandai16_board = {.name = "Bandai FCG / LZ93D50",
                                     .power_on = power_on,
                                     .write = lz93d50_write,
                                     .update_banks = update_banks,
                                     .low_read = both_low_read,
                                     .low_write = fcg_low_write,
                                     .memory_size = 256,
                                     .battery_size = battery_size,
                                     .battery_save = battery_save,
                                     .battery_load = battery_load};
extern const Board bandai153_board = {.name = "Bandai LZ93D50 with RAM (153)",
                                      .write = lz93d50_write,
                                      .update_banks = update_banks,
                                      .low_read = ram_low_read,
                                      .low_write = ram_low_write};
extern const Board bandai159_board = {.name = "Bandai LZ93D50 with 24C01",
                                      .power_on = power_on,
                                      .write = lz93d50_write,
                                      .update_banks = update_banks,
                                      .low_read = eeprom_low_read,
                                      .memory_size = 128,
                                      .battery_size = battery_size,
                                      .battery_save = battery_save,
                                      .battery_load = battery_load};
