// The PPU's CPU interface: register reads and writes at $2000-$2007, the scroll/address latches,
// the buffered PPUDATA port and the open-bus latch that write-only registers read back.
#include "cart/banks.h"
#include "cart/board.h"
#include "ppu/ppu.h"

Ppu ppu;

namespace {
constexpr uint8_t OAM_ATTRIBUTE_MASK = 0xE3;  // bits 2-4 of attribute bytes do not exist

// Outside rendering the PPU's address bus carries the VRAM address: a watching board sees each change.
void vram_address_on_bus() {
  if (ppu_derived.bus_watch == PpuWatch::A12 && !ppu_fetching())
    cartridge_ppu_bus(address_field(ppu.vram_address) & 0x3FFF, ppu_dot_time());
}

void refresh_open_bus(uint8_t value) {
  ppu.open_bus = value;
  ppu.open_bus_timer = OPEN_BUS_HOLD_DOTS;
}

uint8_t status_read() {
  const uint8_t result = ppustatus() | (ppu.open_bus & 0x1F);
  ppu.write_toggle = false;
  set_ppustatus(ppustatus() & ~STATUS_VBLANK);
  // Racing the flag: a read just before it is set cancels it, a read just after suppresses the NMI.
  if (ppu.vblank_countdown != -5) ppu.vblank_countdown = 0;
  return result;
}

void scroll_write(uint8_t value) {
  if (!ppu.write_toggle) {
    ppu.temp_address = (ppu.temp_address & ~0xFFu) | value;
  } else {
    ppu.temp_address = (ppu.temp_address & ~((7u << 15) | (0x1Fu << 8))) | ((value & 7u) << 15) |
                       (uint32_t{static_cast<uint8_t>(value >> 3)} << 8);
  }
  ppu.write_toggle = !ppu.write_toggle;
}

void address_write(uint8_t value) {
  if (!ppu.write_toggle) {
    ppu.temp_address = (ppu.temp_address & ~(0xFFu << 11)) | ((value & 0x3Fu) << 11);
  } else {
    ppu.temp_address = (ppu.temp_address & ~(0xFFu << 3)) | (uint32_t{value} << 3);
    constexpr uint32_t address_bits = 0xFFFFu << 3;
    ppu.vram_address = (ppu.vram_address & ~address_bits) | (ppu.temp_address & address_bits);
    vram_address_on_bus();
  }
  ppu.write_toggle = !ppu.write_toggle;
}

uint8_t data_access(uint8_t value, bool write) {
  const uint16_t a = address_field(ppu.vram_address);
  uint8_t* p = vram_map(a);
  uint8_t result = ppu.read_buffer;
  if (write) {
    if (vram_writable(a)) *p = value;
    result = value;
    if ((a & 0x3F00) == 0x3F00) ppu_derived.colours_stale = true;
  } else {
    if ((a & 0x3F00) == 0x3F00) result = static_cast<uint8_t>((ppu.open_bus & 0xC0) | (*p & 0x3F));
    ppu.read_buffer = *p;
    // A board with latches sees the read once it is done.
    if (ppu_derived.bus_watch == PpuWatch::LATCHES && (a & 0x3FFF) < 0x2000) cartridge_ppu_read(a & 0x1FFF);
  }
  refresh_open_bus(result);
  const uint16_t next = static_cast<uint16_t>(a + ((ppuctrl() & CTRL_INCREMENT_32) ? 32 : 1));
  ppu.vram_address = (ppu.vram_address & 7u) | (uint32_t{next} << 3);
  vram_address_on_bus();
  return result;
}
}  // namespace

uint8_t ppu_access(uint16_t address, uint8_t value, bool write) {
  const uint16_t index = address & 7;
  ppu_catch_up();
  ppu_flush_pixels();  // the pixels drawn so far must see the registers as they were
  ppu_derived.catch_up_at = 1;  // the next cycle's dots run on time: the NMI line may follow this access
  const uint8_t open = ppu.open_bus;
  if (write) refresh_open_bus(value);
  // The MMC5 hears PPUCTRL and PPUMASK at $2000 and $2001 alone, not through their mirrors.
  if (write && (address == 0x2000 || address == 0x2001) && ppu_derived.bus_watch == PpuWatch::MMC5)
    mmc5_ppu_register_write(index, value);
  switch (index) {
    case 0:
      if (write) {
        set_ppuctrl(value);
        ppu.temp_address = (ppu.temp_address & ~(3u << 13)) | ((value & 3u) << 13);
      }
      return open;
    case 1:
      if (write) {
        const bool was_fetching = ppu_fetching();
        set_ppumask(value);
        ppu_derived.colours_stale = true;
        if (was_fetching && !ppu_fetching()) {
          vram_address_on_bus();  // rendering turned off mid-frame
        } else if (!was_fetching && ppu_fetching()) {
          // Rendering turned on mid-frame: a pattern fetch before the next tile's nametable fetch
          // reads from the table PPUCTRL names now, not from the one of the last tile fetched
          // (perhaps frames ago).
          ppu.pattern_address = (ppu.pattern_address & 0x0FFFu) | ((ppuctrl() & CTRL_BACKGROUND_TABLE) ? 0x1000u : 0u);
        }
      }
      return open;
    case 2: return write ? open : status_read();
    case 3:
      if (write) set_oamaddr(value);
      return open;
    case 4:
      if (write) {
        ppu.oam[oamaddr()] = value;
        set_oamaddr(static_cast<uint8_t>(oamaddr() + 1));
        return open;
      } else {
        uint8_t b = ppu.oam[oamaddr()];
        if ((oamaddr() & 3) == 2) b &= OAM_ATTRIBUTE_MASK;
        refresh_open_bus(b);
        return b;
      }
    case 5:
      if (write) scroll_write(value);
      return open;
    case 6:
      if (write) address_write(value);
      return open;
    case 7: return data_access(value, write);
    default: return open;
  }
}
