// Cartridge boards: the bank-switching hardware beside the ROM chips, and on some boards an interrupt
// counter that watches the PPU's address bus. Each board is one file in cart/boards/, a handful of
// free functions over the register record `mapper`, named by one row of the board table
// (cart/boards.cpp) under its mapper and submapper numbers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// The registers of the loaded cartridge's board, as plain bytes. Each board reads and writes them
// through its own view (board_registers); the snapshot stores the bytes as they are, and every bank
// slot is derived from them (mapper_update_banks). Whatever bytes the record holds, the derived bank
// map stays within the cartridge's memories: every board masks or wraps its register values.
constexpr size_t MAPPER_RECORD_SIZE = 64;
struct Mapper {
  alignas(8) unsigned char bytes[MAPPER_RECORD_SIZE] = {};
};
extern Mapper mapper;

// A board's view of the record: a struct of integers laid over its bytes (the byte array provides
// the storage for it).
template <class Registers>
Registers& board_registers() {
  static_assert(std::is_trivially_copyable_v<Registers> && sizeof(Registers) <= MAPPER_RECORD_SIZE &&
                alignof(Registers) <= alignof(Mapper));
  return *std::launder(reinterpret_cast<Registers*>(mapper.bytes));
}

// What the PPU tells a board about its address bus.
enum class PpuWatch : uint8_t {
  NONE,     // nothing: rendering reads its banks and tells no one
  A12,      // every address the PPU puts on its bus, with the dot it appears on (the MMC3's counter)
  LATCHES,  // every pattern-table address the PPU reads, after the read (the MMC2's and MMC4's
            // latches, switched by the reads of tiles $FD and $FE)
  MMC5,     // every fetch of rendering, whose byte the board supplies (the MMC5: fill mode, ExRAM,
            // the split, separate sprite and background banks, and its line counter)
};

struct CartridgeSound;

// One board. Only `name` is required: a board without registers keeps the power-on arrangement.
struct Board {
  const char* name;
  // The record's power-on values; the record is all zeroes before. Null: all zeroes.
  void (*power_on)() = nullptr;
  // A CPU write to $8000-$FFFF. It stores what the registers take and calls mapper_update_banks when
  // the banks may have moved. Null: writes there change nothing.
  void (*write)(uint16_t address, uint8_t value) = nullptr;
  // Points the bank map's slots where the record says, over the power-on arrangement. Null: the
  // power-on arrangement stands.
  void (*update_banks)() = nullptr;
  // CPU reads and writes of $4020-$7FFF, for boards that answer there themselves. Null: cartridge
  // RAM at $6000-$7FFF (the bank banks.cartridge_ram_slot shows), read and written as it is.
  uint8_t (*low_read)(uint16_t address) = nullptr;
  void (*low_write)(uint16_t address, uint8_t value) = nullptr;
  // A CPU read of $8000-$FFFF whose bank slot the board has left empty (null) while its chip answers
  // with something other than its memory (a flash chip at work gives its status). Required of a
  // board that empties a slot; other reads pay a test of the slot for it.
  uint8_t (*rom_read)(uint16_t address) = nullptr;
  // The CPU's NMI sequence read the vector at $FFFA-$FFFB (a chip that watches that fetch).
  void (*nmi_vector_read)() = nullptr;
  // Why a record loaded from a snapshot is refused (a value that its logic cannot take), or null.
  const char* (*impossible)() = nullptr;
  PpuWatch watch = PpuWatch::NONE;
  // Boards with an interrupt: the dots from the PPU's current position to the earliest dot at which
  // cartridge_irq_line could change without a CPU access to the board; INT32_MAX for never.
  int32_t (*irq_deadline)() = nullptr;
  // Character RAM the board carries beside character ROM (iNES 1.0 images; NES 2.0 says it).
  uint32_t chr_ram_beside_rom = 0;
  // Character RAM of an iNES 1.0 image without character ROM, on boards with more than 8 KiB (NES
  // 2.0 says it). 0: 8 KiB.
  uint32_t chr_ram_size = 0;
  // Boards that bank more than 8 KiB of cartridge RAM at $6000: how much this cartridge has (a
  // multiple of 8 KiB, at most CARTRIDGE_RAM_MAX), from its header. Null: 8 KiB.
  uint32_t (*ram_size)() = nullptr;
  // Bytes of the board's own memory beyond the record (an EEPROM's cells, a chip's internal RAM),
  // held in cartridge.board_memory: zeroed at power-on, part of the state.
  uint32_t memory_size = 0;
  // Boards that rewrite their program ROM (flash): true when this cartridge can, so that the state
  // holds the program ROM too.
  bool (*program_rom_written)() = nullptr;
  // What the board keeps between runs, for boards that keep something other than the battery-backed
  // part of cartridge RAM's first bank (an EEPROM, rewritten flash, SOROM's second RAM bank): the
  // battery file's size, and its bytes out of and into the board's memories. Null: that part of
  // cartridge RAM.
  size_t (*battery_size)() = nullptr;
  void (*battery_save)(uint8_t* out) = nullptr;
  void (*battery_load)(const uint8_t* in) = nullptr;
  // The board's sound chip (apu/apu.h), mixed with the console's sound. Null: none.
  const CartridgeSound* sound = nullptr;
  // Boards whose header cannot say whether the sound chip is there: true once the record says the
  // program has written to the chip. Until then the chip is left out of the mix (cartridge_sound
  // null), so that a cartridge without it plays the console's own stream and pays nothing for it.
  // Null: the chip is always in.
  bool (*sound_on)() = nullptr;
};

// The loaded cartridge's board: the table's row for its numbers, or a board without registers when
// the table has none (board_supported is then false). Chosen at power-on.
extern const Board* board;
extern bool board_supported;
// The table's board for a mapper and submapper number, or null.
const Board* board_for(uint32_t mapper_number, uint8_t submapper);
// Makes the table's board for these numbers the loaded cartridge's.
void select_board(uint32_t mapper_number, uint8_t submapper);
// What the programs tell the player about the loaded cartridge, a line each: its board is not in
// the table ("mapper N is not supported; this game will not run correctly"), or it was made for PAL
// or Dendy consoles ("this image is for PAL consoles; it runs here at NTSC speed and timing").
std::vector<std::string> cartridge_warnings();

// The cartridge's side of a CPU access to $4018-$FFFF: with `write` set, the board's registers
// ($8000-$FFFF) or its RAM ($4020-$7FFF) take the value. Returns the byte the address reads.
uint8_t mapper_write(uint16_t address, uint8_t value, bool write);
// The byte a latch on a board with bus conflicts takes from a CPU write of `value` at `address`: the
// ROM drives the data bus too, so the value is ANDed with the byte the address maps.
inline uint8_t bus_conflict(uint16_t address, uint8_t value) {
  return static_cast<uint8_t>(value & mapper_write(address, 0, false));
}
// Board::low_read of boards without cartridge RAM (a register sits at $6000-$7FFF): reads give 0.
uint8_t read_nothing(uint16_t address);
// The cartridge's answer to a CPU read of $4018-$7FFF.
uint8_t cartridge_low_read(uint16_t address);
// Bytes of cartridge RAM the loaded cartridge has (bus.cartridge_ram): 8 KiB unless its board banks
// more (Board::ram_size).
size_t cartridge_ram_size();

// Points every slot of the bank map where the header and the board's registers say: the power-on
// arrangement, then the board's own.
void mapper_update_banks();
// Chooses the cartridge's board, sets the record to its power-on values and derives the bank map.
void mapper_power_on_registers();

// The PPU's address bus as a watching board sees it. The PPU's rendering is compiled once per kind
// of watch (ppu/pipeline.cpp), so that each board pays only for its own, and a board without one
// for nothing.
// PpuWatch::A12 (the MMC3 family): `address` appears on the bus at dot time `time` (dots since
// power-on). Rendering calls it for every fetch, the data port for every change of the address it
// drives.
#include "cart/boards/mmc3.h"
inline void cartridge_ppu_bus(uint16_t address, uint64_t time) { mmc3_ppu_bus(address, time); }
// PpuWatch::LATCHES (MMC2, MMC4): the PPU has read the byte at pattern-table address `address`
// ($0000-$1FFF): rendering calls it after each of its pattern fetches, the data port after each read.
#include "cart/boards/mmc2.h"
inline void cartridge_ppu_read(uint16_t address) { mmc2_ppu_read(address); }
// PpuWatch::MMC5: the board supplies the byte of each nametable, attribute and pattern fetch of
// rendering at dot `dot` of the current line, and hears the CPU's PPUCTRL and PPUMASK writes and the
// end of the visible lines.
#include "cart/boards/mmc5.h"
inline uint8_t cartridge_nametable_fetch(uint16_t address, int32_t dot) { return mmc5_nametable_fetch(address, dot); }
inline uint8_t cartridge_pattern_fetch(uint16_t address, int32_t dot) { return mmc5_pattern_fetch(address, dot); }
