; config: nrom32
; Vertical nametable arrangement (header byte 6 bit 0 set): $2000 = $2800 and $2400 = $2C00.
; With nametable 1 at the top left, the screen shows content 3 on the left and 2 on the right.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $01, $00
.include "ppu_nametables.inc"
