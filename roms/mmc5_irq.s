; config: mmc5_prg16_chr8
; MMC5 (mapper 5) line interrupt and in-frame flag, timed from the VBL flag. Each measured row syncs
; to the flag with rendering off (sync_vbl: the flag is seen by a read on a cycle S fixed to within
; a dot), sets the row up with every cycle counted from S, and ends with the measured write on
; cycle W = S + ws; irq_measure.inc then gives E - W - 3 for the cycle E of the opcode fetch the
; interrupt replaces, two cycles after the cycle A on which /IRQ went low (the NOP before it polls
; the line on its first cycle), so A - S = sum + 1 + ws.
;
; Expected values (the board's rules and its measured times, CPU cycles after the VBL flag sets:
; in-frame sets +2386, $5203 = 1 fires +2500, $5203 = 239 fires +29555, in-frame clears +29669;
; a line is 341 dots = 113 2/3 cycles, a frame with rendering on 89341 or 89342 dots by its parity):
; - measured, codes 1-6: $5203 = 1 at 2500 +-3; 239 at 29555 +-3; 100 at 99 lines after 1
;   (11253 +-1); rendering off at line 50 and on at line 60 ($5203 = 20, enabled at 60): lines
;   count again from the first detected after it (61), so the interrupt comes at line 81, 80 lines
;   after $5203 = 1's (9093.3 +-1.5); $5203 = 20 acknowledged in the first frame and enabled in
;   its vertical blank: line 20 of the next frame, 19 lines and a frame after $5203 = 1's
;   (31940.2 +-1.5); $5204 = $80 written while pending: /IRQ at once, which shows as a sum of 0
;   (both runs' first slide NOP replaced: /IRQ low by the end of the cycle after the write; the
;   slide rule holds only from the slide on).
; - code 7: $5204 read at +2382 (in-frame 0), +2391 (1), +29665 (1), +29674 (0).
; - codes 8-13, one row each: $5203 = 0, 240, 255 never set pending ($5204 at line 120 and in
;   vertical blank: $40, $00); 100 is pending at line 120 ($C0, the read acknowledges: $00 after);
;   239 is still pending in vertical blank ($80), unless an NMI came at its start (the fetch of its
;   vector at $FFFA-$FFFB resets the in-frame flag, pending and the counter: $00).
; - code 14: the read acknowledges but keeps the count: $5203 = 20 read twice at line 30 ($C0, $40),
;   then $5203 = 40 is pending again at line 50 ($C0).
; - code 15: /IRQ = pending AND enable: pending alone interrupts nothing, enabling interrupts at
;   once, and disabling releases /IRQ but keeps pending ($5204 then reads $C0).
; - code 16: PPUMASK rendering off clears in-frame at once; on again, the next line sets it.
; - code 17: ExRAM in modes 0 and 1 takes CPU writes while in-frame only.
BANKED_IRQ = 1
BANKED_NMI = 1
BOARD_RESET = 1
PROGRAM_IN_ROM = 1
.include "banked.inc"
NES2_HEADER 1, 1, $50, $00, $00, $07, $00

.macro IRQ_ACKNOWLEDGE
        lda IRQ_STATUS
        lda #0
        sta IRQ_STATUS
.endmacro
.macro IRQ_SHOW
        lda IRQ_STATUS
.endmacro
.macro IRQ_SHOW_START
        lda #120
        sta IRQ_LINE
        lda #$80
        sta IRQ_STATUS
        lda #$18
        sta mask_value
        sta PPUMASK
.endmacro
; The row's setup (it syncs, so the stack is as the slide expects), then the measured write: through
; (zp,X), which reads only the pointer before writing ((zp),Y would first read the register, and a
; read of $5204 acknowledges).
.macro MEASURED_WRITES
        jsr row_dispatch
        sta (last_register,x)
.endmacro
.include "irq_measure.inc"
.include "vbl_sync.inc"

EXRAM_MODE = $5104
IRQ_LINE   = $5203
IRQ_STATUS = $5204
EXRAM      = $5C00

.segment "ZEROPAGE"
last_register: .res 2
row_ptr:    .res 2
value:      .res 2
times:      .res 2 * 6      ; A - S of each measured row ($FFFF: none)
sums:       .res 2 * 6
nmi_count:  .res 1
poll_ctrl:  .res 1

; Cycles after the VBL flag at which line L reaches dot d: (7160 + 341 L + d) / 3 (the flag sets at
; dot 1 of line 241, 7160 dots before line 0).

; Cycle-counted set-up: `t` is the number of cycles since S when the instruction just written ends.
.macro TPOKE address, byte
        lda #byte
        sta address
  t .set t + 6
.endmacro
.macro TREAD address
        lda address
  t .set t + 4
.endmacro
.macro TWAIT target
        DELAY (target) - t
  t .set target
.endmacro
; `count` NOPs that keep the next wait's loop inside one page.
.macro TNOP count
  .repeat count
        nop
  .endrepeat
  t .set t + 2 * (count)
.endmacro
.macro TWAIT_AT line, dot
        TWAIT (7160 + 341 * (line) + (dot)) / 3
.endmacro

; A measured row: rendering off, the sync, then the set-up up to ROW_END.
.macro ROW_BEGIN register
        lda #0
        sta PPUMASK
        lda #<register
        sta last_register
        lda #>register
        sta last_register+1
        jsr sync_vbl
  t .set 8                      ; the BPL and RTS after the read
.endmacro
; X = 0 and A = `byte` for the measured write, which comes on cycle S + ws.
.macro ROW_END byte, ws
        TWAIT (ws) - 16
        ldx #0
        lda #byte
        rts
.endmacro

.segment "CODE"
board_reset:
        lda #2
        sta $5102
        lda #1
        sta $5103
        lda #0
        sta $5113
        rts

row_dispatch:
        jmp (row_ptr)

WS_LINE1   = 2500 - 100
WS_LINE239 = 29555 - 100
WS_LINE100 = (7160 + 341 * 100 + 4) / 3 - 100
WS_RESTART = (7160 + 341 * 81 + 4) / 3 - 100
WS_NEXT    = (7160 + 341 * 20 + 4) / 3 + 29780 - 100
WS_ENABLE  = (7160 + 341 * 30 + 100) / 3

row_line1:
        ROW_BEGIN IRQ_LINE
        TPOKE IRQ_LINE, 1
        TPOKE IRQ_STATUS, $80
        TPOKE PPUMASK, $18
        ROW_END 1, WS_LINE1

row_line239:
        ROW_BEGIN IRQ_LINE
        TPOKE IRQ_LINE, 239
        TPOKE IRQ_STATUS, $80
        TPOKE PPUMASK, $18
        ROW_END 239, WS_LINE239

row_line100:
        ROW_BEGIN IRQ_LINE
        TPOKE IRQ_LINE, 100
        TPOKE IRQ_STATUS, $80
        TPOKE PPUMASK, $18
        ROW_END 100, WS_LINE100

row_restart:
        ROW_BEGIN IRQ_LINE
        TPOKE IRQ_LINE, 20
        TPOKE IRQ_STATUS, 0
        TPOKE PPUMASK, $18
        TWAIT_AT 50, 100
        TPOKE PPUMASK, 0
        TWAIT_AT 55, 100
        TREAD IRQ_STATUS        ; line 20's pending acknowledged
        TWAIT_AT 60, 100
        TPOKE IRQ_STATUS, $80
        TPOKE PPUMASK, $18
        ROW_END 20, WS_RESTART

row_next_frame:
        ROW_BEGIN IRQ_LINE
        TPOKE IRQ_LINE, 20
        TPOKE IRQ_STATUS, 0
        TPOKE PPUMASK, $18
        TWAIT_AT 100, 100
        TREAD IRQ_STATUS
        TWAIT_AT 245, 0
        TPOKE IRQ_STATUS, $80
        ROW_END 20, WS_NEXT

row_enable:
        ROW_BEGIN IRQ_STATUS
        TPOKE IRQ_LINE, 20
        TPOKE IRQ_STATUS, 0
        TPOKE PPUMASK, $18
        ROW_END $80, WS_ENABLE

; Measures row `index` (its routine, its ws): times[index] := A - S, sums[index] := the sum.
.macro MEASURE_ROW index, routine, ws
        .local none, done
        lda #<routine
        sta row_ptr
        lda #>routine
        sta row_ptr+1
        jsr measure
        lda #0
        sta PPUMASK
        lda sum
        sta sums + 2 * index
        lda sum+1
        sta sums + 2 * index + 1
        lda sum
        and sum+1
        cmp #$FF
        beq none
        clc
        lda sum
        adc #<((ws) + 1)
        sta times + 2 * index
        lda sum+1
        adc #>((ws) + 1)
        sta times + 2 * index + 1
        jmp done
none:   lda #$FF
        sta times + 2 * index
        sta times + 2 * index + 1
done:
.endmacro

; value := times[a] - times[b].
.macro TIME_DIFFERENCE a_index, b_index
        sec
        lda times + 2 * a_index
        sbc times + 2 * b_index
        sta value
        lda times + 2 * a_index + 1
        sbc times + 2 * b_index + 1
        sta value+1
.endmacro
.macro TIME_OF index
        lda times + 2 * index
        sta value
        lda times + 2 * index + 1
        sta value+1
.endmacro

; Fails with `code` and `text` unless lo <= value <= hi (the probe shows value, low byte first).
.macro EXPECT_RANGE code, text, lo, hi
        .local bad, check
        lda value
        sta probe
        lda value+1
        sta probe+1
        lda value
        cmp #<(lo)
        lda value+1
        sbc #>(lo)
        bcc bad
        lda #<(hi)
        cmp value
        lda #>(hi)
        sbc value+1
        bcc bad
        lda #0
        beq check
bad:    lda #1
check:  CHECK code, text
.endmacro

; The in-frame flag read on cycles S + 2382, 2391, 29665 and 29674: probe[0..3], masked to bits 7-6.
inframe_window:
        lda #0
        sta PPUMASK
        sta IRQ_LINE
        jsr sync_vbl
  t .set 8
        TPOKE PPUMASK, $18
        TWAIT 2382 - 4
        lda IRQ_STATUS          ; read on S + 2382
        sta probe
        nop
        lda IRQ_STATUS          ; S + 2391
        sta probe+1
  t .set 2391 + 3
        TWAIT 29665 - 4
        lda IRQ_STATUS          ; S + 29665
        sta probe+2
        nop
        lda IRQ_STATUS          ; S + 29674
        sta probe+3
        lda #0
        sta PPUMASK
        ldx #3
@mask:  lda probe,x
        and #$C0
        sta probe,x
        dex
        bpl @mask
        rts

; One polled row: $5203 = A, enabled (interrupts stay masked), PPUCTRL = X from line 235 to 243 (an
; NMI at the start of vertical blank with $80); $5204 at line ~120 and at line 245: probe[0], probe[1];
; the NMIs taken: probe[2].
poll_row:
        stx poll_ctrl
        ldy #0
        sty PPUMASK
        sty nmi_count
        sta IRQ_LINE
        lda #$80
        sta IRQ_STATUS
        jsr sync_vbl
  t .set 8
        TPOKE PPUMASK, $18
        TWAIT_AT 120, 0
        TREAD IRQ_STATUS
        sta probe
  t .set t + 3
        TWAIT_AT 235, 0
        lda poll_ctrl
        sta PPUCTRL
  t .set t + 7
        TWAIT_AT 243, 0
        TPOKE PPUCTRL, 0
        TWAIT_AT 245, 0
        lda IRQ_STATUS
        sta probe+1
        lda nmi_count
        sta probe+2
        lda #0
        sta PPUMASK
        sta IRQ_STATUS
        rts

nmi_handler:
        inc nmi_count
        rti

.macro POLL_ROW code, text, line, ctrl, first, second
        ldx #ctrl
        lda #line
        jsr poll_row
        EXPECT_PROBE code, text, {first, second, ctrl >> 7}
.endmacro

; Acknowledge and compare: $5203 = 20 read twice at line 30, then $5203 = 40, read at line 50.
acknowledge_rows:
        lda #0
        sta PPUMASK
        sta IRQ_STATUS
        lda #20
        sta IRQ_LINE
        jsr sync_vbl
  t .set 8
        TPOKE PPUMASK, $18
        TWAIT_AT 30, 100
        lda IRQ_STATUS
        sta probe
        lda IRQ_STATUS
        sta probe+1
        lda #40
        sta IRQ_LINE
  t .set t + 4 + 3 + 4 + 3 + 2 + 4
        TWAIT_AT 50, 100
        lda IRQ_STATUS
        sta probe+2
        lda #0
        sta PPUMASK
        rts

; Enable after pending, disable with pending: probe[0..2] whether an interrupt came when allowed
; (pending alone; once enabled; enabled and disabled again), probe[3] = $5204 after all that.
enable_rows:
        lda #0
        sta PPUMASK
        sta IRQ_STATUS
        lda #20
        sta IRQ_LINE
        jsr sync_vbl
  t .set 8
        TPOKE PPUMASK, $18
        TNOP 6
        TWAIT_AT 30, 100
        jsr irq_waiting
        sta probe
        lda #$80
        sta IRQ_STATUS
        jsr irq_waiting         ; the handler acknowledges and disables
        sta probe+1
        lda #40
        sta IRQ_LINE
  t .set t + 200
        TWAIT_AT 50, 100
        lda #$80
        sta IRQ_STATUS
        lda #$00
        sta IRQ_STATUS
        jsr irq_waiting
        sta probe+2
        lda IRQ_STATUS
        sta probe+3
        lda #0
        sta PPUMASK
        rts

; Rendering off at line 50 ($5204 just after: probe[0]), on at line 60 ($5204 at line 62: probe[1]).
rendering_rows:
        lda #0
        sta PPUMASK
        sta IRQ_STATUS
        sta IRQ_LINE
        jsr sync_vbl
  t .set 8
        TPOKE PPUMASK, $18
        TWAIT_AT 50, 100
        TPOKE PPUMASK, 0
        TREAD IRQ_STATUS
        sta probe
  t .set t + 3
        TWAIT_AT 60, 100
        TPOKE PPUMASK, $18
        TWAIT_AT 62, 100
        lda IRQ_STATUS
        sta probe+1
        lda #0
        sta PPUMASK
        rts

; ExRAM writes in modes 0 and 1: $5C10 and $5C11 at line 30, $5C12 in vertical blank.
exram_rows:
        lda #0
        sta PPUMASK
        lda #2
        sta EXRAM_MODE
        lda #0
        sta EXRAM + $10
        sta EXRAM + $11
        sta EXRAM + $12
        sta EXRAM_MODE
        jsr sync_vbl
  t .set 8
        TPOKE PPUMASK, $18
        TWAIT_AT 30, 100
        TPOKE EXRAM + $10, $5A
        TPOKE EXRAM_MODE, 1
        TPOKE EXRAM + $11, $A5
        TPOKE EXRAM_MODE, 0
        TWAIT_AT 245, 0
        TPOKE EXRAM + $12, $77
        lda #0
        sta PPUMASK
        lda #2
        sta EXRAM_MODE
        lda EXRAM + $10
        sta probe
        lda EXRAM + $11
        sta probe+1
        lda EXRAM + $12
        sta probe+2
        lda #0
        sta EXRAM_MODE
        rts

main:   SLIDE_SETUP
        lda #0
        sta PPUCTRL
        sta PPUMASK
        MEASURE_ROW 0, row_line1, WS_LINE1
        MEASURE_ROW 1, row_line239, WS_LINE239
        MEASURE_ROW 2, row_line100, WS_LINE100
        MEASURE_ROW 3, row_restart, WS_RESTART
        MEASURE_ROW 4, row_next_frame, WS_NEXT
        MEASURE_ROW 5, row_enable, WS_ENABLE

        TIME_OF 0
        EXPECT_RANGE 1, "$5203 = 1: cycles after the VBL flag", 2497, 2503
        TIME_OF 1
        EXPECT_RANGE 2, "$5203 = 239: cycles after the VBL flag", 29552, 29558
        TIME_DIFFERENCE 2, 0
        EXPECT_RANGE 3, "$5203 = 100: cycles after $5203 = 1's", (99 * 341) / 3 - 1, (99 * 341) / 3 + 1
        TIME_DIFFERENCE 3, 0
        EXPECT_RANGE 4, "rendering off 50-60, $5203 = 20: cycles after $5203 = 1's", (80 * 341) / 3 - 1, (80 * 341) / 3 + 2
        TIME_DIFFERENCE 4, 0
        EXPECT_RANGE 5, "$5203 = 20 in the next frame: cycles after $5203 = 1's", (19 * 341 + 89341) / 3 - 1, (19 * 341 + 89342) / 3 + 1
        lda sums + 10
        sta value
        lda sums + 11
        sta value+1
        EXPECT_RANGE 6, "enabled while pending: measured sum (0: at once)", 0, 0

        jsr inframe_window
        EXPECT_PROBE 7, "in-frame at +2382, +2391, +29665, +29674", {$00, $40, $40, $00}

        POLL_ROW 8, "$5203 = 0 set pending", 0, $00, $40, $00
        POLL_ROW 9, "$5203 = 240 set pending", 240, $00, $40, $00
        POLL_ROW 10, "$5203 = 255 set pending", 255, $00, $40, $00
        POLL_ROW 11, "$5203 = 100: pending at line 120, then acknowledged", 100, $00, $C0, $00
        POLL_ROW 12, "$5203 = 239: not pending in vertical blank", 239, $00, $40, $80
        POLL_ROW 13, "$5203 = 239: pending after the NMI's vector fetch", 239, $80, $40, $00

        jsr acknowledge_rows
        EXPECT_PROBE 14, "$5203 = 20 read twice at line 30, $5203 = 40 at line 50", {$C0, $40, $C0}
        jsr enable_rows
        EXPECT_PROBE 15, "interrupts: pending alone, enabled, disabled; then $5204", {$00, $01, $00, $C0}
        jsr rendering_rows
        EXPECT_PROBE 16, "in-frame after rendering off at 50, on at 60 (line 62)", {$00, $40}
        jsr exram_rows
        EXPECT_PROBE 17, "ExRAM writes in modes 0/1: line 30, line 30, vertical blank", {$5A, $A5, $00}

        PASS_AND_SHOW "MMC5 line interrupt: ok"
