; config: prg256_chr256
; Mapper 10 (FxROM, MMC4): 16 KiB program bank at $8000 with the last 16 KiB fixed, four 4 KiB
; pattern registers under two latches that the PPU's reads of tiles $FD and $FE switch (latch 0 on
; $0FD8-$0FDF and $0FE8-$0FEF), the arrangement register, 8 KiB of RAM at $6000 (where the checks
; run); checks in roms/mmc2.inc.
; 256 KiB program ROM (32 pages), 256 KiB character ROM (the registers reach its first 128 KiB);
; the header asks for vertical mirroring.
MMC4 = 1
.include "mmc2.inc"
INES_HEADER 16, 32, $A1, $00
PRG_IDS 32
LATCH_CHR 256
