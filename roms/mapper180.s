; config: prg128_upper16
; Mapper 180 (UNROM wired with a 74HC08, Crazy Climber): the first 16 KiB bank stays at $8000 and a
; write anywhere in $8000-$FFFF selects the one at $C000 by bits 2-0 (eight banks of 128 KiB; bits
; 7-3 do nothing), ANDed with the ROM byte under the address (bus conflict). 8 KiB of character RAM,
; not banked; the mirroring is the header's (vertical here). Power-on: bank 0, so bank 0 shows in
; both windows and the vectors come from its second page.
.include "discrete.inc"
INES_HEADER 8, 0, $41, $B0
PRG_IDS 16

.segment "RAMCODE"
main:   TAG_NT
        EXPECT_NT 1, "nametables not mirrored vertically", $E0, $E3, $E0, $E3
        TAG_CHR_RAM
        EXPECT_CHR_RAM 2, "character RAM lost its tags"
        EXPECT_WINDOWS 3, "power-on program bank 0 at $C000", 0, 1, 0, 1
        lda #$FF
        sta $8100               ; over $FF
        EXPECT_WINDOWS 4, "$FF: bank 7 at $C000", 0, 1, 14, 15
        lda #$FD
        sta $8000               ; over $80 (page 0): an AND gives bank 0, none gives 5
        EXPECT_WINDOWS 5, "$FD over ROM $80: bank 0 at $C000", 0, 1, 0, 1
        lda #$FA
        sta $8001               ; over $7F (page 0): $7A
        EXPECT_WINDOWS 6, "$FA over ROM $7F: bank 2 at $C000", 0, 1, 4, 5
        lda #$07
        sta $C000               ; over $84 (page 4): $04
        EXPECT_WINDOWS 7, "$07 over ROM $84: bank 4 at $C000", 0, 1, 8, 9
        lda #$03
        sta $A100               ; over $FF
        EXPECT_WINDOWS 8, "$03 at $A100: bank 3 at $C000", 0, 1, 6, 7
        lda #$0E
        sta $E001               ; over $78 (page 7): $08
        EXPECT_WINDOWS 9, "$0E over ROM $78: bank 0 at $C000", 0, 1, 0, 1
        lda #$01
        sta $C100
        EXPECT_WINDOWS 10, "$01: bank 1 at $C000", 0, 1, 2, 3
        EXPECT_RAM_WRITE 11, "cartridge RAM $7000 lost the write", $7000, $06
        EXPECT_WINDOWS 12, "a write to $7000 switched the bank", 0, 1, 2, 3
        EXPECT_CHR_RAM 13, "the latch changed the character RAM"
        EXPECT_NT 14, "the latch changed the nametables", $E0, $E3, $E0, $E3
        PASS "mapper 180: ok"
