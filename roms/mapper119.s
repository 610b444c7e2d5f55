; config: prg128_chr64
; Mapper 119 (TQROM): bit 6 of each pattern bank value picks the chip, register by register: set,
; 1 KiB page v AND 7 of the 8 KiB pattern RAM, written through PPUDATA and keeping what was written
; while other slots show ROM; clear, 1 KiB page v AND $3F of the 64 KiB pattern ROM, which writes do
; not change. A 2 KiB register picks for both its halves. The rest is mapper 4's banking.
; 128 KiB program ROM, 64 KiB character ROM (KiB numbered by their first byte); RAM pages are tagged
; $A0 + page. An NES 2.0 header (8 KiB PRG RAM for the result area, 8 KiB CHR RAM in byte 11): an
; older header folds mapper numbers of 64 and up to their low half. The header asks for the
; horizontal arrangement.
;
; Slots from the mapper 4 table: C=0 R0&$FE, R0|1, R1&$FE, R1|1, R2, R3, R4, R5; C=1 the halves
; swapped. Power-on: every register 0, so ROM KiB 0, 1, 0, 1, 0, 0, 0, 0.
.include "banked.inc"
NES2_HEADER 8, 8, $70, $70, $00, $07, $07
PRG_IDS 16
CHR_KIB_IDS 64

.macro BANK mode, reg, value
        lda #mode | reg
        sta $8000
        lda #value
        sta $8001
.endmacro

C_MODE = $80

.segment "RAMCODE"
main:   EXPECT_CHR_KIB 1, "power-on pattern KiB", 0, 1, 0, 1, 0, 0, 0, 0
        BANK 0, 2, $40          ; slot 4: RAM page 0
        CHR_WRITE 4, $A0
        BANK 0, 2, $47          ; slot 4: RAM page 7
        CHR_WRITE 4, $A7
        BANK 0, 3, $41          ; slot 5: RAM page 1
        CHR_WRITE 5, $A1
        BANK 0, 4, $45          ; slot 6: RAM page 5
        CHR_WRITE 6, $A5
        BANK 0, 0, $43          ; slots 0 and 1: RAM pages 2 and 3 (bit 0 ignored)
        CHR_WRITE 0, $A2
        CHR_WRITE 1, $A3
        BANK 0, 1, $44          ; slots 2 and 3: RAM pages 4 and 5 (5 is slot 6's page too)
        CHR_WRITE 2, $A4
        BANK 0, 5, $46          ; slot 7: RAM page 6
        CHR_WRITE 7, $A6
        EXPECT_CHR_KIB 2, "RAM pages as written", $A2, $A3, $A4, $A5, $A7, $A1, $A5, $A6
        BANK 0, 2, $48          ; page $48 AND 7 = 0
        BANK 0, 5, $FE          ; bit 6 set (bit 7 too): page 6
        EXPECT_CHR_KIB 3, "RAM pages $48 and $FE", $A2, $A3, $A4, $A5, $A0, $A1, $A5, $A6

        BANK 0, 2, $05          ; ROM KiB 5
        BANK 0, 3, $3A          ; ROM KiB 58
        BANK 0, 5, $BF          ; bit 6 clear: ROM KiB $BF AND $3F = 63
        EXPECT_CHR_KIB 4, "ROM KiB beside RAM pages", $A2, $A3, $A4, $A5, 5, 58, $A5, 63
        ; a write while slot 4 shows ROM must not reach RAM page 0 (what it does to the ROM copy is
        ; this machine's business: its pattern ROM takes PPUDATA writes, so KiB 5 is not looked at
        ; again)
        CHR_WRITE 4, $EE
        BANK 0, 2, $40
        EXPECT_CHR_KIB 5, "RAM page 0 after a write to ROM", $A2, $A3, $A4, $A5, $A0, 58, $A5, 63

        lda #C_MODE
        sta $8000
        EXPECT_CHR_KIB 6, "C=1", $A0, 58, $A5, 63, $A2, $A3, $A4, $A5
        BANK C_MODE, 0, $2F     ; 2 KiB of ROM at KiB 46
        EXPECT_CHR_KIB 7, "C=1, R0 $2F", $A0, 58, $A5, 63, 46, 47, $A4, $A5
        BANK C_MODE, 0, $42     ; back to RAM pages 2 and 3: they kept their bytes
        EXPECT_CHR_KIB 8, "C=1, R0 $42: RAM pages lost their bytes", $A0, 58, $A5, 63, $A2, $A3, $A4, $A5

        EXPECT_WINDOWS 9, "power-on program pages", 0, 0, 14, 15
        BANK $40, 6, 3          ; P=1
        EXPECT_WINDOWS 10, "P=1, R6 3", 14, 0, 3, 15
        NT_WRITE 0, $E0
        NT_WRITE 2, $E1
        EXPECT_NT 11, "power-on nametables not horizontal", $E0, $E0, $E1, $E1
        lda #0
        sta $A000
        EXPECT_NT 12, "$A000=0: nametables not vertical", $E0, $E1, $E0, $E1
        PASS "mapper 119: ok"
