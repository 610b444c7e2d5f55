; config: nrom32
; Benchmark cartridge, sprite-heavy: 64 8x16 sprites in eight bands of eight, all moving every
; frame over a scrolling background. Eight sprites share each of the 128 lines the bands cover (the
; most that 64 sprites of 16 lines can fill); a band bobs by up to 7 lines, never into the next.
; Sprite 5 of each band is drawn behind the background; palettes and flips vary from sprite to
; sprite. Runs forever: nes-headless --frames N.
.include "registers.inc"
.include "result.inc"
INES_HEADER 2, 1, $01, $00

oam = $0200
CTRL = $A0                      ; NMI on, 8x16 sprites, everything from pattern table $0000
MASK = $1E                      ; background and sprites, also in the left column
SPRITE_TILE = 2                 ; tiles 2 (top half) and 3 (bottom half)
BEHIND = $20

.segment "ZEROPAGE"
frame:    .res 1
nmi_done: .res 1
scroll:   .res 1
temp:     .res 1

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        inx
        stx PPUCTRL
        stx PPUMASK
        bit PPUSTATUS
:       bit PPUSTATUS
        bpl :-
:       bit PPUSTATUS
        bpl :-
        lda #$3F                ; the palette
        sta PPUADDR
        stx PPUADDR
:       lda palette,x
        sta PPUDATA
        inx
        cpx #32
        bne :-
        lda #$20                ; nametable 0: tile (row + column) AND 1
        sta PPUADDR
        lda #0
        sta PPUADDR
        ldy #0
@row:   ldx #0
@column:
        stx temp
        tya
        clc
        adc temp
        and #1
        sta PPUDATA
        inx
        cpx #32
        bne @column
        iny
        cpy #30
        bne @row
        ldx #0                  ; its attributes: a mixture of the four palettes
:       txa
        asl a
        eor #$B4
        sta PPUDATA
        inx
        cpx #64
        bne :-

        ldx #0                  ; X = 4 x sprite number
@sprite:
        lda #SPRITE_TILE
        sta oam+1,x
        txa
        lsr a
        lsr a
        sta temp                ; sprite number
        and #$C3                ; palette and flips
        sta oam+2,x
        lda temp
        and #7
        cmp #5
        bne :+
        lda oam+2,x
        ora #BEHIND
        sta oam+2,x
:       lda temp                ; X: 32 apart within a band, each band 4 further right
        and #7
        asl a
        asl a
        asl a
        sta oam+3,x
        lda temp
        lsr a
        lsr a
        lsr a
        clc
        adc oam+3,x
        asl a
        asl a
        sta oam+3,x
        inx
        inx
        inx
        inx
        bne @sprite
        jsr move_sprites

:       bit PPUSTATUS
        bpl :-
        lda #CTRL
        sta PPUCTRL
        lda #MASK
        sta PPUMASK
main:   lda nmi_done
        beq main
        lda #0
        sta nmi_done
        inc frame
        jsr move_sprites
        jmp main

; Y: the band's line plus (frame + band) AND 7; X: 1 to 4 pixels further right, by sprite number.
.proc move_sprites
        ldx #0
loop:   txa
        lsr a
        lsr a
        lsr a
        lsr a
        lsr a
        tay                     ; band
        clc
        adc frame
        and #7
        clc
        adc band_top,y
        sta oam,x
        txa
        lsr a
        lsr a
        and #3
        sec
        adc oam+3,x
        sta oam+3,x
        inx
        inx
        inx
        inx
        bne loop
        rts
.endproc

nmi:    pha
        lda #0
        sta OAMADDR
        lda #>oam
        sta OAMDMA
        bit PPUSTATUS
        inc scroll
        lda scroll
        sta PPUSCROLL
        lda #0
        sta PPUSCROLL
        lda #CTRL
        sta PPUCTRL
        lda #1
        sta nmi_done
        pla
irq:    rti

.segment "RODATA"
band_top: .byte 8, 36, 64, 92, 120, 148, 176, 204
palette:
        .byte $0F, $11, $21, $31,  $0F, $16, $26, $36,  $0F, $19, $29, $39,  $0F, $13, $23, $33
        .byte $0F, $15, $25, $35,  $0F, $18, $28, $38,  $0F, $1A, $2A, $3A,  $0F, $12, $22, $32

.segment "VECTORS"
        .word nmi, reset, irq

.segment "CHARS"
        .byte $AA, $55, $AA, $55, $AA, $55, $AA, $55,  $F0, $F0, $F0, $F0, $0F, $0F, $0F, $0F  ; checker
        .byte $81, $42, $24, $18, $18, $24, $42, $81,  $FF, $00, $FF, $00, $FF, $00, $FF, $00  ; cross
        .byte $3C, $7E, $FF, $FF, $FF, $FF, $7E, $3C,  $00, $18, $3C, $7E, $7E, $3C, $18, $00  ; ball top
        .byte $18, $3C, $66, $C3, $C3, $66, $3C, $18,  $18, $18, $18, $FF, $FF, $18, $18, $18  ; ball bottom
