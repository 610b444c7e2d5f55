; config: nrom32
; A mid-frame scroll split timed by the sprite 0 hit. A striped status bar of four tile rows stays
; unscrolled; the hit of sprite 0 with the solid block in the bar's last row starts a horizontal
; scroll of 60 pixels, and about 90 lines later writes to $2006/$2005/$2005/$2006 move the view to
; X 200, Y 8 at once. Vertical arrangement: nametable 1, to the right, is a checker pattern.
.include "ppu_picture.inc"
INES_HEADER 2, 1, $01, $00

SPLIT_X = 60
LOWER_X = 200
LOWER_Y = 8

.segment "RODATA"
palette:
        .byte $0F, $16, $2A, $30,  $0F, $1A, $2A, $3A,  $0F, $12, $22, $32,  $0F, $18, $28, $38
        .byte $0F, $16, $27, $30,  $0F, $0F, $0F, $0F,  $0F, $0F, $0F, $0F,  $0F, $0F, $0F, $0F
sprite0:
        .byte 23, SPR_SOLID, $20, 128   ; behind the background: the hit still counts

.segment "CODE"
reset:  START_PICTURE palette
        FILL_PAGE $20, BG_MARKER, $E4
        FILL_PAGE $24, BG_CHECKER, $FF
        ; status bar: rows 0-3 striped, palette 0
        VRAM_ADDRESS $2000
        lda #BG_STRIPES
        ldx #128
:       sta PPUDATA
        dex
        bne :-
        VRAM_ADDRESS $23C0
        lda #0
        ldx #8
:       sta PPUDATA
        dex
        bne :-
        VRAM_ADDRESS $2000 + 3 * 32 + 16
        lda #BG_SOLID3
        sta PPUDATA
        ; a solid column every 8 tiles and a solid bar at row 15, below the bar
        lda #$04
        sta PPUCTRL
        ldy #0
column: bit PPUSTATUS
        lda #$20
        sta PPUADDR
        tya
        clc
        adc #4 * 32
        sta PPUADDR
        lda #BG_SOLID2
        ldx #26
:       sta PPUDATA
        dex
        bne :-
        tya
        clc
        adc #8
        tay
        cpy #32
        bne column
        lda #0
        sta PPUCTRL
        VRAM_ADDRESS $2000 + 15 * 32
        lda #BG_SOLID1
        ldx #32
:       sta PPUDATA
        dex
        bne :-
        POINT_AT sprite0
        ldy #4
        jsr load_sprites
        SHOW_PICTURE $08, $1E
frame:  jsr wait_frame
        jsr wait_sprite0_hit
        lda #SPLIT_X
        sta PPUSCROLL
        lda #0
        sta PPUSCROLL
        ldx #90
        jsr delay_lines
        lda #(LOWER_Y & $C0) >> 6       ; nametable 0
        sta PPUADDR
        lda #LOWER_Y
        sta PPUSCROLL
        lda #LOWER_X
        sta PPUSCROLL
        lda #((LOWER_Y & $38) << 2) | (LOWER_X >> 3)
        sta PPUADDR
        jmp frame
