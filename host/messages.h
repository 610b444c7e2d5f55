// The short messages the window shows over the picture (confirmations and failures, about two
// seconds each) and the lasting notes such as "Paused". Any thread may post; every message also goes
// to stderr as "nes: TEXT".
#pragma once
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

constexpr std::chrono::milliseconds MESSAGE_DURATION{2000};

// Writes `text` to stderr a line at a time, each as "nes: LINE".
void print_lines(const std::string& text);

class Messages {
 public:
  using Clock = std::chrono::steady_clock;
  // Shows `text` from now for MESSAGE_DURATION, replacing the one shown before.
  void post(const std::string& text);
  // What to draw at `now`: the newest message while it lasts, else an empty string.
  std::string current(Clock::time_point now = Clock::now());

 private:
  std::mutex mutex_;
  std::string text_;
  Clock::time_point until_{};
};

extern Messages messages;

// Draws `text` over a FRAME_WIDTH x FRAME_HEIGHT picture of 0x00RRGGBB pixels (the host's copy of a
// frame, never the machine's frame buffer): white letters on a dark band at the bottom, lines broken
// at spaces to fit and at '\n'. Does nothing for an empty text.
void draw_message(uint32_t* pixels, const std::string& text);
