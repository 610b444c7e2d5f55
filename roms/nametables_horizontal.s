; config: prg32_chr8
; The power-on nametable arrangement follows the header's byte 6; here bit 0 and bit 3 clear:
; horizontal ($2000 = $2400, $2800 = $2C00).
.include "nametable_arrangement.inc"
NAMETABLE_ARRANGEMENT_TEST $00, $A1, $A1, $A3, $A3, "horizontal"
