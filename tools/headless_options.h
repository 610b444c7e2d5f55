// The headless runner's command line: parsed without side effects (no file is touched, the process
// never exits here), so that the runner, its tests and the option-parser fuzz target share it.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "core/printable.h"

struct HeadlessOptions {
  const char* image = nullptr;
  uint64_t frames = 60;
  uint64_t steps = UINT64_MAX;
  long entry = -1;
  std::map<uint64_t, uint8_t> buttons;  // frame -> controller 1 byte from the end of that frame
  bool zapper = false;                  // the light gun in the second port
  std::map<uint64_t, int32_t> aims;     // frame -> the gun's aim from the end of that frame (zapper_aim)
  std::set<uint64_t> pulls;             // frames at whose end the trigger is pulled
  const char* trace = nullptr;
  const char* dump = nullptr;
  const char* screenshot = nullptr;
  const char* frame_log = nullptr;
  const char* wav = nullptr;
  const char* save_state = nullptr;
  const char* load_state = nullptr;
  const char* battery = nullptr;
  bool result = false;
};

enum class ParseStatus { run, help, error };

// Reads argv[1..argc-1]. On `error` the message (one line, no program name) is in `error`; the
// pointers in `options` point into argv.
ParseStatus parse_headless_options(int argc, const char* const* argv, HeadlessOptions& options,
                                   std::string& error);

// Digits only (decimal, or hexadecimal with `hex`), at least one, value at most `max`: no sign, no
// space, no prefix. False when the text is anything else.
bool parse_unsigned(const std::string& text, bool hex, uint64_t max, uint64_t& value);


extern const char* const HEADLESS_USAGE;
