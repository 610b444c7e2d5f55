; config: prg128_chr32
; Mapper 4 with header byte 6 bit 3 (four-screen, TR1ROM/TVROM): the board's own RAM gives four
; separate nametables at $2000-$2FFF, $3000-$3EFF repeat them, and $A000 writes change nothing.
.include "banked.inc"
INES_HEADER 8, 4, $48, $00
PRG_IDS 16
CHR_KIB_IDS 32

.segment "RAMCODE"
main:   NT_WRITE 0, $A0
        NT_WRITE 1, $A1
        NT_WRITE 2, $A2
        NT_WRITE 3, $A3
        EXPECT_NT 1, "four-screen: nametables not four separate pages", $A0, $A1, $A2, $A3
        lda #$00                ; vertical, were the arrangement the chip's
        sta $A000
        EXPECT_NT 2, "$A000=0 changed the four-screen nametables", $A0, $A1, $A2, $A3
        lda #$01                ; horizontal
        sta $A000
        EXPECT_NT 3, "$A000=1 changed the four-screen nametables", $A0, $A1, $A2, $A3
        NT_WRITE 1, $B1         ; written after the $A000 writes: still its own page
        NT_WRITE 2, $B2
        EXPECT_NT 4, "four-screen after $A000=1: pages not separate", $A0, $B1, $B2, $A3
        ; $3000 + offset repeats $2000 + offset, $3C00 + offset (below $3F00) repeats $2C00 + offset
        lda #>($3000 + NT_OFFSET)
        jsr read_nt_mirror
        sta probe
        lda #>($3C00 + NT_OFFSET)
        jsr read_nt_mirror
        sta probe+1
        EXPECT_PROBE 5, "$3000/$3C00 do not repeat $2000/$2C00", {$A0, $A3}
        PASS "mapper 4, four-screen: ok"

; A := the PPU byte at A * 256 + <NT_OFFSET.
read_nt_mirror:
        bit PPUSTATUS
        sta PPUADDR
        lda #<NT_OFFSET
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        rts
