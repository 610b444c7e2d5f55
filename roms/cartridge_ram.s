; config: nrom32
; Cartridge RAM at $6000-$7FFF keeps what the CPU writes there, and $4018-$5FFF read program ROM
; at offset address - $4000 (the first 16 KiB repeated below $8000).
.include "result.inc"
INES_HEADER 2, 1, $01, $00

.segment "CODE"
reset:  TEST_RESET
        ; cartridge RAM keeps a pattern
        ldx #0
fill:   txa
        eor #$5A
        sta $7000,x
        inx
        bne fill
        ldx #0
check:  txa
        eor #$5A
        cmp $7000,x
        EXPECT_EQ 2, "cartridge RAM lost a byte"
        inx
        bne check
        ; $4018-$40FF read program ROM offsets $0018-$00FF: this code at $8018-$80FF
        ldx #$18
rom:    lda $4000,x
        cmp $8000,x
        EXPECT_EQ 3, "$4018-$40FF do not read program ROM offset $0018-$00FF"
        inx
        bne rom
        TEST_END 0, "cartridge RAM and $4018-$5FFF ok"

.segment "VECTORS"
        .word reset, reset, reset
