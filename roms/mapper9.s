; config: prg128_chr128
; Mapper 9 (PxROM, MMC2): 8 KiB program bank at $8000 with the last three pages fixed, four 4 KiB
; pattern registers under two latches that the PPU's reads of tiles $FD and $FE switch (latch 0 on
; $0FD8 and $0FE8 exactly), the arrangement register; checks in roms/mmc2.inc.
; 128 KiB program ROM (16 pages), 128 KiB character ROM; the header asks for vertical mirroring.
MMC4 = 0
.include "mmc2.inc"
INES_HEADER 8, 16, $91, $00
PRG_IDS 16
LATCH_CHR 128
