; config: prg128_bank16
; Mapper 78.1 (Jaleco JF-16, Uchuusen Cosmo Carrier), see mapper78.inc: M picks the one-screen page.
; The header's mirroring bit (vertical mirroring here) is not wired. An NES 2.0 header names the
; submapper and declares 8 KiB of PRG RAM for the result area (the board has none).
.include "discrete.inc"
NES2_HEADER 8, 16, $E1, $40, $10, $07, $00
PRG_IDS 16
CHR_KIB_IDS 128
ONE_SCREEN = 1
.include "mapper78.inc"
        PASS "mapper 78.1 (Cosmo Carrier): ok"
