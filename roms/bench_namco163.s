; config: nrom16
; Benchmark cartridge for mapper 19, with picture and sound: all eight Namco 163 channels play,
; each a 32-sample wave (sine, triangle, square, ramp) of its own, the chord moving to new notes
; every 8 frames and the volumes swelling; the background scrolls sideways and sixteen 8x8 sprites
; bounce over it. Runs forever (no result protocol): nes-headless --frames N.
; 16 KiB of program ROM: at power-on $C000 shows its first 8 KiB and $E000 (fixed) its last, as the
; image is linked. The pattern banks $8000-$B800 show KiB 0-7 of character ROM, the nametable
; slots nametable RAM pages 0, 1, 0, 1 (vertical).
.include "registers.inc"
.include "result.inc"
INES_HEADER 1, 1, $30, $10

oam      = $0700
SPRITES  = 16
BALL     = 16
CTRL     = $88                  ; NMI on, background $0000, 8x8 sprites $1000
MASK     = $1E
PORT_ADDRESS = $F800
PORT_DATA = $4800
WAVE_LENGTH = 32                ; samples

.segment "ZEROPAGE"
frame:      .res 1
nmi_done:   .res 1
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
        bit PPUSTATUS
:       bit PPUSTATUS
        bpl :-
:       bit PPUSTATUS
        bpl :-

.repeat 8, i                    ; pattern banks KiB 0-7, nametable RAM pages 0, 1, 0, 1
        lda #i
        sta $8000 + $800 * i
.endrepeat
        lda #$E0
        sta $C000
        sta $D000
        lda #$E1
        sta $C800
        sta $D800

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

        ; nametables 0 and 1: tile (row + column) AND 3, attributes by rows of 32 lines
        lda #$20
        sta PPUADDR
        lda #$00
        sta PPUADDR
        lda #2
        sta temp
@table: ldy #0
@row:   ldx #0
@col:   stx note
        tya
        clc
        adc note
        and #3
        sta PPUDATA
        inx
        cpx #32
        bne @col
        iny
        cpy #30
        bne @row
        ldx #0
:       txa
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
        dec temp
        bne @table

        ; sprites: spread out, each with its own direction; the rest hidden
        ldx #0
:       lda #$F0
        sta oam,x
        inx
        bne :-
        ldy #0
@spr:   tya
        asl a
        asl a
        asl a
        asl a
        adc #24
        sta oam,x
        lda #BALL
        sta oam+1,x
        tya
        and #3
        sta oam+2,x
        tya
        asl a
        asl a
        asl a
        asl a
        eor #$55
        sta oam+3,x
        tya
        and #1
        asl a
        sec
        sbc #1
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

        ; the waves at $00-$3F, then every channel's bytes: phase 0, wave (channel AND 3), the
        ; count of eight beside channel 8's volume
        lda #$80
        sta PORT_ADDRESS
        ldx #0
:       lda waves,x
        sta PORT_DATA
        inx
        cpx #64
        bne :-
        ldy #0                  ; channel index 0-7, at $40 + 8 y
@chan:  tya
        asl a
        asl a
        asl a
        ora #$80 | $40
        sta PORT_ADDRESS
        ldx #6                  ; frequency and phase 0
        lda #0
:       sta PORT_DATA
        dex
        bne :-
        tya                     ; +6: the wave's start, 32 samples a wave
        and #3
        asl a
        asl a
        asl a
        asl a
        asl a
        sta PORT_DATA
        lda #0                  ; +7: volume 0 until the first frame
        sta PORT_DATA
        iny
        cpy #8
        bne @chan
        lda #$00
        sta note
        lda #1
        sta note_timer
        lda #$00                ; sound on, program bank 0 at $8000
        sta $E000

        lda #CTRL
        sta PPUCTRL
main:   lda #0
        sta nmi_done
:       lda nmi_done
        beq :-
        jsr move_sprites
        jsr play
        jmp main

.include "bouncing_sprites.inc"

; Every frame each channel's volume follows the swell; every 8 frames the chord moves: channel y
; takes note (note + 3 y) AND 15 of `frequencies`.
play:   ldy #0
@volume:
        tya
        asl a
        asl a
        asl a
        ora #$80 | $47          ; +7: volume
        sta PORT_ADDRESS
        tya
        clc
        adc frame
        lsr a
        lsr a
        and #$0F
        tax
        lda swell,x
        cpy #7
        bne :+
        ora #$70                ; eight channels
:       sta PORT_DATA
        iny
        cpy #8
        bne @volume
        dec note_timer
        bne @held
        lda #8
        sta note_timer
        ldy #0
@freq:  tya
        asl a
        asl a
        asl a
        ora #$80 | $40          ; +0: frequency low, then phase, middle, phase, high and length
        sta PORT_ADDRESS
        tya
        sta temp
        asl a
        adc temp                ; 3 y
        adc note
        and #$0F
        sta temp
        asl a
        adc temp                ; 3 bytes a note
        tax
        lda frequencies,x
        sta PORT_DATA
        lda PORT_DATA           ; the phase, read (and skipped)
        lda frequencies+1,x
        sta PORT_DATA
        lda PORT_DATA
        lda frequencies+2,x
        ora #(256 - WAVE_LENGTH) & $FC
        sta PORT_DATA
        iny
        cpy #8
        bne @freq
        inc note
@held:  rts

nmi:    pha
        lda #0
        sta OAMADDR
        lda #>oam
        sta OAMDMA
        bit PPUSTATUS
        lda frame
        sta PPUSCROLL
        lda #0
        sta PPUSCROLL
        lda #CTRL
        sta PPUCTRL
        lda #MASK
        sta PPUMASK
        inc frame
        lda #1
        sta nmi_done
        pla
        rti

irq:    rti

.segment "RODATA"
palette:
        .byte $0F, $01, $11, $21,  $0F, $06, $16, $26,  $0F, $09, $19, $29,  $0F, $04, $14, $24
        .byte $0F, $30, $27, $16,  $0F, $30, $2A, $1A,  $0F, $30, $21, $12,  $0F, $30, $25, $15
attribute_rows:
        .byte $00, $55, $AA, $FF
swell:  .byte 2, 4, 6, 8, 10, 12, 14, 15, 15, 14, 12, 10, 8, 6, 4, 2
; Samples, low nibble first, 32 to a wave: sine, triangle, square, ramp.
waves:  .byte $98, $CB, $ED, $FE, $FF, $EE, $BD, $9A, $67, $34, $12, $01, $00, $11, $42, $65
        .byte $10, $32, $54, $76, $98, $BA, $DC, $FE, $EF, $CD, $AB, $89, $67, $45, $23, $01
        .byte $00, $00, $00, $00, $00, $00, $00, $00, $FF, $FF, $FF, $FF, $FF, $FF, $FF, $FF
        .byte $00, $11, $22, $33, $44, $55, $66, $77, $88, $99, $AA, $BB, $CC, $DD, $EE, $FF
; Frequencies for eight channels and 32-sample waves, 1789773 x F / (15 x 65536 x 8 x 32) Hz.
frequencies:
        .byte $B4, $8F, $00     ; C4
        .byte $4B, $A1, $00     ; D4
        .byte $0D, $B5, $00     ; E4
        .byte $4F, $D7, $00     ; G4
        .byte $AC, $F1, $00     ; A4
        .byte $66, $1F, $01     ; C5
        .byte $98, $42, $01     ; D5
        .byte $19, $6A, $01     ; E5
        .byte $9C, $AE, $01     ; G5
        .byte $58, $E3, $01     ; A5
        .byte $CB, $3E, $02     ; C6
        .byte $30, $85, $02     ; D6
        .byte $A7, $6B, $00     ; G3
        .byte $D6, $78, $00     ; A3
        .byte $86, $5A, $00     ; E3
        .byte $D9, $47, $00     ; C3

.segment "VECTORS"
        .word nmi, reset, irq

; Pattern ROM: in every KiB b, tiles 0-3 are background patterns that differ from KiB to KiB,
; tile 16 a ball.
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
        .byte $F0 >> (b & 3)
      .endrepeat
      .repeat 8, r
        .byte $CC
      .endrepeat
    .elseif t = 2
      .repeat 8, r
        .byte (((r >> 1) & 1) <> 0) * $33 + (((r >> 1) & 1) = 0) * $CC
      .endrepeat
      .res 8, $0F
    .elseif t = 3
      .repeat 8, r
        .byte 1 << ((r + b) & 7)
      .endrepeat
      .res 8, $FF
    .elseif t = BALL
        .byte $3C, $7E, $FF, $FF, $FF, $FF, $7E, $3C
        .byte $00, $18, $3C, $7E, $7E, $3C, $18, $00
    .else
        .res 16, 0
    .endif
  .endrepeat
.endrepeat
