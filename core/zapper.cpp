// The Zapper's sensor and trigger, as a $4017 read sees them.
//
// The sensor: each line of the spot (a circle of zapper_settings.radius pixels around the aim)
// that the beam has drawn this frame is bright when the mean signal brightness of its pixels in the
// spot reaches ZAPPER_THRESHOLD; the sensor is lit from the moment the beam draws such a line until
// that line's hold has run out. The hold follows the brightness: about 12 lines for white, 10 for
// light grey ($10) and 5 for dark grey ($00), so that a gun aimed at a flat field of those colours
// reads lit for 26, 24 and 19 lines, as measured on a television (the spot itself spans 14 lines).
// There is no onset delay, and no memory of earlier frames: lines the beam has not drawn in this
// frame are not looked at, and the last lines' holds run out in vertical blank.
//
// The trigger: a pull closes the switch, and D4 reads 1 until the gun's capacitor has recharged,
// about 100 ms later, whether or not the trigger is still held. The pull is seen at the first read
// after it, so a click between two reads is not lost.
#include "core/zapper.h"

#include <algorithm>
#include <cmath>

#include "core/bus.h"
#include "cpu/bus_access.h"
#include "ppu/ppu.h"

ZapperSettings zapper_settings;

namespace {

constexpr int32_t DOTS_PER_LINE = 341;
constexpr int32_t LAST_LINE = 260;  // the last line of vertical blank, before the pre-render line

std::atomic<int32_t> aim_value{-1};
std::atomic<uint32_t> pulls{0};

// The trigger's pulse, outside the machine's state (it is the host's input).
struct Trigger {
  uint32_t pulls_seen = 0;
  bool pulsing = false;
  uint64_t pulled_at = 0;  // CPU cycle of the read that saw the pull
};
Trigger trigger;

// Hold of a bright line, in lines, through the television's figures: (brightness, lines).
constexpr float HOLD_POINTS[3][2] = {{0.40f, 5.0f}, {0.68f, 10.0f}, {1.0f, 12.0f}};
constexpr int32_t MAX_HOLD_DOTS = 12 * DOTS_PER_LINE;

// Signal brightness of the frame buffer's colours: the colours of the 512 pixel values, hashed.
struct BrightnessTable {
  static constexpr uint32_t SLOTS = 2048;
  static constexpr uint32_t FILLED = 0x80000000u;  // marks a used slot; colours have 24 bits
  uint32_t keys[SLOTS] = {};
  float values[SLOTS] = {};

  static uint32_t slot_of(uint32_t colour) { return (colour * 2654435761u) >> 21; }

  BrightnessTable() {
    for (uint32_t v = 0; v < PIXEL_VALUES; ++v) {
      const uint32_t key = colour_table[v] | FILLED;
      uint32_t s = slot_of(colour_table[v]);
      while (keys[s] != 0 && keys[s] != key) s = (s + 1) % SLOTS;
      // Pixel values that give one colour (the blacks, $0D below them included) count as the
      // brightest of them: what the screen shows of them is alike.
      const float brightness = pixel_luminance(v);
      if (keys[s] == 0) values[s] = brightness;
      else values[s] = std::max(values[s], brightness);
      keys[s] = key;
    }
  }
  // A colour that no pixel value gives (a picture not yet drawn) is dark.
  float brightness(uint32_t colour) const {
    const uint32_t key = colour | FILLED;
    for (uint32_t s = slot_of(colour); keys[s] != 0; s = (s + 1) % SLOTS)
      if (keys[s] == key) return values[s];
    return 0.0f;
  }
};

// Built at the first read with the gun, after colour_table (built during start-up) is complete.
const BrightnessTable& brightness_table() {
  static const BrightnessTable table;
  return table;
}

// The largest h with h * h <= n.
int32_t whole_root(int32_t n) {
  auto h = static_cast<int32_t>(std::sqrt(static_cast<double>(n)));
  while (h * h > n) --h;
  while ((h + 1) * (h + 1) <= n) ++h;
  return h;
}

uint8_t trigger_bit() {
  const uint32_t p = pulls.load(std::memory_order_relaxed);
  const uint64_t now = cpu_cycles();
  if (p != trigger.pulls_seen) {
    trigger.pulls_seen = p;
    trigger.pulsing = true;
    trigger.pulled_at = now;
  }
  if (!trigger.pulsing) return 0;
  // The clock went back (a state loaded, the frames run ahead taken back): the pulse goes on.
  if (now < trigger.pulled_at) trigger.pulled_at = now;
  if (now - trigger.pulled_at >= ZAPPER_TRIGGER_CYCLES) {
    trigger.pulsing = false;
    return 0;
  }
  return ZAPPER_TRIGGER;
}

}  // namespace

void zapper_aim_at(int32_t x, int32_t y) {
  if (x < 0 || x >= FRAME_WIDTH || y < 0 || y >= FRAME_HEIGHT) zapper_aim_away();
  else aim_value.store(x + FRAME_WIDTH * y, std::memory_order_relaxed);
}
void zapper_aim_away() { aim_value.store(-1, std::memory_order_relaxed); }
void zapper_pull_trigger() { pulls.fetch_add(1, std::memory_order_relaxed); }
int32_t zapper_aim() { return aim_value.load(std::memory_order_relaxed); }

int32_t zapper_hold_dots(float mean) {
  const auto& p = HOLD_POINTS;
  float lines = p[2][1];
  if (mean < p[1][0]) lines = p[0][1] + (mean - p[0][0]) * (p[1][1] - p[0][1]) / (p[1][0] - p[0][0]);
  else if (mean < p[2][0]) lines = p[1][1] + (mean - p[1][0]) * (p[2][1] - p[1][1]) / (p[2][0] - p[1][0]);
  return std::clamp(static_cast<int32_t>(lines * DOTS_PER_LINE), 0, MAX_HOLD_DOTS);
}

bool zapper_sees_light(const std::atomic<uint32_t>* pixels, int32_t scanline, int32_t dot, int32_t aim,
                       int32_t radius) {
  if (aim < 0 || !pixels || scanline < 0 || scanline > LAST_LINE) return false;
  radius = std::clamp(radius, ZAPPER_MIN_RADIUS, ZAPPER_MAX_RADIUS);
  const BrightnessTable& table = brightness_table();
  const int32_t ax = aim % FRAME_WIDTH, ay = aim / FRAME_WIDTH;
  const int32_t drawn = std::clamp(dot, 0, FRAME_WIDTH);  // pixels of the current line drawn
  const int32_t last = std::min({scanline, FRAME_HEIGHT - 1, ay + radius});
  for (int32_t line = std::max(0, ay - radius); line <= last; ++line) {
    const int32_t half = whole_root(radius * radius - (line - ay) * (line - ay));
    const int32_t first = std::max(0, ax - half);
    int32_t end = std::min(FRAME_WIDTH, ax + half + 1);
    if (line == scanline) end = std::min(end, drawn);
    if (end <= first) continue;
    // Dots since the beam drew the line's last pixel in the spot.
    const int32_t since = (scanline - line) * DOTS_PER_LINE + dot - end;
    if (since >= MAX_HOLD_DOTS) continue;
    float sum = 0.0f;
    const std::atomic<uint32_t>* row = pixels + line * FRAME_WIDTH;
    for (int32_t x = first; x < end; ++x) sum += table.brightness(row[x].load(std::memory_order_relaxed));
    const float mean = sum / static_cast<float>(end - first);
    if (mean >= ZAPPER_THRESHOLD && since < zapper_hold_dots(mean)) return true;
  }
  return false;
}

// Out of line: the bus's read path stays as small as it is without the gun.
[[gnu::noinline]] uint8_t zapper_read() {
  const uint8_t bits = trigger_bit();
  const int32_t aim = zapper_aim();
  if (aim < 0) return bits | ZAPPER_DARK;
  ppu_catch_up();      // the picture up to this cycle
  ppu_flush_pixels();  // and the current line's pixels so far
  const bool lit = zapper_sees_light(frame_buffer, ppu.scanline, ppu.dot, aim, zapper_settings.radius);
  return lit ? bits : static_cast<uint8_t>(bits | ZAPPER_DARK);
}
