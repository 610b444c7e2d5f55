; config: prg16_chr8
; Mapper 0 with one 16 KiB unit: the unit is seen at both $8000 and $C000, byte for byte; $5000 reads
; its offset $1000; the 8 KiB of character ROM fill the pattern tables and take PPUDATA writes.
.include "banked.inc"
BANKED_IMAGE 1, 1, $00, $00

.segment "ZEROPAGE"
low_ptr:  .res 2
high_ptr: .res 2

.segment "RAMCODE"
main:   EXPECT_PRG 1, "pages at $8000 $A000 $C000 $E000 and $5000", 0, 1, 0, 1
        ; every byte of $8000-$BFFF equals the byte 16 KiB above it
        lda #0
        sta low_ptr
        sta high_ptr
        lda #$80
        sta low_ptr+1
        lda #$C0
        sta high_ptr+1
        ldy #0
mirror: lda (low_ptr),y
        cmp (high_ptr),y
        CHECK 2, "$8000-$BFFF differ from $C000-$FFFF"
        iny
        bne mirror
        inc low_ptr+1
        inc high_ptr+1
        bne mirror              ; until the high pointer wraps past $FFFF
        EXPECT_CHR 3, "pattern memory is not the 8 KiB of character ROM", 0, 4
        ; a PPUDATA write into character ROM changes it
        bit PPUSTATUS
        lda #$00
        sta PPUADDR
        lda #$10
        sta PPUADDR
        lda #$5A
        sta PPUDATA
        bit PPUSTATUS
        lda #$00
        sta PPUADDR
        lda #$10
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        sta probe
        EXPECT_PROBE 4, "PPUDATA write to $0010 did not stick", $5A
        PASS "mapper 0, 16 KiB: ok"
