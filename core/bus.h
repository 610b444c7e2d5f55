// The CPU bus and the machine's clock: every read or write is one CPU cycle that first advances the
// PPU by three dots and the APU by one step, then decodes the address. Sprite DMA runs its 512 bus
// cycles inside the write to $4014 that starts it.
#pragma once
#include <cstdint>

#include "cpu/bus_access.h"

// Cartridge RAM comes in 8 KiB banks, the size of the window at $6000-$7FFF; the boards that bank
// it (SOROM, SXROM) have up to four.
constexpr uint32_t CARTRIDGE_RAM_BANK = 8192, CARTRIDGE_RAM_MAX = 4 * CARTRIDGE_RAM_BANK;

struct Bus {
  uint8_t work_ram[2048] = {};  // mirrored over $0000-$1FFF
  // $6000-$7FFF: the first 8 KiB, unless the board shows another bank there (banks.cartridge_ram_slot;
  // cartridge_ram_size() says how many the cartridge has).
  uint8_t cartridge_ram[CARTRIDGE_RAM_MAX] = {};
  uint64_t cycles = 0;          // CPU cycles since power-on (reads, writes and idle cycles)
};
extern Bus bus;

// Set by every CPU write to cartridge RAM; the host clears it when it has taken a copy for the
// battery save. Not part of the machine's state.
extern bool cartridge_ram_changed;

// cpu_read, cpu_write and system_tick (cpu/bus_access.h) are defined here.

// Fills work RAM with its power-on pattern: 00 00 00 00 FF FF FF FF, repeated.
void work_ram_power_on();
