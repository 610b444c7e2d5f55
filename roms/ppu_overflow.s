; config: nrom32
; Nine sprites on one line: the first eight are drawn, the ninth is not, and the overflow flag is
; set. Row 1: sprites 0-8 side by side, the ninth missing. Row 2: eight sprites and a ninth four
; lines lower, of which only the lower half (the lines with fewer than nine) is drawn. Row 3: eight
; sprites, all drawn. The program waits for the overflow flag of each frame and then turns on red
; emphasis, so the picture is tinted from the line of the first overflow down.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $00, $00

.segment "RODATA"
palette:
        .byte $21, $0F, $0F, $0F,  $21, $0F, $0F, $0F,  $21, $0F, $0F, $0F,  $21, $0F, $0F, $0F
        .byte $21, $16, $28, $30,  $21, $12, $2A, $30,  $21, $14, $27, $30,  $21, $18, $0F, $30
sprites:
        .repeat 9, K
        .byte 59, SPR_DIAMOND, K & 3, 16 + 24 * K
        .endrepeat
        .repeat 8, K
        .byte 119, SPR_RING, K & 3, 16 + 24 * K
        .endrepeat
        .byte 123, SPR_SOLID, 1, 16 + 24 * 8
        .repeat 8, K
        .byte 179, SPR_F, K & 3, 16 + 24 * K
        .endrepeat
SPRITE_BYTES = * - sprites

.segment "CODE"
reset:  START_PICTURE palette
        ldx #$20
        lda #BG_BLANK
        jsr fill_nametable
        POINT_AT sprites
        ldy #SPRITE_BYTES
        jsr load_sprites
        SHOW_PICTURE $08, $1E   ; sprites from $1000
frame:  jsr wait_frame
:       lda PPUSTATUS           ; the flag of the last frame is cleared at the pre-render line
        and #$20
        bne :-
:       lda PPUSTATUS
        and #$20
        beq :-
        lda #$3E                ; red emphasis from here on
        sta PPUMASK
        jmp frame
