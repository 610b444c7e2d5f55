// The cartridge as the iNES image describes it: program ROM, character ROM (or character RAM when the
// image has none), the mapper and submapper numbers, RAM sizes, timing and the header's control byte.
// Sizes are the header's; the memories the machine gives them are at least what the bank map needs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Cartridge {
  std::vector<uint8_t> prg_rom;                          // program ROM, 16 KiB units
  std::vector<uint8_t> chr_rom = std::vector<uint8_t>(8192);  // character ROM, or RAM (8 KiB or more)
  uint32_t mapper_number = 0;                            // bank-switching hardware on the board
  uint8_t submapper = 0;                                 // NES 2.0 byte 8 bits 4-7; 0 for iNES 1.0
  bool nes2 = false;                                     // the header is in the NES 2.0 format
  uint32_t prg_ram_size = 0;                             // bytes of RAM at $6000 that no battery keeps
  uint32_t prg_nvram_size = 0;                           // bytes of battery-backed RAM there
  uint32_t chr_ram_size = 0;                             // NES 2.0 byte 11: bytes of character RAM
  uint32_t chr_nvram_size = 0;                           // and of battery-backed character RAM
  std::vector<uint8_t> chr_ram;                          // RAM beside character ROM (TQROM), or none
  std::vector<uint8_t> board_memory;                     // the board's own memory (Board::memory_size)
  std::vector<uint8_t> prg_rom_image;                    // flash boards: the program ROM as the image has it
  uint8_t timing = 0;                                    // TIMING_*: NES 2.0 byte 12; NTSC for iNES 1.0
  uint8_t ctrlbyte = 0;                                  // header byte 6: mirroring, trainer, mapper low
  uint8_t prg_units = 0;                                 // header byte 4
  uint8_t chr_units = 0;                                 // header byte 5
  uint8_t rom_units_high = 0;                            // NES 2.0 byte 9: high bits of both sizes
  std::vector<uint8_t> trainer;                          // 512 bytes for $7000 at power-on, or none
  uint64_t checksum = 0;                                 // of ROM and header, carried by snapshots
  uint64_t missing_bytes = 0;                            // how much shorter the file is than announced
};
extern Cartridge cartridge;

constexpr uint8_t CTRL_VERTICAL_MIRRORING = 0x01;
constexpr uint8_t CTRL_BATTERY = 0x02;  // cartridge RAM is kept between runs
constexpr uint8_t CTRL_TRAINER = 0x04;
constexpr uint8_t CTRL_FOUR_SCREEN = 0x08;

// The console the image was made for (NES 2.0 byte 12 bits 0-1). Kept in the record; the machine
// runs NTSC timing whatever it says.
constexpr uint8_t TIMING_NTSC = 0, TIMING_PAL = 1, TIMING_MULTI_REGION = 2, TIMING_DENDY = 3;

constexpr size_t HEADER_SIZE = 16;
constexpr size_t TRAINER_SIZE = 512;
constexpr size_t PRG_UNIT = 16384;
constexpr size_t CHR_UNIT = 8192;
constexpr uint16_t TRAINER_ADDRESS = 0x7000;
// The largest program ROM and character ROM held (each); an image announcing more is refused.
constexpr uint64_t MAX_ROM_SIZE = uint64_t{16} << 20;

// Whether a 16-byte header is in the NES 2.0 format: byte 7 AND $0C is $08.
inline bool header_is_nes2(const uint8_t* header) { return (header[7] & 0x0C) == 0x08; }
// Mapper number from the 16-byte header. NES 2.0: the high nibbles of bytes 6 and 7 and the low
// nibble of byte 8. iNES 1.0 with bytes 12-15 all zero: the high nibbles of bytes 6 and 7. Any other
// header (junk in its tail) ORs the whole of byte 7 in, folding values of 64 and more to their low
// nibble.
uint32_t mapper_number_from_header(const uint8_t* header);

// Loads an iNES image into `cartridge`. On failure returns false and sets `error` to a one-line
// message naming the file and the problem; `cartridge` is then untouched.
// Only a regular file is read (a folder, FIFO or device is refused at once).
bool load_cartridge(const char* path, std::string& error);
// The same from an image already in memory; `name` is what the error message calls it.
bool load_cartridge_bytes(const uint8_t* data, size_t size, const char* name, std::string& error);

// The summary line printed after loading.
std::string cartridge_summary();
