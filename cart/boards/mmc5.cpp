// Nintendo MMC5 (mapper 5: ExROM boards ELROM, EKROM, ETROM, EWROM). Program ROM and RAM in four
// arrangements of 8, 16 and 32 KiB windows, character ROM in 1, 2, 4 or 8 KiB banks with a separate
// background set for 8x16 sprites, 1 KiB of internal ExRAM (extra nametable, extended attributes,
// or plain RAM), per-quadrant nametables with a fill mode, a vertical split, an 8x8 multiplier and
// an interrupt on a chosen line, counted from the PPU's fetches. Its sound (two pulses and a PCM
// channel at $5000-$5015) is cart/boards/mmc5_audio.cpp; its state follows ExRAM in the board's
// memory, and the PCM's interrupt shares the cartridge's /IRQ with the line interrupt.
//
// Registers ($5xxx, fully decoded):
//   $5100 program mode (0: 32 KiB, 1: 16+16, 2: 16+8+8, 3: four 8 KiB); $5101 pattern mode (0: 8 KiB,
//   1: 4, 2: 2, 3: 1); $5102/$5103 RAM write protect (writes land only with 2 and 1 in bits 1-0);
//   $5104 ExRAM mode; $5105 nametable per quadrant (CIRAM 0/1, ExRAM, fill); $5106/$5107 the fill
//   tile and palette; $5113 RAM bank at $6000; $5114-$5117 program banks (bit 7: ROM, else RAM;
//   $5117 always ROM); $5120-$5127 pattern set A (sprites, and everything with 8x8 sprites),
//   $5128-$512B set B (background with 8x16 sprites), bank numbers in units of the bank size;
//   $5130 bits 9-8 of the next pattern bank writes; $5200-$5202 the split (enable, side, tile
//   threshold; scroll; 4 KiB bank); $5203 the interrupt's line, $5204 enable (write) and pending,
//   in-frame (read, which acknowledges); $5205/$5206 the factors, read back as the product;
//   $5C00-$5FFF ExRAM.
//
// Cartridge RAM: a bank value's bits 1-0 are the 8 KiB page within a chip and bit 2 the chip. The
// sizes the NES 2.0 header gives map as the boards wire them: 8 KiB (chip 0 only), 16 KiB (two
// chips of 8), 32 KiB (one chip of four pages); without a size (iNES 1.0) pages 0-3 are the 32 KiB
// chip's and 4-7 fall on pages 2 and 3, so that the 16 KiB boards' two chips stay apart too.
// Values that name a chip the board lacks read 0 and take no writes. (The chip reaches 128 KiB; no
// released board carries more than 32 KiB, which is what the console's bus here holds.)
//
// Lines: the chip sees the PPU read one nametable address three times running (the two dummy
// fetches at the end of a line and the next line's first tile); the read after them, the
// attribute fetch at dot 3, is where it detects the line. The first line detected with in-frame
// clear sets it and zeroes the counter and pending; each later one counts, and pending rises when
// the count reaches $5203 (1-239; 0 and 240-255 never fire). In-frame clears when the reads stop
// (the end of line 239, or rendering turned off), and a 241st line resets everything. /IRQ is
// pending AND enable. The NMI's vector read resets in-frame, the counter and pending (a program's
// own reads of $FFFA/$FFFB are not heard). The chip hears PPUCTRL and PPUMASK written at $2000 and
// $2001 only, not at their mirrors; with its PPUMASK showing rendering off it makes no substitutions
// (no 8x16 background set, extended attributes or split) even if the PPU renders. The console's
// reset disables the interrupt.
//
// Power-on: program mode 3 with every bank register $FF but $5113 = 0, pattern mode 3, RAM
// locked, the rest 0, ExRAM zeroed.
#include <algorithm>
#include <climits>

#include "cart/banks.h"
#include "cart/board.h"
#include "cart/boards/mmc5.h"
#include "cart/boards/mmc5_audio.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "core/machine.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

namespace {
struct Mmc5Registers {
  uint16_t chr_a[8];        // $5120-$5127, with $5130's bits as bits 9-8
  uint16_t chr_b[4];        // $5128-$512B, the same
  uint16_t last_nametable;  // the last nametable address read, 0 after any other read
  uint8_t prg_mode;         // $5100 bits 1-0
  uint8_t chr_mode;         // $5101 bits 1-0
  uint8_t ram_protect[2];   // $5102, $5103
  uint8_t exram_mode;       // $5104 bits 1-0
  uint8_t nametables;       // $5105
  uint8_t fill_tile;        // $5106
  uint8_t fill_palette;     // $5107 bits 1-0
  uint8_t prg[5];           // $5113-$5117
  uint8_t chr_upper;        // $5130 bits 1-0
  uint8_t b_set_last;       // the last pattern bank write was to set B
  uint8_t sprites_8x16;     // PPUCTRL bit 5 as last written
  uint8_t split_control;    // $5200
  uint8_t split_scroll;     // $5201
  uint8_t split_bank;       // $5202
  uint8_t irq_compare;      // $5203
  uint8_t irq_enabled;      // $5204 bit 7
  uint8_t irq_pending;
  uint8_t in_frame;
  uint8_t line_counter;
  uint8_t factors[2];       // $5205, $5206
  uint8_t matches;          // reads of last_nametable after the first, up to 2
  uint8_t armed;            // three matching reads seen: the next read detects the line
  uint8_t tile_kind;        // how the background tile being fetched was substituted (TileKind)
  uint8_t tile_attribute;   // its ExRAM byte (extended attributes)
  uint8_t rendering_seen;   // PPUMASK had bits 3-4 set at its last write: "substitutions" on (the
                            // background's own 8x16 set, extended attributes, the split)
};
Mmc5Registers& r() { return board_registers<Mmc5Registers>(); }

enum TileKind : uint8_t { NORMAL, SPLIT, EXTENDED };
constexpr uint32_t EXRAM_SIZE = MMC5_EXRAM_SIZE;
constexpr uint16_t ATTRIBUTE_OFFSET = 0x3C0;
constexpr int32_t DETECTION_DOT = 3, VISIBLE_LINES = 240;

uint8_t* exram() { return cartridge.board_memory.data(); }

// The pattern slots of each set, rebuilt from the record by update_banks with the bank map; the
// nametables that are not memory (a fill quadrant's page, the zeros ExRAM reads as while the CPU
// owns it) are the bank map's board_nametables.
uint8_t* sprite_chr[8];
uint8_t* background_chr[8];
uint8_t (&fill_page)[1024] = banks.board_nametables[0];
uint8_t (&zero_page)[1024] = banks.board_nametables[1];

uint8_t* chr_at(uint32_t offset) {
  const auto size = static_cast<uint32_t>(cartridge.chr_rom.size());
  return cartridge.chr_rom.data() + offset % size;
}

// The 8 KiB page of cartridge RAM that bank value `v` names, or -1 where the board has no chip.
int32_t ram_page(uint8_t v) {
  v &= 7;
  if (!cartridge.nes2) return v < 4 ? v : 2 + (v & 1);
  switch (cartridge.prg_ram_size + cartridge.prg_nvram_size) {
    case 0: return -1;
    case 8192: return v < 4 ? 0 : -1;
    case 16384: return v >> 2;
    default: return v < 4 ? v : -1;  // 32 KiB (larger sizes are held as 32 KiB)
  }
}

uint32_t ram_size() {
  const uint32_t size = cartridge.prg_ram_size + cartridge.prg_nvram_size;
  return !cartridge.nes2 || size > CARTRIDGE_RAM_MAX ? CARTRIDGE_RAM_MAX : size;
}

uint8_t* ram_at(uint8_t bank_value) {
  const int32_t page = ram_page(bank_value);
  const auto pages = static_cast<int32_t>(cartridge_ram_size() / CARTRIDGE_RAM_BANK);
  return page < 0 || page >= pages ? nullptr : bus.cartridge_ram + CARTRIDGE_RAM_BANK * static_cast<uint32_t>(page);
}

// What CPU slot `slot` (3: $6000, 4-7: $8000-$FFFF) shows: ROM or RAM, and the 8 KiB bank number.
struct Window {
  bool rom;
  uint8_t bank;
};
Window window(const Mmc5Registers& m, uint32_t slot) {
  if (slot == 3) return {false, m.prg[0]};
  const uint32_t low = slot & 1;
  uint8_t reg;
  uint8_t bank;
  switch (m.prg_mode & 3) {
    case 0:
      reg = m.prg[4];
      bank = static_cast<uint8_t>((reg & 0x7C) | (slot - 4));
      return {true, bank};
    case 1:
      reg = slot < 6 ? m.prg[2] : m.prg[4];
      bank = static_cast<uint8_t>((reg & 0x7E) | low);
      if (slot >= 6) return {true, bank};  // $5117: ROM whatever its bit 7
      break;
    case 2:
      reg = slot < 6 ? m.prg[2] : m.prg[slot - 3];
      bank = static_cast<uint8_t>(slot < 6 ? (reg & 0x7E) | low : reg & 0x7F);
      break;
    default:
      reg = m.prg[slot - 3];
      bank = reg & 0x7F;
      break;
  }
  return {slot == 7 || (reg & 0x80), bank};
}

bool ram_writable(const Mmc5Registers& m) { return (m.ram_protect[0] & 3) == 2 && (m.ram_protect[1] & 3) == 1; }

void power_on() {
  Mmc5Registers& m = r();
  m.prg_mode = 3;
  m.chr_mode = 3;
  for (int i = 1; i < 5; ++i) m.prg[i] = 0xFF;
}

// The pattern slots of set A (b false) or B for the mode: a bank covers 1 KiB << shift, and each
// register maps the bank number in units of that size.
void build_chr_set(const Mmc5Registers& m, bool b, uint8_t* (&slots)[8]) {
  const uint32_t shift = 3 - (m.chr_mode & 3u);
  for (uint32_t s = 0; s < 8; ++s) {
    const uint32_t index = ((s >> shift) << shift) + (1u << shift) - 1;
    const uint32_t bank = (b ? m.chr_b[index & 3] : m.chr_a[index]) & 0x3FF;
    slots[s] = chr_at((bank << (10 + shift)) + ((s & ((1u << shift) - 1)) << 10));
  }
}

// What each 8 KiB window of $8000-$FFFF shows (null: RAM that is not fitted). While the PCM
// channel's read mode is on, the windows of $8000-$BFFF are left empty in the bank map, so that
// every read there reaches rom_read, which hands the byte to the PCM.
uint8_t* program_window[8];

void update_banks() {
  const Mmc5Registers& m = r();
  for (uint32_t slot = 4; slot < 8; ++slot) {
    const Window w = window(m, slot);
    if (w.rom) {
      set_prg_pages(8192, slot * 8192, w.bank);
    } else {
      banks.prg_slots[slot] = ram_at(w.bank);  // null: no chip there (rom_read)
    }
    program_window[slot] = banks.prg_slots[slot];
  }
  if (mmc5_audio_read_mode()) banks.prg_slots[4] = banks.prg_slots[5] = nullptr;
  build_chr_set(m, false, sprite_chr);
  build_chr_set(m, true, background_chr);
  // PPUDATA sees set A with 8x8 sprites, and with 8x16 sprites the set written last.
  const bool b_view = m.sprites_8x16 && m.b_set_last;
  for (uint32_t s = 0; s < 8; ++s) banks.chr_slots[s] = b_view ? background_chr[s] : sprite_chr[s];

  for (uint32_t i = 0; i < 1024; ++i)
    fill_page[i] = i < ATTRIBUTE_OFFSET ? m.fill_tile : static_cast<uint8_t>((m.fill_palette & 3) * 0x55);
  uint8_t read_only = 0;
  for (uint32_t q = 0; q < 4; ++q) {
    uint8_t*& slot = banks.nametable_slots[q];
    switch ((m.nametables >> (2 * q)) & 3) {
      case 0: slot = banks.nametable_ram; break;
      case 1: slot = banks.nametable_ram + 0x400; break;
      case 2:
        if ((m.exram_mode & 3) < 2) {
          slot = exram();
        } else {
          slot = zero_page;
          read_only |= static_cast<uint8_t>(1u << q);
        }
        break;
      default:
        slot = fill_page;
        read_only |= static_cast<uint8_t>(1u << q);
        break;
    }
  }
  banks.rom_nametables = read_only;
}

void update_irq_line();

uint8_t rom_read(uint16_t address) {
  const uint8_t* window = program_window[address >> 13];
  const uint8_t byte = window ? window[address & 0x1FFF] : 0;
  if (address < 0xC000 && mmc5_audio_read_mode()) {
    mmc5_audio_pcm_read(byte);
    update_irq_line();
  }
  return byte;
}

// A write to $8000-$FFFF lands in the RAM a window shows, when the protect registers allow it.
void write(uint16_t address, uint8_t value) {
  const Mmc5Registers& m = r();
  uint8_t* ram = program_window[address >> 13];
  if (!ram_writable(m) || window(m, address >> 13).rom || !ram) return;
  ram[address & 0x1FFF] = value;
  cartridge_ram_changed = true;
}

int32_t irq_deadline();

// The cartridge's /IRQ: the line interrupt or the PCM channel's.
void update_irq_line() {
  const Mmc5Registers& m = r();
  if ((m.irq_pending && m.irq_enabled) || mmc5_audio_irq()) raise_cartridge_irq(ppu_dot_time());
  else lower_cartridge_irq();
}

// The line interrupt's flag cleared: the line falls unless the PCM channel holds it.
void clear_line_interrupt(Mmc5Registers& m) {
  m.irq_pending = 0;
  if (!mmc5_audio_irq()) lower_cartridge_irq();
}

uint8_t low_read(uint16_t address) {
  Mmc5Registers& m = r();
  if (address >= 0x6000) {
    const uint8_t* ram = ram_at(m.prg[0]);
    return ram ? ram[address & 0x1FFF] : 0;
  }
  if (address >= 0x5C00) {
    // The CPU reads ExRAM only in modes 2 and 3.
    return (m.exram_mode & 3) >= 2 ? exram()[address & 0x3FF] : 0;
  }
  switch (address) {
    case 0x5204: {
      ppu_catch_up();  // the lines detected up to this cycle
      const auto status = static_cast<uint8_t>((m.irq_pending ? 0x80 : 0) | (m.in_frame ? 0x40 : 0));
      m.irq_pending = 0;
      update_irq_line();
      ppu_plan_catch_up();
      return status;
    }
    case 0x5010: {
      const uint8_t pcm = mmc5_audio_read_pcm();
      update_irq_line();
      return pcm;
    }
    case 0x5015: return mmc5_audio_read_status();
    case 0x5205: return static_cast<uint8_t>(m.factors[0] * m.factors[1]);
    case 0x5206: return static_cast<uint8_t>((m.factors[0] * m.factors[1]) >> 8);
    default: return 0;
  }
}

void low_write(uint16_t address, uint8_t value) {
  Mmc5Registers& m = r();
  if (address >= 0x6000) {
    uint8_t* ram = ram_at(m.prg[0]);
    if (ram && ram_writable(m)) {
      ram[address & 0x1FFF] = value;
      cartridge_ram_changed = true;
    }
    return;
  }
  if (address >= 0x5C00) {
    // Modes 0 and 1: only while the PPU renders (in-frame); mode 3 is read-only.
    const uint8_t mode = m.exram_mode & 3;
    if (mode == 2 || (mode < 2 && m.in_frame)) exram()[address & 0x3FF] = value;
    return;
  }
  if (address <= 0x5015) {
    const bool read_mode = mmc5_audio_read_mode();
    mmc5_audio_write(address, value);
    update_irq_line();
    if (mmc5_audio_read_mode() != read_mode) mapper_update_banks();
    return;
  }
  if (address >= 0x5120 && address <= 0x512B) {
    const auto bank = static_cast<uint16_t>(value | (m.chr_upper & 3) << 8);
    if (address < 0x5128) m.chr_a[address - 0x5120] = bank;
    else m.chr_b[address - 0x5128] = bank;
    m.b_set_last = address >= 0x5128;
    mapper_update_banks();
    return;
  }
  if (address >= 0x5113 && address <= 0x5117) {
    m.prg[address - 0x5113] = value;
    mapper_update_banks();
    return;
  }
  switch (address) {
    case 0x5100: m.prg_mode = value & 3; break;
    case 0x5101: m.chr_mode = value & 3; break;
    case 0x5102: m.ram_protect[0] = value & 3; return;
    case 0x5103: m.ram_protect[1] = value & 3; return;
    case 0x5104: m.exram_mode = value & 3; break;
    case 0x5105: m.nametables = value; break;
    case 0x5106: m.fill_tile = value; break;
    case 0x5107: m.fill_palette = value & 3; break;
    case 0x5130: m.chr_upper = value & 3; return;
    case 0x5200: m.split_control = value; return;
    case 0x5201: m.split_scroll = value; return;
    case 0x5202: m.split_bank = value; return;
    case 0x5203: m.irq_compare = value; return;
    case 0x5204:
      m.irq_enabled = value >> 7;
      update_irq_line();
      return;
    case 0x5205: m.factors[0] = value; return;
    case 0x5206: m.factors[1] = value; return;
    default: return;  // the sound registers, the MMC5A's extras
  }
  mapper_update_banks();
}

// A line detected at dot `dot` of the current line.
void detect_line(int32_t dot) {
  Mmc5Registers& m = r();
  if (!m.in_frame) {
    m.in_frame = 1;
    m.line_counter = 0;
    if (m.irq_pending) clear_line_interrupt(m);
    return;
  }
  if (++m.line_counter >= VISIBLE_LINES) {  // a 241st line
    m.in_frame = 0;
    m.line_counter = 0;
    clear_line_interrupt(m);
    return;
  }
  if (m.line_counter == m.irq_compare) {
    m.irq_pending = 1;
    if (m.irq_enabled) raise_cartridge_irq(ppu_derived.line_start + static_cast<uint32_t>(dot) + 1);
  }
}

// The split's row for the line whose tiles are being fetched: the scroll plus the line, wrapping
// from 239 to 0 (a start of 240-255 runs up to 255 first).
uint32_t split_row(const Mmc5Registers& m, int32_t line) {
  const uint32_t y = m.split_scroll + static_cast<uint32_t>(line < 0 ? 0 : line);
  if (m.split_scroll < VISIBLE_LINES) return y % VISIBLE_LINES;
  return y < 256 ? y : (y - 256) % VISIBLE_LINES;
}

// Whether tile `tile` (0-33, counted from the two fetched at the end of the line before) is in the
// split.
bool in_split(const Mmc5Registers& m, uint32_t tile) {
  if (!(m.split_control & 0x80) || (m.exram_mode & 3) >= 2 || !m.rendering_seen) return false;
  const uint32_t threshold = m.split_control & 0x1F;
  return (m.split_control & 0x40) ? tile >= threshold : tile < threshold;
}

bool tile_group_dot(int32_t dot) { return dot < 256 || (dot >= 320 && dot < 336); }

int32_t tile_line(int32_t dot) { return dot >= 320 ? ppu.scanline + 1 : ppu.scanline; }
uint32_t tile_column(int32_t dot) {
  return dot >= 320 ? static_cast<uint32_t>(dot - 320) >> 3 : (static_cast<uint32_t>(dot) >> 3) + 2;
}

int32_t irq_deadline() {
  const Mmc5Registers& m = r();
  if (!m.irq_enabled || cartridge_irq_line || !rendering_enabled() || ppu.scanline >= VISIBLE_LINES) return INT32_MAX;
  if (m.irq_compare == 0 || m.irq_compare >= VISIBLE_LINES) return INT32_MAX;
  int32_t detections;
  if (m.in_frame) {
    if (m.irq_compare <= m.line_counter) return INT32_MAX;
    detections = m.irq_compare - m.line_counter;
  } else {
    detections = m.irq_compare + 1;
  }
  const int32_t first = ppu.scanline < 0 ? 0 : ppu.dot <= DETECTION_DOT ? ppu.scanline : ppu.scanline + 1;
  const int32_t line = first + detections - 1;
  if (line >= VISIBLE_LINES) return INT32_MAX;
  // A pre-render line may be a dot shorter than counted: the catch-up then comes a dot early.
  const int32_t shorter = ppu.scanline < 0 ? 1 : 0;
  return (line - ppu.scanline) * 341 + DETECTION_DOT - ppu.dot + 1 - shorter;
}
}  // namespace

uint8_t mmc5_nametable_fetch(uint16_t address, int32_t dot) {
  Mmc5Registers& m = r();
  if (m.armed) {
    m.armed = 0;
    detect_line(dot);
  }
  if (address == m.last_nametable) {
    if (++m.matches == 2) m.armed = 1;
  } else {
    m.matches = 0;
  }
  m.last_nametable = address;

  if (!tile_group_dot(dot)) return nametable_byte(address);  // the dummy fetches
  if ((dot & 7) == 1) {  // a tile's nametable byte
    const uint32_t tile = tile_column(dot);
    if (in_split(m, tile)) {
      m.tile_kind = SPLIT;
      return exram()[(split_row(m, tile_line(dot)) >> 3) * 32 + (tile & 31)];
    }
    if ((m.exram_mode & 3) == 1 && m.rendering_seen) {
      m.tile_kind = EXTENDED;
      m.tile_attribute = exram()[address & 0x3FF];
    } else {
      m.tile_kind = NORMAL;
    }
    return nametable_byte(address);
  }
  // Its attribute byte: the substituted palette in all four fields.
  switch (m.tile_kind) {
    case SPLIT: {
      const uint32_t tile = tile_column(dot) & 31, row = split_row(m, tile_line(dot));
      const uint8_t a = exram()[ATTRIBUTE_OFFSET + (row >> 5) * 8 + (tile >> 2)];
      return static_cast<uint8_t>(((a >> ((tile & 2) + 4 * ((row >> 4) & 1))) & 3) * 0x55);
    }
    case EXTENDED: return static_cast<uint8_t>((m.tile_attribute >> 6) * 0x55);
    default: return nametable_byte(address);
  }
}

uint8_t mmc5_pattern_fetch(uint16_t address, int32_t dot) {
  Mmc5Registers& m = r();
  if (m.armed) {
    m.armed = 0;
    detect_line(dot);
  }
  m.matches = 0;
  m.last_nametable = 0;
  const bool sprite = dot >= 256 && dot < 320;
  if (sprite) return sprite_chr[(address >> 10) & 7][address & 0x3FF];
  switch (m.tile_kind) {
    case SPLIT: return *chr_at(uint32_t{m.split_bank} * 4096 + (address & 0xFFF));
    case EXTENDED:
      return *chr_at(((uint32_t{m.chr_upper & 3u} << 6) | (m.tile_attribute & 0x3Fu)) * 4096 + (address & 0xFFF));
    default: break;
  }
  // The set as a pointer first: GCC 12 drops the subscript of a conditional between two arrays when
  // it instruments shifts (-fsanitize=shift), reading slot 0 whatever the address.
  uint8_t* const* const set = m.sprites_8x16 && m.rendering_seen ? background_chr : sprite_chr;
  return set[(address >> 10) & 7][address & 0x3FF];
}

void mmc5_ppu_register_write(uint16_t index, uint8_t value) {
  Mmc5Registers& m = r();
  if (index == 0) {
    const uint8_t tall = (value & CTRL_SPRITE_8X16) ? 1 : 0;
    if (tall != m.sprites_8x16) {
      m.sprites_8x16 = tall;
      mapper_update_banks();
    }
    return;
  }
  const uint8_t on = (value & (MASK_BACKGROUND | MASK_SPRITES)) ? 1 : 0;
  if (!on) {
    m.in_frame = 0;
    m.last_nametable = 0;
  } else if (!m.rendering_seen) {  // off to on: the frame starts over
    m.in_frame = 0;
    m.line_counter = 0;
    if (m.irq_pending) clear_line_interrupt(m);
  }
  m.rendering_seen = on;
}

namespace {
// The NMI vector read: in-frame, the line counter and pending all start over.
void nmi_vector_read() {
  Mmc5Registers& m = r();
  ppu_catch_up();
  m.in_frame = 0;
  m.last_nametable = 0;
  m.matches = 0;
  m.armed = 0;
  m.line_counter = 0;
  clear_line_interrupt(m);
  ppu_plan_catch_up();
}

// The chip notices the console's reset (the CPU clock stops a moment): the line interrupt is
// disabled; nothing else changes.
void reset() {
  ppu_catch_up();
  r().irq_enabled = 0;
  update_irq_line();
}

// The battery keeps what the header calls non-volatile, from the first RAM page on (EKROM's chip,
// ETROM's chip 0, all of EWROM's), or, without NES 2.0 sizes, all 32 KiB: the boards cannot be told
// apart then, and keeping too much loses nothing.
size_t battery_size() {
  if (!cartridge.nes2) return CARTRIDGE_RAM_MAX;
  if (!cartridge.prg_nvram_size) return cartridge_battery_size();
  return std::min<size_t>(cartridge.prg_nvram_size, CARTRIDGE_RAM_MAX);
}
void battery_save(uint8_t* out) { std::copy_n(bus.cartridge_ram, battery_size(), out); }
void battery_load(const uint8_t* in) { std::copy_n(in, battery_size(), bus.cartridge_ram); }
}  // namespace

void mmc5_rendering_stopped() {
  Mmc5Registers& m = r();
  m.in_frame = 0;
  m.last_nametable = 0;
  m.matches = 0;
  m.armed = 0;
}

extern const Board mmc5_board = {.name = "ExROM (MMC5)",
                                 .power_on = power_on,
                                 .write = write,
                                 .update_banks = update_banks,
                                 .low_read = low_read,
                                 .low_write = low_write,
                                 .rom_read = rom_read,
                                 .watch = PpuWatch::MMC5,
                                 .irq_deadline = irq_deadline,
                                 .ram_size = ram_size,
                                 .memory_size = MMC5_MEMORY_SIZE,
                                 .battery_size = battery_size,
                                 .battery_save = battery_save,
                                 .battery_load = battery_load,
                                 .sound = &mmc5_sound,
                                 .nmi_vector_read = nmi_vector_read,
                                 .reset = reset};
