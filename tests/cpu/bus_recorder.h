// A recording stand-in for the CPU bus: 64 KiB of flat memory and a log of every CPU cycle as a
// read (address), a write (address, value) or an idle cycle. Like the real bus, it turns writes
// into reads while the reset sequence runs, and it lets a test act at the start of any cycle, where
// the PPU and APU would drive the interrupt lines.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <vector>

enum class CycleKind : uint8_t { read, write, idle };

struct Cycle {
  CycleKind kind;
  uint16_t address;  // 0 for idle cycles
  uint8_t value;     // the written byte; 0 for reads and idle cycles
  bool operator==(const Cycle&) const = default;
};
inline Cycle bus_read(uint16_t address) { return {CycleKind::read, address, 0}; }
inline Cycle bus_write(uint16_t address, uint8_t value) { return {CycleKind::write, address, value}; }
inline Cycle bus_idle() { return {CycleKind::idle, 0, 0}; }
void PrintTo(const Cycle& cycle, std::ostream* out);

struct RecordingBus {
  std::array<uint8_t, 0x10000> memory{};
  std::vector<Cycle> cycles;  // every cycle since the last reset of the recorder
  // Runs at the start of each cycle, before its access, with the cycle's index in `cycles`.
  std::function<void(std::size_t cycle_index)> before_cycle;
};
extern RecordingBus recorder;

// Clears the recorder and memory and puts the CPU in its power-on state, reset step still to come.
void power_on();
// Same, but with the reset step already over: registers at power-on values, reset_active false.
void power_on_past_reset();
void load(uint16_t address, std::initializer_list<uint8_t> bytes);
void set_vector(uint16_t vector_address, uint16_t target);
// Runs one cpu_step and returns the cycles it made.
std::vector<Cycle> step();

// Which table entry a step ran, told from its bus cycles alone (the vector read after the fetch).
enum class StepKind { instruction, nmi, reset, irq_or_brk };
StepKind kind_of(const std::vector<Cycle>& cycles);
