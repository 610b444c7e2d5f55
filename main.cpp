// The window program `nes`: the console as a desktop application. It opens the window "NES",
// starts the emulation thread on "test.nes" from the working directory, and shows the picture,
// takes the keys and plays the sound until the window is closed.
#include <SDL.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/driver.h"
#include "host/audio_out.h"
#include "host/window.h"
#include "ppu/ppu.h"

namespace {

constexpr const char* CARTRIDGE = "test.nes";
enum ExitCode { EXIT_CLOSED = 0, EXIT_REFUSED = 1 };

// The emulation thread's start, as the window thread sees it. The store of `running` or `refused`
// is a release and its load an acquire: what the emulation thread set up before it (frame_buffer,
// start_error) is complete when the window thread reads it.
enum class Start { loading, running, refused };
std::atomic<Start> start{Start::loading};
std::string start_error;

void emulation_thread() {
  std::string error;
  if (!machine_power_on(CARTRIDGE, error)) {
    start_error = error;
    start.store(Start::refused, std::memory_order_release);
    return;
  }
  // The sound device is opened only for a cartridge that runs, and from here on it is this
  // thread's alone.
  const std::string sound = audio_out_open();
  if (std::getenv("NES_DEBUG")) std::printf("nes: %s\n", sound.c_str());
  start.store(Start::running, std::memory_order_release);
  emulation_loop();
}

// Ends the process at once, whatever the emulation thread is doing: it is never told to stop, and
// no destructor of the machine's globals may run under it.
[[noreturn]] void end_process(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

// A start that cannot go on: one line on stderr, then a message box where there is a display.
[[noreturn]] void refuse(const std::string& message, bool display) {
  std::fprintf(stderr, "nes: %s\n", message.c_str());
  std::fflush(stderr);
  if (display) window_message_box(message);
  end_process(EXIT_REFUSED);
}

}  // namespace

int main(int, char**) {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) refuse(std::string("no display: ") + SDL_GetError(), false);
  // Without a display SDL falls back to drawing into memory, where nobody would see the window.
  const std::string video = SDL_GetCurrentVideoDriver();
  if (!std::getenv("SDL_VIDEODRIVER") && (video == "offscreen" || video == "dummy"))
    refuse("no display: neither X11 nor Wayland could be reached", false);
  std::string error;
  if (!window_open(error)) refuse(error, true);

  std::thread(emulation_thread).detach();
  while (window_wait_for_repaint()) {
    switch (start.load(std::memory_order_acquire)) {
      case Start::loading: window_repaint(nullptr); break;
      case Start::running: window_repaint(frame_buffer); break;
      case Start::refused: refuse(start_error, true);
    }
  }
  end_process(EXIT_CLOSED);
}
