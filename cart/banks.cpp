// Bank switching by pointer slots: all banking work happens when a register is written, so every
// program-ROM read and every pattern or nametable fetch is one index and one addition.
#include "cart/banks.h"

#include <vector>

#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"

BankMap banks = [] {
  BankMap b;
  // Until the image is loaded: the vertical arrangement.
  for (int k = 0; k < 4; ++k) b.nametable_slots[k] = b.nametable_ram + 0x400 * (k & 1);
  return b;
}();

namespace {
template <int SlotCount>
void map_pages(uint8_t* (&slots)[SlotCount], std::vector<uint8_t>& memory, uint32_t step,
               uint32_t size, uint32_t base, uint32_t index) {
  const uint32_t length = static_cast<uint32_t>(memory.size());
  if (length == 0) return;  // a memory the cartridge does not have
  uint32_t v = size * index + length;  // -1 names the last `size` bytes
  for (uint32_t p = base / step; p < (base + size) / step && p < SlotCount; ++p) {
    slots[p] = memory.data() + (v % length);
    v += step;
  }
}
}  // namespace

void set_prg_pages(uint32_t size, uint32_t base, uint32_t index) {
  map_pages(banks.prg_slots, cartridge.prg_rom, 8192, size, base, index);
}

void set_chr_pages(uint32_t size, uint32_t base, uint32_t index) {
  map_pages(banks.chr_slots, cartridge.chr_rom, 1024, size, base, index);
}

void set_chr_ram_pages(uint32_t size, uint32_t base, uint32_t index) {
  map_pages(banks.chr_slots, cartridge.chr_ram, 1024, size, base, index);
}

void set_nametable_pages(int p0, int p1, int p2, int p3) {
  const int pages[4] = {p0, p1, p2, p3};
  for (int k = 0; k < 4; ++k) banks.nametable_slots[k] = banks.nametable_ram + 0x400 * (pages[k] & 3);
}

void set_cartridge_ram_bank(uint32_t bank) {
  const auto count = static_cast<uint32_t>(cartridge_ram_size() / CARTRIDGE_RAM_BANK);
  banks.cartridge_ram_slot = bus.cartridge_ram + CARTRIDGE_RAM_BANK * (bank % count);
}

void mapper_power_on() {
  set_chr_pages(8192, 0x0000, 0);
  set_cartridge_ram_bank(0);
  for (uint32_t i = 0; i < 4; ++i) set_prg_pages(16384, i * 16384, i < 3 ? 0 : ~0u);
  if (cartridge.ctrlbyte & CTRL_FOUR_SCREEN) set_nametable_pages(0, 1, 2, 3);
  else if (cartridge.ctrlbyte & CTRL_VERTICAL_MIRRORING) set_nametable_pages(0, 1, 0, 1);
  else set_nametable_pages(0, 0, 1, 1);
}
