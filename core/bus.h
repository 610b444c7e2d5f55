// The CPU bus and the machine's clock: every read or write is one CPU cycle that first advances the
// PPU by three dots and the APU by one step, then decodes the address. Sprite DMA runs its 512 bus
// cycles inside the write to $4014 that starts it.
#pragma once
#include <cstdint>

#include "cpu/bus_access.h"

struct Bus {
  uint8_t work_ram[2048] = {};       // mirrored over $0000-$1FFF
  uint8_t cartridge_ram[8192] = {};  // $6000-$7FFF
  uint64_t cycles = 0;               // CPU cycles since power-on (reads, writes and idle cycles)
};
extern Bus bus;

// Set by every CPU write to cartridge RAM; the host clears it when it has taken a copy for the
// battery save. Not part of the machine's state.
extern bool cartridge_ram_changed;

// cpu_read, cpu_write and system_tick (cpu/bus_access.h) are defined here.

// Fills work RAM with its power-on pattern: 00 00 00 00 FF FF FF FF, repeated.
void work_ram_power_on();
