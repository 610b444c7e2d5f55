// Strict parsing of the runner's options: a value is digits and nothing else, within its range.
#include "tools/headless_options.h"

const char* const HEADLESS_USAGE =
    "usage: nes-headless IMAGE [--frames N] [--steps N] [--entry HEX] [--buttons F:MASK]...\n"
    "                          [--zapper] [--aim F:X,Y|F:off]... [--trigger F]...\n"
    "                          [--trace FILE] [--dump FILE] [--result] [--screenshot FILE]\n"
    "                          [--frame-log FILE] [--wav FILE] [--save-state FILE]\n"
    "                          [--load-state FILE] [--battery FILE]\n";

bool parse_unsigned(const std::string& text, bool hex, uint64_t max, uint64_t& value) {
  if (text.empty()) return false;
  const uint64_t base = hex ? 16 : 10;
  uint64_t v = 0;
  for (char c : text) {
    uint64_t digit;
    if (c >= '0' && c <= '9') digit = static_cast<uint64_t>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') digit = static_cast<uint64_t>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') digit = static_cast<uint64_t>(c - 'A' + 10);
    else return false;
    if (digit > max || v > (max - digit) / base) return false;  // v * base + digit would pass max
    v = v * base + digit;
  }
  value = v;
  return true;
}

namespace {
struct Parser {
  std::string& error;

  bool fail(const std::string& message) {
    error = printable(message);
    return false;
  }
  bool number(const std::string& text, bool hex, uint64_t max, const std::string& option, uint64_t& out) {
    if (parse_unsigned(text, hex, max, out)) return true;
    return fail("bad value for " + option + ": '" + text + "' (" + (hex ? "hexadecimal digits" : "decimal digits") +
                ", at most " + (hex ? "$" : "") + to_text(max, hex) + ")");
  }
  static std::string to_text(uint64_t v, bool hex) {
    if (v == 0) return "0";
    std::string s;
    for (; v; v /= hex ? 16 : 10) s.insert(s.begin(), "0123456789ABCDEF"[v % (hex ? 16 : 10)]);
    return s;
  }
};
}  // namespace

ParseStatus parse_headless_options(int argc, const char* const* argv, HeadlessOptions& o, std::string& error) {
  o = HeadlessOptions{};
  Parser p{error};
  bool frames_given = false, steps_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i] ? argv[i] : "";
    const char* value = nullptr;
    auto take_value = [&]() {
      if (i + 1 >= argc || !argv[i + 1]) return p.fail(arg + " needs a value");
      value = argv[++i];
      return true;
    };
    auto path_option = [&](const char*& slot) {
      if (!take_value()) return false;
      if (*value == '\0') return p.fail(arg + " needs a file name, got ''");
      if (slot) return p.fail(arg + " given twice");
      slot = value;
      return true;
    };
    bool ok = true;
    uint64_t v = 0;
    // A count given twice is refused, as a file option is: which of the two was meant is unclear.
    auto count_option = [&](bool& given, uint64_t& count) {
      if (!take_value() || !p.number(value, false, UINT64_MAX, arg, count)) return false;
      if (given) return p.fail(arg + " given twice");
      given = true;
      return true;
    };
    if (arg == "--frames") ok = count_option(frames_given, o.frames);
    else if (arg == "--steps") ok = count_option(steps_given, o.steps);
    else if (arg == "--entry") {
      ok = take_value() && p.number(value, true, 0xFFFF, arg, v);
      if (ok) o.entry = static_cast<long>(v);
    } else if (arg == "--buttons") {
      ok = take_value();
      if (ok) {
        const std::string text = value;
        const size_t colon = text.find(':');
        uint64_t frame = 0, mask = 0;
        if (colon == std::string::npos) ok = p.fail("--buttons takes F:MASK, got '" + text + "'");
        else ok = p.number(text.substr(0, colon), false, UINT64_MAX, arg, frame) &&
                  p.number(text.substr(colon + 1), true, 0xFF, arg, mask);
        if (ok) o.buttons[frame] = static_cast<uint8_t>(mask);
      }
    } else if (arg == "--zapper") {
      o.zapper = true;
    } else if (arg == "--aim") {
      ok = take_value();
      if (ok) {
        const std::string text = value;
        const size_t colon = text.find(':'), comma = text.find(',', colon == std::string::npos ? 0 : colon);
        uint64_t frame = 0, x = 0, y = 0;
        if (colon == std::string::npos || (comma == std::string::npos && text.substr(colon + 1) != "off"))
          ok = p.fail("--aim takes F:X,Y or F:off, got '" + text + "'");
        else ok = p.number(text.substr(0, colon), false, UINT64_MAX, arg, frame);
        if (ok && comma != std::string::npos)
          ok = p.number(text.substr(colon + 1, comma - colon - 1), false, 255, "--aim x", x) &&
               p.number(text.substr(comma + 1), false, 239, "--aim y", y);
        if (ok) o.aims[frame] = comma == std::string::npos ? -1 : static_cast<int32_t>(x + 256 * y);
        o.zapper = true;
      }
    } else if (arg == "--trigger") {
      ok = take_value() && p.number(value, false, UINT64_MAX, arg, v);
      if (ok) o.pulls.insert(v);
      o.zapper = true;
    } else if (arg == "--trace") ok = path_option(o.trace);
    else if (arg == "--dump") ok = path_option(o.dump);
    else if (arg == "--screenshot") ok = path_option(o.screenshot);
    else if (arg == "--frame-log") ok = path_option(o.frame_log);
    else if (arg == "--wav") ok = path_option(o.wav);
    else if (arg == "--save-state") ok = path_option(o.save_state);
    else if (arg == "--load-state") ok = path_option(o.load_state);
    else if (arg == "--battery") ok = path_option(o.battery);
    else if (arg == "--result") o.result = true;
    else if (arg == "--help" || arg == "-h") return ParseStatus::help;
    else if (arg.size() > 1 && arg[0] == '-') ok = p.fail("unknown option " + arg);
    else if (arg.empty()) ok = p.fail("an empty argument is not an image");
    else if (!o.image) o.image = argv[i];
    else ok = p.fail("more than one image given");
    if (!ok) return ParseStatus::error;
  }
  if (!o.image) {
    error = "no image given";
    return ParseStatus::error;
  }
  return ParseStatus::run;
}
