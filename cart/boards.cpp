// The board table, and what every board shares: the cartridge's side of the CPU bus above $4018 and
// the derivation of the bank map from the register record.
#include "cart/board.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "apu/apu.h"
#include "cart/banks.h"
#include "cart/cartridge.h"
#include "core/bus.h"

Mapper mapper;

// The boards, one file each in cart/boards/.
extern const Board nrom_board, mmc1_board, uxrom_board, cnrom_board, axrom_board;
extern const Board mmc5_board;
extern const Board mmc2_board, mmc4_board, action53_board;
extern const Board mmc3_board, mmc3_nec_board, mmc6_board, txsrom_board, tqrom_board, namco108_board;
extern const Board gxrom_board, color_dreams_board, mapper34_board, camerica_board, unrom180_board, j87_board,
    jf11_board, pci556_board, irem78_board, unrom512_board;
extern const Board vrc2a_board, vrc2b_board, vrc2c_board, vrc4a_board, vrc4b_board, vrc4c_board, vrc4d_board,
    vrc4e_board, vrc4f_board, vrc4_21_board, vrc4_23_board, vrc4_25_board;
extern const Board vrc6a_board, vrc6b_board;
extern const Board namco163_quiet_board, namco163_16_5db_board, namco163_18db_board;
extern const Board fme7_board, namco163_board, namco175_board, namco340_board, namco210_board;
extern const Board ss88006_board, fcg_board, lz93d50_board, bandai16_board, bandai153_board, bandai159_board;

namespace {
constexpr int ANY_SUBMAPPER = -1;
struct BoardRow {
  uint32_t mapper_number;
  int submapper;  // ANY_SUBMAPPER, or the one submapper the row is for
  const Board* board;
};
// Rows with a submapper come before the row of the same number that takes any.
constexpr BoardRow board_table[] = {
    {0, ANY_SUBMAPPER, &nrom_board},       // NROM
    {1, ANY_SUBMAPPER, &mmc1_board},       // SxROM (MMC1)
    {2, ANY_SUBMAPPER, &uxrom_board},      // UxROM
    {3, ANY_SUBMAPPER, &cnrom_board},      // CNROM
    {4, 1, &mmc6_board},                   // HKROM (MMC6)
    {4, 4, &mmc3_nec_board},               // TxROM with the NEC MMC3
    {4, ANY_SUBMAPPER, &mmc3_board},       // TxROM (Sharp MMC3)
    {5, ANY_SUBMAPPER, &mmc5_board},       // ExROM (MMC5)
    {7, ANY_SUBMAPPER, &axrom_board},      // AxROM
    {9, ANY_SUBMAPPER, &mmc2_board},       // PxROM (MMC2)
    {10, ANY_SUBMAPPER, &mmc4_board},      // FxROM (MMC4)
    {11, ANY_SUBMAPPER, &color_dreams_board},  // Color Dreams
    {16, 1, &bandai159_board},             // Bandai LZ93D50 with a 24C01 (old number of 159)
    {16, 3, &bandai153_board},             // Bandai LZ93D50 with RAM (old number of 153)
    {16, 4, &fcg_board},                   // Bandai FCG-1/2
    {16, 5, &lz93d50_board},               // Bandai LZ93D50, with or without a 24C02
    {16, ANY_SUBMAPPER, &bandai16_board},  // Bandai FCG or LZ93D50: both
    {18, ANY_SUBMAPPER, &ss88006_board},   // Jaleco SS 88006
    {19, 1, &namco163_quiet_board},        // Namco 129/163, internal RAM on the battery, no sound
    {19, 2, &namco163_quiet_board},        // Namco 129/163 without sound
    {19, 4, &namco163_16_5db_board},       // Namco 163, louder mixing resistor
    {19, 5, &namco163_18db_board},         // Namco 163, loudest mixing resistor
    {19, ANY_SUBMAPPER, &namco163_board},  // Namco 129, 163
    {21, 1, &vrc4a_board},                 // Konami VRC4a
    {21, 2, &vrc4c_board},                 // VRC4c
    {21, ANY_SUBMAPPER, &vrc4_21_board},   // VRC4a or VRC4c
    {22, ANY_SUBMAPPER, &vrc2a_board},     // VRC2a
    {23, 1, &vrc4f_board},                 // VRC4f
    {23, 2, &vrc4e_board},                 // VRC4e
    {23, 3, &vrc2b_board},                 // VRC2b
    {23, ANY_SUBMAPPER, &vrc4_23_board},   // VRC2b, VRC4e or VRC4f
    {24, ANY_SUBMAPPER, &vrc6a_board},     // Konami VRC6a
    {25, 1, &vrc4b_board},                 // VRC4b
    {25, 2, &vrc4d_board},                 // VRC4d
    {25, 3, &vrc2c_board},                 // VRC2c
    {25, ANY_SUBMAPPER, &vrc4_25_board},   // VRC2c, VRC4b or VRC4d
    {26, ANY_SUBMAPPER, &vrc6b_board},     // VRC6b
    {28, ANY_SUBMAPPER, &action53_board},  // Action 53
    {30, ANY_SUBMAPPER, &unrom512_board},  // UNROM 512
    {34, ANY_SUBMAPPER, &mapper34_board},  // BNROM, NINA-001/002
    {38, ANY_SUBMAPPER, &pci556_board},    // Bit Corp UNL-PCI556
    {66, ANY_SUBMAPPER, &gxrom_board},     // GxROM
    {69, ANY_SUBMAPPER, &fme7_board},      // Sunsoft FME-7, 5A, 5B
    {71, ANY_SUBMAPPER, &camerica_board},  // Camerica BF9093, BF9097
    {78, ANY_SUBMAPPER, &irem78_board},    // Irem IF-12, Jaleco JF-16
    {87, ANY_SUBMAPPER, &j87_board},       // J87
    {101, ANY_SUBMAPPER, &j87_board},      // J87 dumped with the bits in order
    {118, ANY_SUBMAPPER, &txsrom_board},   // TKSROM, TLSROM
    {119, ANY_SUBMAPPER, &tqrom_board},    // TQROM
    {140, ANY_SUBMAPPER, &jf11_board},     // Jaleco JF-11, JF-14
    {153, ANY_SUBMAPPER, &bandai153_board},  // Bandai LZ93D50 with RAM
    {159, ANY_SUBMAPPER, &bandai159_board},  // Bandai LZ93D50 with a 24C01
    {180, ANY_SUBMAPPER, &unrom180_board}, // UNROM with a 74HC08
    {206, ANY_SUBMAPPER, &namco108_board}, // Namco 108 family, DxROM
    {210, 1, &namco175_board},             // Namco 175
    {210, 2, &namco340_board},             // Namco 340
    {210, ANY_SUBMAPPER, &namco210_board}, // Namco 175 or 340 (or 163), by what the game writes
};

// A board without registers, for mapper numbers the table does not have.
const Board unknown_board = {.name = "unknown"};
}  // namespace

const Board* board = &nrom_board;
bool board_supported = true;

const Board* board_for(uint32_t mapper_number, uint8_t submapper) {
  for (const BoardRow& row : board_table)
    if (row.mapper_number == mapper_number && (row.submapper == ANY_SUBMAPPER || row.submapper == submapper))
      return row.board;
  return nullptr;
}

void select_board(uint32_t mapper_number, uint8_t submapper) {
  const Board* b = board_for(mapper_number, submapper);
  board_supported = b != nullptr;
  board = b ? b : &unknown_board;
}

std::vector<std::string> cartridge_warnings() {
  std::vector<std::string> lines;
  if (!board_supported)
    lines.push_back("mapper " + std::to_string(cartridge.mapper_number) +
                    " is not supported; this game will not run correctly");
  const char* console = cartridge.timing == TIMING_PAL ? "PAL" : cartridge.timing == TIMING_DENDY ? "Dendy" : nullptr;
  if (console) lines.push_back(std::string("this image is for ") + console + " consoles; it runs here at NTSC speed and timing");
  if (cartridge.missing_bytes)
    lines.push_back("this image is " + std::to_string(cartridge.missing_bytes) +
                    " bytes shorter than its header says; the missing bytes read as 0");
  return lines;
}

void mapper_update_banks() {
  mapper_power_on();
  if (board->update_banks) board->update_banks();
  cartridge_sound = board->sound && (!board->sound_on || board->sound_on()) ? board->sound : nullptr;
}

void mapper_power_on_registers() {
  select_board(cartridge.mapper_number, cartridge.submapper);
  std::memset(mapper.bytes, 0, sizeof mapper.bytes);
  cartridge.board_memory.assign(board->memory_size, 0);
  if (board->power_on) board->power_on();
  mapper_update_banks();
}

uint8_t read_nothing(uint16_t) { return 0; }

size_t cartridge_ram_size() {
  if (!board->ram_size) return CARTRIDGE_RAM_BANK;
  const size_t whole_banks = board->ram_size() / CARTRIDGE_RAM_BANK;
  return std::clamp<size_t>(whole_banks * CARTRIDGE_RAM_BANK, CARTRIDGE_RAM_BANK, CARTRIDGE_RAM_MAX);
}

uint8_t cartridge_low_read(uint16_t address) {
  if (board->low_read) return board->low_read(address);
  if ((address >> 13) == 3) return banks.cartridge_ram_slot[address & 0x1FFF];
  return banks.prg_slots[(address >> 13) & 7][address & 0x1FFF];
}

uint8_t mapper_write(uint16_t address, uint8_t value, bool write) {
  if (write) {
    if (address >= 0x8000) {
      if (board->write) board->write(address, value);
    } else if (board->low_write) {
      board->low_write(address, value);
      return value;  // not read back: reads of a board's registers there can have effects
    } else if ((address >> 13) == 3) {
      banks.cartridge_ram_slot[address & 0x1FFF] = value;
      cartridge_ram_changed = true;
    }
  }
  if (address >= 0x8000) {
    // An empty slot: the board's chip answers by itself, to reads alone (board->rom_read).
    const uint8_t* slot = banks.prg_slots[address >> 13];
    return slot ? slot[address & 0x1FFF] : 0;
  }
  return cartridge_low_read(address);
}
