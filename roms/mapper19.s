; config: prg256_chr256
; Mapper 19 (Namco 129/163), every register $800 bytes wide:
; - $E000/$E800/$F000 bits 0-5: 8 KiB program banks at $8000/$A000/$C000; $E000 is the last page
;   (31); $E000's bit 6 (sound off) and $E800's bits 6-7 move no program bank.
; - $8000-$B800: 1 KiB pattern banks, 8 bits; $E0 and up show nametable RAM page (value AND 1),
;   unless $E800 bit 6 ($0000-$0FFF) or bit 7 ($1000-$1FFF) asks for character ROM.
; - $C000-$D800: nametables; below $E0 that KiB of character ROM (read only), $E0 and up nametable
;   RAM page (value AND 1).
; - $F800: the internal RAM's address (bits 0-6) and auto-increment (bit 7: after each access at
;   $4800, read or write, wrapping $7F to $00); cartridge RAM takes writes only while the upper
;   nibble is %0100, and not in a 2 KiB quarter whose bit (0-3) is set.
; - $5000/$5800: the 15-bit counter, readable (a read in cycle t sees the count of cycle t), $5800
;   bit 7 = enable; counting up once a cycle below $7FFF; reaching it interrupts and stops; a write
;   of $5000 or $5800 lowers the line. A value written in cycle w counts from w + 1, so one
;   written as $7FFF - N interrupts in cycle w + N: k = ceil((N - 9) / 2) (irq_slide.inc).
; - power-on: every register 0 but $E000's bit 6, the sound off (pages 0, 0, 0, 31; pattern KiB 0;
;   all four nametables KiB 0 of character ROM; cartridge RAM write-protected until $F800 is
;   written).
; 256 KiB program ROM; 256 KiB character ROM whose KiB j starts with j and holds j EOR $A5 at
; NT_OFFSET, where the nametable probes read.
BOARD_RESET = 1
BANKED_IRQ = 1
SHOW = 1
.include "banked.inc"
.include "irq_slide.inc"
INES_HEADER 16, 32, $30, $10
PRG_IDS 32

NT_ID = $A5
.segment "CHARS"
.repeat 256, j
        .byte j
        .res NT_OFFSET - 1, 0
        .byte j ^ NT_ID
        .res 1023 - NT_OFFSET, 0
.endrepeat

.segment "ZEROPAGE"
power_on_ram: .res 1

.macro SET address, value
        lda #value
        sta address
.endmacro

; Writes `value` at offset 0 of nametable `index` (0-3).
.macro NT0_WRITE index, value
        bit PPUSTATUS
        lda #$20 + 4 * index
        sta PPUADDR
        lda #0
        sta PPUADDR
        lda #value
        sta PPUDATA
.endmacro

; The counter loaded with $7FFF - n and enabled (the last write is the $5800 one), then the slide.
.macro IRQ_RUN n
        SET $5800, $00
        SET $5000, <($7FFF - (n))
        SET $5800, $80 | >($7FFF - (n))
        jsr run_slide
.endmacro

.segment "CODE"
board_reset:
        lda $60F0               ; write-protected at power-on: this write is lost
        eor #$FF
        sta $60F0
        eor $60F0
        sta power_on_ram        ; $FF when the write was lost
        SET $F800, $40          ; open for the result and the probes' code
        rts

main:   SLIDE_INIT
        lda power_on_ram
        sta probe
        cmp #$FF
        CHECK 1, "power-on cartridge RAM took a write"
        EXPECT_WINDOWS 2, "power-on program pages", 0, 0, 0, 31
        EXPECT_CHR_KIB 3, "power-on pattern KiB", 0, 0, 0, 0, 0, 0, 0, 0
        EXPECT_NT 4, "power-on nametables not KiB 0", NT_ID, NT_ID, NT_ID, NT_ID

        SET $E000, $C5          ; bits 6-7: no bank bits
        SET $EFFF, $0A          ; $E800's last address
        SET $F7FF, $1E
        EXPECT_WINDOWS 5, "program banks 5, 10, 30", 5, 10, 30, 31

        SET $8000, $10
        SET $8FFF, $DF          ; $8800
        SET $9000, $80
        SET $9800, $01
        SET $A000, $7F
        SET $A800, $C3
        SET $B000, $2A
        SET $BFFF, $05          ; $B800
        EXPECT_CHR_KIB 6, "pattern banks below $E0", $10, $DF, $80, $01, $7F, $C3, $2A, $05

        SET $C000, $20
        SET $CFFF, $21          ; $C800
        SET $D000, $DF
        SET $D800, $00
        EXPECT_NT 7, "nametables from character ROM", $20 ^ NT_ID, $21 ^ NT_ID, $DF ^ NT_ID, NT_ID
        NT_WRITE 0, $77
        NT_WRITE 2, $77
        EXPECT_NT 8, "a write changed a character ROM nametable", $20 ^ NT_ID, $21 ^ NT_ID, $DF ^ NT_ID, NT_ID

        SET $C000, $E0
        SET $C800, $E1
        SET $D000, $FE          ; page 0
        SET $D800, $FF          ; page 1
        NT_WRITE 0, $A0
        NT_WRITE 1, $A1
        EXPECT_NT 9, "nametable RAM pages", $A0, $A1, $A0, $A1
        NT0_WRITE 0, $B0        ; offset 0 of the pages, where the pattern probes read
        NT0_WRITE 1, $B1

        SET $8000, $E0
        SET $8800, $E1
        SET $9000, $FF
        SET $A000, $E0
        SET $A800, $F3
        SET $B800, $E2
        EXPECT_CHR_KIB 10, "pattern banks $E0 and up: nametable RAM", $B0, $B1, $B1, $01, $B0, $B1, $2A, $B0
        SET $E800, $4A          ; L: character ROM in $0000-$0FFF
        EXPECT_CHR_KIB 11, "$E800 bit 6", $E0, $E1, $FF, $01, $B0, $B1, $2A, $B0
        SET $E800, $8A          ; H: character ROM in $1000-$1FFF
        EXPECT_CHR_KIB 12, "$E800 bit 7", $B0, $B1, $B1, $01, $E0, $F3, $2A, $E2
        EXPECT_WINDOWS 13, "$E800 bits 6-7 moved a program bank", 5, 10, 30, 31
        SET $E800, $0A
        CHR_WRITE 0, $C7        ; into nametable RAM page 0 through the pattern slot
        EXPECT_NT 14, "nametables after a pattern write to nametable RAM", $A0, $A1, $A0, $A1
        jsr probe_chr
        EXPECT_PROBE 15, "a pattern write to nametable RAM lost", {$C7, $B1}

        ; cartridge RAM protection: one byte in each 2 KiB quarter
        SET $60F0, $44
        SET $6FF0, $11
        SET $77F0, $22
        SET $7FF0, $33
        SET $F800, $4E          ; quarters 1-3 protected
        lda #$55
        jsr ram_write_all
        SET $F800, $50          ; upper nibble not %0100: all protected
        lda #$66
        jsr ram_write_all
        SET $F800, $C0
        lda #$66
        jsr ram_write_all
        SET $F800, $41          ; quarter 0 protected
        lda #$77
        jsr ram_write_all
        SET $F800, $40
        jsr ram_probe
        EXPECT_PROBE 16, "cartridge RAM protection ($4E, $50, $C0, $41)", {$55, $77, $77, $77}

        ; internal RAM through $F800 and $4800
        SET $F800, $FE          ; $7E, stepping
        SET $4800, $11
        SET $4800, $22          ; $7F
        SET $4800, $33          ; $00
        SET $F800, $7E          ; not stepping
        lda $4800
        sta probe
        lda $4800
        sta probe+1
        SET $F800, $FF
        lda $4800
        sta probe+2
        lda $4800               ; stepped from $7F to $00 by the read before
        sta probe+3
        lda $4800
        sta probe+4             ; $01: power-on 0
        SET $F800, $40
        EXPECT_PROBE 17, "internal RAM port", {$11, $11, $22, $33, $00}

        ; the counter read as it runs
        SET $5800, $00
        SET $5000, $00
        lda #$80
        sta $5800               ; cycle w: 0, enabled
        lda $5000               ; w + 4
        ldx $5000               ; w + 8
        ldy $5800
        sta probe
        stx probe+1
        sty probe+2
        SET $5800, $12          ; disabled: the counter stays
        SET $5000, $34
        lda $5000
        sta probe+3
        lda $5800
        sta probe+4
        EXPECT_PROBE 18, "counter reads ($80 written, then $12/$34 held)", {4, 8, $80, $34, $12}

        IRQ_RUN 61
        EXPECT_SLIDE 19, "$7FFF - 61: NOP", 26
        IRQ_RUN 62
        EXPECT_SLIDE 20, "$7FFF - 62: NOP", 27
        IRQ_RUN 301
        EXPECT_SLIDE 21, "$7FFF - 301: NOP", 146
        IRQ_RUN 302
        EXPECT_SLIDE 22, "$7FFF - 302: NOP", 147
        lda $5000
        sta probe
        lda $5800
        sta probe+1
        EXPECT_PROBE 23, "the counter did not stop at $7FFF", {$FF, $FF}
        jsr run_slide
        EXPECT_INTERRUPTED 24, "the line did not stay until $5000/$5800"
        SET $5000, $00          ; acknowledged; $7F00 counts on: $FF cycles to $7FFF
        jsr run_slide
        EXPECT_SLIDE 25, "$5000 := 0 at $7FFF: NOP", 123
        SET $5800, $7F          ; acknowledged and disabled
        jsr run_slide
        EXPECT_SLIDE 26, "$5800 did not acknowledge: NOP", $FF
        IRQ_RUN 20              ; the interrupt needs the enable: it is cut off
        SET $5800, $7F
        jsr run_slide
        EXPECT_SLIDE 27, "interrupt with the counter disabled: NOP", $FF

        SHOW_PASS "mapper 19: ok"

; A to the byte of each quarter.
ram_write_all:
        sta $60F0
        sta $6FF0
        sta $77F0
        sta $7FF0
        rts

ram_probe:
        lda $60F0
        sta probe
        lda $6FF0
        sta probe+1
        lda $77F0
        sta probe+2
        lda $7FF0
        sta probe+3
        rts

; The show: $7FFF reached every $1FFF-$27FF cycles, the count restarted by each interrupt.
show_start:
        SET $5000, $00
        SET $5800, $E0
        rts

show_irq:
        pha
        inc show_count
        lda show_count
        and #7
        ora #$E0
        sta $5800               ; acknowledged; counting from $6000-$6700
        lda #0
        sta $5000
        lda show_mask
        eor #$20
        sta show_mask
        sta PPUMASK
        pla
        rti
