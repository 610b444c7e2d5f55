#include "host/program.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "core/zapper.h"
#include "host/config.h"
#include "host/keys.h"
#include "host/messages.h"
#include "host/paced_sound.h"
#include "host/session.h"
#include "host/window.h"

Options program_options;
std::atomic<bool> stop_requested{false};
std::atomic<bool> error_box_shown{false};
static_assert(std::atomic<bool>::is_always_lock_free, "flags set in signal handlers");

namespace {

// How long the end waits for the emulation thread to write the battery file.
constexpr auto END_DEADLINE = std::chrono::seconds(10);

constexpr const char* USAGE =
    "usage: nes [--config FILE] [--run-ahead N] [--zapper] [IMAGE]\n"
    "Plays the cartridge IMAGE (default: test.nes in the current folder) in a window titled NES.\n"
    "Battery RAM and save states are kept beside the image: NAME.sav, NAME.st0 ... NAME.st9.\n"
    "\n"
    "options:\n"
    "  --config FILE   the settings from FILE instead of the configuration file in the user's\n"
    "                  folder (see the README: keys, buttons, turbo, run-ahead, latency, Zapper)\n"
    "  --run-ahead N   show the picture N frames ahead (0, 1 or 2; default 0) to hide input lag\n"
    "  --zapper        the light gun in the second port: the mouse aims, the left button pulls the\n"
    "                  trigger; off the picture the gun points away from the screen\n"
    "  --help          this text\n"
    "\n"
    "keys (unless the configuration file changes them):\n"
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

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "nes: %s\n%s", message.c_str(), USAGE);
  end_process(EXIT_USAGE);
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

// Why the cartridge did not start; without an image named and no test.nes here, how to give one.
std::string start_refusal() {
  std::string text = session_start_error;
  std::error_code ec;
  if (!program_options.image_given && !std::filesystem::exists(program_options.image, ec))
    text += "\nno image given: name one (nes IMAGE) or put " + std::string(DEFAULT_IMAGE) + " in this folder";
  return text;
}

// The configuration file named by --config, or the one in the user's folder: its settings become
// the defaults that the rest of the command line may change. Its problems go to stderr, one line
// each, and a note of them over the picture.
void apply_configuration(int argc, char** argv) {
  std::string path;
  bool named = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) != "--config") continue;
    if (i + 1 >= argc) usage_error("--config needs a file");
    if (named) usage_error("--config given twice");
    path = argv[++i];
    named = true;
  }
  if (!named) path = default_config_path();
  std::vector<std::string> problems;
  const Settings settings = load_config(path, named, problems);
  for (const std::string& p : problems) print_lines(p);
  if (!problems.empty())
    messages.post("Configuration: " + std::to_string(problems.size()) + " problem" + (problems.size() == 1 ? "" : "s") +
                  " in " + path);
  set_controls(settings.keys, settings.pads, settings.turbo_rate);
  paced_sound_set_queue_target(settings.latency_ms);
  program_options.run_ahead = settings.run_ahead;
  zapper_settings.connected = settings.zapper;
}

}  // namespace

const Options& parse_options(int argc, char** argv) {
  Options& o = program_options;
  for (int i = 1; i < argc; ++i) {  // --help before anything is read
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      end_process(EXIT_CLOSED);
    }
    if (arg == "--config" || arg == "--run-ahead") ++i;
  }
  apply_configuration(argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--config") {
      ++i;  // read already
    } else if (arg == "--run-ahead") {
      if (i + 1 >= argc) usage_error("--run-ahead needs a value");
      const std::string v = argv[++i];
      if (v.size() != 1 || v[0] < '0' || v[0] > '0' + MAX_RUN_AHEAD)
        usage_error("--run-ahead takes 0, 1 or 2, got '" + v + "'");
      o.run_ahead = v[0] - '0';
    } else if (arg == "--zapper") {
      zapper_settings.connected = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      usage_error("unknown option '" + arg + "'");
    } else if (o.image_given) {
      usage_error("only one image, got '" + o.image + "' and '" + arg + "'");
    } else {
      o.image = arg;
      o.image_given = true;
    }
  }
  return o;
}

void end_process(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

void refuse(const std::string& message, bool display) {
  print_lines(message);
  if (display) {
    error_box_shown.store(true, std::memory_order_relaxed);
    if (!stop_requested.load(std::memory_order_relaxed)) window_message_box(message);
  }
  end_process(EXIT_REFUSED);
}

void program_start_emulation() {
  std::thread(session_run, program_options.image, program_options.run_ahead).detach();
}

void program_run(void (*each_repaint)()) {
  while (window_wait_for_repaint(stop_requested)) {
    if (each_repaint) each_repaint();
    switch (session_state.load(std::memory_order_acquire)) {
      case SessionState::loading: window_repaint(nullptr, ""); break;
      case SessionState::running:
      case SessionState::ended: window_repaint(shown_frame, session_overlay_text()); break;
      case SessionState::refused: refuse(start_refusal(), true);
    }
  }
  end_session();
  end_process(EXIT_CLOSED);
}
