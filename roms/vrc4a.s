; config: prg256_chr512
; Konami VRC4a (mapper 21.1) banking and interrupt test (see vrc.inc):
; chip A0 on CPU A1, A1 on A2.
VRC_A0 = $02
VRC_A1 = $04
VRC_IGNORED = $F9
VRC4 = 1
VRC2A = 0
BANKED_IRQ = 1
.define VRC_NAME "VRC4a (21.1): ok"
.include "vrc.inc"
NES2_HEADER 16, 64, $50, $10, $10, $07, $00
