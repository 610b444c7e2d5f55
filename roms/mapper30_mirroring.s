; config: mapper30_prg128
; Mapper 30 submapper 3 (Mega Man II 30th Anniversary Edition): latch bit 7 picks the vertical (1)
; or horizontal (0) arrangement instead of a one-screen page, and there are no bus conflicts (a
; write anywhere in $8000-$FFFF is taken whole, the battery bit being clear). NES 2.0, 128 KiB of
; program ROM, 32 KiB of character RAM, 8 KiB of RAM declared for the result area.
.include "banked.inc"
NES2_HEADER 8, 0, $E8, $10, $30, $07, $09
PRG_IDS 16

.segment "RAMCODE"
main:   EXPECT_WINDOWS 1, "power-on program pages", 0, 1, 14, 15
        lda #$80
        sta $C100
        NT_WRITE 0, $A0         ; page 0
        NT_WRITE 1, $A1         ; page 1
        EXPECT_NT 2, "M = 1: not vertical", $A0, $A1, $A0, $A1
        lda #$00
        sta $C100
        EXPECT_NT 3, "M = 0: not horizontal", $A0, $A0, $A1, $A1
        lda #$83
        sta $8000               ; $80 there: an AND would leave bank 0
        EXPECT_WINDOWS 4, "$83 at $8000", 6, 7, 14, 15
        EXPECT_NT 5, "$83 at $8000: not vertical", $A0, $A1, $A0, $A1
        PASS "mapper 30.3: ok"
