// nes-headless: runs the machine from power-on on the calling thread, without window, sound device or
// sleeps, and reports what it did: CPU trace, memory dump, test-cartridge verdict, screenshot,
// per-frame hashes and the sample stream as a WAV file.
//
// Every output is checked before the run starts and written completely or not at all; SIGINT and
// SIGTERM end the run at the next instruction boundary with the outputs complete.
#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "cart/banks.h"
#include "core/bus.h"
#include "core/driver.h"
#include "core/fnv1a.h"
#include "core/joypad.h"
#include "core/zapper.h"
#include "core/machine.h"
#include "core/snapshot.h"
#include "host/battery.h"
#include "host/save_files.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"
#include "tools/headless_options.h"
#include "tools/output_file.h"
#ifdef NES_SCREENSHOTS
#include "tools/png_writer.h"
#endif

namespace {

enum Exit { EXIT_OK = 0, EXIT_TEST_FAILED = 1, EXIT_USAGE = 2, EXIT_OUT_OF_TIME = 3 };

// A message on stderr a line at a time, each as "nes-headless: LINE" with control bytes escaped.
void report(const std::string& message) {
  for_each_line(message, [](std::string_view line) {
    std::fprintf(stderr, "nes-headless: %s\n", printable(std::string(line)).c_str());
  });
}

// The signal that asked the run to stop (SIGINT, SIGTERM), or 0; read at instruction boundaries.
volatile std::sig_atomic_t stop_signal = 0;
extern "C" void on_stop_signal(int signal_number) { stop_signal = signal_number; }

void catch_stop_signals() {
#ifdef _WIN32
  std::signal(SIGINT, on_stop_signal);  // Ctrl+C and Ctrl+Break in the console
  std::signal(SIGTERM, on_stop_signal);
#else
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // writes in progress finish rather than fail
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

// Mono 16-bit PCM at the CPU clock rate; the sizes in the header are written again when the file
// is finished. A stream too long for the 32-bit RIFF sizes keeps the largest size that fits.
class WavWriter {
 public:
  explicit WavWriter(OutputFile* file) : file_(file) {
    if (file_) write_header(false);
  }
  void append(const int16_t* samples, size_t count) {
    if (!file_) return;
    bytes_.resize(2 * count);
    for (size_t i = 0; i < count; ++i) {
      const uint16_t v = static_cast<uint16_t>(samples[i]);
      bytes_[2 * i] = static_cast<uint8_t>(v);
      bytes_[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    file_->write(bytes_.data(), bytes_.size());
    data_bytes_ += 2 * static_cast<uint64_t>(count);
  }
  void finish() {
    if (file_) write_header(true);
  }

 private:
  static void put32(uint8_t* p, uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
  }
  static void put16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8); }
  void write_header(bool again) {
    constexpr uint64_t MAX_DATA = 0xFFFFFFFFull - 36 - 1;
    const uint32_t data = static_cast<uint32_t>(std::min(data_bytes_, MAX_DATA) & ~1ull);
    uint8_t h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);                // PCM
    put16(h + 22, 1);                // mono
    put32(h + 24, SAMPLE_RATE);
    put32(h + 28, SAMPLE_RATE * 2);  // bytes per second
    put16(h + 32, 2);                // block align
    put16(h + 34, 16);               // bits per sample
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
    if (again) file_->overwrite_start(h, sizeof h);
    else file_->write(h, sizeof h);
  }
  OutputFile* file_;
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

bool write_trace_line(OutputFile& f) {
  return f.print("%04X A:%02X X:%02X Y:%02X P:%02X SP:%02X CYC:%" PRIu64 "\n", cpu.PC, cpu.A, cpu.X, cpu.Y,
                 cpu.P | FLAG_U, cpu.S, bus.cycles);
}

void write_dump(OutputFile& f) {
  f.write(bus.work_ram, sizeof bus.work_ram);
  f.write(bus.cartridge_ram, CARTRIDGE_RAM_BANK);  // the first bank: what $6000 shows on 8 KiB boards
  f.write(banks.nametable_ram, sizeof banks.nametable_ram);
  f.write(banks.palette_ram, sizeof banks.palette_ram);
  f.write(ppu.oam, sizeof ppu.oam);
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
  return std::string(text, strnlen(text, CARTRIDGE_RAM_BANK - 4));
}

// Reads a save state file and loads it into the machine; false with a message when it cannot.
bool load_state_file(const char* path, std::string& error) {
  std::vector<uint8_t> data;
  switch (read_file(path, SNAPSHOT_MAX_SIZE, false, data, error)) {
    case ReadResult::ok: break;
    case ReadResult::missing: error = std::string(path) + ": cannot open: No such file or directory"; return false;
    case ReadResult::refused: return false;
  }
  if (!snapshot_load(data, error)) {
    error = std::string(path) + ": " + error;
    return false;
  }
  return true;
}

// The battery file as the run will use it: absent, or readable and exactly the size of what the
// loaded cartridge keeps (battery_image_size). A cartridge without a battery, or on a board this
// program lacks, never reads or writes it. (The window program starts with empty RAM when it
// is not; a script is told instead.)
bool check_battery_file(const char* path, std::string& error) {
  const size_t size = battery_image_size();
  if (size == 0) return true;
  std::vector<uint8_t> data;
  return read_file(path, size, true, data, error) != ReadResult::refused;
}

// The outputs of one run, each opened (created beside its target) before the run starts.
struct Outputs {
  OutputFile trace, frame_log, wav, dump, screenshot, save_state;
  std::string failure;  // the first failure's message

  bool open(const HeadlessOptions& o, std::string& error) {
    const struct { OutputFile* file; const char* path; const char* option; } files[] = {
        {&trace, o.trace, "--trace"},      {&frame_log, o.frame_log, "--frame-log"},
        {&wav, o.wav, "--wav"},            {&dump, o.dump, "--dump"},
        {&screenshot, o.screenshot, "--screenshot"}, {&save_state, o.save_state, "--save-state"}};
    for (const auto& f : files)
      if (f.path && !f.file->open(f.path, error, f.option)) return false;
    if (o.battery) {  // written later by the battery saver, beside itself: the folder must take a file
      OutputFile probe;
      if (!probe.open(o.battery, error, "--battery")) return false;
    }
    return true;
  }
  bool any_failed() const {
    return trace.failed() || frame_log.failed() || wav.failed();
  }
  void commit(OutputFile& file) {
    std::string error;
    if (file.is_open() && !file.commit(error) && failure.empty()) failure = error;
  }
};

// A cartridge that sets $6000 to $81 asks for the reset button: it is pressed this many frames later.
constexpr uint64_t RESET_DELAY_FRAMES = 6;

}  // namespace

int main(int argc, char** argv) {
  HeadlessOptions options;
  std::string error;
  switch (parse_headless_options(argc, argv, options, error)) {
    case ParseStatus::run: break;
    case ParseStatus::help: std::fputs(HEADLESS_USAGE, stdout); return EXIT_OK;
    case ParseStatus::error: std::fprintf(stderr, "nes-headless: %s\n%s", error.c_str(), HEADLESS_USAGE); return EXIT_USAGE;
  }
#ifndef NES_SCREENSHOTS
  if (options.screenshot) {
    report("--screenshot is not available in this build: it has no PNG library");
    return EXIT_USAGE;
  }
#endif
  catch_stop_signals();

  // Everything that can be refused is refused before the run: outputs, battery file, image, state.
  error = check_output_paths(options.image, {{"--trace", options.trace, false},
                                             {"--dump", options.dump, false},
                                             {"--screenshot", options.screenshot, false},
                                             {"--frame-log", options.frame_log, false},
                                             {"--wav", options.wav, false},
                                             {"--save-state", options.save_state, true},
                                             {"--battery", options.battery, true}},
                             options.load_state, "--save-state");
  // The image is loaded (its summary not yet printed) for the battery file's size.
  if (error.empty()) load_cartridge(options.image, error);
  if (error.empty()) select_board(cartridge.mapper_number, cartridge.submapper);
  if (error.empty() && options.battery) check_battery_file(options.battery, error);
  if (!error.empty()) {
    report(error);
    return EXIT_USAGE;
  }
  Outputs outputs;
  if (!outputs.open(options, error)) {
    report(error);
    return EXIT_USAGE;
  }
  WavWriter wav(options.wav ? &outputs.wav : nullptr);
  if (options.wav) audio_tap.wav = &wav;
  audio_tap.hashing = options.frame_log != nullptr;
  if (audio_tap.wav || audio_tap.hashing)
    audio_sink = [](const int16_t* samples, size_t count) { audio_tap.on_full_buffer(samples, count); };

  power_on_loaded_cartridge();
  for (const std::string& line : cartridge_warnings()) report(line);
  BatterySave battery(report);
  if (options.battery) battery.open(options.battery);
  if (options.load_state && !load_state_file(options.load_state, error)) {
    report(error);
    return EXIT_USAGE;
  }
  audio_tap.taken = sample_stream.sample_pos;

  // Buttons follow the machine's own frame count, so that a run continued from a save state takes
  // the same script as the run that saved it.
  auto apply_buttons = [&](uint64_t frame) {
    auto it = options.buttons.upper_bound(frame);
    if (it == options.buttons.begin()) return;
    button_state[0].store(std::prev(it)->second, std::memory_order_relaxed);
  };
  apply_buttons(ppu.frames);
  // The gun likewise: its aim from the end of a frame on, its trigger pulled at the end of a frame.
  zapper_settings.connected = options.zapper;
  auto apply_gun = [&](uint64_t frame) {
    if (!options.zapper) return;
    auto it = options.aims.upper_bound(frame);
    if (it != options.aims.begin()) {
      const int32_t aim = std::prev(it)->second;
      if (aim < 0) zapper_aim_away();
      else zapper_aim_at(aim % 256, aim / 256);
    }
    if (options.pulls.count(frame)) zapper_pull_trigger();
  };
  apply_gun(ppu.frames);

  int exit_code = options.result ? EXIT_OUT_OF_TIME : EXIT_OK;
  const uint64_t first_frame = ppu.frames;
  uint64_t frames_seen = ppu.frames;
  uint64_t reset_frame = 0;          // when the requested reset is due; 0: none pending
  bool reset_request_seen = false;   // $6000 still holds the request that was answered
  if (options.frames == 0 || options.steps == 0)
    report(std::string(options.frames == 0 ? "--frames 0" : "--steps 0") + ": nothing run");
  else
    for (uint64_t steps = 1; stop_signal == 0; ++steps) {
      if (outputs.trace.is_open() && !write_trace_line(outputs.trace)) break;
      cpu_step();
      if (steps == 1 && options.entry >= 0) cpu.PC = static_cast<uint16_t>(options.entry);
      if (!outputs.trace.is_open() && !options.result) {
        // Until the frame ends or the step limit comes, nothing else is due after a step.
        while (ppu.frames == frames_seen && steps < options.steps && stop_signal == 0) {
          ++steps;
          cpu_step();
        }
      }
      if (ppu.frames != frames_seen) {
        frames_seen = ppu.frames;
        apply_buttons(frames_seen);
        apply_gun(frames_seen);
        battery.frame_end(frames_seen);
        if (outputs.frame_log.is_open())
          outputs.frame_log.print("%" PRIu64 " %016" PRIx64 " %016" PRIx64 "\n", frames_seen, frame_hash(),
                                  audio_tap.take_hash());
        if (reset_frame != 0 && frames_seen >= reset_frame) {
          machine_reset();
          reset_frame = 0;
        }
        if (outputs.any_failed()) break;
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
  const int signal_number = stop_signal;
  if (exit_code == EXIT_OUT_OF_TIME && signal_number == 0)
    std::printf("no result after %" PRIu64 " frames\n%s\n", frames_seen - first_frame, result_text().c_str());

  // The outputs are finished whatever ended the run: a stopped run's outputs hold what it did.
  ppu_catch_up();
  audio_tap.take_current();
  wav.finish();
  outputs.commit(outputs.trace);
  outputs.commit(outputs.frame_log);
  outputs.commit(outputs.wav);
  if (outputs.dump.is_open()) {
    write_dump(outputs.dump);
    outputs.commit(outputs.dump);
  }
#ifdef NES_SCREENSHOTS
  if (outputs.screenshot.is_open()) {
    std::vector<uint8_t> png;
    if (encode_frame_png(png, error)) {
      outputs.screenshot.write(png.data(), png.size());
      outputs.commit(outputs.screenshot);
    } else if (outputs.failure.empty()) {
      outputs.failure = std::string("--screenshot ") + options.screenshot + ": " + error;
    }
  }
#endif

  if (outputs.save_state.is_open()) {
    const std::vector<uint8_t> state = snapshot_save();
    outputs.save_state.write(state.data(), state.size());
    outputs.commit(outputs.save_state);
  }
  const bool battery_ok = battery.flush();  // a failed battery write has reported itself
  if (outputs.failure.empty() && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    outputs.failure = "standard output: cannot write";
  if (!outputs.failure.empty()) report(outputs.failure);
  if (!outputs.failure.empty() || !battery_ok) return EXIT_USAGE;
  if (signal_number != 0) return 128 + signal_number;
  return exit_code;
}
