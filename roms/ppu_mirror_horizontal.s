; config: nrom32
; Horizontal nametable arrangement (header byte 6 bit 0 clear): $2000 = $2400 and $2800 = $2C00.
; The screen shows the contents written last through each pair: 1 on top and 3 below.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $00, $00
.include "ppu_nametables.inc"
