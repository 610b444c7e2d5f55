// Mapper register logic: the cartridge's answer to CPU writes at $8000-$FFFF for mappers 1 (serial
// shift register), 2 (16 KiB program bank), 3 (8 KiB character bank) and 7 (32 KiB bank and one-page
// nametables). Every other mapper number keeps the power-on arrangement.
#pragma once
#include <cstdint>

struct Mapper1 {
  uint8_t regs[4] = {12, 0, 0, 0};  // control, CHR bank 0, CHR bank 1, PRG bank
  uint8_t shift_count = 0;          // bits collected by the serial load
  uint8_t shift_value = 0;          // the bits themselves, first bit in bit 0
};
extern Mapper1 mapper1;

// The cartridge's side of a CPU access to $4018-$FFFF: with `write` set and an address of $8000 or
// above, runs the current mapper's register logic. Returns the byte mapped at the address.
uint8_t mapper_write(uint16_t address, uint8_t value, bool write);
