; config: prg128_chr32
; Mapper 118 (TKSROM/TLSROM): bit 7 of the pattern bank that maps (nametable address AND $0FFF)
; picks the nametable page, in both pattern modes; $A000 and the header's arrangement count for
; nothing. 128 KiB program ROM, 32 KiB character ROM (KiB numbered by their first byte); the header
; asks for the vertical arrangement.
;
; Expected pages, from the board's rule: for quadrant q = (address >> 10) & 3 of $2000-$2FFF,
; C=0 (bit 7 of $8000 clear): q0, q1 -> R0 bit 7, q2, q3 -> R1 bit 7; C=1: q -> R(2+q) bit 7.
; With every register 0 at power-on all four quadrants are page 0. Pattern banks as on mapper 4,
; wrapped to the 32 KiB (bank AND 31).
; An NES 2.0 header (8 KiB PRG RAM, as on TKSROM): an older header folds mapper numbers of 64 and up
; to their low half.
.include "banked.inc"
NES2_HEADER 8, 4, $61, $70, $00, $07, $00
PRG_IDS 16
CHR_KIB_IDS 32

.macro BANK mode, reg, value
        lda #mode | reg
        sta $8000
        lda #value
        sta $8001
.endmacro

C_MODE = $80

.segment "RAMCODE"
main:   NT_WRITE 0, $E0
        NT_WRITE 1, $E1         ; the same page as $2000: the header's vertical arrangement is ignored
        EXPECT_NT 1, "power-on: nametables not all page 0", $E1, $E1, $E1, $E1
        BANK 0, 1, $80          ; quadrants 2 and 3 -> page 1
        NT_WRITE 2, $E2
        EXPECT_NT 2, "C=0, R0 $00, R1 $80", $E1, $E1, $E2, $E2
        BANK 0, 0, $80
        BANK 0, 1, $00
        EXPECT_NT 3, "C=0, R0 $80, R1 $00", $E2, $E2, $E1, $E1
        lda #$00
        sta $A000
        EXPECT_NT 4, "$A000=0 changed the nametables", $E2, $E2, $E1, $E1
        lda #$01
        sta $A000
        EXPECT_NT 5, "$A000=1 changed the nametables", $E2, $E2, $E1, $E1

        BANK C_MODE, 2, $00
        BANK C_MODE, 3, $80
        BANK C_MODE, 4, $00
        BANK C_MODE, 5, $80
        EXPECT_NT 6, "C=1, R2-R5 $00 $80 $00 $80", $E1, $E2, $E1, $E2
        BANK C_MODE, 2, $85     ; page 1, KiB 5
        BANK C_MODE, 3, $03     ; page 0, KiB 3
        BANK C_MODE, 4, $07     ; page 0, KiB 7
        BANK C_MODE, 5, $9A     ; page 1, KiB $1A = 26
        EXPECT_NT 7, "C=1, R2-R5 $85 $03 $07 $9A", $E2, $E1, $E1, $E2
        EXPECT_CHR_KIB 8, "C=1 pattern KiB", 5, 3, 7, 26, 0, 1, 0, 1
        BANK C_MODE, 0, $00     ; R0 maps no nametable in C=1
        EXPECT_NT 9, "C=1: R0 changed the nametables", $E2, $E1, $E1, $E2

        BANK 0, 1, $FF          ; C=0 again: R0 $00 -> page 0, R1 $FF -> page 1, KiB 30 and 31
        EXPECT_NT 10, "C=0, R0 $00, R1 $FF", $E1, $E1, $E2, $E2
        EXPECT_CHR_KIB 11, "C=0 pattern KiB", 0, 1, 30, 31, 5, 3, 7, 26
        PASS "mapper 118: ok"
