; config: nrom16
; Pulse notes for the WAV tests, each between stretches of silence: pulse 1 at period 200 with
; constant volume 15 in duties 0 to 3; pulse 2 swept up from period $100 (shift 1); pulse 1 swept
; down from $200 (negate, shift 2); pulse 1 at period 50 with a looping envelope of period 0.
.include "apu_notes.inc"

.segment "CODE"
zero_sample:                    ; $C000
        .byte $00

reset:  TEST_RESET
        SILENT_START 0, $00
        WAIT_FRAMES 2

        ; Duties 0-3: 4 frames each, then 2 frames of silence.
        ldy #$00
duties: tya
        ora #$3F                ; constant volume 15, length halted
        sta SQ1_VOL
        lda #200
        sta SQ1_LO
        lda #$08
        sta SQ1_HI
        WAIT_FRAMES 4
        lda #$30
        sta SQ1_VOL
        WAIT_FRAMES 2
        tya
        clc
        adc #$40
        tay
        bne duties

        ; Sweep up on pulse 2: enabled, sweep period 1, shift 1, from $100.
        lda #$BF
        sta SQ2_VOL
        lda #$91
        sta SQ2_SWEEP
        lda #$00
        sta SQ2_LO
        lda #$09
        sta SQ2_HI
        WAIT_FRAMES 9
        lda #$30
        sta SQ2_VOL
        lda #$00
        sta SQ2_SWEEP
        WAIT_FRAMES 2

        ; Sweep down on pulse 1: enabled, sweep period 1, negate, shift 2, from $200.
        lda #$BF
        sta SQ1_VOL
        lda #$9A
        sta SQ1_SWEEP
        lda #$00
        sta SQ1_LO
        lda #$0A
        sta SQ1_HI
        WAIT_FRAMES 17
        lda #$30
        sta SQ1_VOL
        lda #$00
        sta SQ1_SWEEP
        WAIT_FRAMES 2

        ; Looping envelope of period 0 on pulse 1, duty 2, period 50.
        lda #$A0
        sta SQ1_VOL
        lda #50
        sta SQ1_LO
        lda #$08
        sta SQ1_HI
        WAIT_FRAMES 10
        lda #$30
        sta SQ1_VOL
        WAIT_FRAMES 2
        TEST_END 0, "pulse notes played"

.segment "VECTORS"
        .word reset, reset, reset
