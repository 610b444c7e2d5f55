// The console's screen and controllers on the desktop: one window titled "NES" showing the
// 256x240 picture stretched nearest-neighbour to its drawing area, the keyboard through the key
// table (host/keys.h: by default arrows/X/Z/Space/Enter as the first controller, keypad plus/minus
// as the speed keys, Escape as the window-style switch, F11 or Alt+Enter for full screen, and the
// session's keys), and game controllers on both ports.
#include "host/window.h"

#include <SDL.h>
#include <SDL_syswm.h>
#ifdef NES_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/zapper.h"
#include "host/aim.h"
#include "host/sdl/gamepads.h"
#include "host/keys.h"
#include "host/messages.h"  // draw_message
#include "host/program.h"
#include "host/session.h"
#include "ppu/ppu.h"

namespace {

constexpr const char* TITLE = "NES";
constexpr Uint64 REPAINT_MS = 16;
constexpr int START_SCALE = 2;             // first window size: the picture at twice its size

struct Window {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* picture = nullptr;  // FRAME_WIDTH x FRAME_HEIGHT, 32-bit 0x00RRGGBB
  Uint64 next_repaint = 0;         // SDL_GetTicks64 time of the next repaint
  bool frameless = false;          // Escape's state: bare window kept on top
  bool full_screen = false;
  bool full_screen_by_hand = false;  // without a window manager: borderless over the display
  SDL_Rect windowed{};               // the window's place before that
  std::vector<uint32_t> composed = std::vector<uint32_t>(FRAME_WIDTH * FRAME_HEIGHT);
};
Window w;

// SDL's key codes (of the keyboard layout in use) as the named keys.
Key key_of(SDL_Keycode code) {
  const auto offset = [](Key first, int n) { return static_cast<Key>(static_cast<int>(first) + n); };
  if (code >= SDLK_a && code <= SDLK_z) return offset(Key::a, code - SDLK_a);
  if (code >= SDLK_0 && code <= SDLK_9) return offset(Key::digit_0, code - SDLK_0);
  if (code >= SDLK_F1 && code <= SDLK_F12) return offset(Key::f1, code - SDLK_F1);
  if (code >= SDLK_KP_1 && code <= SDLK_KP_9) return offset(Key::keypad_1, code - SDLK_KP_1);
  switch (code) {
    case SDLK_RIGHT: return Key::right;
    case SDLK_LEFT: return Key::left;
    case SDLK_UP: return Key::up;
    case SDLK_DOWN: return Key::down;
    case SDLK_SPACE: return Key::space;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return Key::enter;  // the keypad's Enter is the same Return key to the system
    case SDLK_TAB: return Key::tab;
    case SDLK_BACKSPACE: return Key::backspace;
    case SDLK_ESCAPE: return Key::escape;
    case SDLK_INSERT: return Key::insert;
    case SDLK_DELETE: return Key::delete_;
    case SDLK_HOME: return Key::home;
    case SDLK_END: return Key::end;
    case SDLK_PAGEUP: return Key::page_up;
    case SDLK_PAGEDOWN: return Key::page_down;
    case SDLK_KP_0: return Key::keypad_0;
    case SDLK_KP_PLUS: return Key::keypad_plus;
    case SDLK_KP_MINUS: return Key::keypad_minus;
    case SDLK_KP_MULTIPLY: return Key::keypad_multiply;
    case SDLK_KP_DIVIDE: return Key::keypad_divide;
    case SDLK_KP_PERIOD: return Key::keypad_period;
    case SDLK_MINUS: return Key::minus;
    case SDLK_EQUALS: return Key::equals;
    case SDLK_COMMA: return Key::comma;
    case SDLK_PERIOD: return Key::period;
    case SDLK_SLASH: return Key::slash;
    case SDLK_SEMICOLON: return Key::semicolon;
    case SDLK_QUOTE: return Key::apostrophe;
    case SDLK_LEFTBRACKET: return Key::left_bracket;
    case SDLK_RIGHTBRACKET: return Key::right_bracket;
    case SDLK_BACKSLASH: return Key::backslash;
    case SDLK_BACKQUOTE: return Key::grave;
    case SDLK_LSHIFT: return Key::left_shift;
    case SDLK_RSHIFT: return Key::right_shift;
    case SDLK_LCTRL: return Key::left_ctrl;
    case SDLK_RCTRL: return Key::right_ctrl;
    case SDLK_LALT: return Key::left_alt;
    case SDLK_RALT: return Key::right_alt;
    default: return Key::other;
  }
}

// Whether a window manager runs, which full screen asks to do the work: true unless the display is
// X11 and no manager announces itself. A manager names on the root window
// (_NET_SUPPORTING_WM_CHECK) a window of its own that names itself the same way; one that died
// while it managed windows leaves the root's property behind, naming a window that is gone, so the
// named window is asked too. Asked at each switch: the manager may come or go while the game runs.
#ifdef NES_X11
// The window named by `holder`'s _NET_SUPPORTING_WM_CHECK, or None (also when `holder` is gone).
::Window supporting_window(Display* display, Atom check, ::Window holder) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  ::Window named = None;
  if (XGetWindowProperty(display, holder, check, 0, 1, False, XA_WINDOW, &type, &format, &items, &after, &data) ==
          Success &&
      data && type == XA_WINDOW && format == 32 && items == 1)
    named = static_cast<::Window>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return named;
}

bool x_error_seen = false;
int note_x_error(Display*, XErrorEvent*) {
  x_error_seen = true;
  return 0;
}
#endif

bool window_manager_runs() {
#ifdef NES_X11
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(w.window, &info) || info.subsystem != SDL_SYSWM_X11) return true;
  Display* display = info.info.x11.display;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return false;
  const ::Window named = supporting_window(display, check, DefaultRootWindow(display));
  if (named == None) return false;
  // Asking a window that is gone is an X error, which by default ends the program: this one is
  // caught and taken as the answer.
  XSync(display, False);
  x_error_seen = false;
  const auto previous = XSetErrorHandler(note_x_error);
  const ::Window itself = supporting_window(display, check, named);
  XSync(display, False);
  XSetErrorHandler(previous);
  return !x_error_seen && itself == named;
#else
  return true;
#endif
}

// F11 and Alt+Enter: a borderless window over the whole screen, and back. Without a window manager
// nobody would resize the window for it, so the program does: borderless, at the display's corner
// and size, and back to where it was.
void switch_full_screen() {
  w.full_screen = !w.full_screen;
  if (w.full_screen && !window_manager_runs()) {
    SDL_Rect display{};
    if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(w.window), &display) == 0) {
      SDL_GetWindowPosition(w.window, &w.windowed.x, &w.windowed.y);
      SDL_GetWindowSize(w.window, &w.windowed.w, &w.windowed.h);
      w.full_screen_by_hand = true;
      SDL_SetWindowBordered(w.window, SDL_FALSE);
      SDL_SetWindowPosition(w.window, display.x, display.y);
      SDL_SetWindowSize(w.window, display.w, display.h);
      return;
    }
  }
  if (!w.full_screen && w.full_screen_by_hand) {
    w.full_screen_by_hand = false;
    SDL_SetWindowBordered(w.window, w.frameless ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowSize(w.window, w.windowed.w, w.windowed.h);
    SDL_SetWindowPosition(w.window, w.windowed.x, w.windowed.y);
    return;
  }
  SDL_SetWindowFullscreen(w.window, w.full_screen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

// Escape: framed <-> bare; either way the window, kept on top, gets a 256x240 drawing area and
// goes to the screen's top-left corner.
void switch_window_style() {
  if (w.full_screen) switch_full_screen();  // Escape's windows are never full screen
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

void update_all_controllers() { update_controllers(gamepad_buttons(0), gamepad_buttons(1)); }

void on_key(const SDL_KeyboardEvent& event) {
  KeyEvent e;
  e.key = key_of(event.keysym.sym);
  e.down = event.type == SDL_KEYDOWN;  // auto-repeat gives further key-downs
  e.repeat = event.repeat != 0;
  e.ctrl = event.keysym.mod & KMOD_CTRL;
  e.alt = event.keysym.mod & KMOD_ALT;
  switch (key_event(e)) {
    case KeyResult::switch_full_screen: switch_full_screen(); break;
    case KeyResult::switch_window_style: switch_window_style(); break;
    default: break;
  }
}

// The light gun follows the mouse: its window coordinates in the renderer's pixels (they differ
// on a scaled desktop), then the picture pixel under them.
void aim_gun(int x, int y) {
  int window_width = 0, window_height = 0, width = 0, height = 0;
  SDL_GetWindowSize(w.window, &window_width, &window_height);
  SDL_GetRendererOutputSize(w.renderer, &width, &height);
  const int32_t aim = window_width <= 0 || window_height <= 0
                          ? -1
                          : aim_from_window(x * width / window_width, y * height / window_height, width, height,
                                            w.full_screen);
  if (aim < 0) zapper_aim_away();
  else zapper_aim_at(aim % FRAME_WIDTH, aim / FRAME_WIDTH);
}

}  // namespace

bool window_open(std::string& error) {
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
  gamepads_open();
  w.next_repaint = SDL_GetTicks64();
  program_start_emulation();
  return true;
}

bool window_wait_for_repaint(const std::atomic<bool>& stop) {
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return false;
    const Uint64 now = SDL_GetTicks64();
    if (now >= w.next_repaint) {
      gamepads_poll_test_file();
      w.next_repaint += REPAINT_MS;
      if (w.next_repaint <= now) w.next_repaint = now + REPAINT_MS;  // after a stall, no catching up
      return true;
    }
    SDL_Event event;
    if (!SDL_WaitEventTimeout(&event, static_cast<int>(w.next_repaint - now))) continue;
    if (gamepads_handle(event)) {
      update_all_controllers();
      continue;
    }
    switch (event.type) {
      case SDL_QUIT: return false;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        on_key(event.key);
        update_all_controllers();
        break;
      case SDL_MOUSEMOTION:
        if (zapper_settings.connected) aim_gun(event.motion.x, event.motion.y);
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (zapper_settings.connected && event.button.button == SDL_BUTTON_LEFT) {
          aim_gun(event.button.x, event.button.y);
          zapper_pull_trigger();
        }
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_LEAVE) zapper_aim_away();
        break;
      case SDL_DROPFILE:
        session_open_image(event.drop.file);
        SDL_free(event.drop.file);
        break;
      default: break;
    }
  }
}

void window_repaint(const std::atomic<uint32_t>* pixels, const std::string& message) {
  for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i)
    w.composed[static_cast<size_t>(i)] = pixels ? pixels[i].load(std::memory_order_relaxed) : 0;
  draw_message(w.composed.data(), message);
  SDL_UpdateTexture(w.picture, nullptr, w.composed.data(), FRAME_WIDTH * sizeof(uint32_t));
  SDL_SetRenderDrawColor(w.renderer, 0, 0, 0, 255);
  SDL_RenderClear(w.renderer);
  if (w.full_screen) {  // the largest whole scale that fits, centred on black
    int width = 0, height = 0;
    SDL_GetRendererOutputSize(w.renderer, &width, &height);
    const int scale = std::max(1, std::min(width / FRAME_WIDTH, height / FRAME_HEIGHT));
    const SDL_Rect target{(width - scale * FRAME_WIDTH) / 2, (height - scale * FRAME_HEIGHT) / 2,
                          scale * FRAME_WIDTH, scale * FRAME_HEIGHT};
    SDL_RenderCopy(w.renderer, w.picture, nullptr, &target);
  } else {
    SDL_RenderCopy(w.renderer, w.picture, nullptr, nullptr);  // stretched to the drawing area
  }
  SDL_RenderPresent(w.renderer);
}

void window_push_drop(const std::string& path) {
  SDL_Event event{};
  event.type = SDL_DROPFILE;
  event.drop.file = static_cast<char*>(SDL_malloc(path.size() + 1));  // freed where it is handled
  if (!event.drop.file) return;
  std::memcpy(event.drop.file, path.c_str(), path.size() + 1);
  event.drop.windowID = SDL_GetWindowID(w.window);
  if (SDL_PushEvent(&event) != 1) SDL_free(event.drop.file);
}

void window_message_box(const std::string& text) {
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, TITLE, text.c_str(), w.window);
}
