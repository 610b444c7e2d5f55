; config: mapper30_prg128
; Mapper 30 (UNROM 512), the self-flashing board: an iNES 1.0 header with the battery bit set and the
; vertical arrangement (bytes 6/7 $E3 $10, as NESmaker games have them): submapper 0, so flash and
; no bus conflicts, 32 KiB of character RAM. 128 KiB of program flash, an SST39SF010A.
; $C000-$FFFF writes the latch whole; $8000-$BFFF writes go to the chip and leave the latch alone.
; The chip identifies itself ($BF, $B5) across the whole program space until F0 (alone or after the
; unlock cycles). A sector erase sets the save sector to $FF; while it runs (18 ms: the poll below
; counts about 1600 passes of 20 cycles) every read shows status: DQ7 0, DQ6 toggling from read to
; read, fixed bank too, and commands are ignored. A byte program can only clear bits; until it ends
; DQ7 reads as the complement of the programmed bit.
; The save: "SAVE" and a run number at $B000 of bank 6. A run finds the last run's number there (0 if
; none) and writes the next; the result text ends "run NN" with it in hex, so two runs with the
; same battery file give run 01, then run 02.
.include "banked.inc"
.include "mapper30_flash.inc"
INES_HEADER 8, 0, $E3, $10
PRG_IDS 16

.segment "ZEROPAGE"
runs:       .res 1
count:      .res 2

.macro TARGET address
        lda #<(address)
        sta target
        lda #>(address)
        sta target+1
.endmacro

.segment "RAMCODE"
main:   EXPECT_WINDOWS 1, "power-on program pages", 0, 1, 14, 15
        lda #$03
        sta $C000               ; $8E there: no AND
        EXPECT_WINDOWS 2, "3 at $C000", 6, 7, 14, 15
        lda #$05
        sta $8100
        sta $BFFF
        EXPECT_WINDOWS 3, "a write at $8000-$BFFF reached the latch", 6, 7, 14, 15

        lda #$90                ; software identification
        jsr flash_command
        jsr probe_prg
        lda $8001
        sta probe+4
        lda $E001
        sta probe+5
        EXPECT_PROBE 4, "identification", {$BF, $BF, $BF, $BF, $B5, $B5}
        lda #$F0
        sta $8000
        EXPECT_WINDOWS 5, "F0 did not end identification", 2, 3, 14, 15
        lda #$90
        jsr flash_command
        lda #$F0
        jsr flash_command
        EXPECT_WINDOWS 6, "AA 55 F0 did not end identification", 2, 3, 14, 15

        ; the last run's number
        SAVE_BANK_IN
        ldx #0
        ldy #3
m30_sig:   lda SAVE,y
        cmp signature,y
        bne m30_none
        dey
        bpl m30_sig
        ldx SAVE+4
m30_none:  inx
        stx runs

        jsr erase_save
        lda $E000               ; busy: status, DQ7 0, not $8F
        sta probe
        eor $FFF0
        sta probe+1
        lda probe
        and #$80
        CHECK 7, "erasing: a fixed-bank read is not status with DQ7 0"
        lda probe+1
        and #$40
        cmp #$40
        CHECK 8, "erasing: DQ6 did not toggle between two reads"
        TARGET SAVE + $10       ; ignored while busy
        lda #$00
        sta data
        jsr program_byte
        TARGET SAVE
        lda #0
        sta count
        sta count+1
m30_poll:  lda SAVE                ; 20 cycles a pass
        eor SAVE
        and #$40
        beq m30_erased
        inc count
        bne m30_poll
        inc count+1
        jmp m30_poll
m30_erased:
        lda count+1
        sta probe
        cmp #5
        bcc m30_short
        cmp #9
        bcc m30_timed
m30_short: lda #1
        CHECK 9, "the erase did not last 14-25 ms (passes / 256)"
m30_timed: lda SAVE
        and SAVE + $10
        and SAVE + $FFF
        cmp #$FF
        CHECK 10, "the sector is not erased, or the program while busy was taken"
        lda $A000               ; the sector before is untouched: page 13's first byte
        cmp #PRG_ID + 13
        CHECK 11, "the erase reached the sector before"

        ldx #0
m30_save:  lda signature,x
        cpx #4
        bne m30_byte
        lda runs
m30_byte:  sta data
        txa
        clc
        adc #<SAVE
        sta target
        lda #>SAVE
        sta target+1
        stx count
        jsr program_byte
        lda (target),y          ; busy: DQ7 the complement
        eor data
        and #$80
        cmp #$80
        CHECK 12, "programming: DQ7 is not the complement"
        jsr wait_data
        ldx count
        inx
        cpx #5
        bne m30_save

        TARGET SAVE + 5         ; $0F, then $F0: only zeroes are written
        lda #$0F
        sta data
        jsr program_byte
        jsr wait_toggle
        lda #$F0
        sta data
        jsr program_byte
        jsr wait_toggle
        lda SAVE + 5
        CHECK 13, "a program set bits"

        jsr probe_prg
        lda SAVE
        sta probe
        lda SAVE + 3
        sta probe+1
        lda SAVE + 4
        sta probe+4
        EXPECT_PROBE 14, "read back: S, E, bank 6/7 windows, run", {$53, $45, PRG_ID + 14, PRG_ID + 15}
        lda probe+4
        cmp runs
        CHECK 15, "read back: the run number"

        ldx #0
m30_text:  lda passed,x
        beq m30_number
        sta result_text,x
        inx
        bne m30_text
m30_number:
        lda runs
        lsr a
        lsr a
        lsr a
        lsr a
        jsr m30_digit
        lda runs
        and #$0F
        jsr m30_digit
        lda #0
        sta result_text,x
        sta result_code
m30_stop:  jmp m30_stop
m30_digit: ora #'0'
        cmp #'9' + 1
        bcc m30_put
        adc #'A' - '9' - 2
m30_put:   sta result_text,x
        inx
        rts

signature: .byte "SAVE"
passed:    .asciiz "mapper 30 flash: ok, run "
