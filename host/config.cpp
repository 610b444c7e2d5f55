#include "host/config.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

// toml++, header-only: its definitions live in this file alone. Only its parser is needed.
#define TOML_ENABLE_FORMATTERS 0
#include <toml.h>

#include "host/save_files.h"
#include "host/session.h"  // MAX_RUN_AHEAD

namespace {

constexpr size_t MAX_FILE_SIZE = 1 << 20;

std::string type_name(const toml::node& n) {
  switch (n.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number with a fraction";
    case toml::node_type::boolean: return "true or false";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "a list";
    default: return "a date or time";
  }
}

std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }

// One name given for a setting, with its line.
struct Name {
  std::string text;
  uint32_t line;
};

// A key given in the file for a setting, with the setting's name and the key's line.
struct Given {
  KeyBinding binding;
  std::string setting;
  uint32_t line;
};

// The purpose a binding serves, whatever its key: the same button (or turbo button) of the same
// controller, the same slot, the same emulator key.
bool same_purpose(const KeyBinding& a, const KeyBinding& b) {
  if (a.use != b.use) return false;
  switch (a.use) {
    case KeyUse::button:
    case KeyUse::turbo: return a.port == b.port && a.value == b.value;
    case KeyUse::select_slot: return a.value == b.value;
    default: return true;
  }
}
bool same_keys(const KeyBinding& a, const KeyBinding& b) { return a.key == b.key && a.ctrl == b.ctrl && a.alt == b.alt; }

std::string binding_text(const KeyBinding& b) {
  return std::string(b.ctrl ? "Ctrl+" : "") + (b.alt ? "Alt+" : "") + std::string(key_name(b.key));
}

struct Reader {
  Reader(const std::string& f, std::vector<std::string>& p) : file(f), problems(p) {}
  const std::string& file;
  std::vector<std::string>& problems;
  Settings settings;
  std::vector<KeyBinding> replaced;  // purposes the file gives keys to
  std::vector<Given> keys;
  // Key settings in the order of their lines (toml++ keeps a table's keys sorted by name).
  struct Pending {
    uint32_t line;
    std::string setting;
    const toml::node* node;
    KeyBinding purpose;
    bool modifiers;
  };
  std::vector<Pending> pending;
  bool pad_given[CONTROLS] = {};
  uint16_t pad_inputs[CONTROLS] = {};
  uint32_t pad_lines[PAD_INPUTS] = {};   // where each input named in the file was named, 0: not
  Control pad_owner[PAD_INPUTS] = {};

  std::vector<std::pair<uint32_t, std::string>> found;  // sorted by line at the end
  void problem(uint32_t line, const std::string& what) {
    found.emplace_back(line, file + ":" + std::to_string(line) + ": " + what);
  }
  void report() {
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& f : found) problems.push_back(std::move(f.second));
  }
  static uint32_t line_of(const toml::node& n) { return n.source().begin.line; }

  // A name or a list of names ("" and [] give none); nullopt after naming the problem.
  std::optional<std::vector<Name>> names(const std::string& setting, const toml::node& n, std::string_view what) {
    std::vector<Name> out;
    if (const auto* s = n.as_string()) {
      if (!s->get().empty()) out.push_back({s->get(), line_of(n)});
      return out;
    }
    if (const auto* list = n.as_array()) {
      for (const toml::node& e : *list) {
        const auto* s = e.as_string();
        if (!s) {
          problem(line_of(e), setting + ": " + std::string(what) + " in quotes, got " + type_name(e));
          return std::nullopt;
        }
        out.push_back({s->get(), line_of(e)});
      }
      return out;
    }
    problem(line_of(n), setting + ": " + std::string(what) + " or a list of them, got " + type_name(n));
    return std::nullopt;
  }

  // "Ctrl+Alt+KEY": the key and the modifiers it asks for.
  std::optional<KeyBinding> binding(const std::string& setting, const Name& name, bool modifiers) {
    KeyBinding b;
    std::string_view rest = name.text;
    for (;;) {
      const size_t plus = rest.find('+');
      if (plus == std::string_view::npos || plus == 0 || plus + 1 == rest.size()) break;
      std::string prefix(rest.substr(0, plus));
      for (char& ch : prefix) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (prefix == "ctrl" || prefix == "control") b.ctrl = true;
      else if (prefix == "alt") b.alt = true;
      else break;
      rest.remove_prefix(plus + 1);
    }
    b.key = key_from_name(rest);
    if (b.key == Key::other) {
      problem(name.line, setting + ": no key named " + quoted(rest) + " (the README lists the key names)");
      return std::nullopt;
    }
    if ((b.ctrl || b.alt) && !modifiers) {
      problem(name.line, setting + ": a controller's keys take no Ctrl+ or Alt+, got " + quoted(name.text));
      return std::nullopt;
    }
    return b;
  }

  // The keys of one purpose; `slots` spreads a list of ten over the slots 0-9. A key that an
  // earlier line gave to another purpose makes the whole setting wrong.
  void key_setting(const std::string& setting, const toml::node& n, KeyBinding purpose, bool modifiers) {
    const auto list = names(setting, n, "a key name");
    if (!list) return;
    const bool slots = purpose.use == KeyUse::select_slot;
    if (slots && list->size() != STATE_SLOTS) {
      problem(line_of(n), setting + ": a list of " + std::to_string(STATE_SLOTS) + " key names (slots 0 to 9), got " +
                              std::to_string(list->size()));
      return;
    }
    std::vector<Given> given;
    for (size_t i = 0; i < list->size(); ++i) {
      const auto b = binding(setting, (*list)[i], modifiers);
      if (!b) return;
      KeyBinding full = purpose;
      full.key = b->key;
      full.ctrl = b->ctrl;
      full.alt = b->alt;
      if (slots) full.value = static_cast<uint8_t>(i);
      given.push_back({full, slots ? setting + "[" + std::to_string(i) + "]" : setting, (*list)[i].line});
      for (const Given& g : keys) {
        if (!same_keys(g.binding, full)) continue;
        problem((*list)[i].line, setting + ": " + quoted(binding_text(full)) + " is already " + g.setting +
                                     " (line " + std::to_string(g.line) + ")");
        return;
      }
    }
    if (slots) {
      for (uint8_t i = 0; i < STATE_SLOTS; ++i) replaced.push_back(KeyBinding{Key::other, false, false, KeyUse::select_slot, 0, i});
    } else {
      replaced.push_back(purpose);
    }
    keys.insert(keys.end(), given.begin(), given.end());
  }

  void controller_table(int port, const std::string& table_name, const toml::table& t) {
    for (const auto& [key, node] : t) {
      const std::string setting = table_name + "." + std::string(key.str());
      int control = 0;
      while (control < CONTROLS && control_name(static_cast<Control>(control)) != key.str()) ++control;
      if (control == CONTROLS) {
        problem(key.source().begin.line, table_name + " has no button " + quoted(key.str()) +
                                             " (a, b, select, start, up, down, left, right, turbo_a, turbo_b)");
        continue;
      }
      const auto c = static_cast<Control>(control);
      const bool turbo = c == Control::turbo_a || c == Control::turbo_b;
      pending.push_back({line_of(node), setting, &node,
                         KeyBinding{Key::other, false, false, turbo ? KeyUse::turbo : KeyUse::button,
                                    static_cast<uint8_t>(port), control_bit(c)},
                         false});
    }
  }

  void keys_table(const toml::table& t) {
    for (const auto& [key, node] : t) {
      const std::string setting = "keys." + std::string(key.str());
      const KeyUseName* use = nullptr;
      for (const KeyUseName& u : EMULATOR_KEY_NAMES)
        if (u.name == key.str()) use = &u;
      if (!use) {
        std::string known;
        for (const KeyUseName& u : EMULATOR_KEY_NAMES) {
          if (!known.empty()) known += ", ";
          known += u.name;
        }
        problem(key.source().begin.line, "keys has no " + quoted(key.str()) + " (" + known + ")");
        continue;
      }
      pending.push_back({line_of(node), setting, &node, KeyBinding{Key::other, false, false, use->use, 0, 0}, true});
    }
  }

  void gamepad_table(const toml::table& t) {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;  // in the order of their lines
    for (const auto& [key, node] : t) entries.emplace_back(&key, &node);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return line_of(*a.second) < line_of(*b.second); });
    for (const auto& [key_pointer, node_pointer] : entries) {
      const toml::key& key = *key_pointer;
      const toml::node& node = *node_pointer;
      const std::string setting = "gamepad." + std::string(key.str());
      int control = 0;
      while (control < CONTROLS && control_name(static_cast<Control>(control)) != key.str()) ++control;
      if (control == CONTROLS) {
        problem(key.source().begin.line, "gamepad has no button " + quoted(key.str()) +
                                             " (a, b, select, start, up, down, left, right, turbo_a, turbo_b)");
        continue;
      }
      const auto list = names(setting, node, "a game controller button name");
      if (!list) continue;
      uint16_t inputs = 0;
      bool good = true;
      for (const Name& name : *list) {
        const PadInput i = pad_input_from_name(name.text);
        if (i == PadInput::count) {
          problem(name.line, setting + ": no game controller button named " + quoted(name.text) +
                                 " (a, b, x, y, back, guide, start, leftstick, rightstick, leftshoulder, "
                                 "rightshoulder, dpup, dpdown, dpleft, dpright)");
          good = false;
          break;
        }
        const auto n = static_cast<size_t>(i);
        if (inputs & (1u << n)) {
          problem(name.line, setting + ": " + quoted(name.text) + " is named twice");
          good = false;
          break;
        }
        if (pad_lines[n] != 0) {
          problem(name.line, setting + ": " + quoted(name.text) + " is already gamepad." +
                                 std::string(control_name(pad_owner[n])) + " (line " + std::to_string(pad_lines[n]) + ")");
          good = false;
          break;
        }
        inputs = static_cast<uint16_t>(inputs | (1u << n));
      }
      if (!good) continue;
      for (const Name& name : *list) {
        const auto n = static_cast<size_t>(pad_input_from_name(name.text));
        pad_lines[n] = name.line;
        pad_owner[n] = static_cast<Control>(control);
      }
      pad_given[control] = true;
      pad_inputs[control] = inputs;
    }
  }

  // An integer setting within [low, high].
  void number(const std::string& setting, const toml::node& n, int low, int high, const std::string& unit, int& out) {
    const auto* v = n.as_integer();
    if (!v) {
      problem(line_of(n), setting + ": a whole number, got " + type_name(n));
      return;
    }
    if (v->get() < low || v->get() > high) {
      problem(line_of(n), setting + ": " + std::to_string(low) + " to " + std::to_string(high) + unit + ", got " +
                              std::to_string(v->get()));
      return;
    }
    out = static_cast<int>(v->get());
  }

  void read(const toml::table& root) {
    for (const auto& [key, node] : root) {
      const std::string name(key.str());
      const uint32_t line = key.source().begin.line;
      const toml::table* table = node.as_table();
      if (name == "controller1" || name == "controller2" || name == "keys" || name == "gamepad") {
        if (!table) {
          problem(line, name + ": a table ([" + name + "]), got " + type_name(node));
          continue;
        }
        if (name == "keys") keys_table(*table);
        else if (name == "gamepad") gamepad_table(*table);
        else controller_table(name == "controller1" ? 0 : 1, name, *table);
      } else if (name == "run_ahead") {
        number(name, node, 0, MAX_RUN_AHEAD, " frames", settings.run_ahead);
      } else if (name == "latency_ms") {
        number(name, node, MIN_QUEUE_TARGET_MS, MAX_QUEUE_TARGET_MS, " ms", settings.latency_ms);
      } else if (name == "turbo_rate") {
        number(name, node, MIN_TURBO_RATE, MAX_TURBO_RATE, " presses per second", settings.turbo_rate);
      } else if (name == "zapper") {
        if (const auto* b = node.as_boolean()) settings.zapper = b->get();
        else problem(line_of(node), name + ": true or false, got " + type_name(node));
      } else {
        problem(line, "no setting " + quoted(name) +
                          " (controller1, controller2, gamepad, keys, turbo_rate, run_ahead, latency_ms, zapper)");
      }
    }
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) { return a.line < b.line; });
    for (const Pending& p : pending) key_setting(p.setting, *p.node, p.purpose, p.modifiers);
    build_key_table();
    build_pad_map();
  }

  // The defaults keep what the file does not give away: their purpose is not set in the file and
  // their key is not named there.
  void build_key_table() {
    std::vector<KeyBinding> table;
    for (const KeyBinding& d : settings.keys) {
      bool keep = true;
      for (const KeyBinding& r : replaced) keep = keep && !same_purpose(d, r);
      for (const Given& g : keys) keep = keep && !same_keys(d, g.binding);
      if (keep) table.push_back(d);
    }
    for (const Given& g : keys) table.push_back(g.binding);
    settings.keys = std::move(table);
  }

  void build_pad_map() {
    uint16_t named = 0;
    for (int i = 0; i < PAD_INPUTS; ++i)
      if (pad_lines[i] != 0) named = static_cast<uint16_t>(named | (1u << i));
    for (int c = 0; c < CONTROLS; ++c)
      settings.pads.inputs[c] = pad_given[c] ? pad_inputs[c] : static_cast<uint16_t>(settings.pads.inputs[c] & ~named);
  }
};

}  // namespace

std::string default_config_path() {
#ifdef _WIN32
  const char* appdata = std::getenv("APPDATA");
  if (appdata && *appdata) return std::string(appdata) + "\\nes\\config.toml";
  return {};
#else
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/nes/config.toml";
  const char* home = std::getenv("HOME");
  if (home && *home) return std::string(home) + "/.config/nes/config.toml";
  return {};
#endif
}

Settings parse_config(std::string_view text, const std::string& name, std::vector<std::string>& problems) {
  Reader reader(name, problems);
  try {
    reader.read(toml::parse(text, name));
    reader.report();
  } catch (const toml::parse_error& e) {
    problems.push_back(name + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()) +
                       "; the file is not read, nothing in it applies");
    return Settings{};
  }
  return reader.settings;
}

Settings load_config(const std::string& path, bool named, std::vector<std::string>& problems) {
  if (path.empty()) return Settings{};
  std::vector<uint8_t> data;
  std::string error;
  switch (read_file(path, MAX_FILE_SIZE, false, data, error)) {
    case ReadResult::ok: break;
    case ReadResult::missing:
      if (named) problems.push_back(path + ": no such file; the defaults apply");
      return Settings{};
    case ReadResult::refused: problems.push_back(error + "; the defaults apply"); return Settings{};
  }
  return parse_config(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), path, problems);
}
