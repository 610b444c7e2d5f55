; config: prg256_chr512
; Mapper 25 without a submapper (iNES 1.0) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A1 (ORed with A3), A1 on A0 (ORed with A2).
VRC_A0 = $02
VRC_A1 = $01
VRC_IGNORED = $F0
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "mapper 25: ok"
.include "vrc.inc"
INES_HEADER 16, 64, $90, $10
