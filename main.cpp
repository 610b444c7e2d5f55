// The window program `nes`: the console as a desktop application. It opens the window "NES",
// starts the emulation thread on the image named on the command line ("test.nes" from the working
// directory without one), and shows the picture, takes the keys and plays the sound until the
// window is closed or the process is asked to end (SIGINT, SIGTERM); the battery file is written
// before it ends.
#include <SDL.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "host/session.h"
#include "host/window.h"

namespace {

constexpr const char* DEFAULT_IMAGE = "test.nes";
enum ExitCode { EXIT_CLOSED = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };
// How long the end waits for the emulation thread to write the battery file.
constexpr auto END_DEADLINE = std::chrono::seconds(10);

constexpr const char* USAGE =
    "usage: nes [--run-ahead N] [IMAGE]\n"
    "Plays the cartridge IMAGE (default: test.nes in the current folder) in a window titled NES.\n"
    "Battery RAM and save states are kept beside the image: NAME.sav, NAME.st0 ... NAME.st9.\n"
    "\n"
    "options:\n"
    "  --run-ahead N   show the picture N frames ahead (0, 1 or 2; default 0) to hide input lag\n"
    "  --help          this text\n"
    "\n"
    "keys:\n"
    "  arrows, Z, X, Space, Enter   controller 1: D-pad, A, B, Select, Start\n"
    "  game controllers             the first is controller 1 (with the keyboard), the second is 2\n"
    "  F5 / F7                      save / load the state in the current slot\n"
    "  0 ... 9                      choose the state slot\n"
    "  Backspace (held)             rewind, up to 30 seconds\n"
    "  Ctrl+R                       the console's reset button\n"
    "  P                            pause / resume\n"
    "  F9                           run-ahead 0 -> 1 -> 2 frames\n"
    "  F11, Alt+Enter               full screen on / off\n"
    "  Escape                       framed window <-> bare 256x240 window on top at 0,0\n"
    "  keypad + / -                 slower / faster\n"
    "Dropping an image file on the window switches to it.\n";

struct Options {
  std::string image = DEFAULT_IMAGE;
  int run_ahead = 0;
};

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "nes: %s\n%s", message.c_str(), USAGE);
  std::exit(EXIT_USAGE);
}

Options parse_options(int argc, char** argv) {
  Options o;
  bool image_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      std::exit(EXIT_CLOSED);
    } else if (arg == "--run-ahead") {
      if (i + 1 >= argc) usage_error("--run-ahead needs a value");
      const std::string v = argv[++i];
      if (v.size() != 1 || v[0] < '0' || v[0] > '0' + MAX_RUN_AHEAD)
        usage_error("--run-ahead takes 0, 1 or 2, got '" + v + "'");
      o.run_ahead = v[0] - '0';
    } else if (arg.size() > 1 && arg[0] == '-') {
      usage_error("unknown option '" + arg + "'");
    } else if (image_given) {
      usage_error("only one image, got '" + o.image + "' and '" + arg + "'");
    } else {
      o.image = arg;
      image_given = true;
    }
  }
  return o;
}

// Set by SIGINT and SIGTERM: the window loop ends and the battery file is written. While the
// start-up error box is up, the signal ends the process at once (there is nothing to write).
std::atomic<bool> stop_requested{false};
std::atomic<bool> error_box_shown{false};
// Set by SIGUSR1 when NES_TEST_DROP names a file: the window gets a drop of that file. Tests use it,
// as no test tool can drop files on a window.
std::atomic<bool> drop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "flags set in signal handlers");

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

// Ends the process at once, whatever the emulation thread is doing: no destructor of the machine's
// globals may run under it.
[[noreturn]] void end_process(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

// A start that cannot go on: one line on stderr, then a message box where there is a display.
[[noreturn]] void refuse(const std::string& message, bool display) {
  std::fprintf(stderr, "nes: %s\n", message.c_str());
  std::fflush(stderr);
  if (display) {
    error_box_shown.store(true, std::memory_order_relaxed);
    if (!stop_requested.load(std::memory_order_relaxed)) window_message_box(message);
  }
  end_process(EXIT_REFUSED);
}

// Asks the emulation thread to write the battery file and end, and waits for it (within a deadline:
// a write that hangs does not keep the process alive).
void end_session() {
  session_quit();
  const auto deadline = std::chrono::steady_clock::now() + END_DEADLINE;
  while (std::chrono::steady_clock::now() < deadline) {
    const SessionState state = session_state.load(std::memory_order_acquire);
    if (state == SessionState::ended || state == SessionState::refused) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::fprintf(stderr, "nes: the emulation did not end in time; the battery file may be old\n");
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  install_signal_handlers();
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // ours write the battery file first
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_GAMECONTROLLER) != 0)
    refuse(std::string("no display: ") + SDL_GetError(), false);
  // Without a display SDL falls back to drawing into memory, where nobody would see the window.
  const std::string video = SDL_GetCurrentVideoDriver();
  if (!std::getenv("SDL_VIDEODRIVER") && (video == "offscreen" || video == "dummy"))
    refuse("no display: neither X11 nor Wayland could be reached", false);
  std::string error;
  if (!window_open(error)) refuse(error, true);

  std::thread(session_run, options.image, options.run_ahead).detach();
  while (window_wait_for_repaint(stop_requested)) {
    if (drop_requested.exchange(false, std::memory_order_relaxed)) window_push_drop(std::getenv("NES_TEST_DROP"));
    switch (session_state.load(std::memory_order_acquire)) {
      case SessionState::loading: window_repaint(nullptr, ""); break;
      case SessionState::running:
      case SessionState::ended: window_repaint(shown_frame, session_overlay_text()); break;
      case SessionState::refused: refuse(session_start_error, true);
    }
  }
  end_session();
  end_process(EXIT_CLOSED);
}
