; config: nrom16
; The light gun in the second port, read as the Nintendo games read it. Frames with a white box
; (x 112-143, lines 104-135) on black alternate with all-black frames; through one frame of each
; $4017 is read once per scanline, from the end of vertical blank for 256 lines, and what the reads
; saw is shown at the bottom of the screen: the left mark lit while the box frame was lit only on
; the box's lines (and the black frame dark), the middle mark once the trigger has been seen, the
; right mark while light was seen elsewhere. Every read must give 0 in bits 0-2 and 5-7, and the gun
; must read dark at the end of vertical blank (which is how a game tells a gun from a controller).
;
; The first controller's buttons held at power-on pick what is checked, with a verdict through the
; result protocol (none held: no verdict, the marks only):
;   A       aimed inside the box: every box frame lit on the box's lines only, every black frame dark
;   B       aimed elsewhere (on black or away from the screen): never lit
;   Start   the trigger pulled: seen within 200 frames, as a pulse that ends within 12 frames
; Results: #2 no gun in the second port, #3 bits other than 3 and 4 set, #4 a box frame not lit,
; #5 light off the box's lines, #6 light in a black frame, #7 the trigger never seen, #8 the trigger
; still pulled after 12 frames.
.include "result.inc"
.include "registers.inc"
INES_HEADER 1, 1, $01, $00          ; vertical mirroring: nametables $2000 and $2400

SHOW_BACKGROUND = $0A               ; PPUMASK: background on, also in the leftmost 8 pixels
BOX_LEFT_TILE = 14                  ; the box: tiles 14-17 of rows 13-16
BOX_TOP_ROW = 13
BOX_TILES = 4
MARK_ROW = 27                       ; the marks: two tiles each, on row 27 of both nametables
MARK_ON_BOX = 4
MARK_TRIGGER = 14
MARK_ELSEWHERE = 24
TILE_BLANK = 0
TILE_WHITE = 1
TILE_MARK = 2

; Reads of the frame: read i is on scanline i - 2 (read 0 at the last line of vertical blank, read 1
; on the pre-render line). The box's lines are reads 106-137; a lit gun stays lit some lines after
; the beam has left the box, so light up to read 137 + 20 still counts as the box's.
FIRST_BOX_READ = 104 + 2 - 1        ; one line early, for the reads' place in the line
LAST_BOX_READ = 135 + 2 + 20

CASE_INSIDE = $80                   ; A, in the order of the serial reads (bit 7 first)
CASE_ELSEWHERE = $40                ; B
CASE_TRIGGER = $10                  ; Start
CHECKED_PAIRS = 8                   ; box and black frame pairs judged for A and B
TRIGGER_DEADLINE = 100              ; measured frames (two frames each)
TRIGGER_PULSE_MOST = 6              ; measured frames the pulse may last

.segment "ZEROPAGE"
fraction:    .res 1                 ; of the 113.667-cycle line, in 256ths
case:        .res 1                 ; the buttons held at power-on
phase:       .res 1                 ; 0: this frame shows the box, 1: black
first_lit:   .res 1                 ; read index of the first lit read, $FF: none
last_lit:    .res 1
stray_bits:  .res 1                 ; OR of all reads' bits other than 3 and 4
trigger_now: .res 1                 ; bit 4 seen in this frame
on_box:      .res 1                 ; marks: 1 lit
trigger_seen: .res 1
elsewhere:   .res 1
frames:      .res 1                 ; measured frames since the start
trigger_frames: .res 1              ; measured frames the trigger has read 1
pulse_ended: .res 1

.segment "BSS"
reads: .res 256

.segment "CODE"
; One read of $4017 per scanline, 256 reads: 113 cycles a line, and one more whenever `fraction`
; carries (171 of 256 lines), 113.668 on average. The loop stays in one page, so that no branch
; adds a cycle.
poll_frame:
        ldx #0
@line:  lda JOYPAD2            ; 4
        sta reads,x            ; 5
        lda fraction           ; 3
        clc                    ; 2
        adc #171               ; 2
        sta fraction           ; 3
        bcs :+                 ; 2, or 3 when it carries
:       ldy #16                ; 2
:       dey                    ; 16 * 5 - 1
        bne :-
        nop                    ; 6
        nop
        nop
        inx                    ; 2
        bne @line              ; 3
@end:   rts
.assert >poll_frame = >@end, error, "the read loop crosses a page"

reset:  sei
        cld
        ldx #$FF
        txs
        lda #0
        sta PPUCTRL
        sta PPUMASK
        bit PPUSTATUS
@wait1: bit PPUSTATUS
        bpl @wait1
@wait2: bit PPUSTATUS
        bpl @wait2

        lda #$3F                ; palette 0: black backdrop, white, green
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldx #0
@palette:
        lda palette,x
        sta PPUDATA
        inx
        cpx #4
        bne @palette
        lda #$20                ; both nametables and their attributes blank
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldx #8
        ldy #0
@clear: sta PPUDATA
        iny
        bne @clear
        dex
        bne @clear
        ldy #0                  ; the box, in the first nametable only
@box_row:
        lda box_rows_high,y
        sta PPUADDR
        lda box_rows_low,y
        sta PPUADDR
        lda #TILE_WHITE
        ldx #BOX_TILES
@box_tile:
        sta PPUDATA
        dex
        bne @box_tile
        iny
        cpy #BOX_TILES
        bne @box_row

        lda #0
        sta on_box
        sta trigger_seen
        sta elsewhere
        sta phase
        sta frames
        sta trigger_frames
        sta pulse_ended
        jsr read_controller
        sta case
        beq @no_verdict
        TEST_BEGIN
@no_verdict:
        jsr show_marks
        lda #SHOW_BACKGROUND
        sta PPUMASK

; Each round: from vertical blank, the frame is read line by line; in the vertical blank after it
; the marks and the next frame's picture are set, then the reads are judged.
round:  bit PPUSTATUS
@vblank:
        bit PPUSTATUS
        bpl @vblank
        ldx #20                 ; to the last line of vertical blank
@skip:  ldy #21
:       dey
        bne :-
        dex
        bne @skip
        jsr poll_frame
        jsr show_marks          ; still in vertical blank
        lda phase
        eor #1
        sta PPUCTRL             ; the next frames: the box (nametable $2000) or black ($2400)
        jsr judge_frame
        jsr verdict
        lda phase
        eor #1
        sta phase
        jmp round

; first_lit, last_lit, stray_bits, trigger_now from the reads; then the marks.
judge_frame:
        lda #$FF
        sta first_lit
        lda #0
        sta last_lit
        sta stray_bits
        sta trigger_now
        ldx #0
@read:  lda reads,x
        and #$E7
        ora stray_bits
        sta stray_bits
        lda reads,x
        and #$10
        ora trigger_now
        sta trigger_now
        lda reads,x
        and #$08
        bne @dark
        stx last_lit
        lda first_lit
        cmp #$FF
        bne @dark
        stx first_lit
@dark:  inx
        bne @read

        lda trigger_now
        beq :+
        lda #1
        sta trigger_seen
:       lda phase
        bne @black_frame
        lda #0                  ; a box frame: lit on the box's lines only?
        sta on_box
        sta elsewhere
        lda first_lit
        cmp #$FF
        beq @done
        cmp #FIRST_BOX_READ
        bcc @off_box
        lda last_lit
        cmp #LAST_BOX_READ + 1
        bcs @off_box
        lda #1
        sta on_box
        rts
@off_box:
        lda #1
        sta elsewhere
        rts
@black_frame:
        lda first_lit
        cmp #$FF
        beq @done
        lda #1
        sta elsewhere
        lda #0
        sta on_box
@done:  rts

; The checks of the case picked at power-on, after each measured frame.
verdict:
        inc frames
        lda case
        bne :+
        rts
:       lda reads               ; the end of vertical blank: a gun reads dark there
        and #$08
        bne :+
        jmp end_no_gun
:       lda stray_bits
        beq :+
        jmp end_stray_bits
:       lda case
        cmp #CASE_TRIGGER
        beq trigger_case
        lda frames
        cmp #3                  ; the first pair is not judged
        bcc verdict_done
        lda case
        cmp #CASE_INSIDE
        bne elsewhere_case
        lda phase
        bne black_checked
        lda first_lit
        cmp #$FF
        bne :+
        jmp end_box_dark
:       lda elsewhere
        beq judged
        jmp end_off_box
black_checked:
        lda elsewhere
        beq judged
        jmp end_black_lit
elsewhere_case:
        lda first_lit
        cmp #$FF
        beq judged
        jmp end_lit_away
judged: lda frames
        cmp #CHECKED_PAIRS * 2 + 2
        bcc verdict_done
        lda case
        cmp #CASE_INSIDE
        bne :+
        jmp end_inside
:       jmp end_away
verdict_done:
        rts

trigger_case:
        lda trigger_seen
        bne trigger_on
        lda frames
        cmp #TRIGGER_DEADLINE
        bcc trigger_wait
        jmp end_no_trigger
trigger_on:
        lda trigger_now
        beq trigger_released
        inc trigger_frames
        lda trigger_frames
        cmp #TRIGGER_PULSE_MOST + 1
        bcc trigger_wait
        jmp end_trigger_held
trigger_released:
        jmp end_pulse
trigger_wait:
        rts

end_inside:     TEST_END 0, "zapper: lit only on the box's lines, dark in black frames"
end_away:       TEST_END 0, "zapper: aimed away from the box, never lit"
end_pulse:      TEST_END 0, "zapper: the trigger pulled, as a pulse"
end_no_gun:     TEST_END 2, "#2 the second port reads lit at the end of vertical blank: no gun there"
end_stray_bits: TEST_END 3, "#3 $4017 gave bits other than 3 and 4"
end_box_dark:   TEST_END 4, "#4 aimed at the box: a frame with the box did not light the gun"
end_off_box:    TEST_END 5, "#5 aimed at the box: light seen off the box's lines"
end_lit_away:   TEST_END 5, "#5 aimed away from the box: light seen"
end_black_lit:  TEST_END 6, "#6 aimed at the box: light seen in a black frame"
end_no_trigger: TEST_END 7, "#7 the trigger was never seen"
end_trigger_held: TEST_END 8, "#8 the trigger read 1 for more than 12 frames"

; The marks from on_box, trigger_seen and elsewhere, in both nametables; then the scroll.
show_marks:
        lda #$20
        jsr marks_in
        lda #$24
        jsr marks_in
        lda #0
        sta PPUSCROLL
        sta PPUSCROLL
        rts
marks_in:
        pha
        ldx on_box
        ldy #MARK_ON_BOX
        jsr mark
        pla
        pha
        ldx trigger_seen
        ldy #MARK_TRIGGER
        jsr mark
        pla
        ldx elsewhere
        ldy #MARK_ELSEWHERE
        ; fall through
; Mark X (0 or 1) at column Y of row MARK_ROW of the nametable whose address high byte is in A.
mark:   clc
        adc #>(MARK_ROW * 32)
        sta PPUADDR
        tya
        clc
        adc #<(MARK_ROW * 32)
        sta PPUADDR
        lda #TILE_BLANK
        cpx #0
        beq :+
        lda #TILE_MARK
:       sta PPUDATA
        sta PPUDATA
        rts

; The first controller's eight buttons, A in bit 7.
read_controller:
        lda #1
        sta JOYPAD1
        lda #0
        sta JOYPAD1
        ldx #8
@bit:   lda JOYPAD1
        lsr a
        rol case
        dex
        bne @bit
        lda case
        rts

nmi:
irq:    rti

palette:
        .byte $0F, $30, $2A, $30
box_rows_high:
        .repeat BOX_TILES, row
        .byte >($2000 + (BOX_TOP_ROW + row) * 32 + BOX_LEFT_TILE)
        .endrepeat
box_rows_low:
        .repeat BOX_TILES, row
        .byte <($2000 + (BOX_TOP_ROW + row) * 32 + BOX_LEFT_TILE)
        .endrepeat

.segment "VECTORS"
        .word nmi, reset, irq

.segment "CHARS"
        .res 16, $00               ; tile 0: colour 0
        .res 8, $FF                ; tile 1: colour 1 (white)
        .res 8, $00
        .res 8, $00                ; tile 2: colour 2 (green)
        .res 8, $FF
