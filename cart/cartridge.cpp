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
#include <functional>
#include <string_view>
#include <utility>

#include "cart/board.h"
#include "core/printable.h"
#include "core/snapshot.h"


Cartridge cartridge;

uint32_t mapper_number_from_header(const uint8_t* header) {
  const uint8_t ctrlbyte = header[6], control2 = header[7];
  if (header_is_nes2(header)) return ((header[8] & 0x0Fu) << 8) | (control2 & 0xF0u) | (ctrlbyte >> 4);
  if ((header[12] | header[13] | header[14] | header[15]) == 0) return (control2 & 0xF0u) | (ctrlbyte >> 4);
  uint32_t v = static_cast<uint8_t>(control2 | (ctrlbyte >> 4));
  return v < 64 ? v : (v & 0x0F);
}

namespace {
std::string describe(const char* name, const std::string& problem) { return printable(name) + ": " + problem; }

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

namespace {
// What a file that does not start as an iNES image is, in plain words, from its first bytes: the
// archives people download images in (to unpack first), the other formats of console images, or
// anything else.
struct Signature {
  std::string_view bytes;
  const char* what;
};
constexpr Signature SIGNATURES[] = {
    {"\x1F\x8B", "is a gzip archive: unpack it first"},
    {"PK\x03\x04", "is a zip archive: unpack it first"},
    {"PK\x05\x06", "is a zip archive: unpack it first"},
    {"7z\xBC\xAF\x27\x1C", "is a 7z archive: unpack it first"},
    {"Rar!\x1A\x07", "is a RAR archive: unpack it first"},
    {"\xFD" "7zXZ", "is an xz archive: unpack it first"},
    {"BZh", "is a bzip2 archive: unpack it first"},
    {"UNIF", "is a UNIF image: this program plays iNES and NES 2.0 images"},
    {"FDS\x1A", "is a Famicom Disk System image, not a cartridge"},
    {"\x01*NINTENDO-HVC*", "is a Famicom Disk System image, not a cartridge"},
};

std::string not_an_image(const uint8_t* data, size_t size, const char* name) {
  const std::string_view start(reinterpret_cast<const char*>(data), size);
  if (size == 0) return printable(name) + " is empty";
  for (const Signature& s : SIGNATURES)
    if (start.substr(0, s.bytes.size()) == s.bytes) return printable(name) + " " + s.what;
  return printable(name) + " is not a NES cartridge image";
}
}  // namespace

bool load_cartridge(const char* path, std::string& error) {
  // The largest image held: header, trainer, and the largest program and character ROM.
  constexpr size_t MAX_IMAGE = HEADER_SIZE + TRAINER_SIZE + 2 * MAX_ROM_SIZE;
  std::vector<uint8_t> bytes;
  if (!read_image_file(path, MAX_IMAGE, bytes, error)) return false;
  return load_cartridge_bytes(bytes.data(), bytes.size(), path, error);
}

namespace {
// A ROM size from its header byte (4 or 5) and the matching nibble of NES 2.0 byte 9: units of
// `unit` bytes, or with the nibble $F the exponent form 2^E * (2M + 1) bytes (E = bits 7-2 of the
// byte, M = bits 1-0). More than MAX_ROM_SIZE comes back as MAX_ROM_SIZE + 1.
uint64_t rom_size(uint8_t units, uint8_t high, uint64_t unit) {
  if (high != 0x0F) return ((uint64_t{high} << 8) | units) * unit;
  const unsigned exponent = units >> 2;
  if (exponent > 40) return MAX_ROM_SIZE + 1;
  return std::min((uint64_t{1} << exponent) * (2 * (units & 3u) + 1), MAX_ROM_SIZE + 1);
}

// `size` bytes of ROM from the image in a memory of whole bank slots (`slot` bytes each): a ROM
// that is not a whole number of slots repeats itself to fill the last one.
std::vector<uint8_t> rom_memory(uint64_t size, size_t slot, const std::function<void(uint8_t*, size_t)>& take) {
  const size_t n = static_cast<size_t>(size);
  std::vector<uint8_t> rom((n + slot - 1) / slot * slot, 0);
  take(rom.data(), n);
  for (size_t i = n; i < rom.size(); ++i) rom[i] = rom[i % n];
  return rom;
}

// NES 2.0 RAM sizes (bytes 10 and 11): 64 << n bytes, 0 for none.
uint32_t ram_size(uint8_t nibble) { return nibble ? uint32_t{64} << nibble : 0; }

// Character RAM of `size` bytes as the bank map takes it: whole 1 KiB slots, at least 8 KiB.
std::vector<uint8_t> chr_ram_memory(uint64_t size) {
  return std::vector<uint8_t>(std::max(CHR_UNIT, static_cast<size_t>((size + 1023) / 1024 * 1024)), 0);
}
}  // namespace

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
      error = not_an_image(data, size, name) + "\n" +
              describe(name,
                       "not an iNES image: Assertion failed: fgetc(fp) == 'N' && fgetc(fp) == 'E' "
                       "&& fgetc(fp) == 'S' && fgetc(fp) == '\\32', file main");
      return false;
    }
    ++pos;
  }
  uint8_t header[HEADER_SIZE] = {'N', 'E', 'S', 0x1A};
  if (take(header + 4, HEADER_SIZE - 4) < 4) {
    error = describe(name, "header is truncated");
    return false;
  }
  const uint8_t prg_units = header[4], chr_units = header[5];
  const uint8_t ctrlbyte = header[6];
  const bool nes2 = header_is_nes2(header);
  const uint8_t units_high = nes2 ? header[9] : 0;
  const uint64_t prg_size = rom_size(prg_units, units_high & 0x0F, PRG_UNIT);
  const uint64_t chr_size = rom_size(chr_units, units_high >> 4, CHR_UNIT);
  if (prg_size == 0) {
    error = describe(name, "PRG ROM size is 0");
    return false;
  }
  for (const auto& [what, bytes] : {std::pair{"PRG ROM", prg_size}, std::pair{"CHR ROM", chr_size}}) {
    if (bytes <= MAX_ROM_SIZE) continue;
    error = describe(name, std::string("header announces ") + what + " of " +
                               (bytes == MAX_ROM_SIZE + 1 ? "more than " + std::to_string(MAX_ROM_SIZE)
                                                          : std::to_string(bytes)) +
                               " bytes; this program holds at most " + std::to_string(MAX_ROM_SIZE >> 20) +
                               " MiB");
    return false;
  }

  Cartridge loaded;
  if (ctrlbyte & CTRL_TRAINER) {
    loaded.trainer.assign(TRAINER_SIZE, 0);
    take(loaded.trainer.data(), TRAINER_SIZE);
  }
  loaded.prg_units = prg_units;
  loaded.chr_units = chr_units;
  loaded.rom_units_high = units_high;
  loaded.ctrlbyte = ctrlbyte;
  loaded.mapper_number = mapper_number_from_header(header);
  loaded.nes2 = nes2;
  if (nes2) {
    loaded.submapper = header[8] >> 4;
    loaded.prg_ram_size = ram_size(header[10] & 0x0F);
    loaded.prg_nvram_size = ram_size(header[10] >> 4);
    loaded.chr_ram_size = ram_size(header[11] & 0x0F);
    loaded.chr_nvram_size = ram_size(header[11] >> 4);
    loaded.timing = header[12] & 3;
  } else {
    // iNES 1.0: 8 KiB of RAM at $6000, kept by the battery when the header says so.
    (ctrlbyte & CTRL_BATTERY ? loaded.prg_nvram_size : loaded.prg_ram_size) = 8192;
  }
  const auto take_function = [&](uint8_t* to, size_t count) { take(to, count); };
  loaded.prg_rom = rom_memory(prg_size, 8192, take_function);
  const uint64_t chr_ram_bytes = uint64_t{loaded.chr_ram_size} + loaded.chr_nvram_size;
  const Board* b = board_for(loaded.mapper_number, loaded.submapper);
  if (chr_size != 0) {
    loaded.chr_rom = rom_memory(chr_size, 1024, take_function);
    // RAM beside character ROM: as much as NES 2.0 byte 11 says, for iNES 1.0 the board's own.
    if (b && b->chr_ram_beside_rom) loaded.chr_ram = chr_ram_memory(nes2 ? chr_ram_bytes : b->chr_ram_beside_rom);
  } else {
    // No character ROM: RAM, as much as NES 2.0 byte 11 says, for iNES 1.0 the board's (8 KiB or more).
    loaded.chr_rom = chr_ram_memory(nes2 ? chr_ram_bytes : b ? b->chr_ram_size : 0);
  }
  const uint64_t announced = HEADER_SIZE + loaded.trainer.size() + prg_size + chr_size;
  loaded.missing_bytes = size < announced ? announced - size : 0;
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
