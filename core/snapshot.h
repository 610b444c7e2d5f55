// Snapshots: the machine's whole state as a byte string, for save states, rewind and run-ahead.
// Layout: the tag "NES-SNAP", a 32-bit format version, the 64-bit checksum of the cartridge, every
// record of the state field by field (little-endian), and a 64-bit FNV-1a checksum of all of that.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Version 2: the board's register record as plain bytes, the cartridge's interrupt line, the
// character RAM beside character ROM. Version 3: the board's own memory, and the program ROM of
// boards that rewrite it. States of versions 1 and 2 still load.
constexpr uint32_t SNAPSHOT_VERSION = 3;
// More than any snapshot holds (the largest character RAM a header gives is 4 MiB, the largest
// rewritable program ROM 512 KiB): the most a save state file read may be.
constexpr size_t SNAPSHOT_MAX_SIZE = size_t{8} << 20;

// Writes the state into `out`, replacing its contents (its capacity is reused).
void snapshot_save(std::vector<uint8_t>& out);
std::vector<uint8_t> snapshot_save();

// Replaces the state by a snapshot of the loaded cartridge. A snapshot of another cartridge or
// an unknown format version, a short, long or altered one, or one holding a state the machine cannot
// be in is refused: false, a one-line reason in `error`, and the machine exactly as it was.
bool snapshot_load(const uint8_t* data, size_t size, std::string& error);
inline bool snapshot_load(const std::vector<uint8_t>& data, std::string& error) {
  return snapshot_load(data.data(), data.size(), error);
}

// The checksum of the cartridge's program and character ROM, mapper number and control byte that
// every snapshot carries.
uint64_t cartridge_checksum();
