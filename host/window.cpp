// The console's screen and first controller on the desktop: one window titled "NES" showing the
// 256x240 picture stretched nearest-neighbour to its drawing area, arrows/X/Z/Space/Enter as the
// controller, keypad plus/minus as the speed keys and Escape as the window-style switch.
#include "host/window.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "core/driver.h"
#include "core/joypad.h"
#include "ppu/ppu.h"

namespace {

constexpr const char* TITLE = "NES";
constexpr Uint64 REPAINT_MS = 16;
constexpr int START_SCALE = 2;             // first window size: the picture at twice its size
constexpr int32_t SLEEP_STEP_MS = 5;       // change of sleep_interval per speed-key press

struct Window {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* picture = nullptr;  // FRAME_WIDTH x FRAME_HEIGHT, 32-bit 0x00RRGGBB
  Uint64 next_repaint = 0;         // SDL_GetTicks64 time of the next repaint
  bool frameless = false;          // Escape's state: bare window kept on top
  bool debug = false;              // NES_DEBUG: report speed-key changes on stdout
};
Window w;

// The first controller's keys: the bit each one holds in button_state[0] while it is down.
struct ControllerKey {
  SDL_Keycode key;
  uint8_t button;
};
constexpr ControllerKey CONTROLLER_KEYS[] = {
    {SDLK_RIGHT, BUTTON_RIGHT}, {SDLK_LEFT, BUTTON_LEFT},    {SDLK_UP, BUTTON_UP},
    {SDLK_DOWN, BUTTON_DOWN},   {SDLK_x, BUTTON_B},          {SDLK_z, BUTTON_A},
    {SDLK_SPACE, BUTTON_SELECT}, {SDLK_RETURN, BUTTON_START},
    {SDLK_KP_ENTER, BUTTON_START},  // the keypad's Enter is the same Return key to the system
};

void change_sleep_interval(int32_t delta) {
  int32_t v = sleep_interval.load(std::memory_order_relaxed) + delta;
  if (v < 0) v = 0;
  sleep_interval.store(v, std::memory_order_relaxed);
  if (w.debug) {
    std::printf("nes: sleep_interval %d ms\n", v);
    std::fflush(stdout);
  }
}

// Escape: framed <-> bare; either way the window, kept on top, gets a 256x240 drawing area and
// goes to the screen's top-left corner.
void switch_window_style() {
  w.frameless = !w.frameless;
  if (SDL_GetWindowFlags(w.window) & SDL_WINDOW_MAXIMIZED) SDL_RestoreWindow(w.window);
  SDL_SetWindowBordered(w.window, w.frameless ? SDL_FALSE : SDL_TRUE);
  SDL_SetWindowAlwaysOnTop(w.window, SDL_TRUE);
  SDL_SetWindowSize(w.window, FRAME_WIDTH, FRAME_HEIGHT);
  // SDL places the drawing area and subtracts the frame it knows of to place the window; asking
  // for the drawing area at exactly that frame puts the window's outer corner at 0,0 even while
  // the window manager has not yet told SDL that the frame came or went.
  int top = 0, left = 0;
  SDL_GetWindowBordersSize(w.window, &top, &left, nullptr, nullptr);
  SDL_SetWindowPosition(w.window, left, top);
}

void on_key(const SDL_KeyboardEvent& event) {
  const bool down = event.type == SDL_KEYDOWN;  // auto-repeat gives further key-downs
  for (const ControllerKey& k : CONTROLLER_KEYS) {
    if (k.key != event.keysym.sym) continue;
    if (down) button_state[0].fetch_or(k.button, std::memory_order_relaxed);
    else button_state[0].fetch_and(static_cast<uint8_t>(~k.button), std::memory_order_relaxed);
    return;
  }
  if (!down) return;
  switch (event.keysym.sym) {
    case SDLK_KP_PLUS: change_sleep_interval(SLEEP_STEP_MS); break;
    case SDLK_KP_MINUS: change_sleep_interval(-SLEEP_STEP_MS); break;
    case SDLK_ESCAPE: switch_window_style(); break;
    default: break;  // every other key does nothing
  }
}

}  // namespace

bool window_open(std::string& error) {
  w.debug = std::getenv("NES_DEBUG") != nullptr;
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  w.window = SDL_CreateWindow(TITLE, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                              START_SCALE * FRAME_WIDTH, START_SCALE * FRAME_HEIGHT,
                              SDL_WINDOW_RESIZABLE);
  if (w.window) w.renderer = SDL_CreateRenderer(w.window, -1, 0);
  if (w.renderer)
    w.picture = SDL_CreateTexture(w.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  FRAME_WIDTH, FRAME_HEIGHT);
  if (!w.picture) {
    error = std::string("cannot open the window: ") + SDL_GetError();
    return false;
  }
  w.next_repaint = SDL_GetTicks64();
  return true;
}

bool window_wait_for_repaint() {
  for (;;) {
    const Uint64 now = SDL_GetTicks64();
    if (now >= w.next_repaint) {
      w.next_repaint += REPAINT_MS;
      if (w.next_repaint <= now) w.next_repaint = now + REPAINT_MS;  // after a stall, no catching up
      return true;
    }
    SDL_Event event;
    if (!SDL_WaitEventTimeout(&event, static_cast<int>(w.next_repaint - now))) continue;
    switch (event.type) {
      case SDL_QUIT: return false;
      case SDL_KEYDOWN:
      case SDL_KEYUP: on_key(event.key); break;
      default: break;
    }
  }
}

void window_repaint(const std::atomic<uint32_t>* pixels) {
  void* target = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(w.picture, nullptr, &target, &pitch) == 0) {
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(target) + y * pitch);
      for (int x = 0; x < FRAME_WIDTH; ++x)
        row[x] = pixels ? pixels[y * FRAME_WIDTH + x].load(std::memory_order_relaxed) : 0;
    }
    SDL_UnlockTexture(w.picture);
  }
  SDL_RenderCopy(w.renderer, w.picture, nullptr, nullptr);  // stretched to the drawing area
  SDL_RenderPresent(w.renderer);
}

void window_message_box(const std::string& text) {
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, TITLE, text.c_str(), w.window);
}
