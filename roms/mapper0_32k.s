; config: prg32_chr8
; Mapper 0 with two 16 KiB units: the 32 KiB are seen once, in order, at $8000-$FFFF, and the 8 KiB of
; character ROM fill the pattern tables.
.include "banked.inc"
BANKED_IMAGE 2, 1, $00, $00

.segment "RAMCODE"
main:   EXPECT_PRG 1, "pages at $8000 $A000 $C000 $E000 and $5000", 0, 1, 2, 3
        EXPECT_CHR 2, "pattern memory is not the 8 KiB of character ROM", 0, 4
        PASS "mapper 0, 32 KiB: ok"
