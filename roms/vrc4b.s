; config: prg256_chr512
; Konami VRC4b (mapper 25.1) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A1, A1 on A0.
VRC_A0 = $02
VRC_A1 = $01
VRC_IGNORED = $FC
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC4b (25.1): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $90, $10, $10, $07, $00
