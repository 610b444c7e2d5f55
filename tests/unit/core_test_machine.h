// Helpers of the machine-core tests: iNES images written to a temporary directory, the runner
// started on them with its stdout, stderr and exit code kept apart, and a machine powered on with
// a cartridge of pseudo-random contents for bus, mapper and controller tests.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cart/cartridge.h"
#include "tests/headless_launch.h"
#include "tests/unit/test_machine.h"

namespace core_test {

namespace fs = std::filesystem;

// A reproducible stream of bytes.
inline std::vector<uint8_t> random_bytes(size_t count, uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

// An iNES image: the header fields, then `body` (trainer, program ROM, character ROM as the file
// holds them). `image_body` makes a body of exactly the announced size.
struct Image {
  uint8_t magic[4] = {'N', 'E', 'S', 0x1A};
  uint8_t prg_units = 1, chr_units = 1, ctrlbyte = 0, control2 = 0;
  uint8_t tail[8] = {};  // header bytes 8-15
  std::vector<uint8_t> body;

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out(magic, magic + 4);
    out.insert(out.end(), {prg_units, chr_units, ctrlbyte, control2});
    out.insert(out.end(), tail, tail + 8);
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }
};

inline size_t announced_body_size(const Image& image) {
  return ((image.ctrlbyte & 0x04) ? 512 : 0) + image.prg_units * size_t{16384} + image.chr_units * size_t{8192};
}

// The image with a pseudo-random body of the size its header announces.
inline Image make_image(uint8_t prg_units, uint8_t chr_units, uint8_t ctrlbyte = 0, uint8_t control2 = 0,
                        uint32_t seed = 1) {
  Image image;
  image.prg_units = prg_units;
  image.chr_units = chr_units;
  image.ctrlbyte = ctrlbyte;
  image.control2 = control2;
  image.body = random_bytes(announced_body_size(image), seed);
  return image;
}

// A directory of its own below the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "nes_core_test_XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const fs::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path path_;
};

using HeadlessRun = headless::Run;

// Runs nes-headless on `image` with `options` (words separated by spaces).
inline HeadlessRun run_headless(const fs::path& image, const std::string& options) {
  std::vector<std::string> args{image.string()};
  for (const std::string& w : headless::words(options)) args.push_back(w);
  return headless::run(args);
}

// The machine just after power-on with `prg_units` x 16 KiB of pseudo-random program ROM and
// `chr_units` x 8 KiB of pseudo-random character ROM (0: 8 KiB of zeroed character RAM), past the
// reset step (writes are stored).
inline void power_on(uint8_t prg_units, uint8_t chr_units, uint32_t mapper_number, uint8_t ctrlbyte = 0x01,
                     uint8_t submapper = 0) {
  cartridge = Cartridge{};
  cartridge.prg_units = prg_units;
  cartridge.chr_units = chr_units;
  cartridge.ctrlbyte = ctrlbyte;
  cartridge.mapper_number = mapper_number;
  cartridge.submapper = submapper;
  cartridge.prg_rom = random_bytes(prg_units * size_t{16384}, 7);
  if (chr_units) cartridge.chr_rom = random_bytes(chr_units * size_t{8192}, 8);
  if (const Board* b = board_for(mapper_number, submapper); b && chr_units) cartridge.chr_ram.assign(b->chr_ram_beside_rom, 0);
  test_machine::power_on_cartridge();
}

using test_machine::ppu_position;
using test_machine::ppu_ticks;

}  // namespace core_test
