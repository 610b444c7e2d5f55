// Every opcode's exact bus cycles: the reads, writes and idle cycles of each addressing mode and
// access kind, with indexed modes run across and within a page, and zero-page indexes wrapping.
// The expected cycles come from a model written from the 6502 cycle tables, not from the CPU code.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "cpu/cpu.h"
#include "tests/cpu/bus_recorder.h"

namespace {

// The opcode matrix, row $0x to row $Fx, each cell "OPERATION mode" (no mode: implied).
constexpr const char* opcode_matrix[256] = {
    "BRK", "ORA (zp,X)", "AND+ASL #imm", "SLO (zp,X)", "NOP zp", "ORA zp", "ASL zp", "SLO zp",
    "PHP", "ORA #imm", "ASL A", "ANC #imm", "NOP abs", "ORA abs", "ASL abs", "SLO abs",
    "BPL rel", "ORA (zp),Y", "ASL (zp),Y", "SLO (zp),Y", "NOP zp,X", "ORA zp,X", "ASL zp,X", "SLO zp,X",
    "CLC", "ORA abs,Y", "NOP", "SLO abs,Y", "NOP abs,X", "ORA abs,X", "ASL abs,X", "SLO abs,X",
    "JSR abs", "AND (zp,X)", "AND+ROL #imm", "RLA (zp,X)", "BIT zp", "AND zp", "ROL zp", "RLA zp",
    "PLP", "AND #imm", "ROL A", "ANC #imm", "BIT abs", "AND abs", "ROL abs", "RLA abs",
    "BMI rel", "AND (zp),Y", "ROL (zp),Y", "RLA (zp),Y", "NOP zp,X", "AND zp,X", "ROL zp,X", "RLA zp,X",
    "SEC", "AND abs,Y", "NOP", "RLA abs,Y", "NOP abs,X", "AND abs,X", "ROL abs,X", "RLA abs,X",
    "RTI", "EOR (zp,X)", "ALR #imm", "SRE (zp,X)", "NOP zp", "EOR zp", "LSR zp", "SRE zp",
    "PHA", "EOR #imm", "LSR A", "ALR #imm", "JMP abs", "EOR abs", "LSR abs", "SRE abs",
    "BVC rel", "EOR (zp),Y", "LSR (zp),Y", "SRE (zp),Y", "NOP zp,X", "EOR zp,X", "LSR zp,X", "SRE zp,X",
    "CLI", "EOR abs,Y", "NOP", "SRE abs,Y", "NOP abs,X", "EOR abs,X", "LSR abs,X", "SRE abs,X",
    "RTS", "ADC (zp,X)", "AND+ROR #imm", "RRA (zp,X)", "NOP zp", "ADC zp", "ROR zp", "RRA zp",
    "PLA", "ADC #imm", "ROR A", "ARR #imm", "JMP (abs)", "ADC abs", "ROR abs", "RRA abs",
    "BVS rel", "ADC (zp),Y", "ROR (zp),Y", "RRA (zp),Y", "NOP zp,X", "ADC zp,X", "ROR zp,X", "RRA zp,X",
    "SEI", "ADC abs,Y", "NOP", "RRA abs,Y", "NOP abs,X", "ADC abs,X", "ROR abs,X", "RRA abs,X",
    "NOP #imm", "STA (zp,X)", "NOP #imm", "SAX (zp,X)", "STY zp", "STA zp", "STX zp", "SAX zp",
    "DEY", "NOP #imm", "TXA", "ANE #imm", "STY abs", "STA abs", "STX abs", "SAX abs",
    "BCC rel", "STA (zp),Y", "STX (zp),Y", "SHA (zp),Y", "STY zp,X", "STA zp,X", "STX zp,Y", "SAX zp,Y",
    "TYA", "STA abs,Y", "TXS", "TAS abs,Y", "SHY abs,X", "STA abs,X", "SHX abs,Y", "SHA abs,Y",
    "LDY #imm", "LDA (zp,X)", "LDX #imm", "LAX (zp,X)", "LDY zp", "LDA zp", "LDX zp", "LAX zp",
    "TAY", "LDA #imm", "TAX", "LXA #imm", "LDY abs", "LDA abs", "LDX abs", "LAX abs",
    "BCS rel", "LDA (zp),Y", "LDX (zp),Y", "LAX (zp),Y", "LDY zp,X", "LDA zp,X", "LDX zp,Y", "LAX zp,Y",
    "CLV", "LDA abs,Y", "TSX", "LAS abs,Y", "LDY abs,X", "LDA abs,X", "LDX abs,Y", "LAX abs,Y",
    "CPY #imm", "CMP (zp,X)", "NOP #imm", "DCP (zp,X)", "CPY zp", "CMP zp", "DEC zp", "DCP zp",
    "INY", "CMP #imm", "DEX", "SBX #imm", "CPY abs", "CMP abs", "DEC abs", "DCP abs",
    "BNE rel", "CMP (zp),Y", "DEC (zp),Y", "DCP (zp),Y", "NOP zp,X", "CMP zp,X", "DEC zp,X", "DCP zp,X",
    "CLD", "CMP abs,Y", "NOP", "DCP abs,Y", "NOP abs,X", "CMP abs,X", "DEC abs,X", "DCP abs,X",
    "CPX #imm", "SBC (zp,X)", "NOP #imm", "ISB (zp,X)", "CPX zp", "SBC zp", "INC zp", "ISB zp",
    "INX", "SBC #imm", "NOP", "SBC #imm", "CPX abs", "SBC abs", "INC abs", "ISB abs",
    "BEQ rel", "SBC (zp),Y", "INC (zp),Y", "ISB (zp),Y", "NOP zp,X", "SBC zp,X", "INC zp,X", "ISB zp,X",
    "SED", "SBC abs,Y", "NOP", "ISB abs,Y", "NOP abs,X", "SBC abs,X", "INC abs,X", "ISB abs,X",
};

enum class Mode { implied, immediate, zp, zp_x, zp_y, abs, abs_x, abs_y, ind_x, ind_y, indirect, relative };
enum class Kind { read, write, modify, nop };

struct Opcode {
  uint8_t value;
  std::string name;
  Mode mode;
  Kind kind;
  bool known_mode = false;
};

bool is_one_of(std::string_view name, std::initializer_list<std::string_view> names) {
  for (const auto n : names)
    if (n == name) return true;
  return false;
}

Opcode decode(int value) {
  const std::string_view cell = opcode_matrix[value];
  const auto space = cell.find(' ');
  const std::string_view name = cell.substr(0, space);
  const std::string_view mode = space == std::string_view::npos ? "" : cell.substr(space + 1);
  constexpr std::pair<std::string_view, Mode> modes[] = {
      {"", Mode::implied},       {"A", Mode::implied},      {"#imm", Mode::immediate},
      {"zp", Mode::zp},          {"zp,X", Mode::zp_x},      {"zp,Y", Mode::zp_y},
      {"abs", Mode::abs},        {"abs,X", Mode::abs_x},    {"abs,Y", Mode::abs_y},
      {"(zp,X)", Mode::ind_x},   {"(zp),Y", Mode::ind_y},   {"(abs)", Mode::indirect},
      {"rel", Mode::relative}};
  Opcode op{static_cast<uint8_t>(value), std::string(name), Mode::implied, Kind::read};
  for (const auto& [text, m] : modes)
    if (text == mode) op.mode = m, op.known_mode = true;
  if (is_one_of(name, {"STA", "STX", "STY", "SAX", "SHA", "SHX", "SHY", "TAS"})) op.kind = Kind::write;
  if (is_one_of(name, {"ASL", "LSR", "ROL", "ROR", "INC", "DEC", "SLO", "RLA", "SRE", "RRA", "DCP", "ISB"}))
    op.kind = Kind::modify;
  if (name == "NOP") op.kind = Kind::nop;
  return op;
}

// The new memory byte of a read-modify-write: the official shift, rotate or step it builds on.
uint8_t modified(std::string_view name, uint8_t old, bool carry) {
  const int c = carry ? 1 : 0;
  if (is_one_of(name, {"ASL", "SLO"})) return static_cast<uint8_t>(old << 1);
  if (is_one_of(name, {"ROL", "RLA"})) return static_cast<uint8_t>((old << 1) | c);
  if (is_one_of(name, {"LSR", "SRE"})) return static_cast<uint8_t>(old >> 1);
  if (is_one_of(name, {"ROR", "RRA"})) return static_cast<uint8_t>((old >> 1) | (c << 7));
  if (is_one_of(name, {"INC", "ISB"})) return static_cast<uint8_t>(old + 1);
  return static_cast<uint8_t>(old - 1);  // DEC, DCP
}

bool branch_taken(std::string_view name, uint8_t p) {
  const auto flag = [p](uint8_t bit) { return (p & bit) != 0; };
  if (name == "BPL") return !flag(FLAG_N);
  if (name == "BMI") return flag(FLAG_N);
  if (name == "BVC") return !flag(FLAG_V);
  if (name == "BVS") return flag(FLAG_V);
  if (name == "BCC") return !flag(FLAG_C);
  if (name == "BCS") return flag(FLAG_C);
  if (name == "BNE") return !flag(FLAG_Z);
  return flag(FLAG_Z);  // BEQ
}

// Where an instruction starts and what surrounds it. The accumulator is always `accumulator`.
struct Scene {
  const char* what;
  uint16_t pc = 0x0600;
  uint8_t operand[2] = {0, 0};
  uint8_t x = 0xEF, y = 0xDD, s = 0xFD, p = 0xC9;
  std::vector<std::pair<uint16_t, uint8_t>> memory = {};
};
constexpr uint8_t accumulator = 0xF7;

// Memory that is not set on purpose holds bytes that differ from address to address.
uint8_t background_byte(unsigned address) {
  return static_cast<uint8_t>((address * 0x9D) ^ (address >> 8) ^ 0x5A);
}

struct IndexedCase {
  const char* what;
  uint16_t base;
  uint8_t index;
};

// One scene per case, with the base as operand bytes and the index in X or Y.
std::vector<Scene> indexed(bool by_x, std::initializer_list<IndexedCase> cases) {
  std::vector<Scene> scenes;
  for (const IndexedCase& c : cases) {
    Scene s{.what = c.what,
            .operand = {static_cast<uint8_t>(c.base & 0xFF), static_cast<uint8_t>(c.base >> 8)}};
    (by_x ? s.x : s.y) = c.index;
    scenes.push_back(s);
  }
  return scenes;
}

std::vector<Scene> scenes_for(Mode mode) {
  switch (mode) {
    case Mode::implied:
      return {{.what = "stack at $FD holding $FFFF", .memory = {{0x01FE, 0xFF}, {0x01FF, 0xFF}}},
              {.what = "at $8000, stack pointer $00", .pc = 0x8000, .s = 0x00},
              {.what = "stack pointer $FF", .s = 0xFF}};
    case Mode::immediate: return {{.what = "immediate $A5", .operand = {0xA5}}};
    case Mode::zp: return {{.what = "zero page $34", .operand = {0x34}}};
    case Mode::zp_x:
    case Mode::zp_y:
      return indexed(mode == Mode::zp_x, {{"$34 + $10", 0x34, 0x10}, {"$F8 + $10 wraps to $08", 0xF8, 0x10}});
    case Mode::abs:
      return {{.what = "$1234", .operand = {0x34, 0x12}},
              {.what = "$1234 from $80FE, operand across a page", .pc = 0x80FE, .operand = {0x34, 0x12}}};
    case Mode::abs_x:
    case Mode::abs_y:
      return indexed(mode == Mode::abs_x, {{"$12F0 + $0F, same page", 0x12F0, 0x0F},
                                           {"$12F0 + $10, page crossed", 0x12F0, 0x10},
                                           {"$FFF8 + $10 wraps to $0008", 0xFFF8, 0x10}});
    case Mode::ind_x:
      return {{.what = "($20,X) with X=$04", .operand = {0x20}, .x = 0x04,
               .memory = {{0x24, 0x34}, {0x25, 0x12}}},
              {.what = "pointer at $FF takes its high byte from $00", .operand = {0xFB}, .x = 0x04,
               .memory = {{0xFF, 0xF0}, {0x00, 0x12}}},
              {.what = "$F0 + $20 wraps to pointer $10", .operand = {0xF0}, .x = 0x20,
               .memory = {{0x10, 0x34}, {0x11, 0x12}}}};
    case Mode::ind_y:
      return {{.what = "($40),Y = $12F0 + $0F", .operand = {0x40}, .y = 0x0F,
               .memory = {{0x40, 0xF0}, {0x41, 0x12}}},
              {.what = "($40),Y = $12F0 + $10, page crossed", .operand = {0x40}, .y = 0x10,
               .memory = {{0x40, 0xF0}, {0x41, 0x12}}},
              {.what = "pointer at $FF: $FFF8 + $10 wraps to $0008", .operand = {0xFF}, .y = 0x10,
               .memory = {{0xFF, 0xF8}, {0x00, 0xFF}}}};
    case Mode::indirect:
      return {{.what = "($1234)", .operand = {0x34, 0x12}, .memory = {{0x1234, 0x78}, {0x1235, 0x56}}},
              {.what = "($12FF) takes its high byte from $1200", .operand = {0xFF, 0x12},
               .memory = {{0x12FF, 0x78}, {0x1200, 0x56}, {0x1300, 0x99}}}};
    case Mode::relative: {
      std::vector<Scene> scenes;
      for (const uint8_t p : {uint8_t{0x00}, uint8_t{0xC3}}) {  // every branch is taken in one of these
        scenes.push_back({.what = "$0600 + $10", .operand = {0x10}, .p = p});
        scenes.push_back({.what = "$80EE to $8111, page crossed", .pc = 0x80EE, .operand = {0x21}, .p = p});
        scenes.push_back(
            {.what = "$8002 back to $7FF2, page crossed", .pc = 0x8002, .operand = {0xEE}, .p = p});
        scenes.push_back({.what = "$80FE: from $8100 back to $80F0, page crossed", .pc = 0x80FE,
                          .operand = {0xF0}, .p = p});
      }
      return scenes;
    }
  }
  return {};
}

// The cycles an instruction must make, built step by step from the cycle tables.
class CycleModel {
 public:
  CycleModel(const std::array<uint8_t, 0x10000>& memory, const Scene& scene)
      : memory_(memory), pc_(scene.pc), x_(scene.x), y_(scene.y), s_(scene.s), p_(scene.p) {}

  std::vector<Cycle> run(const Opcode& op) {
    fetch();  // the opcode
    switch (op.mode) {
      case Mode::implied: implied(op.name); break;
      case Mode::immediate: fetch(); break;
      case Mode::zp: access(op, fetch()); break;
      case Mode::zp_x:
      case Mode::zp_y: {
        const uint8_t zp = fetch();
        idle();
        access(op, static_cast<uint8_t>(zp + (op.mode == Mode::zp_x ? x_ : y_)));
        break;
      }
      case Mode::abs: {
        const uint16_t address = fetch_word();
        if (op.name == "JMP") {
          pc_ = address;
        } else if (op.name == "JSR") {
          idle();
          const auto last_byte = static_cast<uint16_t>(pc_ - 1);
          push(static_cast<uint8_t>(last_byte >> 8));
          push(static_cast<uint8_t>(last_byte & 0xFF));
          pc_ = address;
        } else {
          access(op, address);
        }
        break;
      }
      case Mode::abs_x:
      case Mode::abs_y: absolute_indexed(op, fetch_word(), op.mode == Mode::abs_x ? x_ : y_); break;
      case Mode::ind_x: {
        const auto pointer = static_cast<uint8_t>(fetch() + x_);
        idle();
        const uint8_t lo = read(pointer);
        access(op, word(lo, read(static_cast<uint8_t>(pointer + 1))));
        break;
      }
      case Mode::ind_y: indirect_indexed(op); break;
      case Mode::indirect: {
        const uint16_t pointer = fetch_word();
        const uint8_t lo = read(pointer);
        pc_ = word(lo, read(same_page(pointer, static_cast<uint16_t>(pointer + 1))));
        break;
      }
      case Mode::relative: {
        const auto offset = static_cast<int8_t>(fetch());
        if (!branch_taken(op.name, p_)) break;
        idle();
        const auto target = static_cast<uint16_t>(pc_ + offset);
        page_cross_read(pc_, target);
        pc_ = target;
        break;
      }
    }
    return cycles_;
  }
  uint16_t pc() const { return pc_; }

 private:
  static uint16_t word(uint8_t lo, uint8_t hi) { return static_cast<uint16_t>(lo | (hi << 8)); }
  static uint16_t same_page(uint16_t base, uint16_t effective) {
    return static_cast<uint16_t>((base & 0xFF00) | (effective & 0xFF));
  }
  uint8_t read(uint16_t address) {
    cycles_.push_back(bus_read(address));
    return memory_[address];
  }
  void write(uint16_t address, uint8_t value) {
    cycles_.push_back(bus_write(address, value));
    memory_[address] = value;
  }
  void idle() { cycles_.push_back(bus_idle()); }
  uint8_t fetch() { return read(pc_++); }
  uint16_t fetch_word() {
    const uint8_t lo = fetch();
    return word(lo, fetch());
  }
  void push(uint8_t value) { write(static_cast<uint16_t>(0x0100 + s_--), value); }
  uint8_t pop() { return read(static_cast<uint16_t>(0x0100 + ++s_)); }
  void page_cross_read(uint16_t base, uint16_t effective) {
    if (same_page(base, effective) != effective) read(same_page(base, effective));
  }

  uint8_t stored(std::string_view name, uint8_t high) const {
    if (name == "STA") return accumulator;
    if (name == "STX") return x_;
    if (name == "STY") return y_;
    if (name == "SAX") return accumulator & x_;
    if (name == "SHX") return x_ & high;
    if (name == "SHY") return y_ & high;
    return accumulator & x_ & high;  // SHA (abs,Y) and TAS; the (zp),Y SHA passes high = $FF
  }

  // The operand access of the zero page, absolute and (zp,X) modes.
  void access(const Opcode& op, uint16_t address) {
    switch (op.kind) {
      case Kind::read: read(address); break;
      case Kind::write: write(address, stored(op.name, 0xFF)); break;
      case Kind::modify: {
        const uint8_t old = read(address);
        write(address, modified(op.name, old, p_ & FLAG_C));
        idle();
        break;
      }
      case Kind::nop: idle(); break;
    }
  }

  void absolute_indexed(const Opcode& op, uint16_t base, uint8_t index) {
    const auto effective = static_cast<uint16_t>(base + index);
    const uint16_t wrong_page = same_page(base, effective);
    const auto high = static_cast<uint8_t>(effective >> 8);
    switch (op.kind) {
      case Kind::read: page_cross_read(base, effective); read(effective); break;
      case Kind::nop: page_cross_read(base, effective); idle(); break;
      case Kind::write:
        read(wrong_page);
        if (is_one_of(op.name, {"SHA", "SHX", "SHY", "TAS"})) write(wrong_page, stored(op.name, high));
        else write(effective, stored(op.name, 0xFF));
        break;
      case Kind::modify: {
        read(wrong_page);
        const uint8_t old = read(effective);
        write(effective, modified(op.name, old, p_ & FLAG_C));
        idle();
        break;
      }
    }
  }

  void indirect_indexed(const Opcode& op) {
    const uint8_t zp = fetch();
    const uint8_t lo = read(zp);
    const uint16_t base = word(lo, read(static_cast<uint8_t>(zp + 1)));
    const auto effective = static_cast<uint16_t>(base + y_);
    switch (op.kind) {
      case Kind::read: page_cross_read(base, effective); read(effective); break;
      case Kind::write: read(same_page(base, effective)); write(effective, stored(op.name, 0xFF)); break;
      case Kind::modify: {
        read(same_page(base, effective));
        const uint8_t old = read(effective);
        write(effective, modified(op.name, old, p_ & FLAG_C));
        idle();
        break;
      }
      case Kind::nop: ADD_FAILURE() << "no (zp),Y NOP exists"; break;
    }
  }

  void implied(std::string_view name) {
    if (name == "BRK") {
      const uint8_t lo = read(0xFFFE);
      const uint8_t hi = read(0xFFFF);
      idle();
      const auto return_address = static_cast<uint16_t>(pc_ + 1);
      push(static_cast<uint8_t>(return_address >> 8));
      push(static_cast<uint8_t>(return_address & 0xFF));
      push(p_ | 0x30);
      pc_ = word(lo, hi);
    } else if (name == "PHA" || name == "PHP") {
      idle();
      push(name == "PHA" ? accumulator : static_cast<uint8_t>(p_ | 0x30));
    } else if (name == "PLA" || name == "PLP") {
      idle();
      idle();
      pop();
    } else if (name == "RTS") {
      idle();
      read(pc_);
      const uint8_t lo = pop();
      const uint16_t pulled = word(lo, pop());
      read(pulled);
      pc_ = static_cast<uint16_t>(pulled + 1);
    } else if (name == "RTI") {
      idle();
      pop();  // P
      read(pc_);
      const uint8_t lo = pop();
      pc_ = word(lo, pop());
    } else {
      idle();
    }
  }

  std::array<uint8_t, 0x10000> memory_;
  std::vector<Cycle> cycles_;
  uint16_t pc_;
  uint8_t x_, y_, s_, p_;
};

// Places the instruction and its surroundings in memory and in the CPU.
void prepare(const Scene& scene, uint8_t opcode) {
  power_on_past_reset();
  for (unsigned address = 0; address < recorder.memory.size(); ++address)
    recorder.memory[address] = background_byte(address);
  for (const auto& [address, value] : scene.memory) recorder.memory[address] = value;
  load(scene.pc, {opcode});
  load(static_cast<uint16_t>(scene.pc + 1), {scene.operand[0], scene.operand[1]});
  cpu.PC = scene.pc;
  cpu.A = accumulator;
  cpu.X = scene.x;
  cpu.Y = scene.y;
  cpu.S = scene.s;
  cpu.P = scene.p;
}

class OpcodeBusPattern : public testing::TestWithParam<int> {};

TEST_P(OpcodeBusPattern, MakesExactlyTheCyclesOfItsModeAndAccessKind) {
  const Opcode op = decode(GetParam());
  ASSERT_TRUE(op.known_mode) << opcode_matrix[GetParam()];
  for (const Scene& scene : scenes_for(op.mode)) {
    SCOPED_TRACE(scene.what);
    prepare(scene, op.value);
    CycleModel model(recorder.memory, scene);
    const std::vector<Cycle> expected = model.run(op);
    EXPECT_EQ(step(), expected);
    EXPECT_EQ(cpu.PC, model.pc()) << "PC after the instruction";
  }
}

INSTANTIATE_TEST_SUITE_P(AllOpcodes, OpcodeBusPattern, testing::Range(0, 256),
                         [](const testing::TestParamInfo<int>& param_info) {
                           char name[32];
                           std::snprintf(name, sizeof name, "op%02X_", param_info.param);
                           std::string result = name;
                           for (const char c : decode(param_info.param).name)
                             if (std::isalnum(static_cast<unsigned char>(c))) result += c;
                           return result;
                         });

// Named cases from the cycle tables, checked literally rather than through the model above.
struct LiteralCase {
  const char* what;
  std::vector<uint8_t> code;  // at $0600
  uint8_t x, y, s;
  std::vector<Cycle> after_fetch;  // cycles after the opcode fetch at $0600
};

TEST(CycleTableExamples, LiteralSequences) {
  const auto r = bus_read;
  const auto w = bus_write;
  const auto i = bus_idle;
  const LiteralCase cases[] = {
      {"LDA $12F0,X with X=$10", {0xBD, 0xF0, 0x12}, 0x10, 0, 0xFD,
       {r(0x601), r(0x602), r(0x1200), r(0x1300)}},
      {"LDA $12F0,X with X=$0F", {0xBD, 0xF0, 0x12}, 0x0F, 0, 0xFD, {r(0x601), r(0x602), r(0x12FF)}},
      {"STA $12F0,X with X=$0F", {0x9D, 0xF0, 0x12}, 0x0F, 0, 0xFD,
       {r(0x601), r(0x602), r(0x12FF), w(0x12FF, 0x42)}},
      {"ASL $1234,X with X=0", {0x1E, 0x34, 0x12}, 0, 0, 0xFD,
       {r(0x601), r(0x602), r(0x1234), r(0x1234), w(0x1234, 0x82), i()}},
      {"INC $34", {0xE6, 0x34}, 0, 0, 0xFD, {r(0x601), r(0x34), w(0x34, 0x42), i()}},
      {"LDA $F8,X with X=$10", {0xB5, 0xF8}, 0x10, 0, 0xFD, {r(0x601), i(), r(0x0008)}},
      {"LDA $FFF8,X with X=$10", {0xBD, 0xF8, 0xFF}, 0x10, 0, 0xFD,
       {r(0x601), r(0x602), r(0xFF08), r(0x0008)}},
      {"PHA with S=$00", {0x48}, 0, 0, 0x00, {i(), w(0x0100, 0x42)}},
      {"PLA with S=$FF", {0x68}, 0, 0, 0xFF, {i(), i(), r(0x0100)}},
      {"NOP $34,X", {0x14, 0x34}, 0x10, 0, 0xFD, {r(0x601), i(), i()}},
      {"NOP $12F0,X with X=$20", {0x1C, 0xF0, 0x12}, 0x20, 0, 0xFD, {r(0x601), r(0x602), r(0x1210), i()}},
  };
  for (const LiteralCase& c : cases) {
    SCOPED_TRACE(c.what);
    power_on_past_reset();
    for (std::size_t n = 0; n < c.code.size(); ++n) recorder.memory[0x0600 + n] = c.code[n];
    load(0x1234, {0x41});  // ASL gives $82
    load(0x0034, {0x41});  // INC gives $42
    cpu.PC = 0x0600;
    cpu.A = 0x42;
    cpu.X = c.x;
    cpu.Y = c.y;
    cpu.S = c.s;
    std::vector<Cycle> expected = {r(0x0600)};
    expected.insert(expected.end(), c.after_fetch.begin(), c.after_fetch.end());
    EXPECT_EQ(step(), expected);
  }
}

TEST(CycleTableExamples, ControlTransfers) {
  power_on_past_reset();
  // Branch at $80EE taken to $8111: the wrong-page read is $8011.
  load(0x80EE, {0xD0, 0x21});  // BNE
  cpu.PC = 0x80EE;
  EXPECT_EQ(step(), (std::vector{bus_read(0x80EE), bus_read(0x80EF), bus_idle(), bus_read(0x8011)}));
  EXPECT_EQ(cpu.PC, 0x8111);

  // JSR with its operand at $80FF/$8100 pushes $81, then $00.
  load(0x80FE, {0x20, 0x00, 0x90});
  cpu.PC = 0x80FE;
  cpu.S = 0xFD;
  EXPECT_EQ(step(), (std::vector{bus_read(0x80FE), bus_read(0x80FF), bus_read(0x8100), bus_idle(),
                                 bus_write(0x01FD, 0x81), bus_write(0x01FC, 0x00)}));
  EXPECT_EQ(cpu.PC, 0x9000);

  // RTS pulling $FFFF reads $FFFF and continues at $0000.
  load(0x9000, {0x60});
  load(0x01FC, {0xFF, 0xFF});
  cpu.S = 0xFB;
  EXPECT_EQ(step(), (std::vector{bus_read(0x9000), bus_idle(), bus_read(0x9001), bus_read(0x01FC),
                                 bus_read(0x01FD), bus_read(0xFFFF)}));
  EXPECT_EQ(cpu.PC, 0x0000);

  // JMP ($12FF) takes its high byte from $1200.
  load(0x0000, {0x6C, 0xFF, 0x12});
  load(0x12FF, {0x34});
  load(0x1200, {0x56});
  load(0x1300, {0x99});
  EXPECT_EQ(step(), (std::vector{bus_read(0x0000), bus_read(0x0001), bus_read(0x0002), bus_read(0x12FF),
                                 bus_read(0x1200)}));
  EXPECT_EQ(cpu.PC, 0x5634);

  // An opcode fetch at $FFFF wraps PC to $0000.
  load(0xFFFF, {0xEA});
  cpu.PC = 0xFFFF;
  EXPECT_EQ(step(), (std::vector{bus_read(0xFFFF), bus_idle()}));
  EXPECT_EQ(cpu.PC, 0x0000);
}

}  // namespace
