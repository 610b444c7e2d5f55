; config: prg512_chr_ram_153
; Mapper 153 (Bandai LZ93D50 with 8 KiB of battery RAM, Famicom Jump II): bit 0 of the pattern
; registers $0-$7 is program ROM A18 (any of the eight set picks the upper 256 KiB for both
; windows: $8000 the 16 KiB bank of $8, $C000 the last of the half), the 8 KiB of character RAM
; stays unbanked, and bit 5 of $D enables the RAM at $6000 (0 at power-on: reads give 0, writes
; are lost). The power-on outer bank is 0, so the reset stub lives in page 31 too.
; 512 KiB program ROM (64 pages), character RAM, an iNES 1.0 header with the battery bit.
BOARD_RESET = 1
.include "banked.inc"
INES_HEADER 32, 0, $92, $90
PRG_IDS 64

.segment "CODE"
board_reset:                    ; the RAM is off at power-on
        lda #$20
        sta $800D
        rts

; Sets the outer bank and runs on at the same address in page 63, then to the reset code.
.macro OUTER_STUB
        sei
        lda #$01
        sta $8000
        jmp reset
.endmacro
.segment "STUB31"
stub:   OUTER_STUB
.segment "VECTORS31"
        .word stub, stub, stub
.segment "STUB63"
        OUTER_STUB

.segment "CODE"
; The RAM with $D bit 5 clear, run from ROM: probe := $6080 after a write there, then with the
; bit set again.
ram_checks:
        lda #$A5
        sta $6080
        lda #$00
        sta $800D
        lda #$5A
        sta $6080
        lda $6080
        sta probe
        lda #$20
        sta $FFFD       ; $D
        lda $6080
        sta probe+1
        rts

.segment "RAMCODE"
main:   EXPECT_WINDOWS 1, "the stub's outer bank 1", 32, 33, 62, 63
        lda #$05
        sta $8008
        EXPECT_WINDOWS 2, "$8=5 in the upper half", 42, 43, 62, 63
        lda #$FE        ; bit 0 clear
        sta $8000
        EXPECT_WINDOWS 3, "outer bank 0", 10, 11, 30, 31
        lda #$01
        sta $C005
        EXPECT_WINDOWS 4, "outer bank 1 through $5", 42, 43, 62, 63
        lda #$3F
        sta $8008
        EXPECT_WINDOWS 5, "$8=$3F: bank 15 of the half", 62, 63, 62, 63

        CHR_WRITE 0, $42
        CHR_WRITE 7, $47
        lda #$00
        sta $8005
        lda #$03
        sta $8000
        sta $8007
        EXPECT_CHR_KIB 6, "character RAM moved with the pattern registers", $42, 0, 0, 0, 0, 0, 0, $47

        jsr ram_checks
        EXPECT_PROBE 7, "RAM with $D bit 5 clear, then set", {$00, $A5}
        PASS "mapper 153: ok"
