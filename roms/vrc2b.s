; config: prg256_chr512
; Konami VRC2b (mapper 23.3) banking test (see vrc.inc):
; chip A0 on CPU A0, A1 on A1.
VRC_A0 = $01
VRC_A1 = $02
VRC_IGNORED = $FC
VRC4 = 0
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC2b (23.3): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $70, $10, $30, $07, $00
