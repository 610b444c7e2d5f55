; config: prg256_chr512
; Konami VRC2c (mapper 25.3) banking test (see vrc.inc):
; chip A0 on CPU A1, A1 on A0.
VRC_A0 = $02
VRC_A1 = $01
VRC_IGNORED = $FC
VRC4 = 0
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC2c (25.3): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $90, $10, $30, $07, $00
