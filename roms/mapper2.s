; config: prg128_chr32
; Mapper 2: a write anywhere in $8000-$FFFF selects the 16 KiB unit at $8000 by the whole byte
; (wrapping modulo the eight units, no AND with the ROM byte); $C000-$FFFF keeps the last unit,
; $4018-$5FFF keep unit 0, writes below $8000 switch nothing and the pattern tables never change.
.include "banked.inc"
BANKED_IMAGE 8, 4, $21, $00

.segment "RAMCODE"
main:   NT_WRITE 0, $E0         ; page 0 ($2000 in the vertical arrangement)
        NT_WRITE 1, $E1         ; page 1 ($2400)
        EXPECT_PRG 1, "power-on program pages", 0, 1, 14, 15
        lda #3
        sta $8000               ; the ROM byte there is $80: an AND would select unit 0
        EXPECT_PRG 2, "3 written: unit 3 at $8000", 6, 7, 14, 15
        lda #9
        sta $C123
        EXPECT_PRG 3, "9 written at $C123: unit 1 at $8000", 2, 3, 14, 15
        lda #$FF
        sta $FFFF
        EXPECT_PRG 4, "$FF written: unit 7 at $8000", 14, 15, 14, 15
        lda #2
        sta $6010
        EXPECT_PRG 5, "a write to $6010 switched banks", 14, 15, 14, 15
        lda $6010
        cmp #2
        CHECK 6, "cartridge RAM $6010 lost the write"
        lda #4
        sta $A000
        EXPECT_PRG 7, "4 written at $A000: unit 4 at $8000", 8, 9, 14, 15
        EXPECT_CHR 8, "pattern memory changed", 0, 4
        EXPECT_NT 9, "nametables not vertical", $E0, $E1, $E0, $E1
        PASS "mapper 2: ok"
