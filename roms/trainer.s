; config: trainer_prg32
; A trainer (byte 6 bit 2): the 512 bytes after the header are loaded into cartridge RAM at
; $7000-$71FF, and program ROM starts after them.
.include "banked.inc"
BANKED_IMAGE 2, 1, $04, $00

.segment "TRAINER"
.repeat 256, i
        .byte i ^ $5A
.endrepeat
.repeat 256, i
        .byte i ^ $C3
.endrepeat

.segment "RAMCODE"
main:   EXPECT_PRG 1, "program pages", 0, 1, 2, 3
        ldx #0
trainer_check: txa
        eor #$5A
        cmp $7000,x
        CHECK 2, "$7000-$70FF do not hold the trainer"
        txa
        eor #$C3
        cmp $7100,x
        CHECK 3, "$7100-$71FF do not hold the trainer"
        inx
        bne trainer_check
        lda $7200
        CHECK 4, "$7200 is not 0: more than 512 trainer bytes"
        PASS "trainer: ok"
