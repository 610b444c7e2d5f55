; config: prg128_chr32
; A header with the NES 2.0 identifier (byte 7 AND $0C = $08) takes the mapper number from the high
; halves of bytes 7 and 6: $08/$20 is mapper 2 (the older rule would read 10, a board without
; registers). Mapper 2's bank switch proves which one the loader chose.
.include "banked.inc"
BANKED_IMAGE 8, 4, $20, $08

.segment "RAMCODE"
main:   EXPECT_PRG 1, "power-on program pages", 0, 1, 14, 15
        lda #3
        sta $8000
        EXPECT_PRG 2, "3 written: no mapper 2 switch", 6, 7, 14, 15
        PASS "NES 2.0 header, mapper 2: ok"
