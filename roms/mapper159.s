; config: prg256_chr256_fixed_c000
; Mapper 159 (Bandai LZ93D50 with a 24C01 EEPROM): the LZ93D50's banks briefly (mapper16.s checks
; them in full), then the 24C01 through $D and bit 4 of $6000: no device byte, the START followed
; by the 7-bit word address and the R/W bit, LSB first; data LSB first, written within 4-byte pages,
; read on across the end of its 128 bytes. Cell 0 counts the runs (the battery tests check the
; file after two runs).
; 256 KiB program ROM, 256 KiB character ROM (KiB numbered by their first byte), an NES 2.0 header
; with 128 bytes of NVRAM and the battery bit; the program runs from the fixed ROM at $C000.
PROGRAM_IN_ROM = 1
X24C01 = 1
.include "banked.inc"
NES2_HEADER 16, 32, $F2, $90, $00, $10, $00
PRG_IDS 32
CHR_KIB_IDS 256
.include "bandai_eeprom.inc"

.segment "RAMCODE"
main:   EXPECT_WINDOWS 1, "power-on program pages", 0, 1, 30, 31
        lda #$07
        sta $8008
        lda #$99
        sta $E003
        EXPECT_WINDOWS 2, "$8=7: bank 7", 14, 15, 30, 31
        EXPECT_CHR_KIB 3, "$3=$99", 0, 0, 0, $99, 0, 0, 0, 0
        LINES SDA
        lda $7000
        cmp #$10
        CHECK 4, "SDA high: $7000 not $10"

        COUNT_RUN 5
        WRITE_CELLS 6, $10, {$11, $22, $33, $44}
        READ_CELLS 7, $10, 4
        EXPECT_PROBE 7, "cells $10-$13", {$11, $22, $33, $44}
        WRITE_CELLS 8, $06, {$A1, $A2, $A3, $A4}
        READ_CELLS 9, $04, 4
        EXPECT_PROBE 9, "page wrap: cells $04-$07", {$A3, $A4, $A1, $A2}
        WRITE_CELLS 10, $7F, {$5C}
        READ_CELLS 11, $7F, 2
        lda probe
        cmp #$5C
        CHECK 11, "cell $7F"
        lda probe+1
        cmp runs
        CHECK 12, "the read after cell $7F is not cell 0"
        READ_CELLS 13, $00, 1
        lda probe
        cmp runs
        CHECK 13, "run count read back"
        PASS "mapper 159: ok"
