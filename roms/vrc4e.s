; config: prg256_chr512
; Konami VRC4e (mapper 23.2) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A2, A1 on A3.
VRC_A0 = $04
VRC_A1 = $08
VRC_IGNORED = $F3
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC4e (23.2): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $70, $10, $20, $07, $00
