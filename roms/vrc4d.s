; config: prg256_chr512
; Konami VRC4d (mapper 25.2) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A3, A1 on A2.
VRC_A0 = $08
VRC_A1 = $04
VRC_IGNORED = $F3
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC4d (25.2): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $90, $10, $20, $07, $00
