; config: prg128_bank16
; Mapper 78.3 (Irem IF-12, Holy Diver), see mapper78.inc: M = 0 horizontal mirroring, M = 1
; vertical. The header's mirroring bit (vertical mirroring here) is not wired. An NES 2.0 header
; names the submapper and declares 8 KiB of PRG RAM for the result area (the board has none).
.include "discrete.inc"
NES2_HEADER 8, 16, $E1, $40, $30, $07, $00
PRG_IDS 16
CHR_KIB_IDS 128
ONE_SCREEN = 0
.include "mapper78.inc"
        PASS "mapper 78.3 (Holy Diver): ok"
