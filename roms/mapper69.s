; config: prg256_chr256
; Mapper 69 (Sunsoft FME-7): the command register ($8000-$9FFF, bits 0-3) and the parameter register
; ($A000-$BFFF) that carries the command out; $C000-$FFFF (the 5B's sound) moves nothing, and with
; the sound's address written as $E8 its data writes (volume 8 on A) are ignored: it stays silent.
; - commands 0-7: 1 KiB pattern banks, all 8 bits (256 KiB numbered by their first byte).
; - command 8, the $6000 window: R (bit 6) clear = ROM bank (bits 0-5), E (bit 7) ignored; R and E
;   set = the 8 KiB of RAM (bank bits ignored); R without E = nothing (reads 0, writes lost).
; - commands 9-B: 8 KiB program banks at $8000/$A000/$C000; $E000 is always the last (page 31).
; - command C: 0 vertical, 1 horizontal, 2 one-screen lower, 3 one-screen upper.
; - commands D-F: the counter (see irq_slide.inc for how arrival cycles are measured). E and F
;   write its bytes directly; D's bit 7 lets it count down once per CPU cycle, bit 0 lets its wrap
;   from $0000 to $FFFF interrupt; only a write of D lowers the line. A write in cycle w counts from
;   w + 1, so N wraps in cycle w + N + 1: k = ceil((N - 8) / 2).
; - power-on: every register 0 (ROM page 0 at $6000, pages 0, 0, 0, 31, pattern KiB 0, vertical).
; 256 KiB program ROM, 256 KiB character ROM; the header asks for the horizontal arrangement, which
; the board overrides.
BOARD_RESET = 1
BANKED_IRQ = 1
SHOW = 1
.include "banked.inc"
.include "irq_slide.inc"
.include "delay.inc"
INES_HEADER 16, 32, $50, $40
PRG_IDS 32
CHR_KIB_IDS 256

; From the acknowledge after a wrap to the slide: the next wrap comes about 100 NOPs into it.
AFTER_WRAP = 65536 - 260

.segment "ZEROPAGE"
power_on_6000: .res 1
first_run:     .res 1
RESULT_RUNNING = $80     ; result_code while the test runs: $6000 in RAM

; Command `c` with parameter `value`.
.macro CMD c, value
        lda #c
        sta $8000
        lda #value
        sta $A000
.endmacro

; The counter loaded with `n` while stopped, then started with D = `control` (the write is the
; last cycle of the macro), then the slide.
.macro IRQ_RUN n, control
        CMD $0D, $00
        CMD $0E, <(n)
        CMD $0F, >(n)
        CMD $0D, control
        jsr run_slide
.endmacro

.segment "CODE"
board_reset:
        lda $6000               ; ROM page 0 while command 8 is 0
        sta power_on_6000
        CMD $08, $C0            ; RAM at $6000 for the result and the probes' code
        rts

; probe[0] := $6000 and probe[1] := $7FF0 with command 8 = A; RAM back after.
window_probe:
        ldx #8
        stx $8000
        sta $A000
        lda $6000
        sta probe
        lda $7FF0
        sta probe+1
        lda #$C0
        sta $A000
        rts

; $7FF0 := X with command 8 = A; RAM back after.
window_write:
        ldy #8
        sty $8000
        sta $A000
        stx $7FF0
        lda #$C0
        sta $A000
        rts

main:   SLIDE_INIT
        lda power_on_6000
        sta probe
        cmp #PRG_ID
        CHECK 1, "power-on $6000 not ROM page 0"
        EXPECT_WINDOWS 2, "power-on program pages", 0, 0, 0, 31
        EXPECT_CHR_KIB 3, "power-on pattern KiB", 0, 0, 0, 0, 0, 0, 0, 0
        NT_WRITE 0, $E0
        NT_WRITE 1, $E1
        EXPECT_NT 4, "power-on nametables not vertical", $E0, $E1, $E0, $E1

        CMD $09, 5
        CMD $0A, 10
        CMD $0B, $1F
        EXPECT_WINDOWS 5, "commands 9-B: 5, 10, 31", 5, 10, 31, 31
        CMD $F9, $43            ; command bits 4-7 ignored; bank bits 6-7 ignored
        EXPECT_WINDOWS 6, "command $F9 = 9, $43: 3", 3, 10, 31, 31
        lda #$0A
        sta $9FFF               ; the command register's last address
        lda #$1C
        sta $BFFF               ; the parameter register's last address
        EXPECT_WINDOWS 7, "$9FFF/$BFFF: page 28 at $A000", 3, 28, 31, 31
        lda #$E8                ; $C000-$FFFF: nothing a bank follows. The 5B's sound takes no
        sta $C000               ; data while the address's top four bits are set: it stays silent
        sta $DFFF
        sta $E000
        sta $FFFF
        EXPECT_WINDOWS 8, "$C000-$FFFF writes moved a bank", 3, 28, 31, 31

        CMD 0, $10
        CMD 1, $FF
        CMD 2, $80
        CMD 3, $01
        CMD 4, $7F
        CMD 5, $C3
        CMD 6, $2A
        CMD 7, $E5
        EXPECT_CHR_KIB 9, "commands 0-7", $10, $FF, $80, $01, $7F, $C3, $2A, $E5

        ldx #$5A                ; RAM: the bank bits do not pick another 8 KiB
        lda #$C0
        jsr window_write
        lda #$C7
        jsr window_probe
        EXPECT_PROBE 10, "RAM with bank bits 7", {RESULT_RUNNING, $5A}
        ldx #$A5                ; R without E: writes lost, reads 0
        lda #$40
        jsr window_write
        lda #$40
        jsr window_probe
        EXPECT_PROBE 11, "$40: nothing at $6000", {0, 0}
        lda #$C0
        jsr window_probe
        EXPECT_PROBE 12, "$40 let a write through", {RESULT_RUNNING, $5A}
        lda #$05
        jsr window_probe
        EXPECT_PROBE 13, "$05: ROM page 5", {PRG_ID + 5, $FF}
        ldx #$A5                ; ROM: writes change nothing, E ignored
        lda #$AA
        jsr window_write
        lda #$AA
        jsr window_probe
        EXPECT_PROBE 14, "$AA: ROM page 10 (E ignored)", {PRG_ID + 10, $FF}
        lda #$C0
        jsr window_probe
        EXPECT_PROBE 15, "a write to ROM at $6000 reached RAM", {RESULT_RUNNING, $5A}

        CMD $0C, 2              ; page 0 everywhere
        NT_WRITE 0, $E0
        CMD $0C, 3              ; page 1 everywhere
        NT_WRITE 0, $E1
        EXPECT_NT 16, "C = 3: one-screen upper", $E1, $E1, $E1, $E1
        CMD $0C, 2
        EXPECT_NT 17, "C = 2: one-screen lower", $E0, $E0, $E0, $E0
        CMD $0C, 1
        EXPECT_NT 18, "C = 1: horizontal", $E0, $E0, $E1, $E1
        CMD $0C, $FC            ; bits 2-7 ignored: vertical
        EXPECT_NT 19, "C = $FC: vertical", $E0, $E1, $E0, $E1

        IRQ_RUN 60, $81
        EXPECT_SLIDE 20, "N 60: NOP", 26
        IRQ_RUN 61, $81
        EXPECT_SLIDE 21, "N 61: NOP", 27
        IRQ_RUN $0128, $81
        EXPECT_SLIDE 22, "N $128: NOP", 144
        IRQ_RUN $0129, $81
        EXPECT_SLIDE 23, "N $129: NOP", 145

        IRQ_RUN 20, $01         ; interrupts on, counting off: the counter stays
        EXPECT_SLIDE 24, "counting off: NOP", $FF
        CMD $0D, $81
        jsr run_slide
        EXPECT_SLIDE 25, "20 kept while counting was off, then on: NOP", 6

        IRQ_RUN 20, $80         ; counting without interrupts: the wrap leaves no interrupt behind
        EXPECT_SLIDE 26, "interrupts off: NOP", $FF
        CMD $0D, $81
        jsr run_slide
        EXPECT_SLIDE 27, "a wrap with interrupts off interrupted later: NOP", $FF
        CMD $0E, 60             ; the running counter's bytes written directly: 48 at the F write
        CMD $0F, 0
        jsr run_slide
        EXPECT_SLIDE 28, "E 60 then F 0 while counting: NOP", 20

        jsr run_slide           ; not acknowledged: the line is still low
        EXPECT_INTERRUPTED 29, "the line did not stay until command D"
        CMD $0E, $FF            ; E and F do not acknowledge
        CMD $0F, $FF
        jsr run_slide
        EXPECT_INTERRUPTED 30, "a write of E or F acknowledged"
        CMD $0D, $81            ; acknowledged; the counter runs on from $FFFF
        jsr run_slide
        EXPECT_SLIDE 31, "command D did not acknowledge: NOP", $FF

        ; The counter runs on from its wrap: the next one comes 65536 cycles after it, however late
        ; the acknowledge (10 cycles later in the second run, the same wait in all: the same NOP).
        IRQ_RUN 60, $81
        CMD $0D, $81
        DELAY AFTER_WRAP
        jsr run_slide
        lda slide_index
        sta first_run
        IRQ_RUN 60, $81
        DELAY 10
        CMD $0D, $81
        DELAY AFTER_WRAP - 10
        jsr run_slide
        lda slide_index
        sta probe
        lda first_run
        sta probe+1
        cmp #$FF
        lda #0
        rol a                   ; Z: the first run was interrupted
        CHECK 32, "no wrap 65536 cycles after the first: NOPs"
        lda slide_index
        cmp first_run
        CHECK 33, "the second wrap followed the acknowledge: NOPs"
        SHOW_PASS "mapper 69: ok"

; The show: a wrap every $2000-$27FF cycles, the high byte written directly after each.
show_start:
        CMD $0E, $00
        CMD $0F, $20
        CMD $0D, $81
        rts

show_irq:
        pha
        CMD $0D, $81            ; acknowledge; counting on
        inc show_count
        lda show_count
        and #7
        ora #$20
        ldx #$0F
        stx $8000
        sta $A000
        lda show_mask
        eor #$20
        sta show_mask
        sta PPUMASK
        pla
        rti
