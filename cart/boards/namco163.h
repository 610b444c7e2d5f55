// The Namco 129/163's register record and its interrupt counter in closed form and cycle by cycle
// (the second is the reference the first is tested against). Mapper 210 images without a
// submapper keep the same record, in case the board turns out to be a 163.
#pragma once
#include <cstdint>

#include "cart/board.h"

struct Namco163Registers {
  uint64_t counter_cycle;  // the CPU cycle at whose end the counter held `counter`
  uint16_t counter;        // 15 bits: $5000 the low 8, $5800 bits 0-6 the high 7
  uint8_t irq_enable;      // $5800 bit 7 (kept as 0 or 1)
  uint8_t irq_pending;     // the counter reached $7FFF counting; no $5000/$5800 write since
  uint8_t chr[8];          // $8000, $8800, ... $B800: pattern banks
  uint8_t nametable[4];    // $C000, $C800, $D000, $D800
  uint8_t prg[3];          // $E000 (bit 6: sound off), $E800 (bits 6-7: ROM for values $E0 and
                           // up in the pattern banks of $0000 / $1000), $F000
  uint8_t port;            // $F800: internal RAM address (bits 0-6), auto-increment (bit 7); the
                           // cartridge RAM's write protect
  uint8_t sound_slot;      // sound: cycles since the last channel update (15 to a slot)
  uint8_t sound_channel;   // the channel the next update takes, 0-7 for channels 1-8
  int8_t sound_output;     // (sample - 8) x volume of the last update, held on the output
};

// Brings the counter from its cycle to the end of CPU cycle `cycle`, at once.
void namco163_count_to(Namco163Registers& m, uint64_t cycle);
// The cycle in which the counter reaches $7FFF as things stand, or UINT64_MAX: never (pending
// already, disabled or stopped at $7FFF).
uint64_t namco163_irq_cycle(const Namco163Registers& m);
// One CPU cycle of the counter.
void namco163_count_one_cycle(Namco163Registers& m);

// The chip's 128 bytes of internal RAM (sound registers and waves; save data on some boards).
constexpr uint32_t NAMCO163_RAM_SIZE = 128;

// Why a record is refused (a counter value or cycle it cannot hold), or null.
const char* namco163_impossible();

extern const Board namco163_board;
