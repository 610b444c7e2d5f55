// The cartridge as the iNES image describes it: program ROM, character ROM (or character RAM when the
// image has none), the mapper and submapper numbers, RAM sizes and the header's control byte.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Cartridge {
  std::vector<uint8_t> prg_rom;                          // program ROM, 16 KiB units
  std::vector<uint8_t> chr_rom = std::vector<uint8_t>(8192);  // character ROM, or 8 KiB of RAM
  uint32_t mapper_number = 0;                            // bank-switching hardware on the board
  uint8_t submapper = 0;                                 // NES 2.0 byte 8 bits 4-7; 0 for iNES 1.0
  bool nes2 = false;                                     // the header is in the NES 2.0 format
  uint32_t prg_ram_size = 0;                             // bytes of RAM at $6000 that no battery keeps
  uint32_t prg_nvram_size = 0;                           // bytes of battery-backed RAM there
  std::vector<uint8_t> chr_ram;                          // RAM beside character ROM (TQROM), or none
  uint8_t ctrlbyte = 0;                                  // header byte 6: mirroring, trainer, mapper low
  uint8_t prg_units = 0;                                 // header byte 4
  uint8_t chr_units = 0;                                 // header byte 5
  std::vector<uint8_t> trainer;                          // 512 bytes for $7000 at power-on, or none
  uint64_t checksum = 0;                                 // of ROM and header, carried by snapshots
};
extern Cartridge cartridge;

constexpr uint8_t CTRL_VERTICAL_MIRRORING = 0x01;
constexpr uint8_t CTRL_BATTERY = 0x02;  // cartridge RAM is kept between runs
constexpr uint8_t CTRL_TRAINER = 0x04;
constexpr uint8_t CTRL_FOUR_SCREEN = 0x08;

constexpr size_t HEADER_SIZE = 16;
constexpr size_t TRAINER_SIZE = 512;
constexpr size_t PRG_UNIT = 16384;
constexpr size_t CHR_UNIT = 8192;
constexpr uint16_t TRAINER_ADDRESS = 0x7000;

// Mapper number from header bytes 6 and 7. NES 2.0 headers (byte 7 AND $0C = $08) take the high
// nibble of byte 7; older ones OR the whole byte in, folding values of 64 and more to their low nibble.
uint32_t mapper_number_from_header(uint8_t ctrlbyte, uint8_t control2);

// Loads an iNES image into `cartridge`. On failure returns false and sets `error` to a one-line
// message naming the file and the problem; `cartridge` is then untouched.
// Only a regular file is read (a folder, FIFO or device is refused at once).
bool load_cartridge(const char* path, std::string& error);
// The same from an image already in memory; `name` is what the error message calls it.
bool load_cartridge_bytes(const uint8_t* data, size_t size, const char* name, std::string& error);

// The summary line printed after loading.
std::string cartridge_summary();
