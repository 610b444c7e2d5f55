// UNROM 512 (mapper 30: RetroUSB, InfiniteNESLives, Broke Studio). One latch MCCPPPPP: the 16 KiB
// program bank at $8000 (PPPPP; $C000 keeps the last), the 8 KiB character RAM bank (CC; 32 KiB of
// it for iNES 1.0 images) and, where the board is wired for it, the one-screen page (M). The
// nametable wiring comes from header bits 6.3 and 6.0: horizontal, vertical, one-screen by M, or
// four screens held in the character RAM (InfiniteNESLives). Submapper 3 makes M choose vertical (1)
// or horizontal (0) instead.
//
// The board comes in two wirings. The plain one takes the latch from any write to $8000-$FFFF, and
// the ROM drives the bus too (bus conflicts: submapper 2, and 0 without the battery bit). The
// self-flashing one (the battery bit set, submapper 2 aside) holds the program in an SST39SF040-family
// flash chip: $C000-$FFFF writes the latch, $8000-$BFFF writes go to the chip, which takes command
// sequences at flash address (PPPPP << 14) | (address & $3FFF) (only A14-A0 decoded for the commands):
// byte program, 4 KiB sector erase, chip erase, software identification. While a program or erase
// runs, the whole chip (fixed bank too) answers every read with status: DQ7 the complement of the
// programmed bit (0 while erasing), DQ6 toggling read after read; writes to it are ignored. The
// operation's end is a CPU cycle kept in the record, so nothing ticks: reads compare cpu_cycles().
//
// Undocumented, chosen here: the latch powers on as 0; a status read gives 0 in DQ5-DQ0, and DQ6 reads
// 1 first after the operation starts; the chip's times are the datasheet's typical ones.
//
// A flashing cartridge keeps its rewritten flash in its battery file (see battery_save below); the
// flash survives machine_power_on as it survives a power cycle (loading the image starts afresh).
#include <algorithm>
#include <cstring>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "cpu/bus_access.h"

namespace {
struct Unrom512Registers {
  uint64_t busy_until;   // the CPU cycle at which the chip's program or erase ends
  uint8_t latch;         // MCCPPPPP; power-on 0 (undefined on the board)
  uint8_t step;          // the command cycles seen so far (Step)
  uint8_t software_id;   // 1: reads give the chip's identification bytes
  uint8_t toggle;        // bit 6: DQ6 as the next status read gives it
  uint8_t data_polling;  // bit 7: DQ7 while the chip is busy
};
Unrom512Registers& r() { return board_registers<Unrom512Registers>(); }

// How far a command sequence has got: the flash address:data cycles matched so far.
enum Step : uint8_t {
  READY,        // none
  UNLOCKED1,    // 5555:AA
  UNLOCKED2,    // 5555:AA 2AAA:55
  PROGRAM,      // ... 5555:A0: the next write is the byte to program
  ERASE,        // ... 5555:80
  ERASE1,       // ... 5555:80 5555:AA
  ERASE2,       // ... 5555:80 5555:AA 2AAA:55: next the sector (30) or the chip (5555:10)
  STEP_COUNT
};

// The datasheet's typical times at the NTSC CPU clock (1.789773 MHz): program 14 us, sector erase
// 18 ms, chip erase 70 ms.
constexpr uint64_t PROGRAM_CYCLES = 25, SECTOR_ERASE_CYCLES = 32216, CHIP_ERASE_CYCLES = 125284;
constexpr uint32_t SECTOR = 4096;
constexpr uint32_t FLASH_REACH = 32 * 16384;  // what the latch's five bank bits address
constexpr uint8_t MANUFACTURER_ID = 0xBF;

bool flashing() { return (cartridge.ctrlbyte & CTRL_BATTERY) && cartridge.submapper != 2; }
bool bus_conflicts() { return cartridge.submapper == 2 || (cartridge.submapper == 0 && !flashing()); }
bool busy() { return cpu_cycles() < r().busy_until; }
// The bytes of the flash the latch reaches.
uint32_t flash_size() { return static_cast<uint32_t>(std::min<size_t>(cartridge.prg_rom.size(), FLASH_REACH)); }
// SST39SF010A, 020A and 040 by the size of the program.
uint8_t device_id() { return flash_size() <= 131072 ? 0xB5 : flash_size() <= 262144 ? 0xB6 : 0xB7; }

void update_banks() {
  const Unrom512Registers& f = r();
  set_prg_pages(16384, 0x8000, f.latch & 0x1Fu);
  set_chr_pages(8192, 0x0000, (f.latch >> 5) & 3u);
  const bool m = f.latch & 0x80;
  if (cartridge.submapper == 3) {
    if (m) set_nametable_pages(0, 1, 0, 1);
    else set_nametable_pages(0, 0, 1, 1);
  } else if ((cartridge.ctrlbyte & CTRL_FOUR_SCREEN) && (cartridge.ctrlbyte & CTRL_VERTICAL_MIRRORING)) {
    // PPU A13 forces both bank lines high: $2000-$2FFF is the first 4 KiB of the last 8 KiB bank.
    std::vector<uint8_t>& chr = cartridge.chr_rom;
    for (uint32_t k = 0; k < 4; ++k) banks.nametable_slots[k] = chr.data() + (0x6000 + 0x400 * k) % chr.size();
  } else if (cartridge.ctrlbyte & CTRL_FOUR_SCREEN) {
    set_nametable_pages(m, m, m, m);
  }
  // The chip answers by itself (status, identification): reads go to rom_read.
  if (flashing() && (f.software_id || busy()))
    for (int s = 4; s < 8; ++s) banks.prg_slots[s] = nullptr;
}

void start(uint64_t cycles, uint8_t dq7) {
  Unrom512Registers& f = r();
  f.busy_until = cpu_cycles() + cycles;
  f.data_polling = dq7 & 0x80;
  f.toggle = 0x40;
  cartridge_ram_changed = true;
}

void erase(uint32_t from, uint32_t size) {
  std::memset(cartridge.prg_rom.data() + from, 0xFF, size);
  start(size == SECTOR ? SECTOR_ERASE_CYCLES : CHIP_ERASE_CYCLES, 0);
}

// A write of $8000-$BFFF: one bus cycle of a command for the chip.
void flash_write(uint16_t address, uint8_t value) {
  Unrom512Registers& f = r();
  if (busy()) return;
  const uint32_t flash = ((uint32_t{f.latch} & 0x1F) << 14 | (address & 0x3FFFu)) % flash_size();
  const uint32_t command = ((uint32_t{f.latch} & 1) << 14 | (address & 0x3FFFu));
  const bool at5555 = command == 0x5555, at2AAA = command == 0x2AAA;
  const uint8_t step = f.step;
  f.step = READY;
  switch (step) {
    case READY:
      if (at5555 && value == 0xAA) f.step = UNLOCKED1;
      break;
    case UNLOCKED1:
    case ERASE1:
      if (at2AAA && value == 0x55) f.step = step == UNLOCKED1 ? UNLOCKED2 : ERASE2;
      break;
    case UNLOCKED2:
      if (!at5555) break;
      if (value == 0xA0) f.step = PROGRAM;
      else if (value == 0x80) f.step = ERASE;
      else if (value == 0x90) f.software_id = 1;
      break;
    case PROGRAM:
      cartridge.prg_rom[flash] &= value;  // programming only clears bits
      start(PROGRAM_CYCLES, static_cast<uint8_t>(~value));
      break;
    case ERASE:
      if (at5555 && value == 0xAA) f.step = ERASE1;
      break;
    case ERASE2:
      if (value == 0x30) erase(flash & ~(SECTOR - 1), SECTOR);
      else if (at5555 && value == 0x10) erase(0, flash_size());
      break;
    default: break;
  }
  // F0 outside a sequence (alone, or as its third cycle) leaves identification: array reads again.
  if (f.step == READY && value == 0xF0 && step != PROGRAM) f.software_id = 0;
  mapper_update_banks();
}

void write(uint16_t address, uint8_t value) {
  if (flashing()) {
    if (address < 0xC000) {
      flash_write(address, value);
      return;
    }
    r().latch = value;  // the chip's output is off during writes: no conflict
  } else {
    r().latch = bus_conflicts() ? bus_conflict(address, value) : value;
  }
  mapper_update_banks();
}

// A read of $8000-$FFFF while the chip answers by itself.
uint8_t rom_read(uint16_t address) {
  Unrom512Registers& f = r();
  if (busy()) {
    const uint8_t status = static_cast<uint8_t>((f.data_polling & 0x80) | (f.toggle & 0x40));
    f.toggle ^= 0x40;
    return status;
  }
  if (f.software_id) return address & 1 ? device_id() : MANUFACTURER_ID;
  mapper_update_banks();  // the operation is over: the array again
  return banks.prg_slots[address >> 13][address & 0x1FFF];
}

// RAM at $6000 only as the header gives it (iNES 1.0 always does); the battery never keeps it.
void low_write(uint16_t address, uint8_t value) {
  if (address >= 0x6000 && cartridge.prg_ram_size + cartridge.prg_nvram_size != 0)
    bus.cartridge_ram[address & 0x1FFF] = value;
}

const char* impossible() {
  const Unrom512Registers& f = r();
  if (f.step >= STEP_COUNT || f.software_id > 1) return "flash command";
  if (f.busy_until > cpu_cycles() + CHIP_ERASE_CYCLES) return "flash operation";
  return nullptr;
}

// The battery file: one byte per 4 KiB sector of the flash (1 where it differs from the image),
// then the whole flash as the game left it; loading takes only the marked sectors, so that a new
// version of the image keeps its own program around an old save.
size_t battery_size() { return flashing() ? flash_size() + flash_size() / SECTOR : 0; }

// The program ROM as the image holds it, taken at the first power-on of the loaded cartridge.
void power_on() {
  if (flashing() && cartridge.prg_rom_image.empty()) cartridge.prg_rom_image = cartridge.prg_rom;
}

void battery_save(uint8_t* out) {
  const uint32_t size = flash_size(), sectors = size / SECTOR;
  const uint8_t* flash = cartridge.prg_rom.data();
  const uint8_t* image = cartridge.prg_rom_image.size() >= size ? cartridge.prg_rom_image.data() : nullptr;
  for (uint32_t s = 0; s < sectors; ++s)
    out[s] = !image || std::memcmp(flash + s * SECTOR, image + s * SECTOR, SECTOR) != 0;
  std::memcpy(out + sectors, flash, size);
}

void battery_load(const uint8_t* in) {
  const uint32_t size = flash_size(), sectors = size / SECTOR;
  for (uint32_t s = 0; s < sectors; ++s)
    if (in[s]) std::memcpy(cartridge.prg_rom.data() + s * SECTOR, in + sectors + s * SECTOR, SECTOR);
}
}  // namespace

extern const Board unrom512_board = {.name = "UNROM 512",
                                     .power_on = power_on,
                                     .write = write,
                                     .update_banks = update_banks,
                                     .low_write = low_write,
                                     .rom_read = rom_read,
                                     .impossible = impossible,
                                     .chr_ram_size = 32768,
                                     .program_rom_written = flashing,
                                     .battery_size = battery_size,
                                     .battery_save = battery_save,
                                     .battery_load = battery_load};
