; config: prg256_chr256
; Mapper 4 (TxROM, MMC3) banking: the power-on layout, both program modes, both pattern modes with
; the 2 KiB registers' bit 0 ignored, 6-bit program and 8-bit pattern registers, the $A000
; arrangement over the header's, and decoding by address AND $E001.
; 256 KiB program ROM (32 pages of 8 KiB) and 256 KiB character ROM (256 KiB numbered by their first
; byte); the header asks for the horizontal arrangement.
;
; The expected values follow the board's tables:
; - program windows $8000/$A000/$C000/$E000: mode P=0 (bit 6 of $8000 clear) R6, R7, -2, -1;
;   P=1: -2, R7, R6, -1; with 32 pages -2 = 30 and -1 = 31; R6/R7 keep 6 bits and a bank past the
;   ROM wraps modulo its 32 pages.
; - pattern slots $0000-$1C00: C=0 (bit 7 clear) R0&$FE, R0|1, R1&$FE, R1|1, R2, R3, R4, R5;
;   C=1 the two halves swapped: R2, R3, R4, R5, R0&$FE, R0|1, R1&$FE, R1|1; R2-R5 use all 8 bits
;   (256 KiB).
; - $A000 bit 0: 0 vertical (pages 0 1 0 1), 1 horizontal (0 0 1 1); until the first write the
;   header's arrangement.
; - power-on: only $E000 = -1 is fixed; this machine powers on with every register 0, which gives
;   P=0, C=0, R0-R7 = 0.
.include "banked.inc"
INES_HEADER 16, 32, $40, $00
PRG_IDS 32
CHR_KIB_IDS 256

BANK_SELECT = $8000
BANK_DATA   = $8001
MIRRORING   = $A000

; R[reg] := value, with `mode` (bits 6 and 7 of the bank select) written along.
.macro BANK mode, reg, value
        lda #mode | reg
        sta BANK_SELECT
        lda #value
        sta BANK_DATA
.endmacro

P_MODE = $40
C_MODE = $80

.segment "RAMCODE"
main:   NT_WRITE 0, $E0         ; $2000: page 0 in the header's horizontal arrangement
        NT_WRITE 2, $E1         ; $2800: page 1
        EXPECT_NT 1, "power-on nametables not horizontal", $E0, $E0, $E1, $E1
        EXPECT_WINDOWS 2, "power-on program pages (R6=R7=0, P=0)", 0, 0, 30, 31
        EXPECT_CHR_KIB 3, "power-on pattern KiB (R0-R5=0, C=0)", 0, 1, 0, 1, 0, 0, 0, 0

        ; R0 = $17 and R1 = $2B: bit 0 ignored, so 2 KiB at KiB 22 and 42
        BANK 0, 0, $17
        BANK 0, 1, $2B
        BANK 0, 2, $C5          ; 197: bit 7 kept
        BANK 0, 3, $FF          ; 255: the last KiB
        BANK 0, 4, $80
        BANK 0, 5, $3E
        EXPECT_CHR_KIB 4, "C=0 pattern KiB", 22, 23, 42, 43, 197, 255, 128, 62
        BANK 0, 6, 5
        BANK 0, 7, 10
        EXPECT_WINDOWS 5, "P=0: R6 5, R7 10, -2, -1", 5, 10, 30, 31

        lda #P_MODE             ; the select alone switches the mode; the registers stay
        sta BANK_SELECT
        EXPECT_WINDOWS 6, "P=1: -2, R7 10, R6 5, -1", 30, 10, 5, 31
        EXPECT_CHR_KIB 7, "P=1 moved the pattern banks", 22, 23, 42, 43, 197, 255, 128, 62

        lda #C_MODE
        sta BANK_SELECT
        EXPECT_CHR_KIB 8, "C=1 pattern KiB", 197, 255, 128, 62, 22, 23, 42, 43
        EXPECT_WINDOWS 9, "P=0 again: R6 5, R7 10, -2, -1", 5, 10, 30, 31
        BANK C_MODE, 0, $FF     ; 2 KiB at 254 in $1000-$17FF
        BANK C_MODE, 3, $01
        EXPECT_CHR_KIB 10, "C=1 after R0 $FF, R3 1", 197, 1, 128, 62, 254, 255, 42, 43
        BANK C_MODE | P_MODE, 1, $00
        EXPECT_CHR_KIB 11, "C=1 after R1 0", 197, 1, 128, 62, 254, 255, 0, 1
        EXPECT_WINDOWS 12, "P=1 with C=1", 30, 10, 5, 31

        ; 6-bit registers, 32 pages: $E5 keeps $25 = 37, which wraps to 5; $7E -> $3E = 62 -> 30
        BANK P_MODE, 6, $E5
        BANK P_MODE, 7, $7E
        EXPECT_WINDOWS 13, "P=1, R6 $E5, R7 $7E: 30, 30, 5, 31", 30, 30, 5, 31
        BANK 0, 6, $DF          ; $1F: the last page in a switchable window
        BANK 0, 7, $20          ; 32 wraps to page 0
        EXPECT_WINDOWS 14, "P=0, R6 $DF, R7 $20: 31, 0, 30, 31", 31, 0, 30, 31

        ; the arrangement register
        lda #$00
        sta MIRRORING
        EXPECT_NT 15, "$A000=0: nametables not vertical", $E0, $E1, $E0, $E1
        lda #$01
        sta MIRRORING
        EXPECT_NT 16, "$A000=1: nametables not horizontal", $E0, $E0, $E1, $E1
        lda #$FE                ; bit 0 alone counts
        sta MIRRORING
        EXPECT_NT 17, "$A000=$FE: nametables not vertical", $E0, $E1, $E0, $E1

        ; decoding by address AND $E001: $9FFE is $8000, $9FFF $8001, $BFFE $A000; $BFFF is $A001
        ; and $DFFE-$FFFF the IRQ registers, none of which touches banks or arrangement
        lda #$07
        sta $9FFE
        lda #$09
        sta $9FFF               ; R7 := 9
        EXPECT_WINDOWS 18, "$9FFE/$9FFF did not reach R7", 31, 9, 30, 31
        lda #$43                ; $8003 is $8001 (bit 1 not decoded): R7 := $43 -> 3
        sta $8003
        EXPECT_WINDOWS 19, "$8003 did not reach R7", 31, 3, 30, 31
        lda #$01
        sta $BFFE
        EXPECT_NT 20, "$BFFE=1: nametables not horizontal", $E0, $E0, $E1, $E1
        lda #$00
        sta $BFFF
        sta $A003
        sta $DFFE
        sta $DFFF
        sta $FFFF
        sta $FFFE               ; IRQ left disabled
        EXPECT_NT 21, "a write to $A001/$C000-$FFFF changed the arrangement", $E0, $E0, $E1, $E1
        EXPECT_WINDOWS 22, "a write to $A001/$C000-$FFFF changed the program banks", 31, 3, 30, 31
        EXPECT_CHR_KIB 23, "a write to $A001/$C000-$FFFF changed the pattern banks", 254, 255, 0, 1, 197, 1, 128, 62
        lda #$00
        sta $A002               ; $A000
        EXPECT_NT 24, "$A002=0: nametables not vertical", $E0, $E1, $E0, $E1
        PASS "mapper 4: ok"
