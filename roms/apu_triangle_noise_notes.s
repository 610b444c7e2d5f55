; config: nrom16
; Noise and triangle notes for the WAV tests, each after a stretch of silence: noise in short mode
; (period index 4, constant volume 15), noise in long mode, then a triangle note of period 100 that
; its linear counter (20 quarter frames from a $4017 write) ends.
.include "apu_notes.inc"

.segment "CODE"
zero_sample:                    ; $C000
        .byte $00

reset:  TEST_RESET
        SILENT_START 0, $84     ; the noise shifts in short mode from power-on
        WAIT_FRAMES 2

        lda #$3F                ; short mode: constant volume 15
        sta NOISE_VOL
        lda #$08
        sta NOISE_HI
        WAIT_FRAMES 4
        lda #$30
        sta NOISE_VOL
        WAIT_FRAMES 2

        lda #$04                ; long mode, same period
        sta NOISE_LO
        lda #$3F
        sta NOISE_VOL
        WAIT_FRAMES 4
        lda #$30
        sta NOISE_VOL
        WAIT_FRAMES 2

        ; Triangle: linear counter 20, control clear; length 254 half frames.
        lda #$14
        sta TRI_LINEAR
        lda #100
        sta TRI_LO
        lda #$00
        sta FRAME_COUNTER       ; quarter frames from here: 7458, 14915 ... the 20th at 149150
        lda #$08
        sta TRI_HI              ; written 6 cycles after the frame counter
        WAIT_FRAMES 7
        TEST_END 0, "triangle and noise notes played"

.segment "VECTORS"
        .word reset, reset, reset
