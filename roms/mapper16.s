; config: prg256_chr256_fixed_c000
; Mapper 16.5 (Bandai LZ93D50 with a 24C02 EEPROM): registers at $8000-$FFFF (address AND $000F):
; eight 1 KiB pattern banks ($0-$7, 8 bits), the 16 KiB program bank at $8000 ($8, 4 bits; the
; last 16 KiB fixed at $C000), the arrangement ($9: 0 vertical, 1 horizontal, 2/3 one-screen), all
; 0 at power-on; $6000-$7FFF are not registers. The counter to the cycle (see irq_measure.inc: a sum
; of S means the line rose S + 3 cycles after the measured write): $B/$C fill a latch, $A copies it
; into the counter and sets the enable, the line rises the latch's count of cycles after that write
; (S = N - 3), a latch write leaves the running counter alone, $A with bit 0 clear stops it, only
; $A acknowledges. The EEPROM through $D (SCL bit 5, SDA bit 6, bit 7 lets go of SDA) and bit 4 of
; $6000: a device byte other than 1010 000x is not acknowledged, bytes written and read back with
; random and sequential reads, an 8-byte page wrap on writes. Cell 0 counts the runs: each run
; reads it and writes it back plus one (the battery tests check the file after two runs).
; 256 KiB program ROM, 256 KiB character ROM (KiB numbered by their first byte), an NES 2.0 header
; with 256 bytes of NVRAM and the battery bit; the program runs from the fixed ROM at $C000.
PROGRAM_IN_ROM = 1
BANKED_IRQ = 1
.include "banked.inc"
NES2_HEADER 16, 32, $02, $10, $50, $20, $00
PRG_IDS 32
CHR_KIB_IDS 256

.segment "ZEROPAGE"
ctrl0:   .res 1
second:  .res 2     ; the address of the measured write
value1:  .res 1     ; its value

; The counter: $A := ctrl0 on cycle W - 6, then value1 to (second) on cycle W.
.macro MEASURED_WRITES
        ldx ctrl0
        lda value1
        ldy #0
        stx $800A
        sta (second),y
.endmacro
.macro IRQ_ACKNOWLEDGE
        lda #0
        sta $800A
.endmacro
.macro IRQ_SHOW
        lda #1
        sta $800A
.endmacro
.macro IRQ_SHOW_START
        LATCH $0EA7
        lda #1
        sta $800A
.endmacro
.include "irq_measure.inc"

.macro LATCH value
        lda #<(value)
        sta $800B
        lda #>(value)
        sta $800C
.endmacro

; Measures a latch of `latch`: $A := c0 on cycle W - 6, then `v` to `address` on cycle W.
.macro IRQ_CASE code, text, latch, c0, address, v, expected
        LATCH latch
        lda #c0
        sta ctrl0
        lda #<(address)
        sta second
        lda #>(address)
        sta second+1
        lda #v
        sta value1
        jsr measure
        EXPECT_SUM code, text, expected
.endmacro

.include "bandai_eeprom.inc"

.segment "RAMCODE"
main:   SLIDE_SETUP
        EXPECT_WINDOWS 1, "power-on program pages", 0, 1, 30, 31
        EXPECT_CHR_KIB 2, "power-on pattern KiB", 0, 0, 0, 0, 0, 0, 0, 0
        NT_WRITE 0, $E0
        NT_WRITE 1, $E1
        EXPECT_NT 3, "power-on nametables not vertical", $E0, $E1, $E0, $E1

        lda #$F5
        sta $8008
        EXPECT_WINDOWS 4, "$8=$F5: bank 5", 10, 11, 30, 31
        lda #$0C
        sta $FFF8
        EXPECT_WINDOWS 5, "$FFF8=$0C: bank 12", 24, 25, 30, 31
        lda #$03
        sta $6008
        sta $7FF8
        EXPECT_WINDOWS 6, "$6008/$7FF8 reached the bank", 24, 25, 30, 31

        ldx #0
@chr:   lda chr_values,x
        sta $8000,x
        inx
        cpx #4
        bne @chr
@chr2:  lda chr_values,x
        sta $BFF0,x     ; $BFF4-$BFF7: registers 4-7
        inx
        cpx #8
        bne @chr2
        lda #$77
        sta $7FF1       ; not a register
        EXPECT_CHR_KIB 7, "pattern KiB", $F3, $1E, $2D, $3C, $4B, $5A, $69, $78

        lda #$01
        sta $8009
        EXPECT_NT 8, "$9=1 not horizontal", $E0, $E0, $E1, $E1
        lda #$02
        sta $C009
        EXPECT_NT 9, "$9=2 not one-screen 0", $E0, $E0, $E0, $E0
        NT_WRITE 2, $E2
        lda #$FB        ; bits 1-0 = 3
        sta $8009
        EXPECT_NT 10, "$9=3 not one-screen 1", $E1, $E1, $E1, $E1
        lda #$00
        sta $8009
        EXPECT_NT 11, "$9=0 not vertical", $E2, $E1, $E2, $E1

        IRQ_CASE 12, "latch 300, $A on W", 300, $00, $800A, $01, 297
        IRQ_CASE 13, "latch 301, $A on W", 301, $00, $800A, $01, 298
        IRQ_CASE 14, "latch $0105 through $F00A", $0105, $00, $F00A, $01, 258
        IRQ_CASE 15, "a latch write moved the running counter", 300, $01, $800B, $2C, 291
        IRQ_CASE 16, "$A=0 did not stop it", 300, $01, $800A, $00, $FFFF
        IRQ_CASE 17, "$600A started it", 300, $00, $600A, $01, $FFFF

        ; Only $A acknowledges.
        LATCH 10
        lda #$01
        sta $800A
        DELAY 100
        LATCH $8000
        lda #$0C
        sta $8008
        jsr irq_waiting
        eor #1
        CHECK 18, "a latch or bank write acknowledged"
        lda #$01
        sta $800A       ; 32768 cycles to go
        jsr irq_waiting
        CHECK 19, "$A did not acknowledge"
        lda #$00
        sta $800A

        ; The line: bit 4 of $6000-$7FFF, the other bits 0.
        LINES SDA
        lda $7FFF
        cmp #$10
        CHECK 20, "SDA high: $7FFF not $10"
        LINES 0
        lda $6000
        CHECK 21, "SDA driven low: $6000 not 0"
        LINES RELEASE
        lda $6123
        cmp #$10
        CHECK 22, "SDA let go: $6123 not $10"

        ; A device byte for another address: no acknowledge.
        jsr i2c_start
        lda #$A2
        jsr i2c_send
        lda #0
        rol a
        eor #1
        CHECK 23, "device $A2 acknowledged"
        jsr i2c_stop

        COUNT_RUN 24

        WRITE_CELLS 26, $10, {$11, $22, $33, $44}
        READ_CELLS 27, $10, 4
        EXPECT_PROBE 27, "cells $10-$13", {$11, $22, $33, $44}
        WRITE_CELLS 28, $1E, {$A1, $A2, $A3, $A4}
        READ_CELLS 29, $18, 8
        EXPECT_PROBE 29, "page wrap: cells $18-$1F", {$A3, $A4, $00, $00, $00, $00, $A1, $A2}
        READ_CELLS 30, $00, 1
        lda probe
        cmp runs
        CHECK 31, "run count read back"

        PASS_AND_SHOW "mapper 16: ok"

chr_values:
        .byte $F3, $1E, $2D, $3C, $4B, $5A, $69, $78
