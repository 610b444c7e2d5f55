// What the operations compute: binary ADC and SBC with their carry and overflow, compares, BIT,
// the status byte through the stack, and the operations outside the documented set, including the
// unstable stores that AND in the high byte of the address and land in the base page.
#include <gtest/gtest.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "cpu/cpu.h"
#include "tests/cpu/bus_recorder.h"

namespace {

struct Registers {
  uint8_t a, x, y, s, p;
};

struct OperationCase {
  const char* what;
  std::vector<uint8_t> code;  // one instruction at $0600
  Registers before;
  std::vector<std::pair<uint16_t, uint8_t>> memory;  // set before the instruction
  Registers after;
  std::vector<std::pair<uint16_t, uint8_t>> memory_after = {};  // checked after it
};

// Flag bits for readable expectations.
constexpr uint8_t C = FLAG_C, Z = FLAG_Z, I = FLAG_I, D = FLAG_D, V = FLAG_V, N = FLAG_N;

const OperationCase operation_cases[] = {
    // Binary arithmetic; D changes nothing.
    {"ADC $01 to $09 with D set", {0x69, 0x01}, {0x09, 0, 0, 0xFD, D}, {}, {0x0A, 0, 0, 0xFD, D}},
    {"ADC $50 + $50 overflows", {0x69, 0x50}, {0x50, 0, 0, 0xFD, 0}, {}, {0xA0, 0, 0, 0xFD, N | V}},
    {"ADC $FF + $01 carries to zero", {0x69, 0x01}, {0xFF, 0, 0, 0xFD, 0}, {}, {0x00, 0, 0, 0xFD, Z | C}},
    {"SBC $F0 from $50 borrows", {0xE9, 0xF0}, {0x50, 0, 0, 0xFD, C}, {}, {0x60, 0, 0, 0xFD, 0}},
    {"SBC $01 from $80 overflows", {0xE9, 0x01}, {0x80, 0, 0, 0xFD, C}, {}, {0x7F, 0, 0, 0xFD, V | C}},
    {"SBC immediate $EB is SBC", {0xEB, 0x01}, {0x80, 0, 0, 0xFD, C}, {}, {0x7F, 0, 0, 0xFD, V | C}},
    {"CMP $20 with A=$10", {0xC9, 0x20}, {0x10, 0, 0, 0xFD, Z | C}, {}, {0x10, 0, 0, 0xFD, N}},
    {"BIT $C0 with A=$3F", {0x24, 0x34}, {0x3F, 0, 0, 0xFD, 0}, {{0x34, 0xC0}},
     {0x3F, 0, 0, 0xFD, N | V | Z}},
    // The status byte through the stack: bits 4 and 5 pushed set, never held.
    {"PLP of $FF", {0x28}, {0, 0, 0, 0xFC, 0}, {{0x01FD, 0xFF}}, {0, 0, 0, 0xFD, 0xCF}},
    {"PHP with P=$C3", {0x08}, {0, 0, 0, 0xFD, 0xC3}, {}, {0, 0, 0, 0xFC, 0xC3}, {{0x01FD, 0xF3}}},
    {"PHA with S=$00 wraps", {0x48}, {0x99, 0, 0, 0x00, 0}, {}, {0x99, 0, 0, 0xFF, 0}, {{0x0100, 0x99}}},
    {"PLA with S=$FF wraps", {0x68}, {0, 0, 0, 0xFF, 0}, {{0x0100, 0x80}}, {0x80, 0, 0, 0x00, N}},
    {"RTI loads P without bits 4 and 5", {0x40}, {0, 0, 0, 0xFA, 0},
     {{0x01FB, 0x3B}, {0x01FC, 0x00}, {0x01FD, 0x07}}, {0, 0, 0, 0xFD, 0x0B}},
    // Immediate operations outside the documented set.
    {"ARR $FF with A=$FF, C=1", {0x6B, 0xFF}, {0xFF, 0, 0, 0xFD, C}, {}, {0xFF, 0, 0, 0xFD, N | C}},
    {"ARR $FF with A=$FF, C=0", {0x6B, 0xFF}, {0xFF, 0, 0, 0xFD, V}, {}, {0x7F, 0, 0, 0xFD, C}},
    {"ARR $60 with A=$FF, C=0: V without C", {0x6B, 0x60}, {0xFF, 0, 0, 0xFD, 0}, {}, {0x30, 0, 0, 0xFD, V}},
    {"ARR $80 with A=$FF, C=0: C from bit 6", {0x6B, 0x80}, {0xFF, 0, 0, 0xFD, 0}, {},
     {0x40, 0, 0, 0xFD, V | C}},
    {"SBX $31 with A=$F0, X=$3C", {0xCB, 0x31}, {0xF0, 0x3C, 0, 0xFD, V | C}, {},
     {0xF0, 0xFF, 0, 0xFD, N | V}},
    {"SBX $30 with A=$F0, X=$3C", {0xCB, 0x30}, {0xF0, 0x3C, 0, 0xFD, 0}, {}, {0xF0, 0x00, 0, 0xFD, Z | C}},
    {"LXA $55 with A=$FF", {0xAB, 0x55}, {0xFF, 0x00, 0, 0xFD, N | Z}, {}, {0x55, 0x55, 0, 0xFD, 0}},
    {"LXA $55 with A=$00", {0xAB, 0x55}, {0x00, 0x00, 0, 0xFD, Z}, {}, {0x55, 0x55, 0, 0xFD, 0}},
    {"ANE $FF with A=$F0, X=$3C", {0x8B, 0xFF}, {0xF0, 0x3C, 0, 0xFD, N}, {}, {0x30, 0x3C, 0, 0xFD, 0}},
    {"ANC $81 copies N into C", {0x0B, 0x81}, {0xC0, 0, 0, 0xFD, 0}, {}, {0x80, 0, 0, 0xFD, N | C}},
    {"ALR $03 at $42", {0x42, 0x03}, {0x07, 0, 0, 0xFD, 0}, {}, {0x01, 0, 0, 0xFD, C}},
    {"$02: AND then ASL", {0x02, 0xFF}, {0xC1, 0, 0, 0xFD, 0}, {}, {0x82, 0, 0, 0xFD, N | C}},
    {"$22: AND then ROL", {0x22, 0x7F}, {0xC1, 0, 0, 0xFD, C}, {}, {0x83, 0, 0, 0xFD, N}},
    {"$62: AND then ROR", {0x62, 0xFF}, {0x03, 0, 0, 0xFD, V | C}, {}, {0x81, 0, 0, 0xFD, N | V | C}},
    // Reads and read-modify-writes outside the documented set.
    {"LAS $F0 with S=$3F", {0xBB, 0x00, 0x12}, {0, 0, 0, 0x3F, 0}, {{0x1200, 0xF0}},
     {0x30, 0x30, 0, 0x30, 0}},
    {"LAX $80", {0xA7, 0x34}, {0, 0, 0, 0xFD, 0}, {{0x34, 0x80}}, {0x80, 0x80, 0, 0xFD, N}},
    {"RRA: the rotate's carry enters the ADC", {0x67, 0x34}, {0x00, 0, 0, 0xFD, 0}, {{0x34, 0x01}},
     {0x01, 0, 0, 0xFD, 0}, {{0x34, 0x00}}},
    {"DCP of $00 with A=$FF", {0xC7, 0x34}, {0xFF, 0, 0, 0xFD, 0}, {{0x34, 0x00}}, {0xFF, 0, 0, 0xFD, Z | C},
     {{0x34, 0xFF}}},
    {"ISB of $FF from A=$05", {0xE7, 0x34}, {0x05, 0, 0, 0xFD, C}, {{0x34, 0xFF}}, {0x05, 0, 0, 0xFD, C},
     {{0x34, 0x00}}},
    {"SLO of $81", {0x07, 0x34}, {0x10, 0, 0, 0xFD, 0}, {{0x34, 0x81}}, {0x12, 0, 0, 0xFD, C},
     {{0x34, 0x02}}},
    {"RLA of $80 with C=1", {0x27, 0x34}, {0x0F, 0, 0, 0xFD, C}, {{0x34, 0x80}}, {0x01, 0, 0, 0xFD, C},
     {{0x34, 0x01}}},
    {"SRE of $03", {0x47, 0x34}, {0xFF, 0, 0, 0xFD, 0}, {{0x34, 0x03}}, {0xFE, 0, 0, 0xFD, N | C},
     {{0x34, 0x01}}},
    {"$B2 loads X through (zp),Y", {0xB2, 0x34}, {0, 0, 0x10, 0xFD, Z}, {{0x34, 0x00}, {0x35, 0x12},
     {0x1210, 0x80}},
     {0, 0x80, 0x10, 0xFD, N}},
    {"$92 stores X through (zp),Y", {0x92, 0x34}, {0, 0x5A, 0x10, 0xFD, 0}, {{0x34, 0x00}, {0x35, 0x12}},
     {0, 0x5A, 0x10, 0xFD, 0}, {{0x1210, 0x5A}}},
    {"$D2 is DEC (zp),Y", {0xD2, 0x34}, {0, 0, 0x10, 0xFD, 0}, {{0x34, 0x00}, {0x35, 0x12}, {0x1210, 0x01}},
     {0, 0, 0x10, 0xFD, Z}, {{0x1210, 0x00}}},
    // Stores that AND in the high byte H of the effective address and land in the base page.
    {"TAS $12F0,Y crossing", {0x9B, 0xF0, 0x12}, {0xFF, 0xFF, 0x20, 0xFD, 0}, {{0x1310, 0x77}},
     {0xFF, 0xFF, 0x20, 0x13, 0}, {{0x1210, 0x13}, {0x1310, 0x77}}},
    {"SHY $1200,X same page", {0x9C, 0x00, 0x12}, {0, 0x10, 0xFF, 0xFD, 0}, {}, {0, 0x10, 0xFF, 0xFD, 0},
     {{0x1210, 0x12}}},
    {"SHX $12F0,Y crossing", {0x9E, 0xF0, 0x12}, {0, 0xFF, 0x20, 0xFD, 0}, {{0x1310, 0x77}},
     {0, 0xFF, 0x20, 0xFD, 0}, {{0x1210, 0x13}, {0x1310, 0x77}}},
    {"SHA $12F0,Y crossing", {0x9F, 0xF0, 0x12}, {0x7F, 0xF3, 0x20, 0xFD, 0}, {{0x1310, 0x77}},
     {0x7F, 0xF3, 0x20, 0xFD, 0}, {{0x1210, 0x13}, {0x1310, 0x77}}},
    {"SHA ($34),Y crossing uses no H", {0x93, 0x34}, {0x55, 0xF0, 0x20, 0xFD, 0}, {{0x34, 0xF0},
     {0x35, 0x12}},
     {0x55, 0xF0, 0x20, 0xFD, 0}, {{0x1310, 0x50}}},
};

std::string register_text(const Registers& r) {
  char text[48];
  std::snprintf(text, sizeof text, "A:%02X X:%02X Y:%02X S:%02X P:%02X", r.a, r.x, r.y, r.s, r.p);
  return text;
}

TEST(Operations, RegistersFlagsAndMemory) {
  for (const OperationCase& c : operation_cases) {
    SCOPED_TRACE(c.what);
    power_on_past_reset();
    for (const auto& [address, value] : c.memory) recorder.memory[address] = value;
    for (std::size_t n = 0; n < c.code.size(); ++n) recorder.memory[0x0600 + n] = c.code[n];
    cpu.PC = 0x0600;
    cpu.A = c.before.a;
    cpu.X = c.before.x;
    cpu.Y = c.before.y;
    cpu.S = c.before.s;
    cpu.P = c.before.p;
    step();
    EXPECT_EQ(register_text({cpu.A, cpu.X, cpu.Y, cpu.S, cpu.P}), register_text(c.after));
    for (const auto& [address, value] : c.memory_after)
      EXPECT_EQ(recorder.memory[address], value) << "at $" << std::hex << address;
  }
}

// Every opcode keeps bits 4 and 5 of P clear and leaves I alone unless it is one of the few that
// set or load it; the opcodes run here from a P with all other flags set and then all clear.
TEST(Operations, NoOpcodeSetsBits4And5OrTouchesIByItself) {
  for (int opcode = 0; opcode < 256; ++opcode) {
    for (const uint8_t p : {uint8_t{0xCF}, uint8_t{0x00}}) {
      power_on_past_reset();
      recorder.memory.fill(0xFF);
      load(0x0600, {static_cast<uint8_t>(opcode), 0x10, 0x12});
      cpu.PC = 0x0600;
      cpu.S = 0xFD;
      cpu.P = p;
      step();
      EXPECT_EQ(cpu.P & 0x30, 0) << "opcode " << std::hex << opcode;
      const bool changes_i =
          opcode == 0x00 || opcode == 0x28 || opcode == 0x40 || opcode == 0x58 || opcode == 0x78;
      if (!changes_i) {
        EXPECT_EQ(cpu.P & I, p & I) << "opcode " << std::hex << opcode;
      }
    }
  }
}

}  // namespace
