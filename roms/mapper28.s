; config: prg256_chr0
; Mapper 28 (Action 53): the register select at $5000-$5FFF (bits 7 and 0 alone), the four
; registers written at $8000-$FFFF, the outer bank in 32 KiB, the four game sizes in the 32 KiB
; modes and in both 16 KiB modes, the four arrangements and the one-screen page following bit 4 of
; writes to $00 and $01, the 8 KiB banks of 32 KiB of character RAM (an iNES 1.0 image: the board's
; own), and the power-on state ($81 = $FF, the rest 0: the last 32 KiB, one screen low).
; 256 KiB program ROM (32 pages; the outer register's bits above 2 wrap), no character ROM; the
; checks run from cartridge RAM.
;
; The expected program pages follow the board's table in 16 KiB units: outer16 = $81 * 2 + A14,
; mask = 1, 3, 7, 15 for sizes 32-256 KiB; the fixed half of modes 2 ($8000) and 3 ($C000) is
; outer16; the other half (outer16 AND NOT mask) OR ($01 AND mask); the 32 KiB modes (outer16 AND
; NOT mask) OR (($01 * 2 + A14) AND mask). Unit u is pages 2u and 2u + 1.
.include "banked.inc"
INES_HEADER 16, 0, $C0, $10
PRG_IDS 32

SELECT = $5000
R_CHR   = $00
R_INNER = $01
R_MODE  = $80
R_OUTER = $81

; Register `reg` := `value`.
.macro A53 reg, value
        lda #reg
        sta SELECT
        lda #value
        sta $8000
.endmacro

; The 16 KiB units seen at $8000 and $C000.
.macro EXPECT_UNITS code, text, u8, uc
        EXPECT_WINDOWS code, text, 2*u8, 2*u8+1, 2*uc, 2*uc+1
.endmacro

.segment "RAMCODE"
main:   EXPECT_UNITS 1, "power-on: not the last 32 KiB", 14, 15
        NT_WRITE 0, $E0         ; one screen low: every nametable is page 0
        EXPECT_NT 2, "power-on nametables not all page 0", $E0, $E0, $E0, $E0
        A53 R_MODE, $02         ; vertical
        NT_WRITE 1, $E1         ; $2400: page 1
        EXPECT_NT 3, "mode 2: nametables not vertical", $E0, $E1, $E0, $E1
        A53 R_MODE, $03
        EXPECT_NT 4, "mode 3: nametables not horizontal", $E0, $E0, $E1, $E1
        A53 R_MODE, $01
        EXPECT_NT 5, "mode 1: nametables not all page 1", $E1, $E1, $E1, $E1

        ; 32 KiB modes, outer bank 5 (units 10 and 11), inner 2
        A53 R_INNER, $02        ; bit 4 clear: one screen low again
        EXPECT_NT 6, "a write to $01 without bit 4 left the page high", $E0, $E0, $E0, $E0
        A53 R_OUTER, $05
        A53 R_MODE, $00
        EXPECT_UNITS 7, "32 KiB game: outer 5", 10, 11
        A53 R_MODE, $10
        EXPECT_UNITS 8, "64 KiB game: outer 5, inner 2", 8, 9
        A53 R_MODE, $24         ; mode 1 is a 32 KiB mode too
        EXPECT_UNITS 9, "128 KiB game: outer 5, inner 2", 12, 13
        A53 R_MODE, $30
        EXPECT_UNITS 10, "256 KiB game: outer 5, inner 2", 4, 5
        A53 R_INNER, $17        ; bit 4 (one screen high) is no bank bit: inner 7
        EXPECT_UNITS 11, "256 KiB game: inner $17", 14, 15
        EXPECT_NT 12, "a write to $01 with bit 4 did not turn the page high", $E1, $E1, $E1, $E1

        ; mode 2: the outer bank's first half fixed at $8000
        A53 R_INNER, $05
        A53 R_MODE, $18         ; 64 KiB
        EXPECT_UNITS 13, "mode 2, 64 KiB, inner 5", 10, 9
        A53 R_MODE, $38         ; 256 KiB
        EXPECT_UNITS 14, "mode 2, 256 KiB, inner 5", 10, 5
        ; mode 3: the outer bank's last half fixed at $C000
        A53 R_MODE, $2C         ; 128 KiB
        EXPECT_UNITS 15, "mode 3, 128 KiB, inner 5", 13, 11
        A53 R_MODE, $0C         ; 32 KiB: inner bit 0 picks the outer bank's half at $8000 too
        EXPECT_UNITS 16, "mode 3, 32 KiB, inner 5", 11, 11
        A53 R_OUTER, $FE        ; 254: wraps to 32 KiB bank 6 of 8
        EXPECT_UNITS 17, "mode 3, outer $FE", 13, 13

        ; the select: only bits 7 and 0 count, over $5000-$5FFF
        lda #$7E                ; $00
        sta $5FFF
        lda #$01
        sta $FFFF
        lda #$FF                ; $81
        sta $5000
        lda #$01
        sta $C000
        EXPECT_UNITS 18, "select $FF: outer 1 (mode 3, 32 KiB)", 3, 3
        lda #$80                ; $80: the select stays there after a write to $4FFF
        sta SELECT
        lda #$81
        sta $4FFF
        lda #$0E                ; mode 3, vertical
        sta $8000
        EXPECT_UNITS 19, "a write to $4FFF selected a register", 3, 3
        EXPECT_NT 20, "select $80: mode not written", $E0, $E1, $E0, $E1
        A53 R_CHR, $10          ; bit 4 outside one screen: the arrangement stays
        EXPECT_NT 21, "a write to $00 with bit 4 in mode 2 changed the arrangement", $E0, $E1, $E0, $E1

        ; character RAM: four 8 KiB banks, a tag at the start and at $1C00 of each
        A53 R_CHR, $00
        CHR_WRITE 0, $A0
        CHR_WRITE 7, $B0
        A53 R_CHR, $01
        CHR_WRITE 0, $A1
        CHR_WRITE 7, $B1
        A53 R_CHR, $FE          ; bits 7-2 ignored: bank 2
        CHR_WRITE 0, $A2
        CHR_WRITE 7, $B2
        A53 R_CHR, $03
        CHR_WRITE 0, $A3
        CHR_WRITE 7, $B3
        A53 R_CHR, $00
        EXPECT_CHR_KIB 22, "pattern bank 0", $A0, 0, 0, 0, 0, 0, 0, $B0
        A53 R_CHR, $01
        EXPECT_CHR_KIB 23, "pattern bank 1", $A1, 0, 0, 0, 0, 0, 0, $B1
        A53 R_CHR, $02
        EXPECT_CHR_KIB 24, "pattern bank 2", $A2, 0, 0, 0, 0, 0, 0, $B2
        A53 R_CHR, $07
        EXPECT_CHR_KIB 25, "pattern bank 3 ($07)", $A3, 0, 0, 0, 0, 0, 0, $B3
        PASS "mapper 28: ok"
