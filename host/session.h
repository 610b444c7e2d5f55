// The game as the window program plays it, on the emulation thread: the cartridge and its battery
// file, save-state slots, the reset button, rewind, pause, run-ahead and switching images. The
// window thread (or any other) only posts requests here; they are carried out between frames.
// Everything in this file is free of any windowing system.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "ppu/ppu.h"

constexpr int STATE_SLOTS = 10;
constexpr int MAX_RUN_AHEAD = 2;

// The emulation thread's body: powers the machine on with `image` and plays until a quit request.
// Its sound goes to audio_out. `run_ahead` is the starting run-ahead (0 to MAX_RUN_AHEAD).
void session_run(std::string image, int run_ahead);

enum class SessionState { loading, running, refused, ended };
// A store of `running`, `refused` or `ended` is a release: what the session set up before it (the
// picture, the start error, the flushed battery file) is complete for a thread whose load sees it.
extern std::atomic<SessionState> session_state;
// Why the start failed, once session_state is `refused`.
extern std::string session_start_error;

// The picture to show: the last frame played (or, with run-ahead, the frame that many frames
// ahead), copied whole at the end of each frame.
extern std::atomic<uint32_t> shown_frame[FRAME_WIDTH * FRAME_HEIGHT];

// Requests, from any thread.
void session_save_state();           // F5: the machine into the current slot's file
void session_load_state();           // F7: the current slot's file into the machine
void session_select_slot(int slot);  // 0-9
void session_reset();                // the console's reset button
void session_toggle_pause();
void session_cycle_run_ahead();      // 0 -> 1 -> 2 -> 0
void session_open_image(const std::string& path);
void session_quit();                 // flush the battery file and end session_run
// Held while the game runs backwards.
void session_set_rewinding(bool held);
// Held while the game runs as fast as it goes (silent; rewinding wins).
void session_set_fast_forward(bool held);

bool session_paused();
// The message to draw over the picture now: the newest message while it lasts, else "Paused"
// while paused, else nothing.
std::string session_overlay_text();
