// The recording bus that replaces the machine's bus in the CPU tests: each cpu_read, cpu_write and
// system_tick is one logged CPU cycle over flat memory; writes during the reset step become reads.
#include "tests/cpu/bus_recorder.h"

#include <cstdio>

#include "cpu/bus_access.h"
#include "cpu/cpu.h"

RecordingBus recorder;

namespace {
void begin_cycle() {
  if (recorder.before_cycle) recorder.before_cycle(recorder.cycles.size());
}
}  // namespace

uint8_t cpu_read(uint16_t address) {
  begin_cycle();
  recorder.cycles.push_back(bus_read(address));
  return recorder.memory[address];
}

void cpu_write(uint16_t address, uint8_t value) {
  if (reset_active) {  // the bus turns the reset sequence's stack writes into reads
    (void)cpu_read(address);
    return;
  }
  begin_cycle();
  recorder.cycles.push_back(bus_write(address, value));
  recorder.memory[address] = value;
}

void system_tick() {
  begin_cycle();
  recorder.cycles.push_back(bus_idle());
}

uint64_t cpu_cycles() { return recorder.cycles.size(); }

void nmi_vector_fetched() {}  // the two reads are in the record already

void PrintTo(const Cycle& cycle, std::ostream* out) {
  char text[24];
  switch (cycle.kind) {
    case CycleKind::read: std::snprintf(text, sizeof text, "read $%04X", cycle.address); break;
    case CycleKind::write:
      std::snprintf(text, sizeof text, "write $%04X=$%02X", cycle.address, cycle.value);
      break;
    case CycleKind::idle: std::snprintf(text, sizeof text, "idle"); break;
  }
  *out << text;
}

void power_on() {
  recorder.memory.fill(0);
  recorder.cycles.clear();
  recorder.before_cycle = nullptr;
  cpu = Cpu{};
  reset_active = true;
  nmi_line = false;
  irq_line = false;
}

void power_on_past_reset() {
  power_on();
  reset_active = false;
}

void load(uint16_t address, std::initializer_list<uint8_t> bytes) {
  for (const uint8_t byte : bytes) recorder.memory[address++] = byte;
}

void set_vector(uint16_t vector_address, uint16_t target) {
  load(vector_address, {static_cast<uint8_t>(target & 0xFF), static_cast<uint8_t>(target >> 8)});
}

std::vector<Cycle> step() {
  const std::size_t first = recorder.cycles.size();
  cpu_step();
  return {recorder.cycles.begin() + static_cast<std::ptrdiff_t>(first), recorder.cycles.end()};
}

StepKind kind_of(const std::vector<Cycle>& cycles) {
  if (cycles.size() != 7 || cycles[1].kind != CycleKind::read) return StepKind::instruction;
  switch (cycles[1].address) {
    case 0xFFFA: return StepKind::nmi;
    case 0xFFFC: return StepKind::reset;
    case 0xFFFE: return StepKind::irq_or_brk;
    default: return StepKind::instruction;
  }
}
