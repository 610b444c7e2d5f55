; config: prg128_bank32
; Mapper 34.2 (BNROM): a write anywhere in $8000-$FFFF latches the 32 KiB program bank (bits 1-0 on
; the board's 128 KiB; the larger homebrew boards take more bits, which wrap here), ANDed with the
; ROM byte under the address (bus conflict). 8 KiB of character RAM, not banked; the mirroring is the
; header's (vertical here). The NINA-001 registers at $7FFD-$7FFF are not there: writes to them
; reach the cartridge RAM only. Power-on: bank 0. An NES 2.0 header names the submapper and declares
; 8 KiB of PRG RAM for the result area (the board has none).
.include "discrete.inc"
NES2_HEADER 8, 0, $21, $20, $20, $07, $07
PRG_IDS 16

.segment "RAMCODE"
main:   TAG_NT
        EXPECT_NT 1, "nametables not mirrored vertically", $E0, $E3, $E0, $E3
        TAG_CHR_RAM
        EXPECT_CHR_RAM 2, "character RAM lost its tags"
        EXPECT_PRG32 3, "power-on program bank 0", 0
        lda #$FF
        sta $C100               ; over $FF
        EXPECT_PRG32 4, "$FF: program bank 3", 3
        lda #$01
        sta $8100               ; over $FF
        EXPECT_PRG32 5, "$01: program bank 1", 1
        lda #$03
        sta $8000               ; over $84 (page 4): $00
        EXPECT_PRG32 6, "$03 over ROM $84: program bank 0", 0
        lda #$03
        sta $A001               ; over $7E (page 1): $02
        EXPECT_PRG32 7, "$03 over ROM $7E: program bank 2", 2
        lda #$01
        sta code_page_zero      ; over $FF (page 11), not bank 0's $00
        EXPECT_PRG32 8, "$01 over ROM $FF: program bank 1", 1
        lda #$FE
        sta $E001               ; over $78 (page 7): $78, bank 0 of 4
        EXPECT_PRG32 9, "$FE over ROM $78: program bank 0", 0
        lda #$03
        sta code_page_zero      ; over $00 (page 3)
        EXPECT_PRG32 10, "$03 over ROM $00: program bank 0", 0
        EXPECT_RAM_WRITE 11, "cartridge RAM $7FFD lost the write", $7FFD, $01
        EXPECT_RAM_WRITE 12, "cartridge RAM $7FFE lost the write", $7FFE, $05
        EXPECT_RAM_WRITE 13, "cartridge RAM $7FFF lost the write", $7FFF, $09
        EXPECT_PRG32 14, "a write to $7FFD switched the program bank", 0
        EXPECT_CHR_RAM 15, "a write to $7FFE/$7FFF switched the character RAM"
        EXPECT_NT 16, "the latch changed the nametables", $E0, $E3, $E0, $E3
        PASS "mapper 34.2 (BNROM): ok"
