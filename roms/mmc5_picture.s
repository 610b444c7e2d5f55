; config: mmc5_prg16_chr32
; MMC5 (mapper 5) background substitutions in four bands, switched by the line interrupt in the
; horizontal blank of lines 79, 159 and 199 and set back at every vertical blank:
; - rows 0-8 (lines 0-71): extended attributes ($5104 = 1). Row r, column c shows tile $10 + (c & 15)
;   from 4 KiB bank (r + c) & 7 in palette c & 3 (the ExRAM byte of the cell), where the attribute
;   table says palette 0 and the pattern registers say bank 7.
; - rows 10-18 (lines 80-151): a left split ($5200 = $88: fetched tiles 0-7, the screen's columns
;   0-7) with Y scroll 8 ($5201) and bank 5 ($5202): ExRAM rows 11-19 (one row below the screen row),
;   tiles $30 + row, palette 1 from ExRAM's attribute bytes. Columns 8-31: the nametable, tiles
;   $20 + (c & 15) from bank 7 in palette 0 ($5104 = 0 now).
; - rows 20-24 (lines 160-199): fill mode in the nametable quadrant ($5105 = $03, fill tile $2E,
;   $5107 = 2: palette 2) in columns 0-23, and a right split ($5200 = $D8: tiles 24 on) from bank 6:
;   ExRAM rows 21-25.
; - rows 25-29 (lines 200-239): substitutions off: PPUMASK 0 written at $2001, which the MMC5
;   hears, and rendering on again through the mirror $2009, which it does not hear, with $5104 = 1:
;   no split and no extended attributes, the fill tile in palette 2 across the whole width.
; Rows 9 and 19 of the nametable are blank. Every tile t of 4 KiB bank b shows two hex digits, b and
; t & 15, in colour 1 + (t >> 4) mod 3 (tile 0 is blank), so each cell says which bank it came from.
.include "result.inc"
.include "registers.inc"
.include "delay.inc"
INES_HEADER 1, 4, $50, $00

CHR_MODE   = $5101
EXRAM_MODE = $5104
NAMETABLES = $5105
FILL_TILE  = $5106
FILL_COLOUR = $5107
SPLIT      = $5200
SPLIT_SCROLL = $5201
SPLIT_BANK = $5202
IRQ_LINE   = $5203
IRQ_STATUS = $5204
EXRAM      = $5C00

; The 3x5 hex digits, five rows of three pixels each (bit 2 the left pixel), first row highest.
.macro DIGIT r0, r1, r2, r3, r4
        .word (r0 << 12) | (r1 << 9) | (r2 << 6) | (r3 << 3) | r4
.endmacro
F0 = %111101101101111
F1 = %010110010010111
F2 = %111001111100111
F3 = %111001111001111
F4 = %101101111001001
F5 = %111100111001111
F6 = %111100111101111
F7 = %111001001010010
F8 = %111101111101111
F9 = %111101111001111
FA = %010101111101101
FB = %110101110101110
FC = %011100100100011
FD = %110101101101110
FE = %111100110100111
FF = %111100110100100

.segment "CHARS"
.repeat 8, B
  .repeat 256, T
    .if T = 0
        .res 16, 0
    .else
      left .set (B = 0) * F0 + (B = 1) * F1 + (B = 2) * F2 + (B = 3) * F3 + (B = 4) * F4 + (B = 5) * F5 + (B = 6) * F6 + (B = 7) * F7
      digit .set T & 15
      right .set (digit = 0) * F0 + (digit = 1) * F1 + (digit = 2) * F2 + (digit = 3) * F3 + (digit = 4) * F4 + (digit = 5) * F5 + (digit = 6) * F6 + (digit = 7) * F7 + (digit = 8) * F8 + (digit = 9) * F9 + (digit = 10) * FA + (digit = 11) * FB + (digit = 12) * FC + (digit = 13) * FD + (digit = 14) * FE + (digit = 15) * FF
      colour .set 1 + ((T >> 4) .mod 3)
      .repeat 2, PLANE
        .repeat 8, PIXEL_ROW
          .if PIXEL_ROW >= 1 && PIXEL_ROW <= 5
        .byte ((((left >> (3 * (5 - PIXEL_ROW))) & 7) << 4) | ((right >> (3 * (5 - PIXEL_ROW))) & 7)) * ((colour >> PLANE) & 1)
          .else
        .byte 0
          .endif
        .endrepeat
      .endrepeat
    .endif
  .endrepeat
.endrepeat

.segment "ZEROPAGE"
band:       .res 1          ; 0 until line 79's interrupt, then 1, 2 after line 159's
row:        .res 1
cell:       .res 1
pointer:    .res 2

.segment "RODATA"
palette:
        .byte $0F, $30, $10, $00,  $0F, $16, $26, $36,  $0F, $1A, $2A, $3A,  $0F, $12, $22, $32
palette_bits:
        .byte $00, $40, $80, $C0

.segment "CODE"
reset:  sei
        cld
        ldx #$FF
        txs
        lda #0
        sta PPUCTRL
        sta PPUMASK
        sta band
        bit PPUSTATUS
:       bit PPUSTATUS
        bpl :-
:       bit PPUSTATUS
        bpl :-

        lda #1                  ; 4 KiB pattern banks: bank 7 for both tables
        sta CHR_MODE
        lda #7
        sta $5123
        sta $5127
        lda #$00                ; every quadrant on CIRAM page 0
        sta NAMETABLES
        lda #$2E
        sta FILL_TILE
        lda #2
        sta FILL_COLOUR
        lda #8
        sta SPLIT_SCROLL

        bit PPUSTATUS           ; the palette
        lda #$3F
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldx #0
:       lda palette,x
        sta PPUDATA
        inx
        cpx #16
        bne :-

        ; the nametable: rows 0-8 tiles $10 + (c & 15), 9 blank, 10-18 $20 + (c & 15), 19 blank,
        ; 20-29 $10 + (c & 15) (not shown: fill and split cover them); attributes palette 0
        bit PPUSTATUS
        lda #$20
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldy #0
@rows:  ldx #0
@cells: txa
        and #15
        cpy #9
        beq @blank
        cpy #19
        beq @blank
        cpy #10
        bcc @top
        cpy #19
        bcs @top
        ora #$20
        bne @put
@top:   ora #$10
        bne @put
@blank: lda #0
@put:   sta PPUDATA
        inx
        cpx #32
        bne @cells
        iny
        cpy #30
        bne @rows
        lda #0
        ldx #64
:       sta PPUDATA
        dex
        bne :-

        ; ExRAM (mode 2): rows 0-8 the extended attributes ((c & 3) << 6 | (r + c) & 7), rows 9-10
        ; zero, rows 11-29 the split's tiles $30 + row, the attribute bytes $55 (palette 1)
        lda #2
        sta EXRAM_MODE
        lda #<EXRAM
        sta pointer
        lda #>EXRAM
        sta pointer+1
        lda #0
        sta row
@xrows: ldy #0
@xcells:
        lda row
        cmp #9
        bcc @attribute
        cmp #11
        bcc @zero
        and #15
        ora #$30
        bne @xput
@zero:  lda #0
        beq @xput
@attribute:
        tya
        and #3
        tax
        lda palette_bits,x
        sta cell
        tya
        clc
        adc row
        and #7
        ora cell
@xput:  sta (pointer),y
        iny
        cpy #32
        bne @xcells
        lda pointer
        clc
        adc #32
        sta pointer
        bcc :+
        inc pointer+1
:       inc row
        lda row
        cmp #30
        bne @xrows
        lda #$55
        ldy #$3F
:       sta EXRAM + $3C0,y
        dey
        bpl :-

        lda #79
        sta IRQ_LINE
        lda #$80
        sta IRQ_STATUS
        bit PPUSTATUS
:       bit PPUSTATUS           ; rendering starts after a vertical blank's handler has run
        bpl :-
        lda #$80
        sta PPUCTRL
        cli
forever:
        jmp forever

; Vertical blank: the top band's set-up.
nmi:    pha
        lda #1
        sta EXRAM_MODE
        lda #0
        sta SPLIT
        sta NAMETABLES
        sta band
        lda #5
        sta SPLIT_BANK
        lda #79
        sta IRQ_LINE
        bit PPUSTATUS
        lda #0
        sta PPUSCROLL
        sta PPUSCROLL
        lda #$80
        sta PPUCTRL
        lda #$0A                ; background, its left column too
        sta PPUMASK
        pla
        rti

; The line interrupt at lines 79, 159 and 199: after a wait into the horizontal blank (the sprite
; fetches, dots 257-320), the next band's registers, before the next line's first tiles.
irq:    pha
        lda IRQ_STATUS          ; acknowledge
        lda band
        beq irq_top
        cmp #1
        beq irq_bottom
        jmp irq_last
irq_top:
        DELAY 58
        lda #$88                ; split on the left, tiles 0-7
        sta SPLIT
        lda #0
        sta EXRAM_MODE
        lda #159
        sta IRQ_LINE
        inc band
        pla
        rti
irq_bottom:
        DELAY 57
        lda #$03                ; quadrant 0 filled
        sta NAMETABLES
        lda #$D8                ; split on the right, tiles 24 on
        sta SPLIT
        lda #6
        sta SPLIT_BANK
        lda #199
        sta IRQ_LINE
        inc band
        pla
        rti
irq_last:
        DELAY 52
        lda #0                  ; rendering off as the MMC5 hears it
        sta PPUMASK
        lda #$0A                ; and on again for the PPU alone
        sta PPUMASK + 8
        lda #1                  ; extended attributes, were substitutions on
        sta EXRAM_MODE
        pla
        rti

.segment "VECTORS"
        .word nmi, reset, irq
