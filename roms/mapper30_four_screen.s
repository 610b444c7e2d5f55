; config: mapper30_prg128
; Mapper 30 (UNROM 512) wired for four screens (InfiniteNESLives): header bits 6.3 and 6.0 both set,
; iNES 1.0, so 32 KiB of character RAM and (no battery) bus conflicts. The nametables are no longer
; the console's RAM but character RAM: PPU $2000-$2FFF is the first 4 KiB of the last 8 KiB bank
; (character RAM $6000-$6FFF, seen at PPU $0000-$0FFF with bank 3 selected), $3000-$3EFF mirrors it.
.include "banked.inc"
INES_HEADER 8, 0, $E9, $10
PRG_IDS 16

FREE = $C100            ; a program ROM byte of $FF: the latch takes a write there whole

.macro LATCH value
        lda #value
        sta FREE
.endmacro

; probe[n] := pattern memory at n * $400 + NT_OFFSET: where nametable n lies in character bank 3.
.macro PROBE_UNDER_NAMETABLES
        .local next
        ldx #0
next:   bit PPUSTATUS
        txa
        asl a
        asl a
        ora #>NT_OFFSET
        sta PPUADDR
        lda #<NT_OFFSET
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        sta probe,x
        inx
        cpx #4
        bne next
.endmacro

; Reads the byte at PPU `address` into probe+index.
.macro PPU_PEEK address, index
        bit PPUSTATUS
        lda #>(address)
        sta PPUADDR
        lda #<(address)
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        sta probe+index
.endmacro

.segment "RAMCODE"
main:   NT_WRITE 0, $C0
        NT_WRITE 1, $C1
        NT_WRITE 2, $C2
        NT_WRITE 3, $C3
        EXPECT_NT 1, "four nametables", $C0, $C1, $C2, $C3
        LATCH $60
        PROBE_UNDER_NAMETABLES
        EXPECT_PROBE 2, "character bank 3 under the nametables", {$C0, $C1, $C2, $C3}
        LATCH $00
        PROBE_UNDER_NAMETABLES
        EXPECT_PROBE 3, "character bank 0 holds the nametables", {0, 0, 0, 0}
        LATCH $40
        PROBE_UNDER_NAMETABLES
        EXPECT_PROBE 4, "character bank 2 holds the nametables", {0, 0, 0, 0}
        PPU_PEEK $3000 + NT_OFFSET, 0
        PPU_PEEK $3400 + NT_OFFSET, 1
        PPU_PEEK $3800 + NT_OFFSET, 2
        PPU_PEEK $3C00 + NT_OFFSET, 3
        EXPECT_PROBE 5, "$3000-$3EFF mirrors", {$C0, $C1, $C2, $C3}
        LATCH $60
        bit PPUSTATUS
        lda #>($0C00 + NT_OFFSET)
        sta PPUADDR
        lda #<($0C00 + NT_OFFSET)
        sta PPUADDR
        lda #$D3
        sta PPUDATA
        LATCH $00
        EXPECT_NT 6, "a pattern write in bank 3 is nametable 3", $C0, $C1, $C2, $D3
        PASS "mapper 30 four screens: ok"
