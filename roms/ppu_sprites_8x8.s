; config: nrom32
; 8x8 sprites from pattern table $1000: flips, palettes, priorities against the background and
; against each other.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $00, $00
SPRITE_CTRL = $08               ; 8x8 sprites from $1000
T_F = SPR_F
T_DIAMOND = SPR_DIAMOND
T_SOLID = SPR_SOLID
.include "ppu_sprites.inc"
