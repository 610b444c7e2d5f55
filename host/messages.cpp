#include "host/messages.h"

#include <cstdio>
#include <vector>

#include "core/printable.h"
#include "host/font.h"
#include "ppu/ppu.h"

Messages messages;

void print_lines(const std::string& text) {
  for_each_line(text, [](std::string_view line) {
    std::fprintf(stderr, "nes: %.*s\n", static_cast<int>(line.size()), line.data());
  });
  std::fflush(stderr);
}

void Messages::post(const std::string& text) {
  print_lines(text);
  std::lock_guard lock(mutex_);
  text_ = text;
  until_ = Clock::now() + MESSAGE_DURATION;
}

std::string Messages::current(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  return now < until_ ? text_ : std::string();
}

namespace {

constexpr int MARGIN = 4;                                   // around the text, inside the band
constexpr int COLUMNS = (FRAME_WIDTH - 2 * MARGIN) / CELL_WIDTH;
constexpr uint32_t TEXT_COLOUR = 0xFFFFFF;

// The text broken into lines of at most COLUMNS characters, at spaces where it can.
std::vector<std::string> wrap(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end - start > COLUMNS) {
      const size_t space = text.rfind(' ', start + COLUMNS);
      end = space != std::string::npos && space > start ? space : start + COLUMNS;
    }
    lines.push_back(text.substr(start, end - start));
    start = end;
    if (start < text.size() && (text[start] == ' ' || text[start] == '\n')) ++start;
  }
  return lines;
}

}  // namespace

void draw_message(uint32_t* pixels, const std::string& text) {
  if (text.empty()) return;
  std::vector<std::string> lines = wrap(text);
  const int max_lines = (FRAME_HEIGHT - 2 * MARGIN) / CELL_HEIGHT;
  if (static_cast<int>(lines.size()) > max_lines) lines.resize(static_cast<size_t>(max_lines));
  const int band_top = FRAME_HEIGHT - 2 * MARGIN - static_cast<int>(lines.size()) * CELL_HEIGHT;
  // The band darkens the picture to a quarter, so the game still shows through.
  for (int y = band_top; y < FRAME_HEIGHT; ++y)
    for (int x = 0; x < FRAME_WIDTH; ++x) {
      uint32_t& p = pixels[y * FRAME_WIDTH + x];
      p = (p >> 2) & 0x3F3F3F;
    }
  for (size_t line = 0; line < lines.size(); ++line) {
    const int top = band_top + MARGIN + static_cast<int>(line) * CELL_HEIGHT + 1;
    for (size_t column = 0; column < lines[line].size(); ++column) {
      const Glyph& g = glyph_of(lines[line][column]);
      const int left = MARGIN + static_cast<int>(column) * CELL_WIDTH;
      for (int y = 0; y < GLYPH_HEIGHT; ++y)
        for (int x = 0; x < GLYPH_WIDTH; ++x)
          if (g[static_cast<size_t>(y)] >> (GLYPH_WIDTH - 1 - x) & 1)
            pixels[(top + y) * FRAME_WIDTH + left + x] = TEXT_COLOUR;
    }
  }
}
