; config: prg32_chr32
; Mapper 3: a write to $8000-$FFFF selects the 8 KiB pattern bank by the value ANDed with the ROM
; byte under the written address (bus conflict), low two bits; the program ROM never switches.
.include "banked.inc"
BANKED_IMAGE 2, 4, $31, $00

.segment "RODATA"
rom_bytes: .byte $00, $01, $02, $03, $FF

.segment "RAMCODE"
main:   EXPECT_CHR 1, "power-on pattern bank 0", 0, 4
        lda #$03
        sta rom_bytes+1         ; $03 AND $01
        EXPECT_CHR 2, "$03 over ROM byte $01: bank 1", 8, 12
        lda #$02
        sta rom_bytes+4         ; $02 AND $FF
        EXPECT_CHR 3, "$02 over ROM byte $FF: bank 2", 16, 20
        lda #$FF
        sta rom_bytes+3         ; $FF AND $03
        EXPECT_CHR 4, "$FF over ROM byte $03: bank 3", 24, 28
        lda #$01
        sta rom_bytes+2         ; $01 AND $02
        EXPECT_CHR 5, "$01 over ROM byte $02: bank 0", 0, 4
        EXPECT_PRG 6, "program pages changed", 0, 1, 2, 3
        PASS "mapper 3: ok"
