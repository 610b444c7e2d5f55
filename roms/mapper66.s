; config: prg128_bank32
; Mapper 66 (GxROM: GNROM, MHROM): a write anywhere in $8000-$FFFF latches `..PP ..CC`, the 32 KiB
; program bank (bits 5-4) and the 8 KiB pattern bank (bits 1-0); bits 7-6 and 3-2 do nothing at
; the boards' 128 KiB / 32 KiB. The ROM drives the data bus during the write, so the latch takes the
; value ANDed with the ROM byte under the address (bus conflict). Power-on: bank 0 and pattern bank
; 0; the mirroring is the header's (vertical here) and never changes.
.include "discrete.inc"
INES_HEADER 8, 4, $21, $40
PRG_IDS 16
CHR_KIB_IDS 32

.segment "RAMCODE"
main:   TAG_NT
        EXPECT_NT 1, "nametables not mirrored vertically", $E0, $E3, $E0, $E3
        EXPECT_PRG32 2, "power-on program bank 0", 0
        EXPECT_CHR8 3, "power-on pattern bank 0", 0
        lda #$21
        sta $8100               ; over $FF
        EXPECT_PRG32 4, "$21: program bank 2", 2
        EXPECT_CHR8 5, "$21: pattern bank 1", 1
        lda #$CC
        sta $C100               ; over $FF: bits 7-6 and 3-2 alone
        EXPECT_PRG32 6, "$CC: program bank 0", 0
        EXPECT_CHR8 7, "$CC: pattern bank 0", 0
        lda #$FF
        sta $8000               ; over $80 (page 0): $80, no bank bit left
        EXPECT_PRG32 8, "$FF over ROM $80: program bank 0", 0
        EXPECT_CHR8 9, "$FF over ROM $80: pattern bank 0", 0
        lda #$33
        sta $A001               ; over $7E (page 1): $32
        EXPECT_PRG32 10, "$33 over ROM $7E: program bank 3", 3
        EXPECT_CHR8 11, "$33 over ROM $7E: pattern bank 2", 2
        lda #$FF
        sta $E001               ; over $70 (page 15): $70
        EXPECT_PRG32 12, "$FF over ROM $70: program bank 3", 3
        EXPECT_CHR8 13, "$FF over ROM $70: pattern bank 0", 0
        lda #$13
        sta code_page_zero      ; over $FF (page 15), not bank 0's $00
        EXPECT_PRG32 14, "$13 over ROM $FF: program bank 1", 1
        EXPECT_CHR8 15, "$13 over ROM $FF: pattern bank 3", 3
        lda #$1F
        sta $C000               ; over $86 (page 6): $06
        EXPECT_PRG32 16, "$1F over ROM $86: program bank 0", 0
        EXPECT_CHR8 17, "$1F over ROM $86: pattern bank 2", 2
        lda #$FF
        sta code_page_zero      ; over $00 (page 3)
        EXPECT_PRG32 18, "$FF over ROM $00: program bank 0", 0
        EXPECT_CHR8 19, "$FF over ROM $00: pattern bank 0", 0
        lda #$13
        sta $8100               ; over $FF
        EXPECT_PRG32 20, "$13: program bank 1", 1
        EXPECT_CHR8 21, "$13: pattern bank 3", 3
        EXPECT_RAM_WRITE 22, "cartridge RAM $7000 lost the write", $7000, $20
        EXPECT_PRG32 23, "a write to $7000 switched the program bank", 1
        EXPECT_CHR8 24, "a write to $7000 switched the pattern bank", 3
        EXPECT_NT 25, "the latch changed the nametables", $E0, $E3, $E0, $E3
        PASS "mapper 66: ok"
