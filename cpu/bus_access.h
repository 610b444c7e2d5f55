// The CPU's side of the bus: the three kinds of cycle an instruction is made of. The machine core
// implements them (the address decoding and the clock of the other chips behind them).
#pragma once
#include <cstdint>

uint8_t cpu_read(uint16_t address);
void cpu_write(uint16_t address, uint8_t value);
// A CPU cycle without a bus access.
void system_tick();
// CPU cycles since power-on.
uint64_t cpu_cycles();
// The interrupt sequence of an NMI has just read its vector ($FFFA-$FFFB) through cpu_read; a board
// may watch that fetch.
void nmi_vector_fetched();
