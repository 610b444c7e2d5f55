// The window program's course, the same on every platform: the command line, the start (or its
// refusal with a message box and code 1), the window loop that shows the session's picture, and
// the end that writes the battery file. Each platform's entry point sets up its display and its
// ways of being asked to stop, then hands over to program_run.
#pragma once
#include <atomic>
#include <string>

constexpr const char* DEFAULT_IMAGE = "test.nes";
enum ExitCode { EXIT_CLOSED = 0, EXIT_REFUSED = 1, EXIT_USAGE = 2 };

struct Options {
  std::string image = DEFAULT_IMAGE;
  bool image_given = false;  // named on the command line, not the default
  int run_ahead = 0;
};

// Reads the command line into program_options. --help prints the usage and ends the process with
// code 0; a bad option prints the reason and the usage on stderr and ends it with code 2.
const Options& parse_options(int argc, char** argv);
extern Options program_options;

// Set by the platform when the process is asked to end (a signal, the console's Ctrl+C): the window
// loop ends and the battery file is written.
extern std::atomic<bool> stop_requested;
// Set while the start-up error box is up: a stop then ends the process at once with code 1.
extern std::atomic<bool> error_box_shown;

// Ends the process at once, whatever the emulation thread is doing: no destructor of the machine's
// globals may run under it.
[[noreturn]] void end_process(int code);

// A start that cannot go on: one line on stderr, then (when `display`) a message box.
[[noreturn]] void refuse(const std::string& message, bool display);

// Starts the emulation thread on program_options; the window layer calls it once its window exists.
void program_start_emulation();

// With the window open: repaints it every 16 ms with the session's picture and message until it is
// closed or a stop is requested, then writes the battery file and ends the process with code 0 (or
// refuses, when the session could not start). `each_repaint`, when set, runs before each repaint.
[[noreturn]] void program_run(void (*each_repaint)() = nullptr);
