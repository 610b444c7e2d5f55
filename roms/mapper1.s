; config: prg128_chr32
; Mapper 1: the five-write serial load (only bit 0 of each value counts, the fifth write's address
; picks the register), the reset write (bit 7: collected bits dropped, control replaced by 12), the
; four nametable arrangements, 32 KiB and both 16 KiB program modes, 8 and 4 KiB pattern banks.
; 128 KiB program ROM, 32 KiB character ROM; the header asks for the horizontal arrangement.
.include "banked.inc"
.include "mmc1_serial.inc"
BANKED_IMAGE 8, 4, $10, $00

.segment "RAMCODE"
main:   NT_WRITE 0, $E0         ; tags nametable page 0 ($2000 in the horizontal arrangement)
        NT_WRITE 2, $E1         ; and page 1 ($2800)
        EXPECT_NT 1, "power-on nametables not horizontal", $E0, $E0, $E1, $E1
        EXPECT_PRG 2, "power-on program pages", 0, 1, 14, 15
        EXPECT_CHR 3, "power-on pattern banks", 0, 4

        LOAD CONTROL, $01       ; one page (1), 32 KiB program mode, 8 KiB pattern mode
        EXPECT_NT 4, "control 1: nametables not all page 1", $E1, $E1, $E1, $E1
        EXPECT_PRG 5, "control 1: 32 KiB bank 0", 0, 1, 2, 3
        EXPECT_CHR 6, "control 1: pattern bank 0", 0, 4
        LOAD PRG, $05           ; 32 KiB mode ignores bit 0: bank 2
        EXPECT_PRG 7, "prg 5 in 32 KiB mode", 8, 9, 10, 11

        LOAD $9F, $0E           ; vertical, fixed last unit at $C000 (any address $8000-$9FFF)
        EXPECT_NT 8, "control $0E: nametables not vertical", $E0, $E1, $E0, $E1
        EXPECT_PRG 9, "control $0E: unit 5 at $8000, last at $C000", 10, 11, 14, 15
        LOAD CONTROL, $0B       ; horizontal, fixed first unit at $8000
        EXPECT_NT 10, "control $0B: nametables not horizontal", $E0, $E0, $E1, $E1
        EXPECT_PRG 11, "control $0B: unit 0 at $8000, unit 5 at $C000", 0, 1, 10, 11

        LOAD CONTROL, $13       ; 4 KiB pattern mode
        LOAD CHR0, $05
        LOAD CHR1, $02
        EXPECT_CHR 12, "4 KiB mode: banks 5 and 2", 20, 8
        EXPECT_PRG 13, "control $13: 32 KiB bank 2", 8, 9, 10, 11
        LOAD CONTROL, $03       ; 8 KiB pattern mode: CHR bank 0 AND $FE, then the next
        EXPECT_CHR 14, "8 KiB mode with bank 5: banks 4 and 5", 16, 20

        ; two bits collected, then a reset write: control := 12 (not ORed with $03)
        lda #$01
        sta $E000
        sta $E000
        lda #$80
        sta $8000
        EXPECT_NT 15, "reset write: nametables not all page 0", $E0, $E0, $E0, $E0
        EXPECT_PRG 16, "reset write: unit 5 at $8000, last at $C000", 10, 11, 14, 15
        EXPECT_CHR 17, "reset write: 8 KiB pattern bank 4", 16, 20
        LOAD PRG, $03           ; the collected bits were dropped: a full load again
        EXPECT_PRG 18, "load after reset write misaligned", 6, 7, 14, 15

        ; the fifth write's address picks the register: four writes at $8000, the fifth at $E000
        lda #$01
        sta $8000
        lda #$00
        sta $8000
        sta $8000
        sta $8000
        sta $E000
        EXPECT_PRG 19, "fifth write at $E000 did not load the program bank", 2, 3, 14, 15
        EXPECT_NT 20, "fifth write at $E000 changed the control register", $E0, $E0, $E0, $E0

        lda #$FF                ; any value with bit 7 set resets
        sta $C000
        LOAD CONTROL, $04       ; mode 1 is 32 KiB mode too; one page (0)
        LOAD PRG, $03
        EXPECT_PRG 21, "control 4, prg 3: 32 KiB bank 1", 4, 5, 6, 7
        EXPECT_NT 22, "control 4: nametables not all page 0", $E0, $E0, $E0, $E0
        PASS "mapper 1: ok"

        SERIAL_LOAD_ROUTINE
