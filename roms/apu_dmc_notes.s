; config: nrom16
; DMC notes for the WAV tests: a looped 17-byte sample at rate 15 from level 63 (up to the 127
; ceiling, down to 47, back to 63, then a wobble), then a one-byte sample with its interrupt: the
; handler sets the level to 127 and clears the IRQ flag of $4010, so the DMC switches itself off
; at its next timer expiry. Passes when exactly one interrupt came, with status $80 (the DMC's
; interrupt and no sample bytes left).
.include "apu_notes.inc"

irq_count  = $10
irq_status = $11

.segment "CODE"
loop_sample:                    ; $C000, $4012 = 0
        .byte $FF, $FF, $FF, $FF, $FF, $00, $00, $00, $00, $00, $FF
        .byte $55, $55, $55, $55, $55, $55
        .res 64 - (* - loop_sample), 0
end_sample:                     ; $C040, $4012 = 1
        .byte $FF
        .res 63, 0
zero_sample:                    ; $C080, $4012 = 2
        .byte $00

; Waits Y x 1286 cycles.
delay:  ldx #0
@inner: dex
        bne @inner
        dey
        bne delay
        rts

irq:    pha
        lda SND_CHN             ; acknowledges the interrupt
        sta irq_status
        lda #$7F
        sta DMC_RAW
        lda #$0F                ; IRQ flag off: the ended sample now switches the DMC off
        sta DMC_FREQ
        inc irq_count
        pla
        rti

reset:  TEST_RESET
        lda #0
        sta irq_count
        sta irq_status
        SILENT_START 2, $00
        lda #$40                ; no frame interrupt
        sta FRAME_COUNTER
        ldy #47                 ; about two frames of silence
        jsr delay

        ; Looped sample: 17 bytes, rate 15 (a bit every 56 cycles), from level 63.
        lda #$0F
        sta SND_CHN
        lda #63
        sta DMC_RAW
        lda #0
        sta DMC_START
        lda #1
        sta DMC_LEN
        lda #$4F
        sta DMC_FREQ
        lda #$1F
        sta SND_CHN
        ldy #186                ; about eight frames
        jsr delay
        lda #$0F                ; DMC off: level 64 as a disabled channel
        sta SND_CHN
        ldy #47
        jsr delay

        ; One byte of rising bits with the interrupt at its end.
        lda #$8F
        sta DMC_FREQ
        lda #63
        sta DMC_RAW
        lda #1
        sta DMC_START
        lda #0
        sta DMC_LEN
        bit SND_CHN             ; drops the interrupt still pending from the silent start
        cli
        lda #$1F
        sta SND_CHN
wait:   lda irq_count
        beq wait
        sei
        ldy #47
        jsr delay
        lda irq_count
        cmp #1
        EXPECT_EQ 2, "more than one DMC interrupt"
        lda irq_status          ; only the DMC interrupt, and no sample bytes left
        cmp #$80
        EXPECT_EQ 3, "the interrupt came before the sample's end or not from the DMC"
        TEST_END 0, "DMC notes played"

.segment "VECTORS"
        .word reset, reset, irq
