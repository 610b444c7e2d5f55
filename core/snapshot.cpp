// The snapshot format: one list of the state's fields, walked by a writer to save and by a reader
// to load, so the two can never disagree. Loading checks the whole string before it touches the
// machine, and the values after, so that no snapshot can put the machine where it cannot go.
#include "core/snapshot.h"

#include <cstring>
#include <span>
#include <type_traits>

#include "core/fnv1a.h"
#include "core/machine.h"

namespace {

constexpr char MAGIC[8] = {'N', 'E', 'S', '-', 'S', 'N', 'A', 'P'};
constexpr size_t SNAPSHOT_HEADER_SIZE = sizeof MAGIC + 4 + 8, SNAPSHOT_TRAILER_SIZE = 8;

// A field added to a record must be added to visit_state too; these sizes make that impossible to
// forget (the compiler stops here when a record changes).
static_assert(sizeof(Cpu) == 8 && sizeof(Bus) == 34824 && sizeof(Mapper) == MAPPER_RECORD_SIZE &&
                  sizeof(Joypads) == 12 && sizeof(Ppu) == 472 && sizeof(ApuChannel) == 44 &&
                  sizeof(Apu) == 236,
              "a state record changed: update visit_state and SNAPSHOT_VERSION");

// Version 1 kept one record of named fields for mappers 1, 2, 3 and 7: written, four MMC1
// registers, the shift count and value, then the program bank (2, 7), the pattern bank (3) and the
// nametable page (7). Its bytes go to these places of the board's record.
constexpr size_t V1_MAPPER_SIZE = 10;
struct V1MapperMove {
  uint32_t mapper_number;
  uint8_t count;
  uint8_t from[7], to[7];
};
constexpr V1MapperMove v1_mapper_moves[] = {
    {1, 7, {0, 1, 2, 3, 4, 5, 6}, {0, 1, 2, 3, 4, 5, 6}},  // written, regs, shift count and value
    {2, 1, {7}, {0}},                                       // program bank
    {3, 2, {0, 8}, {0, 1}},                                 // written, pattern bank
    {7, 3, {0, 7, 9}, {0, 1, 2}},                           // written, program bank, nametable page
};
uint8_t v1_mapper[V1_MAPPER_SIZE];

void move_v1_mapper() {
  std::memset(mapper.bytes, 0, sizeof mapper.bytes);
  for (const V1MapperMove& m : v1_mapper_moves)
    if (m.mapper_number == cartridge.mapper_number)
      for (int k = 0; k < m.count; ++k) mapper.bytes[m.to[k]] = v1_mapper[m.from[k]];
}

// Every field of the state, in snapshot order, as format `version` has it (1 or the current one).
template <class V>
void visit_state(V& v, uint32_t version = SNAPSHOT_VERSION) {
  v(cpu.PC), v(cpu.A), v(cpu.X), v(cpu.Y), v(cpu.S), v(cpu.P), v(cpu.nmi_latched);
  v(nmi_line), v(irq_line), v(reset_active);
  if (version >= 2) v(cartridge_irq_line), v(cartridge_irq_since);
  std::span<uint8_t> first_ram_bank(bus.cartridge_ram, CARTRIDGE_RAM_BANK);
  v(bus.work_ram), v(first_ram_bank), v(bus.cycles);
  v(banks.nametable_ram), v(banks.palette_ram);
  if (version >= 2) v(mapper.bytes);
  else v(v1_mapper);
  v(joypads.latch), v(joypads.position);

  v(ppu.registers), v(ppu.temp_address), v(ppu.vram_address), v(ppu.write_toggle);
  v(ppu.read_buffer), v(ppu.oam), v(ppu.open_bus), v(ppu.open_bus_timer), v(ppu.vblank_countdown);
  v(ppu.scanline), v(ppu.dot), v(ppu.scanline_length), v(ppu.odd_frame), v(ppu.frames);
  v(ppu.fetch_address), v(ppu.pattern_address), v(ppu.tile_pattern), v(ppu.tile_attribute);
  v(ppu.bg_pattern_shift), v(ppu.bg_attribute_shift);
  for (SpriteEntry* list : {ppu.eval_sprites, ppu.line_sprites})
    for (int k = 0; k < 8; ++k) {
      SpriteEntry& s = list[k];
      v(s.sprite_number), v(s.y), v(s.tile), v(s.attributes), v(s.x), v(s.pattern);
    }
  v(ppu.eval_scanned), v(ppu.eval_found), v(ppu.line_sprite_count), v(ppu.oam_latch);

  for (ApuChannel& c : apu.channels) {
    v(c.length_counter), v(c.linear_counter), v(c.sample_address), v(c.envelope_volume);
    v(c.sweep_divider), v(c.envelope_divider), v(c.timer), v(c.shift_register), v(c.step);
    v(c.last_output), v(c.regs);
  }
  v(apu.channel_enabled), v(apu.frame_divider), v(apu.frame_step), v(apu.five_step_mode);
  v(apu.frame_irq_inhibit), v(apu.frame_irq_flag), v(apu.dmc_irq_flag), v(apu.frame_counter_value);
  v(sample_stream.current_buffer), v(sample_stream.sample_pos);

  if (cartridge_has_chr_ram()) v(cartridge.chr_rom);
  if (version >= 2) v(cartridge.chr_ram);
  if (version >= 3) {
    // The cartridge RAM's banks after the first, on the boards that have them.
    std::span<uint8_t> more_ram_banks(bus.cartridge_ram + CARTRIDGE_RAM_BANK,
                                      cartridge_ram_size() - CARTRIDGE_RAM_BANK);
    v(more_ram_banks);
    v(cartridge.board_memory);
    if (board->program_rom_written && board->program_rom_written()) v(cartridge.prg_rom);
  }
}

struct Writer {
  uint8_t* p;
  template <class T>
  void operator()(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      *p++ = value ? 1 : 0;
    } else if constexpr (std::is_integral_v<T>) {
      const auto u = static_cast<std::make_unsigned_t<T>>(value);
      for (size_t k = 0; k < sizeof(T); ++k) *p++ = static_cast<uint8_t>(u >> (8 * k));
    } else if constexpr (std::is_same_v<T, std::vector<uint8_t>> || std::is_same_v<T, std::span<uint8_t>>) {
      if (!value.empty()) std::memcpy(p, value.data(), value.size());
      p += value.size();
    } else if constexpr (std::is_same_v<std::remove_extent_t<T>, uint8_t>) {
      std::memcpy(p, value, sizeof value);
      p += sizeof value;
    } else {
      for (const auto& element : value) (*this)(element);
    }
  }
};

// Reads what Writer wrote. The caller has checked the length, so running out is impossible; a
// bool other than 0 or 1 marks the snapshot as impossible.
struct Reader {
  const uint8_t* p;
  bool ok = true;
  template <class T>
  void operator()(T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      ok = ok && *p <= 1;
      value = *p++ == 1;
    } else if constexpr (std::is_integral_v<T>) {
      std::make_unsigned_t<T> u = 0;
      for (size_t k = 0; k < sizeof(T); ++k) u = static_cast<decltype(u)>(u | (decltype(u){*p++} << (8 * k)));
      value = static_cast<T>(u);
    } else if constexpr (std::is_same_v<T, std::vector<uint8_t>> || std::is_same_v<T, std::span<uint8_t>>) {
      if (!value.empty()) std::memcpy(value.data(), p, value.size());
      p += value.size();
    } else if constexpr (std::is_same_v<std::remove_extent_t<T>, uint8_t>) {
      std::memcpy(value, p, sizeof value);
      p += sizeof value;
    } else {
      for (auto& element : value) (*this)(element);
    }
  }
};

// Counts the bytes of the state without writing them.
struct Sizer {
  size_t size = 0;
  template <class T>
  void operator()(const T& value) {
    if constexpr (std::is_same_v<T, bool> || std::is_integral_v<T>) size += sizeof(T);
    else if constexpr (std::is_same_v<T, std::vector<uint8_t>> || std::is_same_v<T, std::span<uint8_t>>)
      size += value.size();
    else if constexpr (std::is_same_v<std::remove_extent_t<T>, uint8_t>) size += sizeof value;
    else for (const auto& element : value) (*this)(element);
  }
};

template <class T>
bool within(T value, T low, T high) {
  return value >= low && value <= high;
}

// The first field whose value the machine can never reach, or null. Counters and indexes out of
// their range would index past arrays or overflow, so a snapshot holding one is refused.
const char* impossible_field() {
  if (board->impossible)
    if (const char* why = board->impossible()) return why;
  if (!within(ppu.scanline, -1, 260) || !within(ppu.scanline_length, 340, 341) ||
      !within(ppu.dot, 0, ppu.scanline_length - 1))
    return "PPU position";
  if (!within(ppu.vblank_countdown, -5, 2)) return "vertical-blank schedule";
  if (!within(ppu.open_bus_timer, 0, OPEN_BUS_HOLD_DOTS)) return "PPU open-bus timer";
  if (ppu.temp_address >> 19 || ppu.vram_address >> 19) return "PPU address";
  if (ppu.eval_scanned > 64 || ppu.eval_found > 8 || ppu.line_sprite_count > 8) return "sprite evaluation";
  for (int n = 0; n < 5; ++n) {
    const ApuChannel& c = apu.channels[n];
    const int32_t step_limit = n <= PULSE2 ? 7 : n == TRIANGLE ? 31 : n == NOISE ? 0 : 8;
    const int32_t level_limit = n == DMC ? 127 : 15;  // the mixer's tables end there
    if (!within(c.length_counter, 0, DMC_LENGTH_UNIT * 255 + 1) || !within(c.linear_counter, 0, 127) ||
        !within(c.sample_address, 0, 0xFFFF) || !within(c.envelope_volume, 0, 15) ||
        !within(c.sweep_divider, 0, 7) || !within(c.envelope_divider, 0, 15) || !within(c.timer, 0, 4096) ||
        !within(c.shift_register, 0, 0x7FFF) || !within(c.step, 0, step_limit) || !within(c.last_output, 0, level_limit))
      return "sound channel";
  }
  if (!within<int16_t>(apu.frame_divider, 0, FRAME_STEP_HALF_CYCLES) || !within<int16_t>(apu.frame_step, 0, 4))
    return "frame sequencer";
  if (!within(sample_stream.current_buffer, 0, 1) || sample_stream.sample_pos >= SAMPLES_PER_BUFFER)
    return "sample stream";
  return nullptr;
}

void put_le(uint8_t* p, uint64_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}
uint64_t get_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int k = 0; k < bytes; ++k) v |= uint64_t{p[k]} << (8 * k);
  return v;
}
uint64_t checksum(const uint8_t* data, size_t size) {
  Fnv1a h;
  h.add(data, size);
  return h.hash;
}

}  // namespace

uint64_t cartridge_checksum() {
  Fnv1a h;
  h.add(cartridge.prg_rom.data(), cartridge.prg_rom.size());
  if (!cartridge_has_chr_ram()) h.add(cartridge.chr_rom.data(), cartridge.chr_rom.size());
  h.add32(cartridge.mapper_number);
  h.add(cartridge.ctrlbyte);
  return h.hash;
}

size_t state_size(uint32_t version = SNAPSHOT_VERSION) {
  Sizer sizer;
  visit_state(sizer, version);
  return sizer.size;
}

void snapshot_save(std::vector<uint8_t>& out) {
  ppu_catch_up();  // the dots the CPU has passed belong to the state
  out.resize(SNAPSHOT_HEADER_SIZE + state_size() + SNAPSHOT_TRAILER_SIZE);
  uint8_t* p = out.data();
  std::memcpy(p, MAGIC, sizeof MAGIC);
  put_le(p + sizeof MAGIC, SNAPSHOT_VERSION, 4);
  put_le(p + sizeof MAGIC + 4, cartridge.checksum, 8);
  apu_sync();  // the countdowns that quiet APU cycles owe
  Writer writer{p + SNAPSHOT_HEADER_SIZE};
  visit_state(writer);
  const size_t body = out.size() - SNAPSHOT_TRAILER_SIZE;
  put_le(p + body, checksum(p, body), 8);
}

std::vector<uint8_t> snapshot_save() {
  std::vector<uint8_t> out;
  snapshot_save(out);
  return out;
}

bool snapshot_load(const uint8_t* data, size_t size, std::string& error) {
  if (size < SNAPSHOT_HEADER_SIZE + SNAPSHOT_TRAILER_SIZE || std::memcmp(data, MAGIC, sizeof MAGIC) != 0) {
    error = "not a save state of this program";
    return false;
  }
  const auto version = static_cast<uint32_t>(get_le(data + sizeof MAGIC, 4));
  if (version < 1 || version > SNAPSHOT_VERSION) {
    error = "save state of format version " + std::to_string(version) + "; this program reads versions 1 to " +
            std::to_string(SNAPSHOT_VERSION);
    return false;
  }
  if (size != SNAPSHOT_HEADER_SIZE + state_size(version) + SNAPSHOT_TRAILER_SIZE ||
      get_le(data + size - SNAPSHOT_TRAILER_SIZE, 8) != checksum(data, size - SNAPSHOT_TRAILER_SIZE)) {
    error = "save state is damaged (cut short, too long or altered)";
    return false;
  }
  if (get_le(data + sizeof MAGIC + 4, 8) != cartridge.checksum) {
    error = "save state belongs to another cartridge";
    return false;
  }
  std::vector<uint8_t> before;
  snapshot_save(before);
  Reader reader{data + SNAPSHOT_HEADER_SIZE};
  visit_state(reader, version);
  if (version == 1) {
    move_v1_mapper();
    cartridge_irq_line = false;
  }
  const char* impossible = reader.ok ? impossible_field() : "a flag";
  if (impossible) {
    Reader undo{before.data() + SNAPSHOT_HEADER_SIZE};
    visit_state(undo);
    machine_rebuild_derived();
    error = std::string("save state holds an impossible value (") + impossible + ")";
    return false;
  }
  machine_rebuild_derived();
  return true;
}
