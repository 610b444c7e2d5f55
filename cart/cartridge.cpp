// Reads an iNES image: header, optional 512-byte trainer, program ROM, then character ROM.
// A file shorter than its header announces is accepted; what it lacks reads as zero.
#include "cart/cartridge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "cart/board.h"
#include "core/snapshot.h"


Cartridge cartridge;

uint32_t mapper_number_from_header(uint8_t ctrlbyte, uint8_t control2) {
  if ((control2 & 0x0C) == 0x08) return (control2 & 0xF0u) | (ctrlbyte >> 4);
  uint32_t v = static_cast<uint8_t>(control2 | (ctrlbyte >> 4));
  return v < 64 ? v : (v & 0x0F);
}

namespace {
std::string describe(const char* name, const std::string& problem) { return std::string(name) + ": " + problem; }

// Reads at most `limit` bytes of the regular file at `path`. Anything else (a folder, a FIFO, a
// device) is refused without waiting on it: the file is opened non-blocking and checked first.
#ifdef _WIN32
// Windows has no FIFOs among files (pipes live under \\.\pipe\), so checking the kind before
// opening is enough there.
bool read_image_file(const char* path, size_t limit, std::vector<uint8_t>& out, std::string& error) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    error = describe(path, "cannot open: No such file or directory");
    return false;
  }
  if (status.type() != std::filesystem::file_type::regular) {
    error = describe(path, status.type() == std::filesystem::file_type::directory ? "cannot read: Is a directory"
                                                                                 : "cannot read: not a regular file");
    return false;
  }
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    error = describe(path, std::string("cannot open: ") + std::strerror(errno));
    return false;
  }
  out.resize(limit);
  const size_t got = std::fread(out.data(), 1, limit, f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = describe(path, "cannot read: read error");
    return false;
  }
  out.resize(got);
  return true;
}
#else
bool read_image_file(const char* path, size_t limit, std::vector<uint8_t>& out, std::string& error) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = describe(path, std::string("cannot open: ") + std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = describe(path, S_ISDIR(st.st_mode) ? "cannot read: Is a directory"
                                               : "cannot read: not a regular file");
    ::close(fd);
    return false;
  }
  out.resize(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), limit));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = describe(path, std::string("cannot read: ") + std::strerror(errno));
      ::close(fd);
      return false;
    }
    if (n == 0) break;  // shrank while read: what is there is the image
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  ::close(fd);
  return true;
}
#endif
}  // namespace

bool load_cartridge(const char* path, std::string& error) {
  // The largest image the header can describe: trainer, 255 program units, 255 character units.
  constexpr size_t MAX_IMAGE = HEADER_SIZE + TRAINER_SIZE + 255 * PRG_UNIT + 255 * CHR_UNIT;
  std::vector<uint8_t> bytes;
  if (!read_image_file(path, MAX_IMAGE, bytes, error)) return false;
  return load_cartridge_bytes(bytes.data(), bytes.size(), path, error);
}

bool load_cartridge_bytes(const uint8_t* data, size_t size, const char* name, std::string& error) {
  size_t pos = 0;
  // Copies up to `count` bytes from the image; what the image lacks stays zero.
  auto take = [&](uint8_t* to, size_t count) {
    const size_t n = std::min(count, size - pos);
    if (n) std::memcpy(to, data + pos, n);
    pos += n;
    return n;
  };
  // The magic check stops at the first byte that differs.
  static constexpr uint8_t MAGIC[4] = {'N', 'E', 'S', 0x1A};
  for (uint8_t expected : MAGIC) {
    if (pos >= size || data[pos] != expected) {
      error = describe(name,
                       "not an iNES image: Assertion failed: fgetc(fp) == 'N' && fgetc(fp) == 'E' "
                       "&& fgetc(fp) == 'S' && fgetc(fp) == '\\32', file main");
      return false;
    }
    ++pos;
  }
  uint8_t header[HEADER_SIZE - 4] = {};
  if (take(header, sizeof header) < 4) {
    error = describe(name, "header is truncated");
    return false;
  }
  const uint8_t prg_units = header[0], chr_units = header[1];
  const uint8_t ctrlbyte = header[2], control2 = header[3];
  if (prg_units == 0) {
    error = describe(name, "PRG ROM size is 0");
    return false;
  }

  Cartridge loaded;
  if (ctrlbyte & CTRL_TRAINER) {
    loaded.trainer.assign(TRAINER_SIZE, 0);
    take(loaded.trainer.data(), TRAINER_SIZE);
  }
  loaded.prg_units = prg_units;
  loaded.chr_units = chr_units;
  loaded.ctrlbyte = ctrlbyte;
  loaded.mapper_number = mapper_number_from_header(ctrlbyte, control2);
  loaded.nes2 = (control2 & 0x0C) == 0x08;
  if (loaded.nes2) loaded.submapper = header[4] >> 4;
  loaded.prg_rom.assign(prg_units * PRG_UNIT, 0);
  loaded.chr_rom.assign(chr_units != 0 ? chr_units * CHR_UNIT : CHR_UNIT, 0);  // none: 8 KiB of RAM
  take(loaded.prg_rom.data(), loaded.prg_rom.size());
  if (chr_units != 0) take(loaded.chr_rom.data(), loaded.chr_rom.size());
  // iNES 1.0: 8 KiB of RAM at $6000, kept by the battery when the header says so.
  (ctrlbyte & CTRL_BATTERY ? loaded.prg_nvram_size : loaded.prg_ram_size) = 8192;
  if (const Board* b = board_for(loaded.mapper_number, loaded.submapper); b && chr_units != 0)
    loaded.chr_ram.assign(b->chr_ram_beside_rom, 0);
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
