#include "host/sdl/gamepads.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/joypad.h"
#include "host/keys.h"

namespace {

constexpr int PORTS = 2;

struct Pad {
  SDL_GameController* controller = nullptr;
  SDL_JoystickID id = -1;
  PadButtons buttons;
};
Pad ports[PORTS];

// SDL's buttons of the named inputs, in PadInput's order.
constexpr SDL_GameControllerButton SDL_BUTTONS[] = {
    SDL_CONTROLLER_BUTTON_A,           SDL_CONTROLLER_BUTTON_B,          SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y,           SDL_CONTROLLER_BUTTON_BACK,       SDL_CONTROLLER_BUTTON_GUIDE,
    SDL_CONTROLLER_BUTTON_START,       SDL_CONTROLLER_BUTTON_LEFTSTICK,  SDL_CONTROLLER_BUTTON_RIGHTSTICK,
    SDL_CONTROLLER_BUTTON_LEFTSHOULDER, SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, SDL_CONTROLLER_BUTTON_DPAD_UP,
    SDL_CONTROLLER_BUTTON_DPAD_DOWN,   SDL_CONTROLLER_BUTTON_DPAD_LEFT,  SDL_CONTROLLER_BUTTON_DPAD_RIGHT,
};
static_assert(std::size(SDL_BUTTONS) == PAD_INPUTS);

PadButtons read_pad(SDL_GameController* c) {
  uint16_t pressed = 0;
  for (int i = 0; i < PAD_INPUTS; ++i)
    if (SDL_GameControllerGetButton(c, SDL_BUTTONS[i])) pressed |= static_cast<uint16_t>(1u << i);
  PadButtons b = pad_buttons(pad_map(), pressed);
  b.held |= stick_directions(SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTX),
                             SDL_GameControllerGetAxis(c, SDL_CONTROLLER_AXIS_LEFTY));
  return b;
}

Pad* pad_of(SDL_JoystickID id) {
  for (Pad& p : ports)
    if (p.controller && p.id == id) return &p;
  return nullptr;
}

void plug_in(int device) {
  const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(device);
  if (pad_of(id)) return;  // SDL announces the pads present at the start once more
  for (Pad& p : ports) {
    if (p.controller) continue;
    p.controller = SDL_GameControllerOpen(device);
    if (!p.controller) {
      std::fprintf(stderr, "nes: game controller not opened: %s\n", SDL_GetError());
      return;
    }
    p.id = id;
    p.buttons = read_pad(p.controller);
    return;
  }
  // A third pad waits until a port is free.
}

void unplug(SDL_JoystickID id) {
  Pad* p = pad_of(id);
  if (!p) return;
  SDL_GameControllerClose(p->controller);
  *p = Pad{};
  // A pad that was waiting for a port takes this one.
  for (int device = 0; device < SDL_NumJoysticks(); ++device)
    if (SDL_IsGameController(device) && !pad_of(SDL_JoystickGetDeviceInstanceID(device))) {
      plug_in(device);
      break;
    }
}

// The virtual controllers of NES_TEST_PADS.
struct TestPads {
  const char* file = nullptr;
  std::string last;
  std::vector<SDL_Joystick*> joysticks;  // null: unplugged
};
TestPads test;

void set_virtual(SDL_Joystick* j, const std::string& line) {
  for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b) SDL_JoystickSetVirtualButton(j, b, 0);
  int16_t x = 0, y = 0;
  std::istringstream words(line);
  for (std::string w; words >> w;) {
    if (w == "left") x = -32768;
    else if (w == "right") x = 32767;
    else if (w == "up") y = -32768;
    else if (w == "down") y = 32767;
    else if (w == "nudge") x = STICK_DEAD_ZONE / 2;
    else {
      const SDL_GameControllerButton b = SDL_GameControllerGetButtonFromString(w.c_str());
      if (b == SDL_CONTROLLER_BUTTON_INVALID) std::fprintf(stderr, "nes: NES_TEST_PADS: no input '%s'\n", w.c_str());
      else SDL_JoystickSetVirtualButton(j, b, 1);
    }
  }
  SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTX, x);
  SDL_JoystickSetVirtualAxis(j, SDL_CONTROLLER_AXIS_LEFTY, y);
}

}  // namespace

void gamepads_open() {
  SDL_GameControllerEventState(SDL_ENABLE);
  test.file = std::getenv("NES_TEST_PADS");
}

bool gamepads_handle(const SDL_Event& event) {
  switch (event.type) {
    case SDL_CONTROLLERDEVICEADDED: plug_in(event.cdevice.which); return true;
    case SDL_CONTROLLERDEVICEREMOVED: unplug(event.cdevice.which); return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
    case SDL_CONTROLLERAXISMOTION: {
      const SDL_JoystickID id = event.type == SDL_CONTROLLERAXISMOTION ? event.caxis.which : event.cbutton.which;
      if (Pad* p = pad_of(id)) p->buttons = read_pad(p->controller);
      return true;
    }
    default: return false;
  }
}

PadButtons gamepad_buttons(int port) { return ports[port].buttons; }

void gamepads_poll_test_file() {
  if (!test.file) return;
  std::ifstream in(test.file);
  std::stringstream content;
  content << in.rdbuf();
  if (content.str() == test.last) return;
  test.last = content.str();
  std::istringstream lines(test.last);
  size_t n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    if (test.joysticks.size() <= n) test.joysticks.push_back(nullptr);
    SDL_Joystick*& j = test.joysticks[n];
    if (line == "-") {
      if (j) {
        const SDL_JoystickID id = SDL_JoystickInstanceID(j);
        SDL_JoystickClose(j);
        j = nullptr;
        for (int device = 0; device < SDL_NumJoysticks(); ++device)
          if (SDL_JoystickGetDeviceInstanceID(device) == id) SDL_JoystickDetachVirtual(device);
      }
      continue;
    }
    if (!j) {
      const int device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX,
                                                   SDL_CONTROLLER_BUTTON_MAX, 0);
      j = device >= 0 ? SDL_JoystickOpen(device) : nullptr;
      if (!j) {
        std::fprintf(stderr, "nes: NES_TEST_PADS: no virtual controller: %s\n", SDL_GetError());
        continue;
      }
    }
    set_virtual(j, line);
  }
}
