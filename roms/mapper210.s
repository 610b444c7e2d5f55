; config: prg256_chr256
; Mapper 210.1 (Namco 175), the 163's banking without its extras:
; - $E000/$E800/$F000 bits 0-5: 8 KiB program banks at $8000/$A000/$C000; $E000 is the last page
;   (31); $E000's bits 6-7 (the 340's arrangement) change nothing here.
; - $8000-$B800: 1 KiB pattern banks of character ROM, 8 bits: $E0 and up are ROM too.
; - the header's arrangement (vertical); $C800-$D800 (the 163's nametables) and $F800 change
;   nothing; $5000/$5800 make no interrupt (no counter).
; - 2 KiB of RAM repeated over $6000-$7FFF, on while $C000's bit 0 is set (off: reads 0, writes
;   lost); off at power-on.
; 256 KiB program ROM, 256 KiB character ROM (KiB numbered by their first byte); an NES 2.0 header
; with 2 KiB of PRG RAM.
BOARD_RESET = 1
BANKED_IRQ = 1
.include "banked.inc"
.include "irq_slide.inc"
NES2_HEADER 16, 32, $21, $D0, $10, $05, $00
PRG_IDS 32
CHR_KIB_IDS 256

.segment "ZEROPAGE"
power_on_ram: .res 2

.macro SET address, value
        lda #value
        sta address
.endmacro

.segment "CODE"
board_reset:
        SET $60F0, $5A          ; RAM off at power-on: lost
        lda $60F0
        sta power_on_ram        ; reads 0 while off
        SET $C000, $01
        lda $60F0
        sta power_on_ram+1      ; 0: the write was lost
        rts

; probe[0..3] := the byte at offset $10 of each 2 KiB of $6000-$7FFF.
ram_probe:
        lda $6010
        sta probe
        lda $6810
        sta probe+1
        lda $7010
        sta probe+2
        lda $7810
        sta probe+3
        rts

main:   SLIDE_INIT
        lda power_on_ram
        sta probe
        lda power_on_ram+1
        sta probe+1
        EXPECT_PROBE 1, "power-on RAM not off", {0, 0}
        EXPECT_WINDOWS 2, "power-on program pages", 0, 0, 0, 31
        EXPECT_CHR_KIB 3, "power-on pattern KiB", 0, 0, 0, 0, 0, 0, 0, 0
        NT_WRITE 0, $E0
        NT_WRITE 1, $E1
        EXPECT_NT 4, "nametables not the header's vertical", $E0, $E1, $E0, $E1

        SET $E000, $C5
        SET $EFFF, $0A          ; $E800
        SET $F7FF, $1E          ; $F000
        EXPECT_WINDOWS 5, "program banks 5, 10, 30", 5, 10, 30, 31
        EXPECT_NT 6, "$E000 bits 6-7 changed the arrangement", $E0, $E1, $E0, $E1

        SET $8000, $E0
        SET $8FFF, $FF          ; $8800
        SET $9000, $10
        SET $9800, $E1
        SET $A000, $7F
        SET $A800, $C3
        SET $B000, $FE
        SET $B800, $05
        EXPECT_CHR_KIB 7, "pattern banks (all character ROM)", $E0, $FF, $10, $E1, $7F, $C3, $FE, $05

        SET $C800, $E1          ; no nametable registers, no port
        SET $D000, $E1
        SET $D800, $00
        SET $F800, $40
        EXPECT_NT 8, "$C800-$D800 changed the arrangement", $E0, $E1, $E0, $E1
        EXPECT_CHR_KIB 9, "$C800-$F800 moved a pattern bank", $E0, $FF, $10, $E1, $7F, $C3, $FE, $05
        EXPECT_WINDOWS 10, "$C800-$F800 moved a program bank", 5, 10, 30, 31

        SET $6010, $77          ; 2 KiB, four times
        jsr ram_probe
        EXPECT_PROBE 11, "RAM not repeated every 2 KiB", {$77, $77, $77, $77}
        SET $7FF1, $88
        lda $67F1
        sta probe
        lda $6FF1
        sta probe+1
        EXPECT_PROBE 12, "$7FF1 not $67F1", {$88, $88}

        SET $C000, $FE          ; bit 0 clear: off
        SET $7010, $99
        jsr ram_probe
        SET $C000, $FF
        lda $6010
        sta probe+4
        EXPECT_PROBE 13, "RAM off ($C000 = $FE) read or written", {0, 0, 0, 0, $77}

        SET $5800, $00          ; a 163 would interrupt 16 cycles after the $5800 write
        SET $5000, $F0
        SET $5800, $FF
        jsr run_slide
        EXPECT_SLIDE 14, "an interrupt: NOP", $FF
        PASS "mapper 210.1: ok"
