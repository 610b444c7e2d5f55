; config: nrom32
; 8x16 sprites: the tile number's bit 0 picks the pattern table, whatever PPUCTRL bit 3 says. Tile 1
; is the F above the L of table $1000, tile 3 a solid block above a diamond, and tile 2 the solid
; background tiles 2 and 3 of table $0000. Vertical flips swap the halves.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $00, $00
SPRITE_CTRL = $28               ; 8x16 sprites; bit 3 set but not used
T_F = 1
T_DIAMOND = 3
T_SOLID = 2
.include "ppu_sprites.inc"
