; config: prg128_chr32
; Mapper 7: a write to $8000-$FFFF selects the 32 KiB program bank by its low three bits (modulo
; the four banks here) and puts all four nametables on page (bit 4); pattern memory never changes.
.include "banked.inc"
BANKED_IMAGE 8, 4, $70, $00

.segment "RAMCODE"
main:   NT_WRITE 0, $E0         ; tags nametable page 0 ($2000 in the horizontal arrangement)
        NT_WRITE 2, $E1         ; and page 1 ($2800)
        EXPECT_NT 1, "power-on nametables not horizontal", $E0, $E0, $E1, $E1
        EXPECT_PRG 2, "power-on program pages", 0, 1, 14, 15
        lda #$02
        sta $8000               ; the ROM byte there is $80: no AND applies
        EXPECT_PRG 3, "$02 written: 32 KiB bank 2", 8, 9, 10, 11
        EXPECT_NT 4, "$02 written: nametables not all page 0", $E0, $E0, $E0, $E0
        lda #$15
        sta $FFF0
        EXPECT_PRG 5, "$15 written: bank 5, that is 1 of 4", 4, 5, 6, 7
        EXPECT_NT 6, "$15 written: nametables not all page 1", $E1, $E1, $E1, $E1
        lda #$E8
        sta $C000               ; bits 5-7 do not select the page
        EXPECT_PRG 7, "$E8 written: bank 0", 0, 1, 2, 3
        EXPECT_NT 8, "$E8 written: nametables not all page 0", $E0, $E0, $E0, $E0
        lda #$13
        sta $A000
        EXPECT_PRG 9, "$13 written: bank 3", 12, 13, 14, 15
        EXPECT_NT 10, "$13 written: nametables not all page 1", $E1, $E1, $E1, $E1
        EXPECT_CHR 11, "pattern memory changed", 0, 4
        PASS "mapper 7: ok"
