; config: prg256_chr256
; Mapper 18 (Jaleco SS 88006): every register takes a nibble (low at the even address, high at the
; odd, address AND $F003). Program banks at $8000, $A000 and $C000 (4 + 2 bits; the last page
; fixed at $E000), eight 1 KiB pattern banks (4 + 4 bits), the nametable arrangement ($F002: 0
; horizontal, 1 vertical, 2/3 one-screen), the RAM's enable and write enable ($9002: 00 off, 01
; read only, 11 read and write, 10 off), all 0 at power-on. The interrupt counter to the cycle (see
; irq_measure.inc: a sum of S means the line rose S + 3 cycles after the measured write): a reload R
; counting in 16, 12, 8 or 4 bits interrupts R + 1 cycles after the enabling write (S = field - 2),
; the bits above the width hold while it counts and wraps, $E000-$E003 do not acknowledge,
; $F000 and $F001 do, and a cleared enable bit stops it.
; 256 KiB program ROM (32 pages), 256 KiB character ROM (KiB numbered by their first byte), an
; iNES 1.0 header (8 KiB of RAM at $6000).
BOARD_RESET = 1
BANKED_IRQ = 1
.include "banked.inc"
INES_HEADER 16, 32, $20, $10
PRG_IDS 32

.segment "CODE"
board_reset:                    ; the RAM is off at power-on
        lda #$03
        sta $9002
        rts
CHR_KIB_IDS 256

.segment "ZEROPAGE"
ctrl0:  .res 1
ctrl1:  .res 1

; The counter: reload and acknowledge ($F000), control ctrl0 on cycle W - 4, ctrl1 on cycle W.
.macro MEASURED_WRITES
        ldx ctrl0
        ldy ctrl1
        sta $F000
        stx $F001
        sty $F001
.endmacro
.macro IRQ_ACKNOWLEDGE
        lda #0
        sta $F001
.endmacro
.macro IRQ_SHOW
        sta $F000
.endmacro
.macro IRQ_SHOW_START
        RELOAD $0EA7    ; an interrupt about every 3760 cycles
        sta $F000
        lda #$01
        sta $F001
.endmacro
.include "irq_measure.inc"

; The reload nibbles of a 16-bit value.
.macro RELOAD value
        lda #<(value) & $0F
        sta $E000
        lda #<(value) >> 4
        sta $E001
        lda #>(value) & $0F
        sta $E002
        lda #>(value) >> 4
        sta $E003
.endmacro

; Measures a reload of `reload` with control `c0` on cycle W - 4 and `c1` on cycle W.
.macro IRQ_CASE code, text, reload, c0, c1, expected
        RELOAD reload
        lda #c0
        sta ctrl0
        lda #c1
        sta ctrl1
        jsr measure
        EXPECT_SUM code, text, expected
.endmacro

.segment "CODE"
; RAM at $6000 under each $9002 setting, run from ROM (the program runs from that RAM otherwise):
; probe := what $6080 reads read-only after a write, disabled, and after a write with only the
; write enable set.
ram_checks:
        lda #$A5
        sta $6080
        lda #$01
        sta $9FFE       ; $9002: read only
        lda #$5A
        sta $6080
        lda $6080
        sta probe
        lda #$00
        sta $9002       ; off
        lda $6080
        sta probe+1
        lda #$02
        sta $9002       ; write enable alone
        lda #$33
        sta $6080
        lda #$FF
        sta $9002       ; read and write (bits 1-0)
        lda $6080
        sta probe+2
        rts

chr_writes:     ; address, value: the pattern banks $F3, $1E, $2D, $3C, $4B, $5A, $69, $78
        .word $A000, $F3, $AFFD, $FF, $A002, $FE, $A003, $01, $B000, $0D, $B001, $F2, $B002, $FC, $BFFF, $03
        .word $C000, $FB, $C001, $04, $C002, $FA, $C003, $05, $D000, $09, $D001, $06, $DFFE, $08, $D003, $07

.segment "RAMCODE"
main:   SLIDE_SETUP
        EXPECT_WINDOWS 1, "power-on program pages", 0, 0, 0, 31
        EXPECT_CHR_KIB 2, "power-on pattern KiB", 0, 0, 0, 0, 0, 0, 0, 0
        NT_WRITE 0, $E0
        NT_WRITE 2, $E2
        EXPECT_NT 3, "power-on nametables not horizontal", $E0, $E0, $E2, $E2

        lda #$FA        ; low nibble $A
        sta $8000
        lda #$01        ; bits 5-4 := 01: page 26
        sta $8001
        lda #$05
        sta $8002
        lda #$0F
        sta $9000
        EXPECT_WINDOWS 4, "pages 26, 5, 15", 26, 5, 15, 31
        lda #$00
        sta $8001       ; the high nibble alone: 10
        lda #$03
        sta $8FFC       ; $8000
        lda #$01
        sta $8003       ; 5 + 16 = 21
        lda #$FD
        sta $9001       ; bits 5-4 := 01: 31
        EXPECT_WINDOWS 5, "nibbles: 3, 21, 31", 3, 21, 31, 31
        lda #$20
        sta $8000       ; only D0-D3: 0
        lda #$02
        sta $9001       ; bit 5: page 47 of 32 is 15
        EXPECT_WINDOWS 6, "nibbles: 0, 21, 15", 0, 21, 15, 31

        ldx #0
@chr:   lda chr_writes,x
        sta copy_dst
        lda chr_writes+1,x
        sta copy_dst+1
        lda chr_writes+2,x
        ldy #0
        sta (copy_dst),y
        inx
        inx
        inx
        inx
        cpx #64
        bne @chr
        EXPECT_CHR_KIB 7, "pattern KiB (two nibbles each)", $F3, $1E, $2D, $3C, $4B, $5A, $69, $78

        lda #$01
        sta $F002
        EXPECT_NT 8, "$F002=1 not vertical", $E0, $E2, $E0, $E2
        lda #$02
        sta $FFF2
        EXPECT_NT 9, "$F002=2 not one-screen 0", $E0, $E0, $E0, $E0
        NT_WRITE 3, $E3
        lda #$03
        sta $F002
        EXPECT_NT 10, "$F002=3 not one-screen 1", $E2, $E2, $E2, $E2
        lda #$04
        sta $F002
        EXPECT_NT 11, "$F002=4 not horizontal", $E3, $E3, $E2, $E2

        jsr ram_checks
        EXPECT_PROBE 12, "RAM read only, off, write enable alone", {$A5, $00, $A5}

        IRQ_CASE 13, "16 bits, 256 cycles", $0100, $00, $01, 254
        IRQ_CASE 14, "16 bits, 255 cycles", $00FF, $00, $01, 253
        IRQ_CASE 15, "12 bits of $F0FF", $F0FF, $00, $03, 253
        IRQ_CASE 16, "8 bits of $12C8", $12C8, $00, $05, 198
        IRQ_CASE 17, "8 bits (width 3) of $12C8", $12C8, $00, $07, 198
        IRQ_CASE 18, "4 bits of $123A", $123A, $00, $09, 8
        IRQ_CASE 19, "4 bits (width 7) of $123A", $123A, $00, $0F, 8
        IRQ_CASE 20, "counting from W-4", $0100, $01, $01, 250
        IRQ_CASE 21, "8-bit wrap holds bits 15-8", $0002, $05, $01, 252
        IRQ_CASE 22, "4-bit wrap holds bits 15-4", $0013, $09, $01, 29
        IRQ_CASE 23, "disabled counter interrupted", $0010, $00, $00, $FFFF
        IRQ_CASE 24, "disabled, width 7, interrupted", $0010, $00, $0E, $FFFF

        ; $E000-$E003 leave the line up; $F000 takes it down.
        RELOAD $0005
        sta $F000
        lda #$09
        sta $F001       ; 4 bits: wraps after 6 cycles and every 16
        DELAY 100
        RELOAD $8000
        jsr irq_waiting
        eor #1
        CHECK 25, "a reload nibble write acknowledged"
        RELOAD $0005
        sta $F000
        lda #$01
        sta $F001       ; 16 bits: wraps after 6 cycles
        DELAY 100
        RELOAD $8000
        sta $F000       ; reload and acknowledge: the next wrap 32769 cycles on
        jsr irq_waiting
        CHECK 26, "$F000 did not acknowledge"
        lda #$00
        sta $F001

        PASS_AND_SHOW "mapper 18: ok"
