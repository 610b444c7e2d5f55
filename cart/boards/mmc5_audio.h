// The MMC5's sound: two pulse channels ($5000-$5007), the 8-bit PCM channel ($5010, $5011) and the
// status register $5015. Its state sits in the board's own memory right after the chip's 1 KiB of
// ExRAM; the board routes its register accesses here and sets Board::sound to &mmc5_sound.
#pragma once
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "cart/cartridge.h"

struct CartridgeSound;

// One pulse channel, as the APU's pulses without the sweep unit.
struct Mmc5Pulse {
  uint8_t regs[4];           // $5000-$5003: `DDLCVVVV`, unused, timer low, `LLLLLHHH`
  uint16_t divider;          // CPU cycles to the timer's next expiry, less 1
  uint8_t step;              // place in the 8-step duty sequence (read modulo 8)
  uint8_t length;            // length counter
  uint8_t envelope_volume;   // 0-15 (read modulo 16)
  uint8_t envelope_divider;  // envelope countdown (read modulo 16)
};

struct Mmc5Audio {
  Mmc5Pulse pulse[2];
  uint16_t clock_divider;  // CPU cycles to the next 240 Hz clock of envelopes and lengths, less 1
  uint8_t enables;         // $5015 bits 0-1
  uint8_t pcm_control;     // $5010: bit 7 interrupt enable, bit 0 read mode
  uint8_t pcm_level;       // the DAC's 8-bit level
  uint8_t pcm_trip;        // bit 0: a $00 reached the DAC
};
static_assert(std::is_trivially_copyable_v<Mmc5Audio>);

constexpr size_t MMC5_EXRAM_SIZE = 1024;
constexpr size_t MMC5_MEMORY_SIZE = MMC5_EXRAM_SIZE + sizeof(Mmc5Audio);  // Board::memory_size

// The sound's record in the loaded cartridge's board memory (MMC5_MEMORY_SIZE bytes).
inline Mmc5Audio& mmc5_audio() {
  return *std::launder(reinterpret_cast<Mmc5Audio*>(cartridge.board_memory.data() + MMC5_EXRAM_SIZE));
}

// CPU accesses the board hands over. The writes sync the APU first and rebuild its run after.
void mmc5_audio_write(uint16_t address, uint8_t value);  // $5000-$5015 (others ignored)
uint8_t mmc5_audio_read_pcm();                            // $5010: bit 7 = trip AND enable (clears trip)
uint8_t mmc5_audio_read_status();                         // $5015: bit n = pulse n's length > 0
// While read mode is on ($5010 bit 0) the board leaves $8000-$BFFF to Board::rom_read and passes
// each byte read there to this (the DAC takes it under the same $00 rule as $5011).
bool mmc5_audio_read_mode();
void mmc5_audio_pcm_read(uint8_t value);
// The PCM's part of the cartridge's /IRQ: trip AND enable. The board ORs it with its scanline
// interrupt whenever either changes (after mmc5_audio_write, mmc5_audio_read_pcm, mmc5_audio_pcm_read).
bool mmc5_audio_irq();

extern const CartridgeSound mmc5_sound;

// For the tests: one CPU cycle stepped plainly (the reference), and the closed form the APU's
// quiet runs use. Mix level units: MMC5_PULSE_WEIGHT per pulse volume step, MMC5_PCM_WEIGHT per
// DAC step.
int32_t mmc5_sound_tick();
int32_t mmc5_sound_level();
int32_t mmc5_sound_quiet_cycles();
void mmc5_sound_advance(int32_t cycles);
constexpr int32_t MMC5_PULSE_WEIGHT = 1000, MMC5_PCM_WEIGHT = 454;
constexpr int32_t MMC5_CLOCK_PERIOD = 7457;  // CPU cycles between the 240 Hz clocks
