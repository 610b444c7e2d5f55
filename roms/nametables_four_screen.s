; config: prg32_chr8
; The power-on nametable arrangement follows the header's byte 6; here bit 3 set (bit 0 set too):
; four separate pages.
.include "nametable_arrangement.inc"
NAMETABLE_ARRANGEMENT_TEST $09, $A0, $A1, $A2, $A3, "four_screen"
