// APU register decoding: the four register bytes of each tone channel ($4000-$400F), the DMC's
// rate, level, start and length ($4010-$4013), the channel enables ($4015), the frame counter
// ($4017), and the status read of $4015 that acknowledges both interrupts.
#include "apu/apu.h"
#include "cpu/cpu.h"

Apu apu;

namespace {

constexpr uint8_t FRAME_FIVE_STEP = 0x80, FRAME_IRQ_INHIBIT = 0x40;
constexpr uint8_t LINEAR_CONTROL = 0x80;  // register 0 bit 7 (triangle control, length halt)

uint8_t register_byte(const ApuChannel& c, int k) { return static_cast<uint8_t>(c.regs >> (8 * k)); }
void set_register_byte(ApuChannel& c, int k, uint8_t value) {
  c.regs = (c.regs & ~(0xFFu << (8 * k))) | (uint32_t{value} << (8 * k));
}

void write_tone_register(uint8_t index, uint8_t value) {
  const int n = index / 4;
  ApuChannel& c = apu.channels[n];
  switch (index & 3) {
    case 0:
      if (register_byte(c, 0) & LINEAR_CONTROL) c.linear_counter = value & 0x7F;
      set_register_byte(c, 0, value);
      break;
    case 1:
      set_register_byte(c, 1, value);
      c.sweep_divider = (value >> 4) & 7;
      break;
    case 2:
      set_register_byte(c, 2, value);
      break;
    default: {
      set_register_byte(c, 3, value);
      if (apu.channel_enabled[n]) c.length_counter = length_table[value >> 3];
      c.envelope_volume = 15;
      const uint8_t r0 = register_byte(c, 0);
      c.linear_counter = r0 & 0x7F;
      c.envelope_divider = r0 & 0x0F;
      if (n <= PULSE2) c.step = 0;
      break;
    }
  }
}

void write_channel_enables(uint8_t value) {
  for (int n = 0; n < 5; ++n) apu.channel_enabled[n] = (value >> n) & 1;
  for (int n = 0; n < DMC; ++n)
    if (!apu.channel_enabled[n]) apu.channels[n].length_counter = 0;
  ApuChannel& dmc = apu.channels[DMC];
  if (!apu.channel_enabled[DMC]) dmc.length_counter = 0;
  else if (dmc.length_counter == 0) dmc.length_counter = DMC_LENGTH_UNIT * register_byte(dmc, 1) + 1;
}

void write_frame_counter(uint8_t value) {
  apu.frame_counter_value = value;
  apu.five_step_mode = value & FRAME_FIVE_STEP;
  apu.frame_irq_inhibit = value & FRAME_IRQ_INHIBIT;
  apu.frame_divider = 0;
  apu.frame_step = 0;
  if (apu.frame_irq_inhibit) {  // both interrupts acknowledged: the line, their OR, goes low
    apu.frame_irq_flag = false;
    apu.dmc_irq_flag = false;
    irq_line = false;
  }
}

}  // namespace

void apu_write(uint8_t index, uint8_t value) {
  apu_sync();
  ApuChannel& dmc = apu.channels[DMC];
  switch (index) {
    case 0x10:  // rate, loop and IRQ enable; the rate's period lands in P
      set_register_byte(dmc, 3, value);
      dmc.regs = (dmc.regs & ~(0x7FFu << 16)) | (uint32_t{dmc_rate_table[value & 0x0F]} << 16);
      break;
    case 0x11: dmc.linear_counter = value & 0x7F; break;
    case 0x12:
      set_register_byte(dmc, 0, value);
      dmc.sample_address = DMC_SAMPLE_BASE + DMC_ADDRESS_UNIT * value;
      break;
    case 0x13:
      set_register_byte(dmc, 1, value);
      dmc.length_counter = DMC_LENGTH_UNIT * value + 1;
      break;
    case 0x15: write_channel_enables(value); break;
    case 0x17: write_frame_counter(value); break;
    default:
      if (index < 0x10) write_tone_register(index, value);
      break;
  }
  // Period, volume, length and enable writes all bear on the next event or the cached sample.
  apu_rebuild_derived();
}

// Reads and clears only what quiet cycles leave alone (length counters, interrupt flags), so the
// quiet run needs neither paying nor rebuilding.
uint8_t apu_read_status() {
  uint8_t status = 0;
  for (int n = 0; n < 5; ++n)
    if (apu.channels[n].length_counter != 0) status = static_cast<uint8_t>(status | (1 << n));
  if (apu.frame_irq_flag) status |= 0x40;
  if (apu.dmc_irq_flag) status |= 0x80;
  apu.frame_irq_flag = false;
  apu.dmc_irq_flag = false;
  irq_line = false;
  return status;
}
