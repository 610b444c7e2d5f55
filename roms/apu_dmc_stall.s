; config: nrom32
; A DMC sample fetch stalls the CPU: four bus cycles at every rate of the table, one cycle before
; any rate has been written (period 0), and four inside a sprite DMA. The trace test reads the CYC
; column at the fixed addresses noted below, so the routines at $8000-$8113 keep their layout.
.include "result.inc"
.include "registers.inc"
INES_HEADER 2, 1, $01, $00

.segment "CODE"
; $8000-$80EF: 240 NOPs (480 cycles), $80F0: RTS. Each measured sample's fetch falls in here.
sled:
.repeat 240
        nop
.endrepeat
        rts

; $80F1: STA SND_CHN; $80F4-$8103: 16 NOPs; $8104: RTS. The first fetch ever (period 0) comes on
; the cycle after the enable, the opcode fetch of the NOP at $80F4.
enable_then_nops:
        sta SND_CHN
.repeat 16
        nop
.endrepeat
        rts

; $8105: STA SND_CHN; $8108: LDA #2; $810A: STA OAMDMA; $810D: RTS. The fetch comes 56 cycles
; after the enable, inside the DMA's 513 cycles.
dma_with_fetch:
        sta SND_CHN
        lda #$02
        sta OAMDMA
        rts

; $810E: LDA #2; $8110: STA OAMDMA; $8113: RTS.
dma_plain:
        lda #$02
        sta OAMDMA
        rts

; About 5100 cycles: longer than a whole one-byte sample at the slowest rate (9 x 430 cycles).
wait_sample_end:
        lda #4
@outer: ldx #0
@inner: dex
        bne @inner
        sec
        sbc #1
        bne @outer
        rts

reset:  TEST_RESET
        lda #$40                ; no frame interrupt
        sta FRAME_COUNTER
        lda #0                  ; one-byte samples from $C000
        sta DMC_START
        sta DMC_LEN

        ; Period 0 (no rate written yet): the fetch is a single read.
        lda #$10
        jsr enable_then_nops
        jsr wait_sample_end

        ; A sample at rate 15 leaves the timer at 55 when it ends.
        lda #$0F
        sta DMC_FREQ
        lda #$10
        sta SND_CHN
        jsr wait_sample_end

        ; Every rate: the fetch falls (previous period + 2) cycles after the enable, in the sled.
        ldy #0
rates:  sty DMC_FREQ
        lda #$10
        sta SND_CHN
        jsr sled
        jsr wait_sample_end
        iny
        cpy #16
        bne rates

        ; Sprite DMA, without and with a fetch inside it.
        jsr dma_plain
        lda #$0F
        sta DMC_FREQ
        lda #$10
        jsr dma_with_fetch
        jsr wait_sample_end
        TEST_END 0, "DMC fetches ran"

.segment "VECTORS"
        .word reset, reset, reset
