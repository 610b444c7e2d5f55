; config: prg256_bank16
; Mapper 71 (Camerica / Codemasters BF9093), no submapper: a write to $C000-$FFFF selects the 16 KiB
; program bank at $8000 by bits 3-0 (sixteen banks of 256 KiB; bits 7-4 do nothing); the last bank
; stays at $C000. No bus conflicts. The header's mirroring (vertical here) stands until a write
; to $9000-$9FFF, which picks a one-screen page by bit 4 (0 lower, 1 upper) from then on; writes to
; $8000-$8FFF (games write $00 to $8000 at start-up) and $A000-$BFFF do nothing. 8 KiB of
; character RAM, not banked. Power-on: bank 0.
.include "discrete.inc"
INES_HEADER 16, 0, $71, $40
PRG_IDS 32

.segment "RAMCODE"
main:   TAG_NT
        EXPECT_NT 1, "nametables not mirrored vertically", $E0, $E3, $E0, $E3
        TAG_CHR_RAM
        EXPECT_CHR_RAM 2, "character RAM lost its tags"
        EXPECT_PRG16 3, "power-on program banks 0, 15", 0, 15
        lda #$05
        sta $E001               ; over $60 (page 31): an AND would give bank 0
        EXPECT_PRG16 4, "$05 over ROM $60: program bank 5", 5, 15
        lda #$FF
        sta $C100               ; over $FF
        EXPECT_PRG16 5, "$FF: program bank 15", 15, 15
        lda #$F3
        sta $D000               ; over $6E (page 30): an AND would give bank 2
        EXPECT_PRG16 6, "$F3 over ROM $6E: program bank 3", 3, 15
        lda #$0A
        sta $C001               ; over $61 (page 30): an AND would give bank 0
        EXPECT_PRG16 7, "$0A over ROM $61: program bank 10", 10, 15

        lda #$10
        sta $8000               ; no register
        sta $8FFF
        sta $A000
        sta $BFFF
        EXPECT_NT 8, "a write to $8000-$8FFF or $A000-$BFFF changed the nametables", $E0, $E3, $E0, $E3
        lda #$04
        sta $8000
        sta $9000
        sta $A000
        EXPECT_PRG16 9, "a write to $8000-$BFFF switched the program bank", 10, 15
        lda #$10
        sta $9000
        EXPECT_NT 10, "$10 at $9000: one screen, upper page", $E3, $E3, $E3, $E3
        lda #$00
        sta $8FFF
        EXPECT_NT 11, "$00 at $8FFF changed the page", $E3, $E3, $E3, $E3
        lda #$EF
        sta $9FFF
        EXPECT_NT 12, "$EF at $9FFF: one screen, lower page", $E0, $E0, $E0, $E0
        lda #$10
        sta $8000
        sta $BFFF
        EXPECT_NT 13, "$10 at $8000 or $BFFF changed the page", $E0, $E0, $E0, $E0
        lda #$10
        sta $9800
        EXPECT_NT 14, "$10 at $9800: one screen, upper page", $E3, $E3, $E3, $E3
        lda #$00
        sta $C100
        sta $FFF0
        EXPECT_NT 15, "a bank write changed the page", $E3, $E3, $E3, $E3
        EXPECT_PRG16 16, "$00: program bank 0", 0, 15
        EXPECT_CHR_RAM 17, "the registers changed the character RAM"
        PASS "mapper 71: ok"
