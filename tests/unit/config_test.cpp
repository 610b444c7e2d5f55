// The player's configuration file: what a good file changes in the key table, the pads, turbo,
// run-ahead, latency and the light gun; each kind of mistake named with its line and changing
// nothing while the rest applies; a file that is not TOML changing nothing at all; no file at all
// changing nothing either.
#include "host/config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/joypad.h"
#include "tests/unit/core_test_machine.h"

namespace {

const std::string NAME = "config.toml";

Settings parse(const std::string& text, std::vector<std::string>& problems) {
  return parse_config(text, NAME, problems);
}

// What a key going down with these modifiers does in `table`: its bindings.
std::vector<KeyBinding> uses_of(const Settings& s, Key key, bool ctrl = false, bool alt = false) {
  std::vector<KeyBinding> found;
  for (const KeyBinding& b : s.keys)
    if (b.key == key && b.ctrl == ctrl && b.alt == alt) found.push_back(b);
  return found;
}
KeyBinding button(Key key, uint8_t port, uint8_t bit, KeyUse use = KeyUse::button) {
  return KeyBinding{key, false, false, use, port, bit};
}
KeyBinding emulator_key(Key key, KeyUse use, bool ctrl = false, bool alt = false, uint8_t value = 0) {
  return KeyBinding{key, ctrl, alt, use, 0, value};
}
uint16_t input(PadInput i) { return static_cast<uint16_t>(1u << static_cast<unsigned>(i)); }

TEST(Config, AGoodFileChangesWhatItNamesAndNothingElse) {
  const std::string text =
      "# moved keys\n"
      "turbo_rate = 4\n"
      "run_ahead = 1\n"
      "latency_ms = 40\n"
      "zapper = true\n"
      "[controller1]\n"
      "a = \"C\"\n"
      "turbo_b = \"v\"            # names compare without case\n"
      "select = [\"Tab\", \"RightShift\"]\n"
      "[controller2]\n"
      "start = \"KP_Enter\"       # not a key of its own: the systems give it as Return\n";
  std::vector<std::string> problems;
  const Settings s = parse(text, problems);
  ASSERT_EQ(problems, std::vector<std::string>{NAME + ":11: controller2.start: no key named "
                                                      "'KP_Enter' (the README lists the key names)"});
  EXPECT_EQ(s.turbo_rate, 4);
  EXPECT_EQ(s.run_ahead, 1);
  EXPECT_EQ(s.latency_ms, 40);
  EXPECT_TRUE(s.zapper);
  EXPECT_EQ(uses_of(s, Key::c), std::vector{button(Key::c, 0, BUTTON_A)});
  EXPECT_TRUE(uses_of(s, Key::z).empty()) << "A's old key lets go of it";
  EXPECT_EQ(uses_of(s, Key::v), std::vector{button(Key::v, 0, BUTTON_B, KeyUse::turbo)});
  EXPECT_EQ(uses_of(s, Key::x), std::vector{button(Key::x, 0, BUTTON_B)}) << "B keeps its key";
  EXPECT_EQ(uses_of(s, Key::tab), std::vector{button(Key::tab, 0, BUTTON_SELECT)});
  EXPECT_EQ(uses_of(s, Key::right_shift), std::vector{button(Key::right_shift, 0, BUTTON_SELECT)});
  EXPECT_TRUE(uses_of(s, Key::space).empty());
  // Everything else is today's table, in its order, but for fast-forward, whose Tab went to Select.
  std::vector<KeyBinding> rest = s.keys, defaults = default_key_table();
  const auto changed = [](const KeyBinding& b) {
    return b.use == KeyUse::turbo || b.key == Key::tab ||
           (b.use == KeyUse::button && (b.value == BUTTON_A || b.value == BUTTON_SELECT));
  };
  std::erase_if(rest, changed);
  std::erase_if(defaults, changed);
  EXPECT_EQ(rest, defaults);
  EXPECT_EQ(s.pads, default_pad_map());
}

TEST(Config, EmulatorKeysAndPadButtonsTakeTheirNewNames) {
  const std::string text =
      "[keys]\n"
      "reset = \"Ctrl+T\"\n"
      "full_screen = [\"F12\", \"alt+Return\"]\n"
      "slots = [\"KP_0\", \"KP_1\", \"KP_2\", \"KP_3\", \"KP_4\", \"KP_5\", \"KP_6\", \"KP_7\", \"KP_8\", \"KP_9\"]\n"
      "pause = \"\"\n"
      "[gamepad]\n"
      "turbo_b = \"x\"\n"
      "a = [\"b\", \"rightshoulder\"]\n"
      "select = \"start\"\n";
  std::vector<std::string> problems;
  const Settings s = parse(text, problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(uses_of(s, Key::t, true), std::vector{emulator_key(Key::t, KeyUse::reset, true)});
  EXPECT_TRUE(uses_of(s, Key::r, true).empty());
  EXPECT_EQ(uses_of(s, Key::f12), std::vector{emulator_key(Key::f12, KeyUse::full_screen)});
  EXPECT_TRUE(uses_of(s, Key::f11).empty());
  EXPECT_EQ(uses_of(s, Key::enter, false, true),
            std::vector{emulator_key(Key::enter, KeyUse::full_screen, false, true)});
  EXPECT_EQ(uses_of(s, Key::keypad_7), std::vector{emulator_key(Key::keypad_7, KeyUse::select_slot, false, false, 7)});
  EXPECT_TRUE(uses_of(s, Key::digit_7).empty());
  EXPECT_TRUE(uses_of(s, Key::p).empty()) << "an empty name leaves pause without a key";
  PadMap pads = default_pad_map();
  pads.inputs[static_cast<int>(Control::turbo_b)] = input(PadInput::x);
  pads.inputs[static_cast<int>(Control::a)] = input(PadInput::b) | input(PadInput::right_shoulder);
  pads.inputs[static_cast<int>(Control::select)] = input(PadInput::start);
  pads.inputs[static_cast<int>(Control::start)] = 0;  // Start went to Select
  EXPECT_EQ(s.pads, pads);
  const PadButtons pressed = pad_buttons(s.pads, input(PadInput::x) | input(PadInput::right_shoulder));
  EXPECT_EQ(pressed.held, BUTTON_A);
  EXPECT_EQ(pressed.turbo, BUTTON_B);
}

// Each mistake after a good line: the mistake is named with its line, it changes nothing, and the
// good line applies (the settings are those of the good line alone).
TEST(Config, EachMistakeIsNamedWithItsLineAndTheRestApplies) {
  const std::string good = "turbo_rate = 5\n[controller1]\na = \"C\"\n";  // lines 1-3
  struct Row {
    std::string text;  // after `good`, from line 4
    std::string problem;
    std::string applies = "";  // what of `text` applies, when a good line comes before the mistake
  };
  const Row rows[] = {
      {"b = \"Jump\"\n", "4: controller1.b: no key named 'Jump' (the README lists the key names)"},
      {"b = 7\n", "4: controller1.b: a key name or a list of them, got an integer"},
      {"b = [\"X\", 7]\n", "4: controller1.b: a key name in quotes, got an integer"},
      {"jump = \"J\"\n", "4: controller1 has no button 'jump' (a, b, select, start, up, down, left, right, turbo_a, turbo_b)"},
      {"b = \"Ctrl+X\"\n", "4: controller1.b: a controller's keys take no Ctrl+ or Alt+, got 'Ctrl+X'"},
      {"\n\nb = \"c\"\n", "6: controller1.b: 'C' is already controller1.a (line 3)"},
      {"[keys]\nslots = [\"1\", \"2\"]\n", "5: keys.slots: a list of 10 key names (slots 0 to 9), got 2"},
      {"[keys]\nwarp = \"W\"\n",
       "5: keys has no 'warp' (save_state, load_state, slots, rewind, reset, pause, run_ahead, full_screen, "
       "window_style, slower, faster, fast_forward)"},
      {"[keys]\nreset = \"Shift+R\"\n", "5: keys.reset: no key named 'Shift+R' (the README lists the key names)"},
      {"[gamepad]\nb = \"triangle\"\n",
       "5: gamepad.b: no game controller button named 'triangle' (a, b, x, y, back, guide, start, leftstick, "
       "rightstick, leftshoulder, rightshoulder, dpup, dpdown, dpleft, dpright)"},
      {"[gamepad]\nb = \"x\"\nturbo_a = \"x\"\n", "6: gamepad.turbo_a: 'x' is already gamepad.b (line 5)",
       "[gamepad]\nb = \"x\"\n"},
      {"[gamepad]\nb = [\"x\", \"X\"]\n", "5: gamepad.b: 'X' is named twice"},
      {"[audio]\nvolume = 3\n",
       "4: no setting 'audio' (controller1, controller2, gamepad, keys, turbo_rate, run_ahead, latency_ms, zapper)"},
      {"[keys]\n[keys.save_state]\n", "5: keys.save_state: a key name or a list of them, got a table"},
  };
  std::vector<std::string> problems;
  ASSERT_EQ(parse(good, problems).turbo_rate, 5);
  ASSERT_TRUE(problems.empty());
  for (const Row& row : rows) {
    problems.clear();
    const Settings s = parse(good + row.text, problems);
    ASSERT_EQ(problems.size(), 1u) << row.text;
    EXPECT_EQ(problems[0], NAME + ":" + row.problem) << row.text;
    std::vector<std::string> none;
    EXPECT_EQ(s, parse(good + row.applies, none)) << row.text;
    EXPECT_TRUE(none.empty());
  }
  // The top-level numbers and switches, each wrong in its own way, all named in the order of
  // their lines; the good lines around them apply.
  const std::string top =
      "zapper = \"yes\"\n"
      "run_ahead = 3\n"
      "latency_ms = 5\n"
      "latency_ms_typo = 5\n"
      "turbo_rate = 2.5\n"
      "controller2 = \"Z\"\n"
      "[controller1]\n"
      "a = \"C\"\n";
  problems.clear();
  const Settings s = parse(top, problems);
  EXPECT_EQ(problems, (std::vector<std::string>{
                          NAME + ":1: zapper: true or false, got a string",
                          NAME + ":2: run_ahead: 0 to 2 frames, got 3",
                          NAME + ":3: latency_ms: 16 to 200 ms, got 5",
                          NAME + ":4: no setting 'latency_ms_typo' (controller1, controller2, gamepad, keys, "
                                 "turbo_rate, run_ahead, latency_ms, zapper)",
                          NAME + ":5: turbo_rate: a whole number, got a number with a fraction",
                          NAME + ":6: controller2: a table ([controller2]), got a string",
                      }));
  Settings only_a = parse("[controller1]\na = \"C\"\n", problems);
  EXPECT_EQ(s, only_a);
}

TEST(Config, AFileThatIsNotTomlIsNamedAtItsLineAndChangesNothing) {
  std::vector<std::string> problems;
  const Settings s = parse("turbo_rate = 5\n[controller1]\na = \"C\"\nb = \"X\n", problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind(NAME + ":4: ", 0), 0u) << problems[0];
  EXPECT_NE(problems[0].find("nothing in it applies"), std::string::npos) << problems[0];
  EXPECT_EQ(s, Settings{});
}

TEST(Config, WithoutAFileEverythingIsAsBefore) {
  core_test::TempDir dir;
  std::vector<std::string> problems;
  EXPECT_EQ(load_config((dir.path() / "nes" / "config.toml").string(), false, problems), Settings{});
  EXPECT_TRUE(problems.empty());
  // Named on the command line, its absence is said.
  const std::string named = (dir.path() / "mine.toml").string();
  EXPECT_EQ(load_config(named, true, problems), Settings{});
  EXPECT_EQ(problems, std::vector<std::string>{named + ": no such file; the defaults apply"});
  // A file read from the disk gives what its text gives.
  problems.clear();
  const std::string text = "[controller1]\na = \"C\"\n";
  const auto file = dir.write("config.toml", std::vector<uint8_t>(text.begin(), text.end()));
  std::vector<std::string> none;
  EXPECT_EQ(load_config(file.string(), false, problems), parse_config(text, file.string(), none));
  EXPECT_TRUE(problems.empty());
  EXPECT_NE(load_config(file.string(), false, problems), Settings{});
  // Where the file is looked for.
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string xdg = saved_xdg ? saved_xdg : "";
  setenv("XDG_CONFIG_HOME", "/somewhere/conf", 1);
  EXPECT_EQ(default_config_path(), "/somewhere/conf/nes/config.toml");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(default_config_path(), std::string(std::getenv("HOME")) + "/.config/nes/config.toml");
  if (saved_xdg) setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
}

// The README's example is a file without a problem that changes the defaults.
TEST(Config, TheReadmeExampleReadsWithoutAProblem) {
  std::ifstream in(std::string(TEST_DATA_DIR) + "/../README.md");
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t section = readme.find("### The configuration file");
  ASSERT_NE(section, std::string::npos);
  const size_t start = readme.find("```toml\n", section);
  ASSERT_NE(start, std::string::npos);
  const size_t end = readme.find("```", start + 8);
  ASSERT_NE(end, std::string::npos);
  std::vector<std::string> problems;
  const Settings s = parse(readme.substr(start + 8, end - start - 8), problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_NE(s.keys, default_key_table());
  EXPECT_NE(s.pads, default_pad_map());
  EXPECT_EQ(s.turbo_rate, 15);
}

// The names of every key read back to the same key, also in another case.
TEST(Config, EveryKeyNameReadsBackToItsKey) {
  for (int i = 1; i < static_cast<int>(Key::count); ++i) {
    const auto key = static_cast<Key>(i);
    std::string name(key_name(key));
    EXPECT_EQ(key_from_name(name), key) << name;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(key_from_name(name), key) << name;
  }
  EXPECT_EQ(key_from_name("Enter"), Key::enter);
  EXPECT_EQ(key_from_name("Jump"), Key::other);
  for (int i = 0; i < PAD_INPUTS; ++i)
    EXPECT_EQ(pad_input_from_name(pad_input_name(static_cast<PadInput>(i))), static_cast<PadInput>(i));
}

}  // namespace
