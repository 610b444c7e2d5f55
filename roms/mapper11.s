; config: prg128_bank32
; Mapper 11 (Color Dreams): a write anywhere in $8000-$FFFF latches `CCCC LLPP`, the 8 KiB pattern
; bank (bits 7-4, sixteen banks of 128 KiB), two bits of the lockout defeat (bits 3-2, no effect)
; and the 32 KiB program bank (bits 1-0). The latch takes the value ANDed with the ROM byte under
; the address (bus conflict). Power-on: bank 0 and pattern bank 0; the mirroring is the header's
; (horizontal here) and never changes.
.include "discrete.inc"
INES_HEADER 8, 16, $B0, $00
PRG_IDS 16
CHR_KIB_IDS 128

.segment "RAMCODE"
main:   TAG_NT
        EXPECT_NT 1, "nametables not mirrored horizontally", $E0, $E0, $E3, $E3
        EXPECT_PRG32 2, "power-on program bank 0", 0
        EXPECT_CHR8 3, "power-on pattern bank 0", 0
        lda #$FF
        sta $C100               ; over $FF
        EXPECT_PRG32 4, "$FF: program bank 3", 3
        EXPECT_CHR8 5, "$FF: pattern bank 15", 15
        lda #$0C
        sta $C100               ; over $FF: the lockout bits alone
        EXPECT_PRG32 6, "$0C: program bank 0", 0
        EXPECT_CHR8 7, "$0C: pattern bank 0", 0
        lda #$F7
        sta $8000               ; over $80 (page 0): $80
        EXPECT_PRG32 8, "$F7 over ROM $80: program bank 0", 0
        EXPECT_CHR8 9, "$F7 over ROM $80: pattern bank 8", 8
        lda #$5B
        sta $A001               ; over $7E (page 1): $5A
        EXPECT_PRG32 10, "$5B over ROM $7E: program bank 2", 2
        EXPECT_CHR8 11, "$5B over ROM $7E: pattern bank 5", 5
        lda #$FF
        sta $E001               ; over $74 (page 11): $74
        EXPECT_PRG32 12, "$FF over ROM $74: program bank 0", 0
        EXPECT_CHR8 13, "$FF over ROM $74: pattern bank 7", 7
        lda #$A9
        sta $8100               ; over $FF
        EXPECT_PRG32 14, "$A9: program bank 1", 1
        EXPECT_CHR8 15, "$A9: pattern bank 10", 10
        lda #$5B
        sta code_page_zero      ; over $FF (page 7), not bank 0's $00
        EXPECT_PRG32 16, "$5B over ROM $FF: program bank 3", 3
        EXPECT_CHR8 17, "$5B over ROM $FF: pattern bank 5", 5
        lda #$F0
        sta $8100               ; over $FF
        EXPECT_PRG32 18, "$F0: program bank 0", 0
        EXPECT_CHR8 19, "$F0: pattern bank 15", 15
        lda #$FF
        sta code_page_zero      ; over $00 (page 3)
        EXPECT_PRG32 20, "$FF over ROM $00: program bank 0", 0
        EXPECT_CHR8 21, "$FF over ROM $00: pattern bank 0", 0
        lda #$A9
        sta $8100               ; over $FF
        EXPECT_RAM_WRITE 22, "cartridge RAM $7000 lost the write", $7000, $32
        EXPECT_PRG32 23, "a write to $7000 switched the program bank", 1
        EXPECT_CHR8 24, "a write to $7000 switched the pattern bank", 10
        EXPECT_NT 25, "the latch changed the nametables", $E0, $E0, $E3, $E3
        PASS "mapper 11: ok"
