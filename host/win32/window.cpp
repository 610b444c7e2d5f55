// The console's screen and controllers on Windows: the window class "Vantarix" and one window
// titled "NES". A 16 ms timer invalidates it and the window loop composes the newest picture (with
// the message over it); WM_PAINT stretches that 256x240 picture to the client area with GDI (in
// full screen: the largest whole scale that fits, centred on black). WM_KEYDOWN/WM_KEYUP go
// through the shared key table (host/keys.cpp); Escape swaps the window's style with a saved one;
// WM_DROPFILES opens a dropped image; XInput pads are read on every repaint.
#include "host/window.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>  // DROPFILES

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/zapper.h"
#include "host/aim.h"
#include "host/keys.h"
#include "host/messages.h"  // draw_message
#include "host/program.h"
#include "host/session.h"
#include "host/win32/win32.h"
#include "ppu/ppu.h"

namespace {

constexpr wchar_t CLASS_NAME[] = L"Vantarix";
constexpr wchar_t TITLE[] = L"NES";
constexpr UINT_PTR REPAINT_TIMER = 1;
constexpr UINT REPAINT_MS = 16;
constexpr int START_SCALE = 2;  // first window size: the picture at twice its size
constexpr LONG_PTR BARE_STYLE = WS_POPUP | WS_VISIBLE;

struct Window {
  HWND hwnd = nullptr;
  int client_width = START_SCALE * FRAME_WIDTH, client_height = START_SCALE * FRAME_HEIGHT;
  bool repaint_due = false;      // set by the timer, taken by window_wait_for_repaint
  bool frameless = false;        // Escape's state: bare window kept on top
  LONG_PTR saved_style = BARE_STYLE;  // the style Escape switches to next
  bool full_screen = false;
  bool mouse_tracked = false;    // WM_MOUSELEAVE asked for since the mouse came in
  LONG_PTR style_before_full_screen = 0;
  RECT rect_before_full_screen{};
  std::vector<uint32_t> composed = std::vector<uint32_t>(FRAME_WIDTH * FRAME_HEIGHT);
  BITMAPINFO picture{};          // a top-down 32-bit DIB of FRAME_WIDTH x FRAME_HEIGHT
};
Window w;

// The Windows virtual-key codes as the named keys. The modifier keys come as one code for both
// sides: the scan code (Shift) or the extended-key flag (Control, Alt) tells which.
Key key_of(WPARAM code, LPARAM flags) {
  const auto offset = [](Key first, WPARAM n) { return static_cast<Key>(static_cast<int>(first) + static_cast<int>(n)); };
  const bool extended = (flags & (LPARAM{1} << 24)) != 0;
  if (code >= 'A' && code <= 'Z') return offset(Key::a, code - 'A');
  if (code >= '0' && code <= '9') return offset(Key::digit_0, code - '0');
  if (code >= VK_F1 && code <= VK_F12) return offset(Key::f1, code - VK_F1);
  if (code >= VK_NUMPAD0 && code <= VK_NUMPAD9) return offset(Key::keypad_0, code - VK_NUMPAD0);
  switch (code) {
    case VK_RIGHT: return Key::right;    // 39
    case VK_LEFT: return Key::left;      // 37
    case VK_UP: return Key::up;          // 38
    case VK_DOWN: return Key::down;      // 40
    case VK_SPACE: return Key::space;    // 32
    case VK_RETURN: return Key::enter;   // 13, also the keypad's Enter
    case VK_TAB: return Key::tab;
    case VK_BACK: return Key::backspace;
    case VK_ESCAPE: return Key::escape;  // 27
    case VK_INSERT: return Key::insert;
    case VK_DELETE: return Key::delete_;
    case VK_HOME: return Key::home;
    case VK_END: return Key::end;
    case VK_PRIOR: return Key::page_up;
    case VK_NEXT: return Key::page_down;
    case VK_ADD: return Key::keypad_plus;       // 107
    case VK_SUBTRACT: return Key::keypad_minus; // 109
    case VK_MULTIPLY: return Key::keypad_multiply;
    case VK_DIVIDE: return Key::keypad_divide;
    case VK_DECIMAL: return Key::keypad_period;
    case VK_OEM_MINUS: return Key::minus;
    case VK_OEM_PLUS: return Key::equals;  // the key with = and +
    case VK_OEM_COMMA: return Key::comma;
    case VK_OEM_PERIOD: return Key::period;
    case VK_OEM_2: return Key::slash;
    case VK_OEM_1: return Key::semicolon;
    case VK_OEM_7: return Key::apostrophe;
    case VK_OEM_4: return Key::left_bracket;
    case VK_OEM_6: return Key::right_bracket;
    case VK_OEM_5: return Key::backslash;
    case VK_OEM_3: return Key::grave;
    case VK_SHIFT: return ((flags >> 16) & 0xFF) == 0x36 ? Key::right_shift : Key::left_shift;
    case VK_CONTROL: return extended ? Key::right_ctrl : Key::left_ctrl;
    case VK_MENU: return extended ? Key::right_alt : Key::left_alt;
    default: return Key::other;
  }
}

void update_all_controllers() { update_controllers(gamepad_buttons(0), gamepad_buttons(1)); }

LONG_PTR style() { return GetWindowLongPtrW(w.hwnd, GWL_STYLE); }

// Gives the window `new_style` and puts it at x,y with a client area of width x height.
void place(LONG_PTR new_style, HWND after, int x, int y, int width, int height) {
  SetWindowLongPtrW(w.hwnd, GWL_STYLE, new_style);
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(new_style), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(w.hwnd, GWL_EXSTYLE)));
  SetWindowPos(w.hwnd, after, x, y, r.right - r.left, r.bottom - r.top, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
}

// F11 and Alt+Enter: a bare window over the whole screen, and back.
void switch_full_screen() {
  if (!w.full_screen) {
    if (IsZoomed(w.hwnd)) ShowWindow(w.hwnd, SW_RESTORE);
    w.style_before_full_screen = style();
    GetWindowRect(w.hwnd, &w.rect_before_full_screen);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(w.hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& m = monitor.rcMonitor;
    w.full_screen = true;
    place(BARE_STYLE, HWND_TOP, m.left, m.top, m.right - m.left, m.bottom - m.top);
  } else {
    w.full_screen = false;
    SetWindowLongPtrW(w.hwnd, GWL_STYLE, w.style_before_full_screen);
    const RECT& r = w.rect_before_full_screen;
    SetWindowPos(w.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_FRAMECHANGED | SWP_SHOWWINDOW | SWP_NOZORDER);
  }
}

// Escape: the window's style swaps with the saved one (at first: no caption or frame), and the
// window, kept on top, goes to the screen's top-left corner with a 256x240 client area.
void switch_window_style() {
  if (w.full_screen) switch_full_screen();  // Escape's windows are never full screen
  if (IsZoomed(w.hwnd)) ShowWindow(w.hwnd, SW_RESTORE);
  const LONG_PTR current = style() & ~static_cast<LONG_PTR>(WS_MAXIMIZE | WS_MINIMIZE);
  const LONG_PTR next = w.saved_style;
  w.saved_style = current;
  w.frameless = !w.frameless;
  place(next, HWND_TOPMOST, 0, 0, FRAME_WIDTH, FRAME_HEIGHT);
}

// WM_KEYDOWN, WM_KEYUP and their WM_SYS forms (keys with Alt, F10). Returns false for a key of no
// use here, which the system then handles (Alt+F4 closes the window).
bool on_key(UINT message, WPARAM code, LPARAM flags) {
  KeyEvent e;
  e.key = key_of(code, flags);
  e.down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
  e.repeat = e.down && (flags & (LPARAM{1} << 30)) != 0;  // the key was down already
  e.ctrl = GetKeyState(VK_CONTROL) < 0;
  e.alt = (flags & (LPARAM{1} << 29)) != 0;
  const KeyResult result = key_event(e);
  update_all_controllers();
  switch (result) {
    case KeyResult::switch_full_screen: switch_full_screen(); break;
    case KeyResult::switch_window_style: switch_window_style(); break;
    case KeyResult::used: break;
    case KeyResult::unused: return false;
  }
  return true;
}

void paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(w.hwnd, &ps);
  SetStretchBltMode(dc, COLORONCOLOR);  // nearest neighbour
  int x = 0, y = 0, width = w.client_width, height = w.client_height;
  if (w.full_screen) {  // the largest whole scale that fits, centred on black
    const int scale = std::max(1, std::min(w.client_width / FRAME_WIDTH, w.client_height / FRAME_HEIGHT));
    width = scale * FRAME_WIDTH;
    height = scale * FRAME_HEIGHT;
    x = (w.client_width - width) / 2;
    y = (w.client_height - height) / 2;
    PatBlt(dc, 0, 0, w.client_width, y, BLACKNESS);
    PatBlt(dc, 0, y + height, w.client_width, w.client_height - y - height, BLACKNESS);
    PatBlt(dc, 0, y, x, height, BLACKNESS);
    PatBlt(dc, x + width, y, w.client_width - x - width, height, BLACKNESS);
  }
  StretchDIBits(dc, x, y, width, height, 0, 0, FRAME_WIDTH, FRAME_HEIGHT, w.composed.data(), &w.picture,
                DIB_RGB_COLORS, SRCCOPY);
  EndPaint(w.hwnd, &ps);
}

// The light gun follows the mouse: the picture pixel under its client coordinates. Leaving the
// window points it away from the screen.
void aim_gun(LPARAM position) {
  const int x = static_cast<short>(LOWORD(position)), y = static_cast<short>(HIWORD(position));
  const int32_t aim = aim_from_window(x, y, w.client_width, w.client_height, w.full_screen);
  if (aim < 0) zapper_aim_away();
  else zapper_aim_at(aim % FRAME_WIDTH, aim / FRAME_WIDTH);
  if (!w.mouse_tracked) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = w.hwnd;
    w.mouse_tracked = TrackMouseEvent(&track) != FALSE;
  }
}

void on_drop(HDROP drop) {
  const UINT length = DragQueryFileA(drop, 0, nullptr, 0);
  std::string path(length, '\0');
  if (length > 0) DragQueryFileA(drop, 0, path.data(), length + 1);
  DragFinish(drop);
  if (!path.empty()) session_open_image(path);
}

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      w.hwnd = hwnd;
      SetTimer(hwnd, REPAINT_TIMER, REPAINT_MS, nullptr);
      DragAcceptFiles(hwnd, TRUE);
      program_start_emulation();
      return 0;
    case WM_TIMER:
      w.repaint_due = true;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_PAINT: paint(); return 0;
    case WM_ERASEBKGND: return 1;  // every pixel is painted
    case WM_SIZE:
      w.client_width = LOWORD(lparam);
      w.client_height = HIWORD(lparam);
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      if (on_key(message, wparam, lparam)) return 0;
      break;
    case WM_SYSCHAR:
      if (wparam == '\r') return 0;  // Alt+Enter: no beep
      break;
    case WM_KILLFOCUS:  // keys released elsewhere never come here
      release_all_keys();
      update_all_controllers();
      return 0;
    case WM_MOUSEMOVE:
      if (zapper_settings.connected) aim_gun(lparam);
      return 0;
    case WM_LBUTTONDOWN:
      if (zapper_settings.connected) {
        aim_gun(lparam);
        zapper_pull_trigger();
      }
      return 0;
    case WM_MOUSELEAVE:
      w.mouse_tracked = false;
      zapper_aim_away();
      return 0;
    case WM_DROPFILES: on_drop(reinterpret_cast<HDROP>(wparam)); return 0;
    case WM_ENDSESSION:  // the user logs off: end as when the window is closed
      if (wparam) stop_requested.store(true, std::memory_order_relaxed);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd, REPAINT_TIMER);
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

bool window_open(std::string& error) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW window_class{};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  window_class.lpszMenuName = nullptr;
  window_class.lpszClassName = CLASS_NAME;
  if (!RegisterClassW(&window_class)) {
    MessageBoxW(nullptr, L"Program requires Windows NT!", CLASS_NAME, MB_ICONERROR);
    error = WINDOW_CLASS_REFUSED;
    return false;
  }

  BITMAPINFOHEADER& h = w.picture.bmiHeader;
  h.biSize = sizeof h;
  h.biWidth = FRAME_WIDTH;
  h.biHeight = -FRAME_HEIGHT;  // top-down: row 0 first, as in the frame buffer
  h.biPlanes = 1;
  h.biBitCount = 32;           // 0x00RRGGBB in memory order B, G, R, unused
  h.biCompression = BI_RGB;
  gamepads_open();

  RECT r{0, 0, w.client_width, w.client_height};
  AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
  // WM_CREATE, inside this call, starts the timer and the emulation thread. A display driver under
  // load (Wine's, here) has been seen to refuse a process's first window for a moment, failing with
  // no error code before WM_CREATE; asking again a little later then succeeds. Once WM_CREATE has
  // run (w.hwnd is set) a failure is final, so the emulation thread never starts twice.
  HWND hwnd = nullptr;
  constexpr int CREATE_ATTEMPTS = 5;
  constexpr DWORD CREATE_RETRY_MS = 200;
  for (int attempt = 0; attempt < CREATE_ATTEMPTS && !hwnd && !w.hwnd; ++attempt) {
    if (attempt > 0) Sleep(CREATE_RETRY_MS);
    hwnd = CreateWindowW(CLASS_NAME, TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                         r.right - r.left, r.bottom - r.top, nullptr, nullptr, instance, nullptr);
  }
  if (!hwnd) {
    error = "cannot open the window: error " + std::to_string(GetLastError());
    return false;
  }
  ShowWindow(hwnd, SW_SHOWNORMAL);
  UpdateWindow(hwnd);
  return true;
}

bool window_wait_for_repaint(const std::atomic<bool>& stop) {
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return false;
    if (w.repaint_due) {
      w.repaint_due = false;
      gamepads_poll();
      update_all_controllers();
      return true;
    }
    MSG message;
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) return false;  // WM_QUIT after WM_DESTROY
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void window_repaint(const std::atomic<uint32_t>* pixels, const std::string& message) {
  for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i)
    w.composed[static_cast<size_t>(i)] = pixels ? pixels[i].load(std::memory_order_relaxed) : 0;
  draw_message(w.composed.data(), message);
  // The timer has invalidated the window: WM_PAINT, next in the queue, draws this picture.
}

void window_push_drop(const std::string& path) {
  // An HDROP as the shell makes it: a DROPFILES header, then the names, each ended by a zero, and
  // one more zero. The window procedure frees it with DragFinish.
  const SIZE_T size = sizeof(DROPFILES) + path.size() + 2;
  HGLOBAL memory = GlobalAlloc(GHND, size);
  if (!memory) return;
  auto* files = static_cast<DROPFILES*>(GlobalLock(memory));
  files->pFiles = sizeof(DROPFILES);
  files->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), path.c_str(), path.size());
  GlobalUnlock(memory);
  if (!PostMessageW(w.hwnd, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0)) GlobalFree(memory);
}

void window_message_box(const std::string& text) {
  MessageBoxA(w.hwnd, text.c_str(), "NES", MB_ICONERROR | MB_OK);
}
