// Power-on and the reset button of the whole console.
#include "core/machine.h"

#include <algorithm>

void machine_power_on() {
  cpu = Cpu{};
  nmi_line = false;
  irq_line = false;
  cartridge_irq_line = false;
  cartridge_irq_since = 0;
  reset_active = true;
  bus = Bus{};
  std::copy(cartridge.trainer.begin(), cartridge.trainer.end(), bus.cartridge_ram + (TRAINER_ADDRESS - 0x6000));
  work_ram_power_on();
  banks = BankMap{};
  mapper_power_on_registers();
  if (cartridge_has_chr_ram()) std::fill(cartridge.chr_rom.begin(), cartridge.chr_rom.end(), uint8_t{0});
  std::fill(cartridge.chr_ram.begin(), cartridge.chr_ram.end(), uint8_t{0});
  joypads = Joypads{};
  ppu = Ppu{};
  apu = Apu{};
  audio_open();  // frame buffer and sample buffers
  machine_rebuild_derived();
}

size_t battery_image_size() {
  if (!cartridge_has_battery() || !board_supported) return 0;
  return board->battery_size ? board->battery_size() : cartridge_battery_size();
}

void battery_image_save(uint8_t* out) {
  if (board->battery_save) board->battery_save(out);
  else std::copy_n(bus.cartridge_ram, cartridge_battery_size(), out);
}

void battery_image_load(const uint8_t* in) {
  if (board->battery_load) board->battery_load(in);
  else std::copy_n(in, cartridge_battery_size(), bus.cartridge_ram);
  machine_rebuild_derived();  // rewritten flash may be mapped
}

void machine_rebuild_derived() {
  mapper_update_banks();
  ppu_rebuild_derived();
  // Every CPU cycle has run three dots since power-on.
  ppu_derived.line_start = 3 * bus.cycles - static_cast<uint64_t>(ppu.dot);
  apu_rebuild_derived();
}

void machine_reset() {
  ppu_catch_up();
  ppu_derived.catch_up_at = 1;  // the NMI line follows the cleared PPUCTRL on the next cycle
  reset_active = true;
  if (board->reset) board->reset();
  set_ppuctrl(0);
  set_ppumask(0);
  apu_write(0x15, 0);
  apu_write(0x17, apu.frame_counter_value);
}
