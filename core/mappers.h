// Mapper register logic: the cartridge's answer to CPU writes at $8000-$FFFF for mappers 1 (serial
// shift register), 2 (16 KiB program bank), 3 (8 KiB character bank) and 7 (32 KiB bank and one-page
// nametables). Every other mapper number keeps the power-on arrangement.
#pragma once
#include <cstdint>

// The registers of the cartridge's bank-switching hardware. The bank map's pointer slots are never
// part of it: mapper_update_banks derives every slot from these values.
struct Mapper {
  bool written = false;                 // a register has been written since power-on; until then
                                        // the power-on arrangement stands
  // Mapper 1.
  uint8_t regs[4] = {12, 0, 0, 0};      // control, CHR bank 0, CHR bank 1, PRG bank
  uint8_t shift_count = 0;              // bits collected by the serial load, 0-4
  uint8_t shift_value = 0;              // the bits themselves, first bit in bit 0
  // Mappers 2, 3 and 7: the value each board latched at its last write.
  uint8_t prg_bank = 0;                 // 2: 16 KiB bank at $8000; 7: 32 KiB bank at $8000 (bits 0-2)
  uint8_t chr_bank = 0;                 // 3: 8 KiB pattern bank (bits 0-1)
  uint8_t nametable_page = 0;           // 7: the one page all four nametables show
};
extern Mapper mapper;

// The cartridge's side of a CPU access to $4018-$FFFF: with `write` set and an address of $8000 or
// above, runs the current mapper's register logic. Returns the byte mapped at the address.
uint8_t mapper_write(uint16_t address, uint8_t value, bool write);

// Points every slot of the bank map where the header and the mapper's registers say: the power-on
// arrangement, then whatever the registers written since have changed.
void mapper_update_banks();
