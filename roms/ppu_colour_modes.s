; config: nrom32
; Greyscale and colour emphasis. Sixteen vertical stripes show the backdrop and the three colours of
; the four background palettes; ten bands of about 24 lines are drawn with emphasis bits 0 to 7,
; then greyscale, then greyscale with all three emphasis bits.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $00, $00

.segment "RODATA"
palette:
        .byte $00, $12, $2A, $36,  $00, $14, $28, $3C,  $00, $16, $22, $3A,  $00, $18, $26, $30
        .byte $00, $30, $30, $30,  $00, $0F, $0F, $0F,  $00, $0F, $0F, $0F,  $00, $0F, $0F, $0F

.segment "ZEROPAGE"
band_mask: .res 1

.segment "CODE"
reset:  START_PICTURE palette
        ; stripe c (16 pixels) shows colour c / 4 of palette c & 3: tile column / 8 ...
        VRAM_ADDRESS $2000
        ldy #30
row:    ldx #0
:       txa
        lsr
        lsr
        lsr
        sta PPUDATA
        inx
        cpx #32
        bne :-
        dey
        bne row
        ; ... and palettes 0, 1 in one 32-pixel column, 2, 3 in the next
        ldx #32
:       lda #$44
        sta PPUDATA
        lda #$EE
        sta PPUDATA
        dex
        bne :-
        ; sprite 0 on the solid stripe 12, for the timing of the bands
        SET_SPRITE 0, 0, SPR_SOLID, 0, 200
        SHOW_PICTURE $08, $1E
frame:  jsr wait_frame
        jsr wait_sprite0_hit
        lda #$1E
        sta band_mask
bands:  ldx #24
        jsr delay_lines
        lda band_mask
        clc
        adc #$20                ; next emphasis value
        bcs grey
        sta band_mask
        sta PPUMASK
        jmp bands
grey:   lda #$1F
        sta PPUMASK
        MASK_AFTER_LINES 24, $FF
        jmp frame
