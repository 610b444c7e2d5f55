// The whole emulated console at a glance: these records, and nothing else, are the machine's state.
// Power-on sets every one of them, a snapshot stores every one of them, and none holds a pointer.
//
//   cpu            registers of the 6502                                    cpu/cpu.h
//   nmi_line, irq_line, cartridge_irq_line, reset_active  the CPU's inputs  cpu/cpu.h
//   bus            work RAM, cartridge RAM, the cycle count                 core/bus.h
//   banks          nametable RAM and palette RAM (its pointer slots are derived)  cart/banks.h
//   mapper         the board's registers, as plain bytes                    cart/board.h
//   joypads        the two controllers' shift registers                     core/joypad.h
//   ppu            picture unit: registers, timing, fetch pipeline, sprite memory  ppu/ppu.h
//   apu            sound unit: five channels, frame sequencer               apu/apu.h
//   sample_stream  positions in the two sample buffers (their old contents are not state)  apu/apu.h
//   cartridge.chr_rom  when the cartridge has character RAM                 cart/cartridge.h
//   cartridge.chr_ram  the character RAM beside character ROM (TQROM)       cart/cartridge.h
//
// Outside it: the cartridge's ROM and header (loaded once, never changed), what is derived from the
// state to save work (the bank map's pointer slots: mapper_update_banks; the picture unit's dots
// owed to the CPU and drawing caches: ppu_catch_up and ppu_rebuild_derived; the sound unit's quiet
// run: apu_sync and apu_rebuild_derived; saving a snapshot pays what is owed first), and
// the host's plumbing: frame_buffer, audio_sink, pace_hook, sleep_interval, button_state,
// cartridge_ram_changed.
#pragma once
#include <algorithm>
#include <cstddef>

#include "apu/apu.h"
#include "cart/banks.h"
#include "cart/board.h"
#include "cart/cartridge.h"
#include "core/bus.h"
#include "core/joypad.h"
#include "cpu/cpu.h"
#include "ppu/ppu.h"

// Switches the console on with the loaded cartridge: every record above to its power-on value, the
// bank map to the power-on arrangement, the frame buffer and sample buffers cleared. The first CPU
// step is then the reset sequence.
void machine_power_on();

// Recomputes what is derived from the records above (bank slots, the PPU's and the APU's working
// data, the PPU's dot clock), after power-on or after they were replaced by a snapshot.
void machine_rebuild_derived();

// The console's reset button: the CPU runs its reset sequence at the next step (registers kept, S
// down by 3, I set, nothing written), PPUCTRL and PPUMASK are cleared, $4015 is cleared and the last
// value written to $4017 is written again. RAM and the mapper's registers keep their contents.
void machine_reset();

// Whether the loaded cartridge keeps its RAM between runs (header byte 6, bit 1).
inline bool cartridge_has_battery() { return cartridge.ctrlbyte & CTRL_BATTERY; }
// How much of the cartridge RAM at $6000 the battery keeps (the battery file's size): 8 KiB, or for
// NES 2.0 images that give their NVRAM's size, that size up to the 8 KiB at $6000. (The boards with
// more RAM say what their battery keeps: Board::battery_size.)
inline size_t cartridge_battery_size() {
  if (!cartridge_has_battery()) return 0;
  if (!cartridge.nes2 || cartridge.prg_nvram_size == 0) return CARTRIDGE_RAM_BANK;
  return std::min<size_t>(cartridge.prg_nvram_size, CARTRIDGE_RAM_BANK);
}
// The battery file's contents: what the cartridge keeps between runs, the battery-backed part of
// cartridge RAM unless its board keeps something else. Size 0 for a cartridge without a battery or
// on a board this program lacks (nothing is read or written then).
size_t battery_image_size();
void battery_image_save(uint8_t* out);
void battery_image_load(const uint8_t* in);
// Whether its character memory is RAM (and so part of the state): no character ROM in the header.
inline bool cartridge_has_chr_ram() { return cartridge.chr_units == 0 && (cartridge.rom_units_high >> 4) == 0; }
