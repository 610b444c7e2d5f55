// The window program `nes.exe` on Windows: the same program as on Linux (host/program.cpp) over
// the Win32 layer (host/win32/). It is a GUI-subsystem program, so no console window opens with
// it; its stdout and stderr lines still arrive wherever whoever started it sent them. A console's
// Ctrl+C or close, and logging off, end it like closing the window: the battery file is written.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "host/program.h"
#include "host/win32/win32.h"
#include "host/window.h"

namespace {

BOOL WINAPI on_console_event(DWORD) {
  if (error_box_shown.load(std::memory_order_relaxed)) end_process(EXIT_REFUSED);
  stop_requested.store(true, std::memory_order_relaxed);
  return TRUE;
}

// For tests, which cannot drop files on a window: with NES_TEST_DROP=PATH, a file PATH.drop
// appearing is taken (and removed) as a drop of PATH on the window.
void push_requested_drop() {
  static const char* path = std::getenv("NES_TEST_DROP");
  if (!path) return;
  const std::string trigger = std::string(path) + ".drop";
  if (DeleteFileA(trigger.c_str())) window_push_drop(path);
}

}  // namespace

int main(int argc, char** argv) {
  parse_options(argc, argv);
  SetConsoleCtrlHandler(on_console_event, TRUE);
  std::string error;
  if (!window_open(error)) refuse(error, error != WINDOW_CLASS_REFUSED);
  program_run(push_requested_drop);
}
