// The window program `nes` on Linux: the console as a desktop application on SDL2. It opens the
// window "NES", starts the emulation thread on the image named on the command line ("test.nes"
// from the working directory without one), and shows the picture, takes the keys and plays the
// sound until the window is closed or the process is asked to end (SIGINT, SIGTERM); the battery
// file is written before it ends. The course of the program is host/program.cpp, shared with the
// Windows build (host/win32/main.cpp).
#include <SDL.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <unistd.h>
#ifdef __linux__
#include <pthread.h>
#include <sys/prctl.h>
#endif

#include "host/program.h"
#include "host/window.h"

namespace {

// Set by SIGUSR1 when NES_TEST_DROP names a file: the window gets a drop of that file. Tests use it,
// as no test tool can drop files on a window.
std::atomic<bool> drop_requested{false};

// While the start-up error box is up, the signal ends the process at once (there is nothing to
// write); otherwise the window loop ends and the battery file is written.
extern "C" void on_stop_signal(int) {
  if (error_box_shown.load(std::memory_order_relaxed)) _exit(EXIT_REFUSED);
  stop_requested.store(true, std::memory_order_relaxed);
}
extern "C" void on_drop_signal(int) { drop_requested.store(true, std::memory_order_relaxed); }

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  if (std::getenv("NES_TEST_DROP")) {
    action.sa_handler = on_drop_signal;
    sigaction(SIGUSR1, &action, nullptr);
  }
}

#ifdef __linux__
// SDL shows its message boxes on X11 from a forked copy of the process, which the signal that ends
// this one does not reach: left alone, it would keep the box up, and through the display connection
// it shares, the window too. The copy is told to end with its parent (by the same signal, whose
// handler it shares, and with the box shown ends at once), also when the parent is already gone.
pid_t forking_process = 0;
extern "C" void before_fork() { forking_process = getpid(); }
extern "C" void in_forked_copy() {
  if (!error_box_shown.load(std::memory_order_relaxed)) return;
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != forking_process) _exit(EXIT_REFUSED);
}
#endif

void push_requested_drop() {
  if (drop_requested.exchange(false, std::memory_order_relaxed)) window_push_drop(std::getenv("NES_TEST_DROP"));
}

}  // namespace

int main(int argc, char** argv) {
  parse_options(argc, argv);
  install_signal_handlers();
#ifdef __linux__
  pthread_atfork(before_fork, nullptr, in_forked_copy);
#endif
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // ours write the battery file first
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) != 0)
    refuse(std::string("no display: ") + SDL_GetError(), false);
  // Without a display SDL falls back to drawing into memory, where nobody would see the window.
  const std::string video = SDL_GetCurrentVideoDriver();
  if (!std::getenv("SDL_VIDEODRIVER") && (video == "offscreen" || video == "dummy"))
    refuse("no display: neither X11 nor Wayland could be reached", false);
  std::string error;
  if (!window_open(error)) refuse(error, true);
  program_run(push_requested_drop);
}
