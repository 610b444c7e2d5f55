; config: prg128_bank16
; Mapper 71.1 (Camerica BF9097, Fire Hawk): a write to $C000-$FFFF selects the 16 KiB program bank
; at $8000 (three bits on the BF9097; eight banks of 128 KiB, so bit 3 wraps here; bits 7-4 do
; nothing); the last bank stays at $C000. A write anywhere in $8000-$9FFF picks the one-screen
; page by bit 4 (0 lower, 1 upper); $A000-$BFFF do nothing. No bus conflicts. 8 KiB of character
; RAM, not banked. Power-on: bank 0 (the page before its first write is left open: undefined on the
; board). An NES 2.0 header names the submapper and declares 8 KiB of PRG RAM for the result area.
.include "discrete.inc"
NES2_HEADER 8, 0, $70, $40, $10, $07, $07
PRG_IDS 16

.segment "RAMCODE"
main:   TAG_CHR_RAM
        EXPECT_CHR_RAM 1, "character RAM lost its tags"
        EXPECT_PRG16 2, "power-on program banks 0, 7", 0, 7
        lda #$00
        sta $8000
        NT_WRITE 0, $E0         ; the lower page
        lda #$10
        sta $8000
        NT_WRITE 0, $E3         ; the upper page
        EXPECT_NT 3, "$10 at $8000: one screen, upper page", $E3, $E3, $E3, $E3
        lda #$EF
        sta $9FFF
        EXPECT_NT 4, "$EF at $9FFF: one screen, lower page", $E0, $E0, $E0, $E0
        lda #$10
        sta $A000
        sta $BFFF
        EXPECT_NT 5, "$10 at $A000 or $BFFF changed the page", $E0, $E0, $E0, $E0
        lda #$10
        sta $8FFF
        EXPECT_NT 6, "$10 at $8FFF: one screen, upper page", $E3, $E3, $E3, $E3
        EXPECT_PRG16 7, "a page write switched the program bank", 0, 7

        lda #$05
        sta $E001               ; over $70 (page 15): an AND would give bank 0
        EXPECT_PRG16 8, "$05 over ROM $70: program bank 5", 5, 7
        lda #$FF
        sta $C100               ; over $FF
        EXPECT_PRG16 9, "$FF: program bank 7", 7, 7
        lda #$0A
        sta $C001               ; over $71 (page 14): an AND would give bank 0
        EXPECT_PRG16 10, "$0A over ROM $71: program bank 2 (of 8)", 2, 7
        lda #$F1
        sta $FFF0
        EXPECT_PRG16 11, "$F1 at $FFF0: program bank 1", 1, 7
        lda #$03
        sta $A000
        sta $9000
        EXPECT_PRG16 12, "a write to $8000-$BFFF switched the program bank", 1, 7
        EXPECT_NT 13, "$03 at $9000: one screen, lower page", $E0, $E0, $E0, $E0
        lda #$10
        sta $C000
        EXPECT_NT 14, "a bank write changed the page", $E0, $E0, $E0, $E0
        EXPECT_CHR_RAM 15, "the registers changed the character RAM"
        PASS "mapper 71.1 (Fire Hawk): ok"
