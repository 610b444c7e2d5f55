; config: mmc3_prg32_chr8
; MMC3 IRQ timing to the PPU dot, by differences between setups: the standard one (background at
; $0000, 8x8 sprites at $1000), the reverse, rendering off for some lines, a $C001 reload before
; and after a line's counted rise, and 8x16 sprites taking patterns from both tables.
;
; How the arrival of an IRQ is measured. After a sync to the VBL flag the PPU and the CPU keep a
; fixed relation: every frame has 89342 dots, since rendering is off at the pre-render line's
; dot 339 (it is on from line 0 to about line 43, in row 11 also from 260.100 to 261.312), so no
; dot is skipped. A block takes
; exactly 59561 cycles = 178683 dots, one dot less than two frames, so each block starts with the
; PPU one dot further behind the program than the one before. In a block the CPU sets the
; counter up in vblank, turns rendering on early in line 0 (dot ~40, after the pre-render line),
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
; The timeline of a block (dots of line L are "L.d"; rendering on from 0.~40):
; - PPUADDR $00,$00 in vblank: the bus carries v = $0000, A12 low; latch, $C001, $E000, $E001.
; - 260.~100: PPUMASK := `pre` ($00, rendering stays off, but in row 11); 261.~312 (after the
;   copy of t into v at dot 304, so v = $0000 and A12 = 0; before 325 and the skipped dot 339):
;   PPUMASK $00.
; - 0.~40: PPUMASK $18. Outside row 11 the pre-render line made no fetches, so the first counted
;   rise is the first of this frame: 0.261 in the standard setup; with the background at $1000
;   the first background pattern fetch after rendering starts (about 0.45), which only reloads.
; - 4.~100: PPUMASK := `off` ($18: stays on); 10.~100: PPUMASK := `on`, and a write of the latch
;   value to `reload1` ($C000: changes nothing; $C001: reload); 10.~300: the same to `reload2`.
; - 10.~335 to ~42: the slide; then a line rendered with PPUCTRL := `end` ($00 here: every fetch
;   address below $1000), rendering off, the next block's OAM through OAMDATA, a pause.
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
; 11. B with rendering on from 260.100 to 261.312: A12 was low through vblank (v = $0000), so the
;     pre-render line's first background fetch at 261.5 counts: clock 1 (loads 20); 261.325 is
;     not reached. Rendering on again at 0.40 after the long low stretch: clock 2 at the first
;     background fetch, 0.325 clock 3, k.325 clock k + 3, 0 at clock 21: 18.325, -682 + 64 = -618
;     (one line before B: the dot-5 clock of the pre-render line).
; Codes: 1 the base setup saw no IRQ in some block, 2-12 rows 1-11 (the text gives what was
; measured: the difference in dots, or how many of the six blocks saw an IRQ).
.include "mmc3_irq_timing.inc"
INES_HEADER 2, 1, $40, $00

.segment "CODE"
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
        EXPECT_DOTS 12, 11, -618, "pre-render line from dot 0, background $1000: dots"
        TEST_END 0, "MMC3 IRQ timing: ok"

.segment "RODATA"
setups:
        SETUP CTRL_A,    20, $18, $18, $C000, $C000, oam_none, $00      ; A
        SETUP CTRL_A,    21, $18, $18, $C000, $C000, oam_none, $00      ; 1
        SETUP CTRL_B,    20, $18, $18, $C000, $C000, oam_none, $00      ; 2
        SETUP CTRL_A,    20, $00, $18, $C000, $C000, oam_none, $00      ; 3
        SETUP CTRL_A,    20, $00, $00, $C000, $C000, oam_none, $00      ; 4
        SETUP CTRL_A,    20, $18, $18, $C001, $C000, oam_none, $00      ; 5
        SETUP CTRL_A,    20, $18, $18, $C000, $C001, oam_none, $00      ; 6
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_none, $00      ; 7
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_low0, $00      ; 8
        SETUP CTRL_8X16, 21, $18, $18, $C000, $C000, oam_high_low, $00  ; 9
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_low8, $00      ; 10
        SETUP CTRL_B,    20, $18, $18, $C000, $C000, oam_none, $00, $18 ; 11
SETUPS = (* - setups) / CFG_SIZE

