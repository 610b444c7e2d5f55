; config: mapper30_prg128
; A game that saves to its flash all the time (mapper 30, self-flashing, as mapper30_flash.s): pass
; after pass it reads the first byte of the save sector ($B000 in bank 6), erases the sector and
; programs all 4 KiB of it, byte by byte, with that value plus one. At any moment the sector holds
; some value w from its start up to a point and $FF after it; the rest of the flash is the image's.
.include "banked.inc"
.include "mapper30_flash.inc"
INES_HEADER 8, 0, $E3, $10
PRG_IDS 16

.segment "RAMCODE"
main:   SAVE_BANK_IN
pass:   lda SAVE
        clc
        adc #1
        pha
        jsr erase_save
        lda #<SAVE
        sta target
        lda #>SAVE
        sta target+1
        jsr wait_toggle
        pla
        sta data
next:   jsr program_byte
        jsr wait_data
        inc target
        bne next
        inc target+1
        lda target+1
        cmp #>(SAVE + $1000)
        bne next
        jmp pass
