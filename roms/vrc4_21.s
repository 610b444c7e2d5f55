; config: prg256_chr512
; Mapper 21 without a submapper (iNES 1.0) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A6 (ORed with A1), A1 on A7 (ORed with A2).
VRC_A0 = $40
VRC_A1 = $80
VRC_IGNORED = $39
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "mapper 21: ok"
.include "vrc.inc"
INES_HEADER 16, 64, $50, $10
