; config: prg32_chr8
; The power-on nametable arrangement follows the header's byte 6; here bit 3 set (bit 0 set too):
; four separate pages.
; Four markers are written to the same offset of $2000, $2400, $2800 and $2C00 in that order and
; read back: a nametable sharing its page with a later one shows the later marker.
.include "banked.inc"
INES_HEADER 2, 1, $09, $00
PRG_IDS 4
CHR_IDS 8

.segment "RAMCODE"
main:   NT_WRITE 0, $A0
        NT_WRITE 1, $A1
        NT_WRITE 2, $A2
        NT_WRITE 3, $A3
        EXPECT_NT 1, "nametable arrangement", $A0, $A1, $A2, $A3
        ; $3000-$3EFF repeat $2000-$2EFF
        bit PPUSTATUS
        lda #>($3000 + NT_OFFSET)
        sta PPUADDR
        lda #<NT_OFFSET
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        sta probe
        EXPECT_PROBE 2, "$3000 does not repeat $2000", $A0
        PASS "nametables four_screen: ok"
