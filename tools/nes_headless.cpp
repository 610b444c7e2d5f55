// nes-headless: runs the machine from power-on on the calling thread, without window, sound device or
// sleeps, and reports what it did: CPU trace, memory dump, test-cartridge verdict, screenshot,
// per-frame hashes and the sample stream as a WAV file.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "core/banks.h"
#include "core/bus.h"
#include "core/driver.h"
#include "core/fnv1a.h"
#include "core/joypad.h"
#include "core/machine.h"
#include "core/snapshot.h"
#include "host/battery.h"
#include "host/save_files.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"
#ifdef NES_SCREENSHOTS
#include "tools/png_writer.h"
#endif

namespace {

enum Exit { EXIT_OK = 0, EXIT_TEST_FAILED = 1, EXIT_USAGE = 2, EXIT_OUT_OF_TIME = 3 };

constexpr const char* USAGE =
    "usage: nes-headless IMAGE [--frames N] [--steps N] [--entry HEX] [--buttons F:MASK]...\n"
    "                          [--trace FILE] [--dump FILE] [--result] [--screenshot FILE]\n"
    "                          [--frame-log FILE] [--wav FILE] [--save-state FILE]\n"
    "                          [--load-state FILE] [--battery FILE]\n";

struct Options {
  const char* image = nullptr;
  uint64_t frames = 60;
  uint64_t steps = UINT64_MAX;
  long entry = -1;
  std::map<uint64_t, uint8_t> buttons;  // frame -> controller 1 byte from the end of that frame
  const char* trace = nullptr;
  const char* dump = nullptr;
  const char* screenshot = nullptr;
  const char* frame_log = nullptr;
  const char* wav = nullptr;
  const char* save_state = nullptr;
  const char* load_state = nullptr;
  const char* battery = nullptr;
  bool result = false;
};

[[noreturn]] void usage_error(const std::string& message) {
  std::fprintf(stderr, "nes-headless: %s\n%s", message.c_str(), USAGE);
  std::exit(EXIT_USAGE);
}

uint64_t parse_number(const char* text, int base, const char* option, uint64_t max) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, base);
  if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0 || v > max)
    usage_error(std::string("bad value for ") + option + ": '" + text + "'");
  return v;
}

Options parse_options(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) usage_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--frames") o.frames = parse_number(value(), 10, "--frames", UINT64_MAX);
    else if (arg == "--steps") o.steps = parse_number(value(), 10, "--steps", UINT64_MAX);
    else if (arg == "--entry") o.entry = static_cast<long>(parse_number(value(), 16, "--entry", 0xFFFF));
    else if (arg == "--buttons") {
      const std::string v = value();
      const size_t colon = v.find(':');
      if (colon == std::string::npos) usage_error("--buttons takes F:MASK, got '" + v + "'");
      const uint64_t frame = parse_number(v.substr(0, colon).c_str(), 10, "--buttons", UINT64_MAX);
      o.buttons[frame] = static_cast<uint8_t>(parse_number(v.substr(colon + 1).c_str(), 16, "--buttons", 0xFF));
    } else if (arg == "--trace") o.trace = value();
    else if (arg == "--dump") o.dump = value();
    else if (arg == "--screenshot") {
#ifdef NES_SCREENSHOTS
      o.screenshot = value();
#else
      usage_error("--screenshot is not available in this build: it has no PNG library");
#endif
    }
    else if (arg == "--frame-log") o.frame_log = value();
    else if (arg == "--wav") o.wav = value();
    else if (arg == "--save-state") o.save_state = value();
    else if (arg == "--load-state") o.load_state = value();
    else if (arg == "--battery") o.battery = value();
    else if (arg == "--result") o.result = true;
    else if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      std::exit(EXIT_OK);
    } else if (arg.size() > 1 && arg[0] == '-') usage_error("unknown option " + arg);
    else if (!o.image) o.image = argv[i];
    else usage_error("more than one image given");
  }
  if (!o.image) usage_error("no image given");
  return o;
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File open_output(const char* path) {
  if (!path) return File(nullptr, std::fclose);
  FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::fprintf(stderr, "nes-headless: %s: cannot write: %s\n", path, std::strerror(errno));
    std::exit(EXIT_USAGE);
  }
  return File(f, std::fclose);
}

// Mono 16-bit PCM at the CPU clock rate; the sizes in the header are patched when the file closes.
// A stream too long for the 32-bit RIFF sizes keeps the largest size that fits.
class WavWriter {
 public:
  explicit WavWriter(const char* path) : file_(open_output(path)) {
    if (file_) write_header();
  }
  void append(const int16_t* samples, size_t count) {
    if (!file_) return;
    bytes_.resize(2 * count);
    for (size_t i = 0; i < count; ++i) {
      const uint16_t v = static_cast<uint16_t>(samples[i]);
      bytes_[2 * i] = static_cast<uint8_t>(v);
      bytes_[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    std::fwrite(bytes_.data(), 1, bytes_.size(), file_.get());
    data_bytes_ += 2 * static_cast<uint64_t>(count);
  }
  bool finish() {
    if (!file_) return true;
    std::fseek(file_.get(), 0, SEEK_SET);
    write_header();
    return std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
  }

 private:
  void put32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, file_.get());
  }
  void put16(uint16_t v) {
    const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    std::fwrite(b, 1, 2, file_.get());
  }
  void write_header() {
    constexpr uint64_t MAX_DATA = 0xFFFFFFFFull - 36 - 1;
    const uint32_t data = static_cast<uint32_t>(std::min(data_bytes_, MAX_DATA) & ~1ull);
    std::fwrite("RIFF", 1, 4, file_.get());
    put32(36 + data);
    std::fwrite("WAVEfmt ", 1, 8, file_.get());
    put32(16);
    put16(1);                 // PCM
    put16(1);                 // mono
    put32(SAMPLE_RATE);
    put32(SAMPLE_RATE * 2);   // bytes per second
    put16(2);                 // block align
    put16(16);                // bits per sample
    std::fwrite("data", 1, 4, file_.get());
    put32(data);
  }
  File file_;
  uint64_t data_bytes_ = 0;
  std::vector<uint8_t> bytes_;  // the samples of one append, little-endian
};

// Taps the sample stream for the WAV file and the frame log's sound hashes: full buffers arrive
// through the sink; the partly filled current buffer is read where it stands. `taken` counts the
// samples of the current buffer already passed on; after a loaded save state it starts at the
// state's position, since what the buffer held before is not part of the state. Without --wav and
// --frame-log it is not installed.
struct AudioTap {
  WavWriter* wav = nullptr;
  bool hashing = false;  // --frame-log: each frame's samples are hashed
  Fnv1a hash;
  uint32_t taken = 0;

  void take(const int16_t* samples, uint32_t from, uint32_t to) {
    if (hashing)
      for (uint32_t i = from; i < to; ++i) hash.add16(samples[i]);
    if (wav && to > from) wav->append(samples + from, to - from);
  }
  void on_full_buffer(const int16_t* samples, size_t count) {
    take(samples, taken, static_cast<uint32_t>(count));
    taken = 0;
  }
  void take_current() {
    take(sample_stream.buffers[sample_stream.current_buffer], taken, sample_stream.sample_pos);
    taken = sample_stream.sample_pos;
  }
  uint64_t take_hash() {
    take_current();
    const uint64_t h = hash.hash;
    hash = Fnv1a{};
    return h;
  }
};
AudioTap audio_tap;

uint64_t frame_hash() {
  Fnv1a h;
  for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) h.add32(frame_buffer[i].load(std::memory_order_relaxed));
  return h.hash;
}

void write_trace_line(FILE* f) {
  std::fprintf(f, "%04X A:%02X X:%02X Y:%02X P:%02X SP:%02X CYC:%" PRIu64 "\n", cpu.PC, cpu.A, cpu.X,
               cpu.Y, cpu.P | FLAG_U, cpu.S, bus.cycles);
}

bool write_dump(const char* path) {
  File f = open_output(path);
  bool ok = std::fwrite(bus.work_ram, 1, sizeof bus.work_ram, f.get()) == sizeof bus.work_ram;
  ok = ok && std::fwrite(bus.cartridge_ram, 1, sizeof bus.cartridge_ram, f.get()) == sizeof bus.cartridge_ram;
  ok = ok && std::fwrite(banks.nametable_ram, 1, sizeof banks.nametable_ram, f.get()) == sizeof banks.nametable_ram;
  ok = ok && std::fwrite(banks.palette_ram, 1, sizeof banks.palette_ram, f.get()) == sizeof banks.palette_ram;
  ok = ok && std::fwrite(ppu.oam, 1, sizeof ppu.oam, f.get()) == sizeof ppu.oam;
  return ok && std::fflush(f.get()) == 0;
}

// The result protocol of test cartridges: $6001-$6003 = DE B0 61 marks $6000 and the text at $6004
// as valid; $6000 is $80 while the test runs, $81 when it asks for a reset, else the result code.
constexpr uint8_t RESULT_RUNNING = 0x80, RESULT_RESET_REQUESTED = 0x81;
bool result_valid() {
  const uint8_t* r = bus.cartridge_ram;
  return r[1] == 0xDE && r[2] == 0xB0 && r[3] == 0x61;
}
std::string result_text() {
  const auto* text = reinterpret_cast<const char*>(bus.cartridge_ram + 4);
  return std::string(text, strnlen(text, sizeof bus.cartridge_ram - 4));
}

// Reads a save state file and loads it into the machine; exits with a message when it cannot.
void load_state_file(const char* path) {
  std::vector<uint8_t> data;
  std::string error;
  constexpr size_t MAX_STATE_SIZE = 1 << 20;
  switch (read_file(path, MAX_STATE_SIZE, false, data, error)) {
    case ReadResult::ok: break;
    case ReadResult::missing: error = std::string(path) + ": cannot open: No such file or directory"; [[fallthrough]];
    case ReadResult::refused:
      std::fprintf(stderr, "nes-headless: %s\n", error.c_str());
      std::exit(EXIT_USAGE);
  }
  if (!snapshot_load(data, error)) {
    std::fprintf(stderr, "nes-headless: %s: %s\n", path, error.c_str());
    std::exit(EXIT_USAGE);
  }
}

// A cartridge that sets $6000 to $81 asks for the reset button: it is pressed this many frames later.
constexpr uint64_t RESET_DELAY_FRAMES = 6;

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  File trace = open_output(options.trace);
  File frame_log = open_output(options.frame_log);
  WavWriter wav(options.wav);
  if (options.wav) audio_tap.wav = &wav;
  audio_tap.hashing = options.frame_log != nullptr;
  if (audio_tap.wav || audio_tap.hashing)
    audio_sink = [](const int16_t* samples, size_t count) { audio_tap.on_full_buffer(samples, count); };

  std::string error;
  if (!machine_power_on(options.image, error)) {
    std::fprintf(stderr, "nes-headless: %s\n", error.c_str());
    return EXIT_USAGE;
  }
  BatterySave battery([](const std::string& message) { std::fprintf(stderr, "nes-headless: %s\n", message.c_str()); });
  if (options.battery) battery.open(options.battery);
  if (options.load_state) load_state_file(options.load_state);
  audio_tap.taken = sample_stream.sample_pos;

  // Buttons follow the machine's own frame count, so that a run continued from a save state takes
  // the same script as the run that saved it.
  auto apply_buttons = [&](uint64_t frame) {
    auto it = options.buttons.upper_bound(frame);
    if (it == options.buttons.begin()) return;
    button_state[0].store(std::prev(it)->second, std::memory_order_relaxed);
  };
  apply_buttons(ppu.frames);

  int exit_code = options.result ? EXIT_OUT_OF_TIME : EXIT_OK;
  const uint64_t first_frame = ppu.frames;
  uint64_t frames_seen = ppu.frames;
  uint64_t reset_frame = 0;          // when the requested reset is due; 0: none pending
  bool reset_request_seen = false;   // $6000 still holds the request that was answered
  for (uint64_t steps = 1;; ++steps) {
    if (trace) write_trace_line(trace.get());
    cpu_step();
    if (steps == 1 && options.entry >= 0) cpu.PC = static_cast<uint16_t>(options.entry);
    if (ppu.frames != frames_seen) {
      frames_seen = ppu.frames;
      apply_buttons(frames_seen);
      battery.frame_end(frames_seen);
      if (frame_log)
        std::fprintf(frame_log.get(), "%" PRIu64 " %016" PRIx64 " %016" PRIx64 "\n", frames_seen,
                     frame_hash(), audio_tap.take_hash());
      if (reset_frame != 0 && frames_seen >= reset_frame) {
        machine_reset();
        reset_frame = 0;
      }
    }
    if (options.result && result_valid()) {
      const uint8_t result = bus.cartridge_ram[0];
      if (result < RESULT_RUNNING) {
        std::printf("%s", result_text().c_str());
        exit_code = result == 0 ? EXIT_OK : EXIT_TEST_FAILED;
        break;
      }
      if (result != RESULT_RESET_REQUESTED) {
        reset_request_seen = false;
      } else if (!reset_request_seen) {
        reset_request_seen = true;
        reset_frame = frames_seen + RESET_DELAY_FRAMES;
      }
    }
    if (frames_seen - first_frame >= options.frames || steps >= options.steps) break;
  }
  if (exit_code == EXIT_OUT_OF_TIME)
    std::printf("no result after %" PRIu64 " frames\n%s\n", frames_seen - first_frame, result_text().c_str());

  audio_tap.take_current();
  bool ok = wav.finish();
  if (options.dump) ok = write_dump(options.dump) && ok;
#ifdef NES_SCREENSHOTS
  if (options.screenshot) {
    if (!write_frame_png(options.screenshot, error)) {
      std::fprintf(stderr, "nes-headless: %s\n", error.c_str());
      ok = false;
    }
  }
#endif
  if (options.save_state) {
    const std::vector<uint8_t> state = snapshot_save();
    if (!write_file_atomically(options.save_state, state.data(), state.size(), error)) {
      std::fprintf(stderr, "nes-headless: %s\n", error.c_str());
      ok = false;
    }
  }
  ok = battery.flush() && ok;
  if (!ok) {
    std::fprintf(stderr, "nes-headless: writing the output files failed\n");
    return EXIT_USAGE;
  }
  return exit_code;
}
