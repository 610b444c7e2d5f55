// The VRC6's sound channels, seen from outside the board (the tests hold the closed form that the
// APU's quiet runs use to the plain per-cycle stepping). They work on the loaded board's record.
#pragma once
#include <cstdint>

int32_t vrc6_sound_tick();                 // one CPU cycle stepped plainly; the level after it
void vrc6_sound_advance(int32_t cycles);   // that many cycles in closed form
int32_t vrc6_sound_quiet_cycles();         // cycles from now during which the level stays
int32_t vrc6_sound_level();                // the level now (0-61)
