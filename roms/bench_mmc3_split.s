; config: mmc3_prg32_chr8
; Benchmark cartridge for mapper 4, with picture and sound: the MMC3 interrupt splits the screen
; every 16 lines into 15 bands; each band gets its own background pattern bank (R0) and its own
; horizontal scroll, moving at its own speed. Sixteen 8x8 sprites bounce over it; pulse 1 plays a
; short tune, the triangle a bass line and the noise channel a beat. Runs forever (no result
; protocol): nes-headless --frames N.
;
; The split: at every vertical blank the latch is 16 and $C001 is written, so the pre-render
; line's clock loads 16 and line 15's clock (dot 261, background at $0000 and sprites at $1000)
; interrupts; the handler writes the latch 15, which the next clock after a 0 loads, so the
; interrupts come every 16 lines (latch + 1), at lines 15, 31, ... 239.
.include "registers.inc"
.include "result.inc"
INES_HEADER 2, 1, $41, $00      ; mapper 4, vertical arrangement

oam      = $0700
SPRITES  = 16
BALL     = 16                   ; sprite tile (in every KiB of pattern ROM)
CTRL     = $88                  ; NMI on, background $0000, 8x8 sprites $1000
MASK     = $1E
FIRST_LATCH = 16
LATCH    = 15

.segment "ZEROPAGE"
frame:      .res 1
nmi_done:   .res 1
band:       .res 1
temp:       .res 1
note_timer: .res 1
note:       .res 1
sprite_dx:  .res SPRITES
sprite_dy:  .res SPRITES

.segment "CODE"
reset:  sei
        cld
        ldx #$FF
        txs
        inx
        stx PPUCTRL
        stx PPUMASK
        stx DMC_FREQ            ; no DMC interrupt
        lda #$40
        sta FRAME_COUNTER       ; no frame interrupt
        sta $E000               ; no MMC3 interrupt
        bit PPUSTATUS
:       bit PPUSTATUS
        bpl :-
:       bit PPUSTATUS
        bpl :-

        ; banks: R0/R1 background KiB 0-3, R2-R5 sprites KiB 4-7, R6/R7 program pages 0 and 1
        ldx #0
:       stx $8000
        lda bank_values,x
        sta $8001
        inx
        cpx #8
        bne :-
        lda #0
        sta $A000               ; vertical

        lda #$3F                ; palette
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldx #0
:       lda palette,x
        sta PPUDATA
        inx
        cpx #32
        bne :-

        ; nametables 0 and 1: tile (row * 3 + column) AND 3 and (row + column * 2) AND 3; attributes
        ; by rows of 32 lines
        lda #$20
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldy #0
@row:   ldx #0
@col:   stx temp
        tya
        asl a
        adc temp
        adc temp
        sty temp
        adc temp
        and #3
        sta PPUDATA
        inx
        cpx #32
        bne @col
        iny
        cpy #30
        bne @row
        ldx #0
:       txa                     ; attributes: palettes 0-3 by group row
        lsr a
        lsr a
        lsr a
        and #3
        tay
        lda attribute_rows,y
        sta PPUDATA
        inx
        cpx #64
        bne :-
        ldy #0                  ; nametable 1
@row1:  ldx #0
@col1:  stx temp
        txa
        asl a
        sty temp
        adc temp
        and #3
        sta PPUDATA
        inx
        cpx #32
        bne @col1
        iny
        cpy #30
        bne @row1
        lda #$E4
        ldx #64
:       sta PPUDATA
        dex
        bne :-

        ; sprites: spread out, each with its own direction; the rest hidden
        ldx #0
:       lda #$F0
        sta oam,x
        inx
        bne :-
        ldx #0
        ldy #0
@spr:   tya
        asl a
        asl a
        asl a
        asl a
        adc #24
        sta oam,x               ; Y
        lda #BALL
        sta oam+1,x
        tya
        and #3
        sta oam+2,x             ; palette
        tya
        asl a
        asl a
        asl a
        asl a
        eor #$55
        sta oam+3,x             ; X
        tya
        and #1
        asl a
        sec
        sbc #1                  ; -1 or +1
        sta sprite_dx,y
        tya
        lsr a
        and #1
        asl a
        sec
        sbc #1
        sta sprite_dy,y
        inx
        inx
        inx
        inx
        iny
        cpy #SPRITES
        bne @spr

        lda #$0F                ; pulses, triangle, noise
        sta SND_CHN
        lda #$08                ; sweeps off, the low period bit matters
        sta SQ1_SWEEP
        lda #0
        sta frame
        sta note
        lda #1
        sta note_timer

        lda #CTRL
        sta PPUCTRL
        cli
main:   lda #0
        sta nmi_done
:       lda nmi_done
        beq :-
        jsr move_sprites
        jsr play
        jmp main

.include "bouncing_sprites.inc"

; The tune: a new note every 12 frames, from `tune` (pulse 1 period low byte, high byte) and
; `bass` (triangle); the noise ticks on every other note.
play:   dec note_timer
        bne @held
        lda #12
        sta note_timer
        lda note
        and #15
        tax
        asl a
        tay
        lda #$B6                ; duty 2, length halted, constant volume 6
        sta SQ1_VOL
        lda tune,y
        sta SQ1_LO
        lda tune+1,y
        sta SQ1_HI
        txa
        lsr a
        lsr a                   ; one bass note per four
        asl a
        tay
        lda #$C0                ; linear counter held
        sta TRI_LINEAR
        lda bass,y
        sta TRI_LO
        lda bass+1,y
        sta TRI_HI
        txa
        and #1
        bne @quiet
        lda #$04                ; noise: decaying envelope, a short burst
        sta NOISE_VOL
        lda #$03
        sta NOISE_LO
        lda #$18
        sta NOISE_HI
@quiet: inc note
@held:  rts

nmi:    pha
        txa
        pha
        lda #0
        sta OAMADDR
        lda #>oam
        sta OAMDMA
        bit PPUSTATUS
        lda #0
        sta PPUSCROLL
        sta PPUSCROLL
        lda #CTRL
        sta PPUCTRL
        lda #MASK
        sta PPUMASK
        lda #0                  ; band 0: background bank KiB 0-1
        sta $8000
        sta $8001
        lda #FIRST_LATCH
        sta $C000
        sta $C001
        sta $E001
        lda #0
        sta band
        inc frame
        lda #1
        sta nmi_done
        pla
        tax
        pla
        rti

; A band ends: the next band's background bank and scroll X = frame * band * 2 (mod 256), with
; nametable 1 for the odd bands.
irq:    pha
        txa
        pha
        sta $E000               ; acknowledge
        sta $E001
        lda #LATCH
        sta $C000
        inc band
        lda #0                  ; R0
        sta $8000
        lda band
        and #3
        asl a                   ; KiB 0, 2, 4, 6
        sta $8001
        lda #0
        ldx band
:       clc
        adc frame
        dex
        bne :-
        asl a
        bit PPUSTATUS
        sta PPUSCROLL
        lda #0
        sta PPUSCROLL
        lda band                ; odd bands show nametable 1 (takes effect with the next line's
        and #1                  ; horizontal copy, like the scroll)
        ora #CTRL
        sta PPUCTRL
        pla
        tax
        pla
        rti

.segment "RODATA"
bank_values:
        .byte 0, 2, 4, 5, 6, 7, 0, 1
palette:
        .byte $0F, $01, $11, $21,  $0F, $06, $16, $26,  $0F, $09, $19, $29,  $0F, $04, $14, $24
        .byte $0F, $30, $27, $16,  $0F, $30, $2A, $1A,  $0F, $30, $21, $12,  $0F, $30, $25, $15
attribute_rows:
        .byte $00, $55, $AA, $FF
; pulse periods (NTSC, 1789773 / (16 f) - 1): A4 253, C5 212, D5 189, E5 169, G5 142, A5 126
tune:
        .word 253, 212, 189, 169, 142, 169, 189, 212
        .word 253, 169, 142, 126, 142, 169, 212, 189
; triangle periods (1789773 / (32 f) - 1): A2 507, F2 640, G2 570, E2 678
bass:
        .word 507, 640, 570, 678

; Pattern ROM: in every KiB b, tiles 0-3 are background patterns that differ from KiB to KiB
; (stripes, bars, checks, diagonals), tile 16 a ball.
.segment "CHARS"
.repeat 8, b
  .repeat 64, t
    .if t = 0
      .repeat 8, r
        .byte (((r + b) & 2) <> 0) * $FF
      .endrepeat
      .repeat 8, r
        .byte $00
      .endrepeat
    .elseif t = 1
      .repeat 8, r
        .byte ($CC >> (b & 1)) | ($CC << (1 - (b & 1))) & $FF
      .endrepeat
      .repeat 8, r
        .byte $F0 >> (b & 3)
      .endrepeat
    .elseif t = 2
      .repeat 8, r
        .byte ((((r >> 1) + b) & 1) <> 0) * $33 + ((((r >> 1) + b) & 1) = 0) * $CC
      .endrepeat
      .repeat 8, r
        .byte ((((r >> 1) + b) & 1) <> 0) * $CC + ((((r >> 1) + b) & 1) = 0) * $33
      .endrepeat
    .elseif t = 3
      .repeat 8, r
        .byte 1 << ((r + b) & 7)
      .endrepeat
      .repeat 8, r
        .byte $FF
      .endrepeat
    .elseif t = BALL
        .byte $3C, $7E, $FF, $FF, $FF, $FF, $7E, $3C
        .byte $00, $18, $3C, $7E, $7E, $3C, $18, $00
    .else
        .res 16, 0
    .endif
  .endrepeat
.endrepeat

.segment "VECTORS"
        .word nmi, reset, irq
