// Reads an iNES image: header, optional 512-byte trainer, program ROM, then character ROM.
// A file shorter than its header announces is accepted; what it lacks reads as zero.
#include "core/cartridge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "core/snapshot.h"


Cartridge cartridge;

uint32_t mapper_number_from_header(uint8_t ctrlbyte, uint8_t control2) {
  if ((control2 & 0x0C) == 0x08) return (control2 & 0xF0u) | (ctrlbyte >> 4);
  uint32_t v = static_cast<uint8_t>(control2 | (ctrlbyte >> 4));
  return v < 64 ? v : (v & 0x0F);
}

namespace {
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

std::string describe(const char* path, const char* problem) {
  return std::string(path) + ": " + problem;
}
}  // namespace

bool load_cartridge(const char* path, std::string& error) {
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
  if (!file) {
    error = describe(path, (std::string("cannot open: ") + std::strerror(errno)).c_str());
    return false;
  }
  FILE* fp = file.get();
  // The magic check stops at the first byte that differs.
  if (!(std::fgetc(fp) == 'N' && std::fgetc(fp) == 'E' && std::fgetc(fp) == 'S' &&
        std::fgetc(fp) == '\32')) {
    if (std::ferror(fp)) {  // a directory, say: opening worked, reading did not
      error = describe(path, (std::string("cannot read: ") + std::strerror(errno)).c_str());
      return false;
    }
    error = describe(path,
                     "not an iNES image: Assertion failed: fgetc(fp) == 'N' && fgetc(fp) == 'E' "
                     "&& fgetc(fp) == 'S' && fgetc(fp) == '\\32', file main");
    return false;
  }
  uint8_t header[HEADER_SIZE - 4] = {};
  size_t got = std::fread(header, 1, sizeof header, fp);
  if (got < 4) {
    error = describe(path, "header is truncated");
    return false;
  }
  const uint8_t prg_units = header[0], chr_units = header[1];
  const uint8_t ctrlbyte = header[2], control2 = header[3];
  if (prg_units == 0) {
    error = describe(path, "PRG ROM size is 0");
    return false;
  }

  Cartridge loaded;
  if (ctrlbyte & CTRL_TRAINER) {
    loaded.trainer.assign(TRAINER_SIZE, 0);
    (void)std::fread(loaded.trainer.data(), 1, TRAINER_SIZE, fp);
  }
  loaded.prg_units = prg_units;
  loaded.chr_units = chr_units;
  loaded.ctrlbyte = ctrlbyte;
  loaded.mapper_number = mapper_number_from_header(ctrlbyte, control2);
  loaded.prg_rom.assign(prg_units * PRG_UNIT, 0);
  loaded.chr_rom.assign(chr_units != 0 ? chr_units * CHR_UNIT : CHR_UNIT, 0);  // none: 8 KiB of RAM
  (void)std::fread(loaded.prg_rom.data(), 1, loaded.prg_rom.size(), fp);
  if (chr_units != 0) (void)std::fread(loaded.chr_rom.data(), 1, loaded.chr_rom.size(), fp);
  cartridge = std::move(loaded);
  cartridge.checksum = cartridge_checksum();
  return true;
}

std::string cartridge_summary() {
  char line[96];
  std::snprintf(line, sizeof line, "%u * 16kB ROM, %u * 8kB VROM, mapper %u, ctrlbyte %02X\n",
                unsigned{cartridge.prg_units}, unsigned{cartridge.chr_units},
                cartridge.mapper_number, unsigned{cartridge.ctrlbyte});
  return line;
}
