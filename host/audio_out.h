// The console's sound on the computer's audio device: every full sample buffer is converted to the
// device's rate and queued in order; the emulation waits while two buffers are still unplayed, so
// the machine runs at the speed of the sound it makes, which is real time.
#pragma once
#include <string>

// Opens the default audio device, or where none opens a silent stand-in that consumes the sound at
// the same pace, and installs the sample sink. Called on the emulation thread before its first
// step; the device then belongs to that thread. Returns a short description of the output chosen.
std::string audio_out_open();
