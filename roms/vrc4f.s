; config: prg256_chr512
; Konami VRC4f (mapper 23.1) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A0, A1 on A1.
VRC_A0 = $01
VRC_A1 = $02
VRC_IGNORED = $FC
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC4f (23.1): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $70, $10, $10, $07, $00
