; config: prg128_bank16
; Mapper 78 under an iNES 1.0 header (no submapper) with the four-screen bit set, as old dumps of
; Holy Diver have it: the board is taken for the IF-12 (M = 0 horizontal mirroring, M = 1 vertical;
; see mapper78.inc), not for four screens. iNES 1.0 implies 8 KiB of PRG RAM (the result area).
.include "discrete.inc"
INES_HEADER 8, 16, $E8, $40
PRG_IDS 16
CHR_KIB_IDS 128
ONE_SCREEN = 0
.include "mapper78.inc"
        PASS "mapper 78, four-screen bit: ok (IF-12)"
