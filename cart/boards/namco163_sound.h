// The Namco 163's wavetable sound, seen from outside the board (the tests hold the closed form that
// the APU's quiet runs use to the plain per-cycle stepping). It works on the loaded board's record
// and its 128 bytes of internal RAM.
#pragma once
#include <cstdint>

#include "apu/apu.h"

// The chip at its three loudnesses: +11 dB over the console's pulse (submappers 0 and 3), +16.5 dB
// (submapper 4) and +18 dB (submapper 5).
extern const CartridgeSound namco163_sound, namco163_sound_16_5db, namco163_sound_18db;

int32_t namco163_sound_tick();                // one CPU cycle stepped plainly; the level after it
void namco163_sound_advance(int32_t cycles);  // that many cycles in closed form
int32_t namco163_sound_quiet_cycles();        // cycles from now during which the level stays
int32_t namco163_sound_level();               // the level now (-120 to 105)
