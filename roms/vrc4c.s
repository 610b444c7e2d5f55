; config: prg256_chr512
; Konami VRC4c (mapper 21.2) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A6, A1 on A7.
VRC_A0 = $40
VRC_A1 = $80
VRC_IGNORED = $3F
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC4c (21.2): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $50, $10, $20, $07, $00
