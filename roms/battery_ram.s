; config: nrom32
; A game that saves all the time: its cartridge RAM is battery-backed (header byte 6, bit 1), and it
; rewrites all 8 KiB of it for ever, pass after pass, from $6000 up, each pass with the value one
; above the value found at $6000 when the pass starts. Started on zeroed RAM, the RAM at any moment
; holds some value v+1 up to a point and v after it.
.include "result.inc"
INES_HEADER 2, 1, $02, $00

pointer = $00

.segment "CODE"
reset:  sei
        cld
        ldx #$FF
        txs
pass:   lda $6000
        clc
        adc #1
        ldy #0
        sty pointer
        ldx #$60
        stx pointer+1
fill:   sta (pointer),y
        iny
        bne fill
        inc pointer+1
        ldx pointer+1
        cpx #$80
        bne fill
        jmp pass

.segment "VECTORS"
        .word reset, reset, reset
