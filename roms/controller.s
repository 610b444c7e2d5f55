; config: prg32_chr8
; Controller ports; run with `--buttons 0:21 --buttons 3:80` (A and Right held, then Start alone from
; the end of frame 3). Reads before any strobe give 0; a non-zero write to $4016 (also $02) latches
; the buttons and restarts the order A, B, Select, Start, Up, Down, Left, Right; the ninth read is A
; again; a write of 0 neither latches nor restarts; the latch ignores later button changes until
; the next strobe; $4017 (second controller, nothing held) reads 0; bits 1-7 always read 0.
.include "banked.inc"
BANKED_IMAGE 2, 1, $00, $00

.segment "ZEROPAGE"
frames_left: .res 1

; probe[0..count-1] := the next `count` reads of $4016.
.macro READ_JOY1 count
        ldy #count
        jsr read_joy1
.endmacro

.segment "RAMCODE"
main:   READ_JOY1 8
        EXPECT_PROBE 1, "reads before the first strobe", {0, 0, 0, 0, 0, 0, 0, 0}
        lda #1
        sta JOYPAD1
        lda #0
        sta JOYPAD1
        READ_JOY1 8
        EXPECT_PROBE 2, "A and Right after a strobe", {1, 0, 0, 0, 0, 0, 0, 1}
        READ_JOY1 2
        EXPECT_PROBE 3, "ninth and tenth read: A, B", {1, 0}
        lda #0                  ; no strobe: the order goes on with Select
        sta JOYPAD1
        READ_JOY1 5
        EXPECT_PROBE 4, "a write of 0 restarted the order", {0, 0, 0, 0, 0}
        lda #$02                ; bit 1 alone strobes too (mid-sequence), and stays written
        sta JOYPAD1
        READ_JOY1 8
        EXPECT_PROBE 5, "strobe with $02", {1, 0, 0, 0, 0, 0, 0, 1}
        ldx #0
@joy2:  lda JOYPAD2
        sta probe,x
        inx
        cpx #8
        bne @joy2
        EXPECT_PROBE 6, "second controller", {0, 0, 0, 0, 0, 0, 0, 0}

        lda #4                  ; wait until Start alone is held
        sta frames_left
@frame: bit PPUSTATUS
        bpl @frame
        dec frames_left
        bne @frame
        READ_JOY1 8             ; no strobe since the button change
        EXPECT_PROBE 7, "the latch followed the buttons without a strobe", {1, 0, 0, 0, 0, 0, 0, 1}
        lda #$FF
        sta JOYPAD1
        READ_JOY1 8
        EXPECT_PROBE 8, "Start after a new strobe", {0, 0, 0, 1, 0, 0, 0, 0}
        PASS "controller ports: ok"

read_joy1:
        ldx #0
@next:  lda JOYPAD1
        sta probe,x
        inx
        dey
        bne @next
        rts
