; config: prg32_chr8
; The power-on nametable arrangement follows the header's byte 6; here bit 0 set: vertical ($2000 =
; $2800, $2400 = $2C00).
.include "nametable_arrangement.inc"
NAMETABLE_ARRANGEMENT_TEST $01, $A2, $A3, $A2, $A3, "vertical"
