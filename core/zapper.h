// The Zapper light gun in the second controller port. A read of $4017 gives its two live lines:
// D3 the light sensor (0 while it sees light), D4 the trigger (1 for a moment after a pull); the
// other bits read 0, and no strobe or read clock concerns it.
//
// The sensor answers the beam, not steady light: it sees light from the moment the beam draws
// bright pixels inside the spot it looks at until its output decays, some ten lines later, and is
// dark for the rest of the frame and in vertical blank. So the light is worked out at the read, from
// the pixels the picture unit has drawn so far in this frame (it is caught up to the read's cycle
// first) and the time since the beam drew the last bright line of the spot. A game that never
// reads $4017, or a session without the gun, pays nothing: nothing of this runs per cycle.
#pragma once
#include <atomic>
#include <cstdint>

// How the gun is set up: the one place the command line (and later the configuration file) sets.
struct ZapperSettings {
  bool connected = false;  // the gun, not a controller, is in the second port
  int32_t radius = 7;      // the spot the sensor sees, a circle of this radius in picture pixels
};
extern ZapperSettings zapper_settings;

constexpr int32_t ZAPPER_MIN_RADIUS = 1, ZAPPER_MAX_RADIUS = 32;
// The bits of a $4017 read.
constexpr uint8_t ZAPPER_DARK = 0x08, ZAPPER_TRIGGER = 0x10;
// How long a pull keeps D4 at 1: the gun's capacitor recharges through the console's pull-up in
// about 100 ms (1.79 MHz CPU cycles), however long the trigger is held.
constexpr uint64_t ZAPPER_TRIGGER_CYCLES = 178977;

// The host's inputs, set from any thread like the buttons. The aim is a picture pixel (0-255,
// 0-239), or away from the screen.
void zapper_aim_at(int32_t x, int32_t y);
void zapper_aim_away();
void zapper_pull_trigger();
// The aim as the gun sees it: x + 256 y, or -1 away from the screen.
int32_t zapper_aim();

// A read of $4017 with the gun connected: ZAPPER_DARK and ZAPPER_TRIGGER bits.
uint8_t zapper_read();

// Whether the sensor sees light with the beam at (scanline, dot) of the picture unit, in the
// picture `pixels` (FRAME_WIDTH x FRAME_HEIGHT, 0x00RRGGBB) drawn up to that point of the frame,
// aimed at `aim` (as zapper_aim gives it) with spot radius `radius`. Only the lines the beam has
// drawn this frame count: those above `scanline`, and the pixels of that line before `dot`.
bool zapper_sees_light(const std::atomic<uint32_t>* pixels, int32_t scanline, int32_t dot, int32_t aim,
                       int32_t radius);

// The light rule: a spot's line counts when the mean brightness (pixel_luminance) of its pixels
// reaches this; it then keeps the sensor lit for zapper_hold_dots(mean) dots after the beam left it.
constexpr float ZAPPER_THRESHOLD = 0.3f;
int32_t zapper_hold_dots(float mean);
