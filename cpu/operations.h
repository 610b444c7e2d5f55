// What each 6502 operation computes. An operation is a struct whose static member says what it does
// with its operand: read(m) consumes a byte, value() produces the byte to store, modify(m) turns a
// memory byte into its new value, implied() works on registers alone.
#pragma once
#include <cstdint>

#include "cpu/cpu.h"

namespace ops {

inline void set_flag(uint8_t flag, bool on) {
  cpu.P = static_cast<uint8_t>(on ? (cpu.P | flag) : (cpu.P & ~flag));
}
inline void set_nz(uint8_t v) {
  cpu.P = static_cast<uint8_t>((cpu.P & ~(FLAG_N | FLAG_Z)) | (v & FLAG_N) | (v == 0 ? FLAG_Z : 0));
}
inline uint8_t carry() { return cpu.P & FLAG_C; }

inline void add_with_carry(uint8_t m) {
  const unsigned r = cpu.A + m + carry();
  set_flag(FLAG_V, ((cpu.A ^ r) & (m ^ r) & 0x80) != 0);
  set_flag(FLAG_C, r > 0xFF);
  cpu.A = static_cast<uint8_t>(r);
  set_nz(cpu.A);
}
inline void compare(uint8_t r, uint8_t m) {
  set_flag(FLAG_C, r >= m);
  set_nz(static_cast<uint8_t>(r - m));
}

// Shifts and rotates, shared by the accumulator, memory and combined forms.
inline uint8_t shift_left(uint8_t m) {
  set_flag(FLAG_C, m & 0x80);
  const uint8_t r = static_cast<uint8_t>(m << 1);
  set_nz(r);
  return r;
}
inline uint8_t shift_right(uint8_t m) {
  set_flag(FLAG_C, m & 0x01);
  const uint8_t r = m >> 1;
  set_nz(r);
  return r;
}
inline uint8_t rotate_left(uint8_t m) {
  const uint8_t r = static_cast<uint8_t>((m << 1) | carry());
  set_flag(FLAG_C, m & 0x80);
  set_nz(r);
  return r;
}
inline uint8_t rotate_right(uint8_t m) {
  const uint8_t r = static_cast<uint8_t>((m >> 1) | (carry() << 7));
  set_flag(FLAG_C, m & 0x01);
  set_nz(r);
  return r;
}

// Reads.
struct LDA { static void read(uint8_t m) { set_nz(cpu.A = m); } };
struct LDX { static void read(uint8_t m) { set_nz(cpu.X = m); } };
struct LDY { static void read(uint8_t m) { set_nz(cpu.Y = m); } };
struct AND { static void read(uint8_t m) { set_nz(cpu.A &= m); } };
struct ORA { static void read(uint8_t m) { set_nz(cpu.A |= m); } };
struct EOR { static void read(uint8_t m) { set_nz(cpu.A ^= m); } };
struct ADC { static void read(uint8_t m) { add_with_carry(m); } };
struct SBC { static void read(uint8_t m) { add_with_carry(static_cast<uint8_t>(m ^ 0xFF)); } };
struct CMP { static void read(uint8_t m) { compare(cpu.A, m); } };
struct CPX { static void read(uint8_t m) { compare(cpu.X, m); } };
struct CPY { static void read(uint8_t m) { compare(cpu.Y, m); } };
struct BIT {
  static void read(uint8_t m) {
    set_flag(FLAG_Z, (cpu.A & m) == 0);
    set_flag(FLAG_N, m & 0x80);
    set_flag(FLAG_V, m & 0x40);
  }
};
struct LAX { static void read(uint8_t m) { set_nz(cpu.A = cpu.X = m); } };
struct LAS { static void read(uint8_t m) { set_nz(cpu.A = cpu.X = cpu.S = m & cpu.S); } };
struct NOP { static void read(uint8_t) {} static void implied() {} };

// Immediate-only operations outside the documented set.
struct ANC {
  static void read(uint8_t m) {
    set_nz(cpu.A &= m);
    set_flag(FLAG_C, cpu.A & 0x80);
  }
};
struct ALR { static void read(uint8_t m) { cpu.A = shift_right(cpu.A & m); } };
struct ARR {
  static void read(uint8_t m) {
    const uint8_t t = static_cast<uint8_t>(((cpu.A & m) >> 1) | (carry() << 7));
    cpu.A = t;
    set_nz(t);
    set_flag(FLAG_C, t & 0x40);
    set_flag(FLAG_V, ((t >> 6) ^ (t >> 5)) & 1);
  }
};
struct ANE { static void read(uint8_t m) { set_nz(cpu.A = cpu.A & cpu.X & m); } };
struct LXA { static void read(uint8_t m) { set_nz(cpu.A = cpu.X = m); } };
struct SBX {
  static void read(uint8_t m) {
    const uint8_t t = cpu.A & cpu.X;
    set_flag(FLAG_C, t >= m);
    set_nz(cpu.X = static_cast<uint8_t>(t - m));
  }
};
struct AND_ASL { static void read(uint8_t m) { cpu.A = shift_left(cpu.A & m); } };
struct AND_ROL { static void read(uint8_t m) { cpu.A = rotate_left(cpu.A & m); } };
struct AND_ROR { static void read(uint8_t m) { cpu.A = rotate_right(cpu.A & m); } };

// Writes.
struct STA { static uint8_t value() { return cpu.A; } };
struct STX { static uint8_t value() { return cpu.X; } };
struct STY { static uint8_t value() { return cpu.Y; } };
struct SAX { static uint8_t value() { return cpu.A & cpu.X; } };
struct SHA_IND { static uint8_t value() { return cpu.A & cpu.X; } };  // $93: no high byte involved
// Stores that AND in H, the high byte of the effective address.
struct SHA { static uint8_t value(uint8_t h) { return cpu.A & cpu.X & h; } };
struct SHX { static uint8_t value(uint8_t h) { return cpu.X & h; } };
struct SHY { static uint8_t value(uint8_t h) { return cpu.Y & h; } };
struct TAS { static uint8_t value(uint8_t h) { return cpu.S = cpu.A & cpu.X & h; } };

// Read-modify-writes.
struct ASL { static uint8_t modify(uint8_t m) { return shift_left(m); } };
struct LSR { static uint8_t modify(uint8_t m) { return shift_right(m); } };
struct ROL { static uint8_t modify(uint8_t m) { return rotate_left(m); } };
struct ROR { static uint8_t modify(uint8_t m) { return rotate_right(m); } };
struct INC { static uint8_t modify(uint8_t m) { set_nz(++m); return m; } };
struct DEC { static uint8_t modify(uint8_t m) { set_nz(--m); return m; } };
// Combined: the memory part, then the register part with the new value.
struct SLO { static uint8_t modify(uint8_t m) { m = shift_left(m); ORA::read(m); return m; } };
struct RLA { static uint8_t modify(uint8_t m) { m = rotate_left(m); AND::read(m); return m; } };
struct SRE { static uint8_t modify(uint8_t m) { m = shift_right(m); EOR::read(m); return m; } };
struct RRA { static uint8_t modify(uint8_t m) { m = rotate_right(m); ADC::read(m); return m; } };
struct DCP { static uint8_t modify(uint8_t m) { m = DEC::modify(m); CMP::read(m); return m; } };
struct ISB { static uint8_t modify(uint8_t m) { m = INC::modify(m); SBC::read(m); return m; } };

// Register-only operations.
struct CLC { static void implied() { set_flag(FLAG_C, false); } };
struct SEC { static void implied() { set_flag(FLAG_C, true); } };
struct CLI { static void implied() { set_flag(FLAG_I, false); } };
struct SEI { static void implied() { set_flag(FLAG_I, true); } };
struct CLV { static void implied() { set_flag(FLAG_V, false); } };
struct CLD { static void implied() { set_flag(FLAG_D, false); } };
struct SED { static void implied() { set_flag(FLAG_D, true); } };
struct TAX { static void implied() { set_nz(cpu.X = cpu.A); } };
struct TAY { static void implied() { set_nz(cpu.Y = cpu.A); } };
struct TXA { static void implied() { set_nz(cpu.A = cpu.X); } };
struct TYA { static void implied() { set_nz(cpu.A = cpu.Y); } };
struct TSX { static void implied() { set_nz(cpu.X = cpu.S); } };
struct TXS { static void implied() { cpu.S = cpu.X; } };
struct INX { static void implied() { set_nz(++cpu.X); } };
struct INY { static void implied() { set_nz(++cpu.Y); } };
struct DEX { static void implied() { set_nz(--cpu.X); } };
struct DEY { static void implied() { set_nz(--cpu.Y); } };

}  // namespace ops
