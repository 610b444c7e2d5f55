; config: prg256_wram
; Mapper 1 on SOROM (NES 2.0: 256 KiB program ROM, 8 KiB of RAM and 8 KiB of battery-backed RAM,
; character RAM): the RAM bank at $6000 is pattern bank 0's bit 3 in 8 KiB pattern mode, bit 4 in
; 4 KiB mode; checks in roms/mmc1_large.inc.
BOARD = 2
.include "mmc1_large.inc"
NES2_HEADER 16, 0, $12, $00, $00, $77, $07
PRG_IDS 32
