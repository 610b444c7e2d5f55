; config: nrom16
; A cartridge with history, for the window program's save states, rewind, reset button, battery
; file, second controller and run-ahead. Rows of eight boxes, bit 7 at the left, green for 1 and grey
; for 0: the first controller as last read (A first), the number of times A went down since the
; last reset, the number of power-ons and resets, which the battery keeps at $6000, and the second
; controller. Once Select has been pressed (until the next reset) a fifth row counts the frames.
.include "result.inc"
.include "registers.inc"
.include "host_screen.inc"
INES_HEADER 1, 1, $02, $00

NMI_ON          = $80    ; PPUCTRL: NMI at vertical blank, nametable $2000, step 1
SHOW_BACKGROUND = $0A    ; PPUMASK: background on, also in the leftmost 8 pixels
ROW_BUTTONS = $2000 + 12 * 32 + 4   ; boxes are 2x1 tiles, one blank tile apart, from column 4
ROW_PRESSES = ROW_BUTTONS + 2 * 32
ROW_RESETS  = ROW_BUTTONS + 4 * 32
ROW_BUTTONS_2 = ROW_BUTTONS + 6 * 32
ROW_FRAMES  = ROW_BUTTONS + 8 * 32
starts = $6000           ; battery RAM: power-ons and resets so far

.segment "ZEROPAGE"
buttons:  .res 1         ; bit 7 = A ... bit 0 = Right (the order of the serial reads)
previous: .res 1         ; the read before
presses:  .res 1
shift:    .res 1
buttons_2: .res 1        ; the second controller, in the same order
frames:   .res 1
show_frames: .res 1      ; not 0: the fifth row is drawn

.segment "CODE"
reset:  sei
        cld
        ldx #$FF
        txs
        lda #0
        sta PPUCTRL
        sta PPUMASK
        sta buttons
        sta previous
        sta presses
        sta buttons_2
        sta frames
        sta show_frames
        inc starts
        WARM_UP_AND_CLEAR_SCREEN

        jsr draw_rows
        lda #SHOW_BACKGROUND
        sta PPUMASK
forever:
        jmp forever

; Vertical blank: draw the rows, then read the controller and count A going down.
nmi:    pha
        txa
        pha
        tya
        pha
        bit PPUSTATUS
        jsr draw_rows
        jsr read_buttons
        lda buttons
        eor previous         ; bits that changed ...
        and buttons          ; ... to pressed
        tax
        and #$80             ; A
        beq no_press
        inc presses
no_press:
        txa
        and #$20             ; Select
        ora show_frames
        sta show_frames
        lda buttons
        sta previous
        inc frames
        pla
        tay
        pla
        tax
        pla
irq:    rti

read_buttons:
        lda #1
        sta JOYPAD1
        lda #0
        sta JOYPAD1
        ldx #8
next_button:
        lda JOYPAD1
        lsr a                ; bit 0 -> carry
        rol buttons
        lda JOYPAD2
        lsr a
        rol buttons_2
        dex
        bne next_button
        rts

; The three rows, then the scroll and PPUCTRL that the VRAM writes disturbed.
draw_rows:
        ldx #>ROW_BUTTONS
        ldy #<ROW_BUTTONS
        lda buttons
        jsr draw_row
        ldx #>ROW_PRESSES
        ldy #<ROW_PRESSES
        lda presses
        jsr draw_row
        ldx #>ROW_RESETS
        ldy #<ROW_RESETS
        lda starts
        jsr draw_row
        ldx #>ROW_BUTTONS_2
        ldy #<ROW_BUTTONS_2
        lda buttons_2
        jsr draw_row
        lda show_frames
        beq rows_done
        ldx #>ROW_FRAMES
        ldy #<ROW_FRAMES
        lda frames
        jsr draw_row
rows_done:
        lda #0
        sta PPUSCROLL
        sta PPUSCROLL
        lda #NMI_ON
        sta PPUCTRL
        rts

; One row at the VRAM address X:Y showing the bits of A: two tiles per bit, then a blank one.
draw_row:
        sta shift
        stx PPUADDR
        sty PPUADDR
        DRAW_EIGHT_BOXES
        rts

        SCREEN_PALETTE

.segment "VECTORS"
        .word nmi, reset, irq

.segment "CHARS"
        SCREEN_TILES
