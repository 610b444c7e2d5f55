; config: prg128_bank32
; Mapper 34.1 (AVE NINA-001/002): three registers at exact addresses, written through to the
; cartridge RAM beneath them (a read gives back the last value written): $7FFD `.... ..BA` the
; 32 KiB program bank (128 KiB on the NINA-002), $7FFE and $7FFF `.... DCBA` the 4 KiB pattern banks
; at $0000 and $1000 (64 KiB). Nothing listens at $8000-$FFFF (no latch, no bus conflicts); the
; mirroring is the header's (horizontal here). Power-on: all three 0.
.include "discrete.inc"
NES2_HEADER 8, 8, $20, $20, $10, $07, $00
PRG_IDS 16
CHR_KIB_IDS 64

.segment "RAMCODE"
main:   TAG_NT
        EXPECT_NT 1, "nametables not mirrored horizontally", $E0, $E0, $E3, $E3
        EXPECT_PRG32 2, "power-on program bank 0", 0
        EXPECT_CHR4 3, "power-on pattern banks 0, 0", 0, 0
        lda #$FF
        sta $8100
        lda #$01
        sta $C100
        lda #$12
        sta $A001
        EXPECT_PRG32 4, "a write to $8000-$FFFF switched the program bank", 0
        EXPECT_CHR4 5, "a write to $8000-$FFFF switched the pattern banks", 0, 0
        EXPECT_RAM_WRITE 6, "$7FFD does not read back", $7FFD, $FD
        EXPECT_PRG32 7, "$7FFD=$FD: program bank 1", 1
        EXPECT_RAM_WRITE 8, "$7FFE does not read back", $7FFE, $F7
        EXPECT_CHR4 9, "$7FFE=$F7: pattern banks 7, 0", 7, 0
        EXPECT_RAM_WRITE 10, "$7FFF does not read back", $7FFF, $3A
        EXPECT_CHR4 11, "$7FFF=$3A: pattern banks 7, 10", 7, 10
        EXPECT_PRG32 12, "a pattern bank write switched the program bank", 1
        EXPECT_RAM_WRITE 13, "$7FFD does not read back", $7FFD, $02
        EXPECT_PRG32 14, "$7FFD=$02: program bank 2", 2
        EXPECT_CHR4 15, "a program bank write switched the pattern banks", 7, 10
        EXPECT_RAM_WRITE 16, "$7FFE does not read back", $7FFE, $08
        EXPECT_RAM_WRITE 17, "$7FFF does not read back", $7FFF, $05
        EXPECT_CHR4 18, "$7FFE=$08, $7FFF=$05: pattern banks 8, 5", 8, 5
        EXPECT_RAM_WRITE 19, "cartridge RAM $7FFC lost the write", $7FFC, $03
        EXPECT_RAM_WRITE 20, "cartridge RAM $7000 lost the write", $7000, $01
        EXPECT_PRG32 21, "a write to $7FFC/$7000 switched the program bank", 2
        EXPECT_CHR4 22, "a write to $7FFC/$7000 switched the pattern banks", 8, 5
        EXPECT_NT 23, "the registers changed the nametables", $E0, $E0, $E3, $E3
        PASS "mapper 34.1 (NINA-001): ok"
