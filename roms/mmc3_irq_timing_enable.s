; config: mmc3_prg32_chr8
; MMC3 IRQ timing when rendering starts in the middle of line 0: the first pattern fetches after
; the start take A12 from the PPUCTRL of the moment, whatever earlier frames fetched. The blocks
; and sums are those of mmc3_irq_timing.s (which see); here each block's last rendered line can be
; drawn with PPUCTRL = `end` = $18 (background and sprites at $1000, so the fetches there have
; A12 = 1) before rendering stops, and the next block starts rendering at 0.~40 with the setup's
; own PPUCTRL.
;
; Derived: with the background at $0000, every background fetch of line 0 from the start of
; rendering on has A12 = 0 (bgbase + tile * 16 + fine Y with bgbase = $0000, the tile byte
; whatever it is), so there is no rise before the sprite fetch at 0.261 and the IRQ comes where it
; comes in the standard setup: differences 0.
;  1. standard setup (8x8 sprites at $1000), latch 20, after $18-ended blocks: 20.261, 0.
;  2. 8x16 sprites, no sprite on any line, after $18-ended blocks: 20.261 as in the standard
;     setup (one clock per line at slot 0's fetch), 0.
; Codes: 1 the base setup saw no IRQ in some block, 2-3 rows 1-2 (the text gives the measured
; difference in dots, or the number of blocks that saw an IRQ).
.include "mmc3_irq_timing.inc"
INES_HEADER 2, 1, $40, $00

.segment "CODE"
verdicts:
        EXPECT_SEEN 1, 0, 6, "setup A: IRQs seen"
        lda sums
        sta base
        lda sums+1
        sta base+1
        EXPECT_DOTS 2, 2, 0, "start after a frame of $1000 fetches: dots"
        EXPECT_DOTS 3, 4, 0, "8x16, start after a frame of $1000 fetches: dots"
        TEST_END 0, "MMC3 IRQ timing, rendering started mid-line: ok"

.segment "RODATA"
setups:
        SETUP CTRL_A,    20, $18, $18, $C000, $C000, oam_none, $00      ; A
        SETUP CTRL_A,    20, $18, $18, $C000, $C000, oam_none, $18      ; ends with $1000 fetches
        SETUP CTRL_A,    20, $18, $18, $C000, $C000, oam_none, $18      ; 1: after such blocks
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_none, $18      ; ends with $1000 fetches
        SETUP CTRL_8X16, 20, $18, $18, $C000, $C000, oam_none, $18      ; 2: after such blocks
SETUPS = (* - setups) / CFG_SIZE
