// What the machine fixtures of the unit tests share: the one frame buffer that audio_open allocates,
// the power-on of every chip around a cartridge the test has put in place, and the PPU's position
// counted in dots.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "core/driver.h"
#include "core/machine.h"

namespace test_machine {

// The frame buffer, allocated by audio_open as at power-on when no test has done so yet. Every
// fixture draws into this one allocation, which lives as long as the process.
inline std::atomic<uint32_t>* machine_frame_buffer() {
  if (!frame_buffer) audio_open();
  return frame_buffer;
}

// The power-on of the machine with the image already in `cartridge`, with no buttons held, and
// past the reset step: writes are stored.
inline void power_on_cartridge() {
  machine_power_on();
  button_state[0] = 0;
  button_state[1] = 0;
  reset_active = false;
}

// Loads the image at `path` and powers the machine on as the programs do (the loader's summary
// line kept off the test's output), with no buttons held.
inline void power_on_image(const std::string& path) {
  std::string error;
  ::testing::internal::CaptureStdout();
  const bool loaded = machine_power_on(path.c_str(), error);
  ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(loaded) << error;
  button_state[0] = 0;
  button_state[1] = 0;
}

// Runs `n` PPU dots.
inline void ppu_ticks(int n) {
  for (int i = 0; i < n; ++i) ppu_tick();
}

// Position of the PPU counted in dots from scanline -1, dot 0 (rendering off: 341 dots a line);
// the difference of two positions within a frame is the number of dots run between them.
// The PPU's position once it has run the dots the CPU has passed.
inline int64_t ppu_position() {
  ppu_catch_up();
  return int64_t{ppu.scanline + 1} * 341 + ppu.dot;
}

}  // namespace test_machine
