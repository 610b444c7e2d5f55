; config: mmc3_prg32_chr8
; MMC3 IRQ timing to the PPU dot, by differences between setups: the standard one (background at
; $0000, 8x8 sprites at $1000), the reverse, rendering off for some lines, a $C001 reload before
; and after a line's counted rise, and 8x16 sprites taking patterns from both tables.
;
; How the arrival of an IRQ is measured. After a sync to the VBL flag the PPU and the CPU keep a
; fixed relation: every frame has 89342 dots, since rendering is off at the pre-render line's
; dot 339 (it is only on from line 0 to about line 42), so no dot is skipped. A block takes
; exactly 59561 cycles = 178683 dots, one dot less than two frames, so each block starts with the
; PPU one dot further behind the program than the one before. In a block the CPU sets the
; counter up in vblank, turns rendering on early in line 0 (dot ~30, after the pre-render line),
; then runs a slide of NOPs with interrupts allowed; the handler takes the return address, i.e.
; the index i of the NOP not yet executed.
; A NOP polls the IRQ line at the end of its first cycle, so if the mapper raises it at dot E
; (counted from a fixed point of the frame) and the slide starts at a fixed cycle, i = ceil((E - q
; - K) / 6) for some constant K, where q is how many dots the PPU is ahead of that block's program.
; Over six blocks q takes six consecutive values, and the sum of ceil((X - j) / 6) for j = 0..5
; is X, so the sum of the six indices is E - K + constant: the IRQ's dot to the dot. Every
; setup is measured this way from the same sync; differences between setups are then exact
; differences between the dots at which the counter reaches 0 with IRQs enabled.
;
; The timeline of a block (dots of line L are "L.d"; rendering on from 0.~30):
; - PPUADDR $00,$00 in vblank: the bus carries v = $0000, A12 low; latch, $C001, $E000, $E001.
; - 0.~30: PPUMASK $18. The pre-render line made no fetches, so the first counted rise is the
;   first of this frame: 0.261 in the standard setup; with the background at $1000 the first
;   background pattern fetch after rendering starts (about 0.37), which only reloads.
; - 4.~100: PPUMASK := `off` ($18: stays on); 10.~100: PPUMASK := `on`, and a write of the latch
;   value to `reload1` ($C000: changes nothing; $C001: reload); 10.~300: the same to `reload2`.
; - 10.~335 to ~42: the slide; then rendering off, the next block's OAM through OAMDATA, a pause.
;
; Derived arrival dots (rules: the counted rise is the sprite fetch at dot 261 of each line in the
; standard setup; dot 325 with background $1000 and 8x8 sprites at $0000, the 9-dot low gap
; before dot 5 not counting; in 8x16 mode slot s fetches at 261 + 8s with A12 = tile bit 0, 1 for
; empty slots (tile $FF), a 4-dot low gap between two high slots not counting and a 12-dot one
; (a low slot between) counting; a clock with the counter 0 or the reload flag loads the latch,
; else decrements; at 0 with IRQs on the line goes low). Setup A, latch 20: clock 1 at 0.261
; loads 20, clock k+1 at k.261 leaves 20 - k: the IRQ at 20.261. Each row below gives its dot and
; the difference from A that is checked (derived):
;  1. A, latch 21: 21.261, +341 (one line per count: latch+1 lines from the reload).
;  2. B (background $1000, sprites $0000), latch 20: clock 1 at the first background fetch of
;     line 0 (loads 20), clock 2 at 0.325 ... clock 21 at 19.325: 19.325, -341 + 64 = -277.
;  3. A, rendering off from 4.100 to 10.100: lines 4-9 lose their clocks (at turn-off v's fine Y
;     is 4, so v bit 12 and the bus's A12 stay 0): 26.261, +6 * 341 = +2046.
;  4. A, rendering off from 4.100 for good: the counter stops; no IRQ in any block.
;  5. A, $C001 at 10.100: counter 0 and reload; 10.261 loads 20: 30.261, +10 * 341 = +3410.
;  6. A, $C001 at 10.300, after that line's clock: 11.261 loads 20: 31.261, +11 * 341 = +3751.
;  7. 8x16 sprites, background $0000, no sprite on any line: eight empty slots, A12 = 1 from
;     0.261 with 4-dot gaps only: one clock at k.261 as in A: 20.261, difference 0.
;  8. 8x16, sprite 0 at Y = 8 with tile $00 (table $0000) on lines 8-23: slot 0 low, slot 1
;     (empty, high) at 269 after 12 low dots: those lines clock at 269; line 20 is one: 20.269, +8.
;  9. 8x16, latch 21, sprite 0 tile $01 (high) and sprite 1 tile $00 (low) at Y = 8: on lines
;     8-23 clocks at 261 and at slot 2's 277 (12 low dots: slot 1 and the garbage fetches around
;     it). Clocks 1-8 on lines 0-7 leave 14; two per line from line 8: after line k, 28 - 2k; line
;     14's second clock reaches 0: 14.277, -6 * 341 + 16 = -2030.
; 10. 8x16, eight sprites with tile $00 at Y = 8: every slot low on lines 8-23, no rise there.
;     Clocks 1-8 leave 13, line 24 resumes: 0 at line 36: 36.261, +16 * 341 = +5456.
; Codes: 1 the base setup saw no IRQ in some block, 2-11 rows 1-10 (the text gives what was
; measured: the difference in dots, or how many of the six blocks saw an IRQ).
.include "registers.inc"
.include "result.inc"
.include "delay.inc"
INES_HEADER 2, 1, $40, $00

BLOCK_CYCLES = 59561            ; two frames of 89342 dots, less one dot
SLIDE_NOPS   = 1800
IRQ_CYCLES   = 38               ; the interrupt sequence (7) and the handler, RTI included

.segment "ZEROPAGE"
cfg:        .res 0              ; the current setup, copied from `setups`
cfg_ctrl:   .res 1
cfg_latch:  .res 1
cfg_off:    .res 1
cfg_on:     .res 1
cfg_reload1: .res 2
cfg_reload2: .res 2
cfg_oam:    .res 2
CFG_SIZE = 10
ret:        .res 2              ; return address the handler found
irq_count:  .res 1
sum:        .res 2              ; sum of the six indices
seen:       .res 1              ; blocks that saw an IRQ
blocks:     .res 1
setup:      .res 1
ptr:        .res 2
base:       .res 2              ; setup A's sum
diff:       .res 2
text_ptr:   .res 2

.segment "BSS"
sums:       .res 2 * 16
seens:      .res 16

.segment "CODE"
reset:  TEST_RESET
        cld
        lda #0
        sta PPUCTRL
        sta PPUMASK
        sta setup
        ; R7 = 1 so that $A000 shows the second page (only $C000-$FFFF is used)
        lda #7
        sta $8000
        lda #1
        sta $8001
        ; one warm-up run of setup A, not counted: it leaves secondary OAM as every later block
        ; finds it (no sprite on the line where rendering stopped)
        jsr measure
@next:  jsr measure
        lda setup
        asl a
        tax
        lda sum
        sta sums,x
        lda sum+1
        sta sums+1,x
        ldx setup
        lda seen
        sta seens,x
        inc setup
        lda setup
        cmp #SETUPS
        bne @next
        jmp verdicts

; Runs setup `setup` in six blocks: sum := the sum of the six indices, seen := how many blocks saw
; an IRQ.
measure:
        lda setup
        asl a
        asl a
        asl a
        adc setup
        adc setup               ; setup * 10
        tax
        ldy #0
@copy:  lda setups,x
        sta cfg,y
        inx
        iny
        cpy #CFG_SIZE
        bne @copy
        ldy #0                  ; OAM for the first block
@oam:   lda (cfg_oam),y
        sta OAMDATA
        iny
        bne @oam
        jsr sync_vbl
        lda #6                  ; 2+3
        sta blocks
        lda #0                  ; 2+3+3+3
        sta sum
        sta sum+1
        sta seen
@block: jsr block               ; BLOCK_BODY cycles, JSR and RTS included
        sec                     ; 45 cycles: index := return address - slide
        lda ret
        sbc #<slide
        tax
        lda ret+1
        sbc #>slide
        tay
        clc
        txa
        adc sum
        sta sum
        tya
        adc sum+1
        sta sum+1
        clc
        lda seen
        adc irq_count
        sta seen
        dec blocks              ; 5
        bne @block              ; 3
        .assert .hibyte(@block) = .hibyte(*), error, "block loop crosses a page"
        rts

BLOCK_BODY = BLOCK_CYCLES - 45 - 5 - 3

; Waits for the VBL flag, then steps until the flag is first seen by the second of two PPUSTATUS
; reads 4 cycles apart: each turn of 29781 cycles is one dot longer than a frame with rendering
; off, so the flag's setting creeps one dot earlier per turn and is caught at the same dot
; relative to the read every time.
sync_vbl:
        bit PPUSTATUS
:       bit PPUSTATUS
        bpl :-
        DELAY 29758             ; the next flag comes 1-10 cycles after the second read below
        jmp sync_first
sync_turn:  DELAY 29781 - 4 - 4 - 3
sync_first: bit PPUSTATUS
        bit PPUSTATUS
        bpl sync_turn
        .assert .hibyte(sync_turn) = .hibyte(*), error, "sync loop crosses a page"
        rts

; One measurement; exactly BLOCK_BODY cycles from the JSR to the end of the RTS. The cycle counts
; in the comments are from the JSR's first cycle.
block:                          ; 6
        lda cfg_ctrl            ; 3
        sta PPUCTRL             ; 4
        lda #0                  ; 2
        sta PPUADDR             ; 4
        sta PPUADDR             ; 4: v = $0000
        sta OAMADDR             ; 4
        sta irq_count           ; 3
        lda cfg_latch           ; 3
        sta $C000               ; 4
        sta $C001               ; 4
        sta $E000               ; 4
        sta $E001               ; 4: 49
        DELAY 2362 - 49
        lda #$18                ; 2
        sta PPUMASK             ; 4: line 0, dot ~30
        DELAY 2840 - 2368
        lda cfg_off             ; 3
        sta PPUMASK             ; 4: line 4, dot ~100
        DELAY 3522 - 2847
        lda cfg_on              ; 3
        sta PPUMASK             ; 4: line 10, dot ~100
        lda cfg_latch           ; 3
        ldy #0                  ; 2
        sta (cfg_reload1),y     ; 6
        DELAY 3588 - 3540
        lda cfg_latch           ; 3
        sta (cfg_reload2),y     ; 6: line 10, dot ~300
        cli                     ; 2: 3599
slide:
.repeat SLIDE_NOPS
        nop
.endrepeat
        sei                     ; 2
        lda irq_count           ; 3
        bne block_seen               ; 3 taken (2 + the delay + 3 otherwise, as long as the handler)
block_none:  DELAY IRQ_CYCLES - 2
        jmp block_seen
block_seen:  .assert .hibyte(block_none) = .hibyte(block_seen), error, "branch crosses a page"
        lda #0                  ; 2
        sta PPUMASK             ; 4: rendering off, line ~42
        ldy #0                  ; 2
@oam:   lda (cfg_oam),y         ; 5 (tables are page-aligned)
        sta OAMDATA             ; 4
        iny                     ; 2
        bne @oam                ; 3, 2 at the end: 256 * 14 - 1
        .assert .hibyte(@oam) = .hibyte(*), error, "OAM loop crosses a page"
        DELAY BLOCK_BODY - (3599 + 2 * SLIDE_NOPS + IRQ_CYCLES + 2 + 3 + 3 + 2 + 4 + 2 + 3583) - 6
        rts                     ; 6

; The IRQ: acknowledge, note the return address; IRQ_CYCLES with the interrupt sequence.
irq:    sta $E000               ; 4
        tsx                     ; 2
        lda $0102,x             ; 4
        sta ret                 ; 3
        lda $0103,x             ; 4
        sta ret+1               ; 3
        inc irq_count           ; 5
        rti                     ; 6

; ---- verdicts ----------------------------------------------------------------------------------

; Fails with `code` and `text` unless setup `n` saw `count` IRQs in its six blocks.
.macro EXPECT_SEEN code, n, count, text
        .local ok, message
        lda seens + n
        cmp #count
        beq ok
        lda seens + n
        sta diff
        lda #0
        sta diff+1
        lda #code
        ldx #<message
        ldy #>message
        jmp report
message: .asciiz text
ok:
.endmacro

; Fails with `code` and `text` unless setup `n` saw six IRQs whose sum less setup A's is `dots`.
.macro EXPECT_DOTS code, n, dots, text
        .local ok, bad, message
        EXPECT_SEEN code, n, 6, text
        sec
        lda sums + 2 * n
        sbc base
        sta diff
        lda sums + 2 * n + 1
        sbc base+1
        sta diff+1
        lda diff
        cmp #<(dots)
        bne bad
        lda diff+1
        cmp #>((dots) & $FFFF)
        beq ok
bad:    lda #code
        ldx #<message
        ldy #>message
        jmp report
message: .asciiz text
ok:
.endmacro

verdicts:
        EXPECT_SEEN 1, 0, 6, "setup A: IRQs seen"
        lda sums
        sta base
        lda sums+1
        sta base+1
        EXPECT_DOTS 2, 1, 341, "latch 21 vs 20: dots"
        EXPECT_DOTS 3, 2, -277, "background $1000, sprites $0000: dots"
        EXPECT_DOTS 4, 3, 2046, "rendering off lines 4-9: dots"
        EXPECT_SEEN 5, 4, 0, "rendering off from line 4: IRQs seen"
        EXPECT_DOTS 6, 5, 3410, "$C001 at 10.100: dots"
        EXPECT_DOTS 7, 6, 3751, "$C001 at 10.300: dots"
        EXPECT_DOTS 8, 7, 0, "8x16, no sprites: dots"
        EXPECT_DOTS 9, 8, 8, "8x16, low slot 0: dots"
        EXPECT_DOTS 10, 9, -2030, "8x16, high slot 0, low slot 1: dots"
        EXPECT_DOTS 11, 10, 5456, "8x16, eight low slots: dots"
        TEST_END 0, "MMC3 IRQ timing: ok"

; A = code, X/Y = text: reports the text, then `diff` as four hex digits, and stops.
report: pha
        stx text_ptr
        sty text_ptr+1
        ldy #0
@copy:  lda (text_ptr),y
        beq @copied
        sta result_text,y
        iny
        bne @copy
@copied:
        lda #' '
        sta result_text,y
        iny
        lda diff+1
        jsr @byte
        lda diff
        jsr @byte
        lda #0
        sta result_text,y
        pla
        sta result_code
@stop:  jmp @stop
@byte:  pha
        lsr a
        lsr a
        lsr a
        lsr a
        jsr @digit
        pla
        and #$0F
@digit: cmp #10
        bcc @decimal
        adc #'A' - '0' - 10 - 1
@decimal:
        adc #'0'
        sta result_text,y
        iny
        rts

; ---- setups ------------------------------------------------------------------------------------

CTRL_A    = $08                 ; background $0000, 8x8 sprites $1000
CTRL_B    = $10                 ; background $1000, 8x8 sprites $0000
CTRL_8X16 = $20                 ; background $0000, 8x16 sprites

; ctrl, latch, off, on, reload1, reload2, OAM
.macro SETUP ctrl, latch, off, on, reload1, reload2, oam
        .byte ctrl, latch, off, on
        .word reload1, reload2, oam
.endmacro

.segment "RODATA"
setups:
        SETUP CTRL_A,    20, $18, $18, $C000, $C000, oam_none      ; A
        SETUP CTRL_A,    21, $18, $18, $C000, $C000, oam_none      ; 1
        SETUP CTRL_B,    20, $18, $18, $C000, $C000, oam_none      ; 2
        SETUP CTRL_A,    20, $00, $18, $C000, $C000, oam_none      ; 3
        SETUP CTRL_A,    20, $00, $00, $C000, $C000, oam_none      ; 4
        SETUP CTRL_A,    20, $18, $18, $C001, $C000, oam_none      ; 5
        SETUP CTRL_A,    20, $18, $18, $C000, $C001, oam_none      ; 6
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_none      ; 7
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_low0      ; 8
        SETUP CTRL_8X16, 21, $18, $18, $C000, $C000, oam_high_low  ; 9
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_low8      ; 10
SETUPS = (* - setups) / CFG_SIZE

.macro HIDDEN count
.repeat count
        .byte $FF, $FF, $FF, $FF
.endrepeat
.endmacro

.align 256
oam_none:       HIDDEN 64
oam_low0:       .byte 8, $00, $00, 40
                HIDDEN 63
oam_high_low:   .byte 8, $01, $00, 40,  8, $00, $00, 60
                HIDDEN 62
oam_low8:
.repeat 8, k
                .byte 8, $00, $00, 16 + 24 * k
.endrepeat
                HIDDEN 56

.segment "VECTORS"
        .word reset, reset, irq
