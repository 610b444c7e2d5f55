// Address decoding of the CPU bus: work RAM, PPU registers, APU and controller ports, sprite DMA,
// cartridge RAM and program ROM. There is no open bus on the CPU side: unmapped reads give 0.
#include "core/bus.h"

#include "apu/apu.h"
#include "cart/banks.h"
#include "cart/board.h"
#include "core/joypad.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

Bus bus;
bool cartridge_ram_changed = false;

uint64_t cpu_cycles() { return bus.cycles; }

void system_tick() {
  ppu_cycle();
  apu_tick();
  ++bus.cycles;
}

uint8_t cpu_read(uint16_t address) {
  system_tick();
  // Program ROM first: most reads are opcode and operand fetches from it.
  if (address >= 0x8000) {
    if (const uint8_t* slot = banks.prg_slots[address >> 13]) [[likely]]
      return slot[address & 0x1FFF];
    return board->rom_read(address);  // a flash chip at work
  }
  if (address < 0x2000) return bus.work_ram[address & 0x07FF];
  if (address < 0x4000) return ppu_access(address, 0, false);
  if (address >= 0x4018) return cartridge_low_read(address);
  switch (address) {
    case 0x4015: return apu_read_status();
    case 0x4016: return joypad_read(0);
    case 0x4017: return joypad_read(1);
    default: return 0;
  }
}

namespace {
// Copies a page of work RAM to sprite memory through the PPU's OAMDATA port: 256 reads and 256
// writes, each a full bus cycle. Only the low three bits of the page number count.
void sprite_dma(uint8_t page) {
  const uint16_t source = static_cast<uint16_t>((page & 7) << 8);
  for (uint16_t i = 0; i < 256; ++i) cpu_write(0x2004, cpu_read(source + i));
}
}  // namespace

void cpu_write(uint16_t address, uint8_t value) {
  if (reset_active) {  // the reset sequence's stack writes reach the bus as reads
    (void)cpu_read(address);
    return;
  }
  system_tick();
  if (address < 0x2000) {
    bus.work_ram[address & 0x07FF] = value;
  } else if (address < 0x4000) {
    ppu_access(address, value, true);
  } else if (address >= 0x8000) {
    ppu_catch_up();  // the fetches so far read the banks as they were
    (void)mapper_write(address, value, true);
    if (board->irq_deadline) ppu_plan_catch_up();  // the board's interrupt may now come sooner
  } else if (address >= 0x4018) {
    if (board->low_write) ppu_catch_up();  // a register there may move the banks
    (void)mapper_write(address, value, true);
    if (board->irq_deadline) ppu_plan_catch_up();
  } else {
    switch (address & 0x1F) {
      case 0x14: sprite_dma(value); break;
      case 0x16: joypad_strobe(value); break;
      default: apu_write(static_cast<uint8_t>(address & 0x1F), value); break;
    }
  }
}

void nmi_vector_fetched() {
  if (!board->nmi_vector_read) [[likely]] return;
  ppu_catch_up();  // what the board watches of the PPU's fetches happened before the vector read
  board->nmi_vector_read();
  if (board->irq_deadline) ppu_plan_catch_up();
}

void work_ram_power_on() {
  for (int i = 0; i < 2048; ++i) bus.work_ram[i] = (i & 4) ? 0xFF : 0x00;
}
