; config: nrom16
; Shows the first controller on screen: eight boxes in a row, one per button in the order the
; controller sends them (A, B, Select, Start, Up, Down, Left, Right), green while the button is held
; and grey while it is not. The buttons are read once per frame in the NMI handler.
.include "result.inc"
.include "registers.inc"
.include "host_screen.inc"
INES_HEADER 1, 1, $00, $00

NMI_ON         = $80     ; PPUCTRL: NMI at vertical blank, nametable $2000, step 1
SHOW_BACKGROUND = $0A    ; PPUMASK: background on, also in the leftmost 8 pixels
BOX_ROW_1 = $2000 + 14 * 32 + 4   ; boxes are 2x2 tiles, one blank tile apart, from column 4
BOX_ROW_2 = BOX_ROW_1 + 32

; Draws the boxes (rendering off or in vertical blank), then restores the scroll and PPUCTRL that the
; VRAM writes disturbed.
.macro DRAW_BOXES
        jsr draw_boxes
        lda #0
        sta PPUSCROLL
        sta PPUSCROLL
        lda #NMI_ON
        sta PPUCTRL
.endmacro

.segment "ZEROPAGE"
buttons: .res 1          ; bit 7 = A ... bit 0 = Right (the order of the serial reads)
shift:   .res 1

.segment "CODE"
reset:  sei
        cld
        ldx #$FF
        txs
        lda #0
        sta PPUCTRL
        sta PPUMASK
        WARM_UP_AND_CLEAR_SCREEN

        lda #0
        sta buttons
        DRAW_BOXES
        lda #SHOW_BACKGROUND
        sta PPUMASK
forever:
        jmp forever

; Vertical blank: draw the buttons of the last read, then read them again.
nmi:    pha
        txa
        pha
        bit PPUSTATUS
        DRAW_BOXES
        jsr read_buttons
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
        dex
        bne next_button
        rts

draw_boxes:
        lda #>BOX_ROW_1
        sta PPUADDR
        lda #<BOX_ROW_1
        sta PPUADDR
        jsr draw_row
        lda #>BOX_ROW_2
        sta PPUADDR
        lda #<BOX_ROW_2
        sta PPUADDR
        ; fall through to the second row

; One row of the eight boxes: two tiles per button, then a blank one.
draw_row:
        lda buttons
        sta shift
        DRAW_EIGHT_BOXES
        rts

        SCREEN_PALETTE

.segment "VECTORS"
        .word nmi, reset, irq

.segment "CHARS"
        SCREEN_TILES
