; config: prg256_chr512
; Mapper 23 without a submapper (iNES 1.0) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A2 (ORed with A0), A1 on A3 (ORed with A1).
VRC_A0 = $04
VRC_A1 = $08
VRC_IGNORED = $F0
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "mapper 23: ok"
.include "vrc.inc"
INES_HEADER 16, 64, $70, $10
