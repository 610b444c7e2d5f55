; config: prg512_wram
; Mapper 1 on SUROM (iNES 1.0, 512 KiB program ROM, 8 KiB of RAM, character RAM): pattern bank 0's
; bit 4 picks the 256 KiB half of the program ROM; checks in roms/mmc1_large.inc.
BOARD = 1
.include "mmc1_large.inc"
INES_HEADER 32, 0, $10, $00
PRG_IDS 64
