; config: nrom32
; Edge-column clipping on both sides. Sprites run down the 8 leftmost and the 8 rightmost columns
; over a patterned background; four bands of about 60 lines are drawn with PPUMASK $1E (all
; shown), $1A (sprites clipped), $1C (background clipped) and $18 (both clipped); a clipped layer
; leaves columns 0-7 and 248-255 to the other layer or the backdrop.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $00, $00

.segment "RODATA"
palette:
        .byte $0F, $16, $26, $36,  $0F, $1A, $2A, $3A,  $0F, $12, $22, $32,  $0F, $18, $28, $38
        .byte $0F, $30, $30, $30,  $0F, $14, $24, $30,  $0F, $27, $21, $30,  $0F, $0F, $0F, $0F

.segment "CODE"
reset:  START_PICTURE palette
        FILL_PAGE $20, BG_MARKER, $E4
        ; sprite 0: a solid block at the top, for the timing of the bands
        SET_SPRITE 0, 0, SPR_SOLID, 0, 128
        ; sprites 1-58: pairs at x 0 and 248, every 8 lines from line 4
        ldx #4
        lda #3
edges:  sta oam_buffer,x        ; left: Y, tile, palette 1, x 0
        sta oam_buffer+4,x
        pha
        lda #SPR_F
        sta oam_buffer+1,x
        sta oam_buffer+5,x
        lda #1
        sta oam_buffer+2,x
        lda #$42                ; right: flipped, palette 2
        sta oam_buffer+6,x
        lda #0
        sta oam_buffer+3,x
        lda #248
        sta oam_buffer+7,x
        pla
        clc
        adc #8
        pha
        txa
        clc
        adc #8
        tax
        pla
        cpx #4 + 8 * 29
        bne edges
        SHOW_PICTURE $08, $1E
frame:  jsr wait_frame
        jsr wait_sprite0_hit
        MASK_AFTER_LINES 59, $1A
        MASK_AFTER_LINES 60, $1C
        MASK_AFTER_LINES 60, $18
        jmp frame
