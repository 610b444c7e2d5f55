// The console's sound on the computer's audio device, a few tens of milliseconds behind the
// emulation: the newest samples are converted to the device's rate and queued every few
// milliseconds of console time, and the emulation runs at real speed with the device queue held
// near a small target.
#pragma once
#include <string>

// Each platform brings its device (host/sdl/audio_out.cpp with SDL, host/win32/audio_out.cpp with
// waveOut); the pacing, the conversion and the reports are the shared ones of host/paced_sound.

// Opens the default audio device, or where none opens a silent stand-in that consumes the sound at
// the same pace, and installs the sample sink and the pace hook. Called on the emulation thread
// before its first step; the device then belongs to that thread. NES_DEBUG prints a report once a
// second (speed, sound latency, queue level, rate adjustment, underruns); NES_RATE_LOG=FILE writes
// every change of the rate adjustment as "CONSOLE_SAMPLE ADJUSTMENT" lines, for the sound tests.
// Returns a short description of the output chosen. Defined by the platform layer.
std::string audio_out_open();

// The program's own stops and jumps of the sound ramp over a few milliseconds instead of cutting
// it, and none leaves a gap behind. Defined in host/paced_sound.cpp, the same on every platform.
//
// After the machine's state was replaced or reset (a loaded save state, a rewound frame, another
// image, the reset button): the sound goes on from where the stream now stands, and what the
// buffers held before is not played. While playing, the old sound falls to 0 and the new one rises
// from it.
void audio_out_follow_stream();
// The sound stops (a pause, a rewind): what was made so far plays out and falls to 0. It goes on
// by itself with the next sound the game makes, rising from 0 once the device's queue is full.
void audio_out_stop();
// The end of the program: the sound stops as above, and this returns once the device has played
// what it was given (or after a quarter of a second).
void audio_out_finish();
// Fast-forward: while on, the sound is stopped and what the game makes is dropped, the emulation
// runs as fast as it can, and the NES_DEBUG report gives its frames per second.
void audio_out_set_fast_forward(bool on);
