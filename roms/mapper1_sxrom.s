; config: prg512_wram
; Mapper 1 on SXROM (NES 2.0: 512 KiB program ROM, 32 KiB of battery-backed RAM, character RAM):
; pattern bank 0's bit 4 picks the 256 KiB half of the program ROM, its bits 3-2 the RAM bank at
; $6000; checks in roms/mmc1_large.inc.
BOARD = 3
.include "mmc1_large.inc"
NES2_HEADER 32, 0, $12, $00, $00, $90, $07
PRG_IDS 64
