// The player's own configuration file, a TOML file read at the start of the window program on every
// platform: the keys and game-controller buttons of both controllers, turbo A and B and their
// rate, the emulator's own keys, the starting run-ahead, the sound's latency target and the light
// gun. Without the file everything is as the program has it (host/controls.h). Each setting that is
// wrong is named with its line and left as it was; the rest applies. A file that is not TOML at
// all is named with the line where reading stopped, and none of it applies.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "host/controls.h"
#include "host/paced_sound.h"

struct Settings {
  std::vector<KeyBinding> keys = default_key_table();
  PadMap pads = default_pad_map();
  int turbo_rate = DEFAULT_TURBO_RATE;  // presses per second
  int run_ahead = 0;                    // frames; the command line's --run-ahead wins
  int latency_ms = DEFAULT_QUEUE_TARGET_MS;  // the sound queued ahead of the device
  bool zapper = false;                  // the light gun in the second port; --zapper sets it too
  bool operator==(const Settings&) const = default;
};

// Where the file is looked for: on Windows %APPDATA%\nes\config.toml; elsewhere
// $XDG_CONFIG_HOME/nes/config.toml, or ~/.config/nes/config.toml when XDG_CONFIG_HOME is unset or
// not an absolute path. Empty when neither variable leads anywhere.
std::string default_config_path();

// Reads the settings from `text`, the content of the file `name`; each problem found goes to
// `problems` as "NAME:LINE: what is wrong".
Settings parse_config(std::string_view text, const std::string& name, std::vector<std::string>& problems);

// Reads the file at `path`. A missing file gives the defaults without a word, unless `named` (the
// command line named it), when that is a problem too.
Settings load_config(const std::string& path, bool named, std::vector<std::string>& problems);
