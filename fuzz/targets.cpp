// What each fuzz target does with its bytes. The machine's state is global and power-on sets all of
// it, so one process can load and run image after image.
#include "fuzz/targets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/fnv1a.h"
#include "core/machine.h"
#include "core/snapshot.h"
#include "tools/headless_options.h"

namespace {

[[noreturn]] void fault(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "fuzz target fault: %s %s\n", what, detail.c_str());
  std::abort();
}

// About one frame: the reset code, the first NMI and a few mapper writes.
constexpr uint64_t MACHINE_CYCLES = 30000;
// A step is at most a few hundred cycles (sprite DMA); this bound only guards against a CPU that
// stops advancing the clock.
constexpr uint64_t MACHINE_STEPS = MACHINE_CYCLES;

void run_cycles(uint64_t cycles) {
  const uint64_t end = bus.cycles + cycles;
  for (uint64_t steps = 0; bus.cycles < end; ++steps) {
    if (steps >= MACHINE_STEPS) fault("the CPU stopped advancing the clock");
    cpu_step();
  }
}

// The cartridges save states are loaded against: program ROM of pseudo-random bytes whose vectors
// point into it, one for every board and kind of character memory.
struct SnapshotCartridge {
  uint8_t prg, chr, ctrl, byte7, byte8;  // header bytes 4-8
  uint8_t byte10 = 0x07;                 // NES 2.0 program RAM sizes: 8 KiB of RAM
};
constexpr SnapshotCartridge snapshot_cartridges[] = {
    {2, 0, 0x01, 0x00, 0x00},   // NROM, character RAM
    {8, 2, 0x12, 0x00, 0x00},   // SxROM, character ROM, battery
    {2, 4, 0x30, 0x00, 0x00},   // CNROM
    {8, 0, 0x70, 0x00, 0x00},   // AxROM, character RAM
    {8, 0, 0x21, 0x00, 0x00},   // UxROM
    {16, 16, 0x40, 0x00, 0x00}, // TxROM (MMC3), character ROM
    {8, 0, 0x48, 0x00, 0x00},   // TxROM, character RAM, four screens
    {8, 8, 0x42, 0x08, 0x10},   // HKROM (MMC6: NES 2.0 4.1)
    {8, 8, 0x40, 0x08, 0x40},   // TxROM with the NEC chip (4.4)
    {8, 8, 0x60, 0x70, 0x00},   // TxSROM (118)
    {8, 8, 0x70, 0x70, 0x00},   // TQROM (119): character ROM and RAM
    {4, 4, 0xE1, 0xC0, 0x00},   // Namco 108 (206)
    {8, 16, 0x50, 0x18, 0x10},  // Konami VRC4a (21.1), with its interrupt
    {8, 8, 0x60, 0x10, 0x00},   // VRC2a (22)
    {8, 16, 0x90, 0x18, 0x30},  // VRC2c (25.3)
    {16, 32, 0x82, 0x10, 0x00}, // Konami VRC6a (24), battery: its interrupt and sound
    {8, 8, 0xA0, 0x10, 0x00},   // VRC6b (26)
    {8, 8, 0x21, 0xD0, 0x00},   // Namco 175/340 (210), told apart by the game's writes
    {4, 2, 0x21, 0x40, 0x00},   // GxROM (66: bytes 12-15 are zero)
    {8, 0, 0x41, 0xB0, 0x00},   // UNROM with a 74HC08 (180)
    {8, 8, 0xE9, 0x48, 0x30},   // Irem IF-12 (78.3)
    {4, 8, 0x20, 0x28, 0x10},   // NINA-001 (34.1)
    {16, 16, 0x52, 0x40, 0x00}, // Sunsoft FME-7 (69), battery, and the 5B's sound once written
    {16, 32, 0x32, 0x10, 0x00}, // Namco 163 (19), battery: cartridge RAM and the chip's, and its sound
    {2, 2, 0x71, 0x50, 0x00},   // J87 (87)
    {8, 0, 0xE3, 0x10, 0x00},   // UNROM 512 (30), self-flashing: the program ROM is state
    {32, 0, 0x12, 0x00, 0x00},  // SUROM (1, iNES 1.0 with 512 KiB)
    {16, 0, 0x12, 0x08, 0x00, 0x77},  // SOROM (1, NES 2.0: 8 KiB of RAM, 8 KiB kept)
    {32, 0, 0x12, 0x08, 0x00, 0x90},  // SXROM (1, NES 2.0: 32 KiB kept)
    {8, 16, 0x91, 0x00, 0x00},  // PxROM (9, MMC2)
    {8, 8, 0xA2, 0x00, 0x00},   // FxROM (10, MMC4), battery
    {16, 0, 0xC0, 0x10, 0x00},  // Action 53 (28)
    {16, 16, 0x02, 0x10, 0x00}, // Bandai, both chips and a 24C02 (16 with a battery)
    {8, 8, 0x00, 0x18, 0x40},   // Bandai FCG-1/2 (16.4)
    {16, 32, 0x20, 0x10, 0x00}, // Jaleco SS 88006 (18)
    {32, 0, 0x92, 0x90, 0x00},  // Bandai LZ93D50 with RAM (153), character RAM
    {16, 16, 0xF2, 0x90, 0x00}, // Bandai LZ93D50 with a 24C01 (159)
    {2, 1, 0x31, 0x60, 0x00},   // an unknown board (99)
    {16, 32, 0x52, 0x08, 0x00, 0x90},  // ExROM (5, MMC5), NES 2.0: 32 KiB kept; ExRAM in its memory
    {8, 8, 0x30, 0x18, 0x50},   // Namco 163 (19.5, NES 2.0): its sound at the loudest resistor
};
constexpr unsigned SNAPSHOT_CARTRIDGES = sizeof snapshot_cartridges / sizeof snapshot_cartridges[0];

const Cartridge& snapshot_cartridge(unsigned which) {
  static std::vector<Cartridge> made;
  if (made.empty()) {
    for (const SnapshotCartridge& k : snapshot_cartridges) {
      std::vector<uint8_t> image(HEADER_SIZE + k.prg * PRG_UNIT + k.chr * CHR_UNIT);
      const uint8_t header[9] = {'N', 'E', 'S', 0x1A, k.prg, k.chr, k.ctrl, k.byte7, k.byte8};
      std::copy(header, header + 9, image.begin());
      if (k.byte7 & 0x08) image[10] = k.byte10, image[11] = 0x07;  // NES 2.0: its RAM, 8 KiB of CHR RAM
      uint32_t x = 0x12345678u + k.ctrl;
      for (size_t i = HEADER_SIZE; i < image.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        image[i] = static_cast<uint8_t>(x >> 24);
      }
      // Every program bank's vectors point to $8000-$80FF.
      for (size_t bank = 0; bank < k.prg; ++bank) {
        uint8_t* end = image.data() + HEADER_SIZE + (bank + 1) * PRG_UNIT;
        end[-6] = 0x00, end[-5] = 0x80, end[-4] = 0x10, end[-3] = 0x80, end[-2] = 0x20, end[-1] = 0x80;
      }
      std::string error;
      if (!load_cartridge_bytes(image.data(), image.size(), "fuzz cartridge", error)) fault("cartridge", error);
      made.push_back(cartridge);
    }
  }
  return made[which % made.size()];
}

// The cartridge a snapshot input's first byte chooses: bits 0-1 and 4-7.
unsigned cartridge_choice(uint8_t byte) { return (byte & 3u) | (byte >> 4) << 2; }

void put_le(uint8_t* p, uint64_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

}  // namespace

int fuzz_loader(const uint8_t* data, size_t size) {
  std::string error;
  if (load_cartridge_bytes(data, size, "image", error)) {
    // Whole bank slots within the limits: iNES 1.0 sizes exactly, NES 2.0 ones rounded up.
    const size_t prg = cartridge.prg_rom.size(), chr = cartridge.chr_rom.size();
    // Without character ROM an iNES 1.0 image has 8 KiB of character RAM, or its board's own.
    const Board* b = board_for(cartridge.mapper_number, cartridge.submapper);
    const size_t chr_ram = b && b->chr_ram_size ? b->chr_ram_size : CHR_UNIT;
    if (prg == 0 || prg % 8192 != 0 || prg > MAX_ROM_SIZE ||
        (!cartridge.nes2 && prg != cartridge.prg_units * PRG_UNIT))
      fault("loaded program ROM of the wrong size");
    if (chr == 0 || chr % 1024 != 0 || chr > MAX_ROM_SIZE ||
        (!cartridge.nes2 && chr != (cartridge.chr_units ? cartridge.chr_units * CHR_UNIT : chr_ram)))
      fault("loaded character memory of the wrong size");
    if (!cartridge.chr_ram.empty() && (cartridge.chr_ram.size() < CHR_UNIT || cartridge.chr_ram.size() % 1024 != 0))
      fault("character RAM beside ROM of the wrong size");
  } else if (const size_t lines = std::count(error.begin(), error.end(), '\n') + 1;
             error.empty() || lines > 2 || (lines == 2 && error.find("Assertion failed") < error.find('\n'))) {
    // One line; for a file that is no image, its plain words and then the assertion's line.
    fault("refusal without a one-line message (two for a file that is no image)", error);
  }
  return 0;
}

// Controller 1 holds the image's last byte, controller 2 the one before, for the whole run.
int fuzz_machine(const uint8_t* data, size_t size) {
  std::string error;
  if (!load_cartridge_bytes(data, size, "image", error)) return 0;
  machine_power_on();
  button_state[0].store(data[size - 1], std::memory_order_relaxed);
  button_state[1].store(data[size - 2], std::memory_order_relaxed);
  run_cycles(MACHINE_CYCLES);
  // Whatever the program did, the state it left is one a save state can hold and bring back.
  const std::vector<uint8_t> state = snapshot_save();
  if (!snapshot_load(state, error)) fault("the machine's own state was refused:", error);
  return 0;
}

// Byte 0 chooses the cartridge (bits 0-1 and 4-7) and which parts of the snapshot are left as they are;
// the others are made right before it is loaded, so that most mutations reach the value checks
// behind the header and checksum: bit 2 keeps the tag, version and cartridge checksum, bit 3 the
// checksum at the end. The rest is the snapshot.
int fuzz_snapshot(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  cartridge = snapshot_cartridge(cartridge_choice(data[0]));
  machine_power_on();
  run_cycles(3000);
  std::vector<uint8_t> snap(data + 1, data + size);
  constexpr size_t HEAD = 20, TAIL = 8;
  if (!(data[0] & 4) && snap.size() >= HEAD) {
    std::copy_n("NES-SNAP", 8, snap.begin());
    put_le(snap.data() + 8, SNAPSHOT_VERSION, 4);
    put_le(snap.data() + 12, cartridge.checksum, 8);
  }
  if (!(data[0] & 8) && snap.size() >= HEAD + TAIL) {
    Fnv1a h;
    h.add(snap.data(), snap.size() - TAIL);
    put_le(snap.data() + snap.size() - TAIL, h.hash, 8);
  }
  const std::vector<uint8_t> before = snapshot_save();
  std::string error;
  if (!snapshot_load(snap, error)) {
    if (snapshot_save() != before) fault("a refused save state changed the machine:", error);
    return 0;
  }
  if (snapshot_save() != snap) fault("a loaded save state does not save back the same");
  run_cycles(MACHINE_CYCLES / 2);
  const std::vector<uint8_t> after = snapshot_save();
  if (!snapshot_load(after, error)) fault("the state run from a loaded save state was refused:", error);
  return 0;
}

std::vector<uint8_t> fuzz_snapshot_seed(unsigned kind, uint64_t cycles) {
  cartridge = snapshot_cartridge(kind);
  machine_power_on();
  run_cycles(cycles);
  std::vector<uint8_t> seed{static_cast<uint8_t>((kind & 3) | (kind >> 2) << 4)};
  const std::vector<uint8_t> state = snapshot_save();
  seed.insert(seed.end(), state.begin(), state.end());
  return seed;
}

// The bytes are the arguments, separated by zero bytes.
int fuzz_options(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"nes-headless"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (args.size() < 64) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  HeadlessOptions options;
  std::string error;
  switch (parse_headless_options(static_cast<int>(argv.size()), argv.data(), options, error)) {
    case ParseStatus::run:
      if (!options.image || !*options.image) fault("a run without an image");
      if (options.entry > 0xFFFF) fault("an entry address past $FFFF");
      for (const auto& [frame, aim] : options.aims)
        if (aim < -1 || aim >= 256 * 240) fault("an aim off the picture that is not 'away'");
      break;
    case ParseStatus::help: break;
    case ParseStatus::error:
      if (error.empty() || error.find('\n') != std::string::npos) fault("an error without a one-line message", error);
      break;
  }
  return 0;
}

unsigned fuzz_snapshot_cartridges() { return SNAPSHOT_CARTRIDGES; }

FuzzEntry fuzz_entry(std::string_view name) {
  if (name == "loader") return fuzz_loader;
  if (name == "machine") return fuzz_machine;
  if (name == "snapshot") return fuzz_snapshot;
  if (name == "options") return fuzz_options;
  return nullptr;
}
