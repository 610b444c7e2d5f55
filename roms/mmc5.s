; config: mmc5_prg128_chr512
; MMC5 (mapper 5, ExROM) registers as the CPU and PPUDATA see them with rendering off: the program
; modes of $5100 with the ROM/RAM bit of $5114-$5116 ($5117 is always ROM), the RAM page at $6000
; ($5113) and write protection ($5102/$5103), the pattern modes of $5101 with $5130's upper bits,
; the A and B sets as PPUDATA sees them, ExRAM in its four modes, the nametable quadrants of $5105
; with fill mode, and the multiplier.
; 128 KiB program ROM (16 pages), 512 KiB character ROM, 32 KiB cartridge RAM (NES 2.0, one chip:
; EWROM). KiB j of character ROM starts with KIB(j) = (j & $FF) xor $55 * (j >> 8), so that KiB
; 256-511 differ from the KiB 256 below them. RAM page k holds $A0+k at offset $0400 (program pages
; are $FF there) and, for k = 1-3, at offset 0 (page 0 starts with the result area: $80 while the
; test runs).
;
; Expected values, from the board's tables:
; - power-on: $5100 = 3 (four 8 KiB windows) and $5117 = $FF; $5204 reads 0.
; - $5100 = 0: $8000-$FFFF = 32 KiB from $5117 (bits 1-0 dropped); 1: $8000 16 KiB from $5115,
;   $C000 16 KiB from $5117; 2: $8000 16 KiB from $5115, $C000 $5116, $E000 $5117; 3: $5114-$5117.
;   16 KiB windows drop bit 0 and use A13, for ROM and RAM. Bit 7 of $5114-$5116: 1 ROM, 0 RAM;
;   $5117 is ROM whatever bit 7 says. Page numbers past the ROM wrap (7 bits, 16 pages).
; - RAM page = value & 7; on the 32 KiB board 0-3 are the chip's pages and 4-7 no chip (no write
;   lands). Writes land only with $5102 & 3 = 2 and $5103 & 3 = 1; reads are never blocked.
; - pattern banks count in units of the mode's size; $5130 bits 1-0 become bits 9-8 of each later
;   bank write. Mode 3: $5120-$5127 at $0000-$1C00; 2: $5121/3/5/7; 1: $5123/$5127; 0: $5127. The
;   B set ($5128-$512B) covers $0xxx and $1xxx alike (mode 3: $5128-$512B; 2: $5129, $512B;
;   1 and 0: $512B). PPUDATA sees set A with 8x8 sprites; with 8x16 sprites the set written last.
;   The MMC5 hears PPUCTRL at $2000 alone, not through its mirrors ($2008-$3FF8).
; - ExRAM at $5C00-$5FFF: mode 2 read/write, mode 3 read only, modes 0/1 no CPU access outside
;   rendering (writes dropped, reads not ExRAM). As a nametable ($5105 field 2) PPUDATA reads and
;   writes it in modes 0/1; in modes 2/3 it reads 0 and takes no writes.
; - $5105 fields per quadrant: 0 CIRAM page 0, 1 page 1, 2 ExRAM, 3 fill ($5106 in the tile area,
;   ($5107 & 3) * $55 in the attribute area).
; - $5205 x $5206 reads back as the 16-bit product, low byte at $5205.
BOARD_RESET = 1
BOARD_FAIL = 1
PROGRAM_IN_ROM = 1
.include "banked.inc"
.import __LOWCODE_LOAD__, __LOWCODE_RUN__, __LOWCODE_SIZE__
NES2_HEADER 8, 64, $50, $00, $00, $09, $00
PRG_IDS 16

.segment "CHARS"
.repeat 512, j
        .byte (j & $FF) ^ ((j >> 8) * $55)
        .res 1023, 0
.endrepeat

; The first byte of KiB j (j past the ROM wraps).
.macro KIB_BYTE j
        .byte ((j) & $FF) ^ ((((j) & 511) >> 8) * $55)
.endmacro

PRG_MODE  = $5100
CHR_MODE  = $5101
PROTECT1  = $5102
PROTECT2  = $5103
EXRAM_MODE = $5104
NAMETABLES = $5105
FILL_TILE = $5106
FILL_COLOUR = $5107
PRG_RAM   = $5113
PRG_8000  = $5114
PRG_A000  = $5115
PRG_C000  = $5116
PRG_E000  = $5117
CHR_UPPER = $5130
IRQ_STATUS = $5204
FACTOR1   = $5205
FACTOR2   = $5206
EXRAM     = $5C00

RAM_ID    = $A0         ; RAM page k holds RAM_ID + k at offset $0400
ID_OFFSET = $0400

; Window descriptors for EXPECT_MAP: program page p is p (0-15), RAM page k is RAM + k.
RAM = $40
.macro MAP_HI w
        .byte ((w) < RAM) * $FF + ((w) >= RAM) * (RAM_ID + (w) - RAM)
.endmacro
.macro MAP_LO w
        .byte ((w) < RAM) * (PRG_ID + (w)) + ((w) = RAM) * $80 + ((w) > RAM) * (RAM_ID + (w) - RAM)
.endmacro

; CHECK that probe[0..count-1] equals the bytes at `table`.
.macro EXPECT_TABLE code, text, table, count
        lda #<table
        sta expected
        lda #>table
        sta expected+1
        ldy #count - 1
        jsr compare_probe
        CHECK code, text
.endmacro

; What $8000, $A000, $C000 and $E000 show with $5117 = `e000` for the check (then $FF again).
.macro EXPECT_MAP code, text, w8, wa, wc, we, e000
        .local table, after
        lda #e000
        jsr probe_map
        jmp after
table:  MAP_HI w8
        MAP_HI wa
        MAP_HI wc
        MAP_HI we
        MAP_LO w8
        MAP_LO wa
        MAP_LO wc
        MAP_LO we
after:  EXPECT_TABLE code, text, table, 8
.endmacro

; Fails unless A differs from `value`.
.macro CHECK_NOT code, text, value
        .local differs, done
        cmp #value
        bne differs
        lda #1                  ; Z clear: the check fails
        bne done
differs:
        lda #0
done:   CHECK code, text
.endmacro

.macro POKE address, value
        lda #value
        sta address
.endmacro

; The first byte of each 1 KiB pattern slot through PPUDATA: the KiB numbers k0-k7.
.macro EXPECT_KIB code, text, k0, k1, k2, k3, k4, k5, k6, k7
        .local table, after
        jsr probe_chr
        jmp after
table:  KIB_BYTE k0
        KIB_BYTE k1
        KIB_BYTE k2
        KIB_BYTE k3
        KIB_BYTE k4
        KIB_BYTE k5
        KIB_BYTE k6
        KIB_BYTE k7
after:  EXPECT_TABLE code, text, table, 8
.endmacro

; A write of $5A to $6401 and of $A5 to $8402 (RAM page 1 in both windows) under $5102 = p1,
; $5103 = p2, and what a read of $6400 sees meanwhile; then unlocked, the two bytes read back.
.macro EXPECT_PROTECT code, text, p1, p2, lands
        ldx #p1
        ldy #p2
        jsr protect_row
  .if lands
        EXPECT_PROBE code, text, {$5A, $A5, RAM_ID + 1}
  .else
        EXPECT_PROBE code, text, {$00, $00, RAM_ID + 1}
  .endif
.endmacro

; probe[0..3] := ExRAM at $5C00, $5DFF, $5FFF and $5EAA (the nametable probes' offset).
.macro EXPECT_EXRAM code, text, b0, b1, b2, b3
        jsr probe_exram
        EXPECT_PROBE code, text, {b0, b1, b2, b3}
.endmacro

.segment "LOWCODE"
; probe[0..3] := offset $0400 of $8000, $A000, $C000, $E000; probe[4..7] := their offset 0; with
; $5117 = A meanwhile (this runs from the console's RAM while $E000 switches).
probe_map:
        sta PRG_E000
        lda $8000 + ID_OFFSET
        sta probe
        lda $A000 + ID_OFFSET
        sta probe+1
        lda $C000 + ID_OFFSET
        sta probe+2
        lda $E000 + ID_OFFSET
        sta probe+3
        lda $8000
        sta probe+4
        lda $A000
        sta probe+5
        lda $C000
        sta probe+6
        lda $E000
        sta probe+7
        lda #$FF
        sta PRG_E000
        rts

.segment "CODE"
board_reset:
        lda IRQ_STATUS          ; before anything is written
        sta probe+7
        POKE PROTECT1, 2
        POKE PROTECT2, 1
        POKE PRG_RAM, 0
        ldx #0
@copy:  lda __LOWCODE_LOAD__,x
        sta __LOWCODE_RUN__,x
        inx
        cpx #<__LOWCODE_SIZE__
        bne @copy
        rts
.assert __LOWCODE_SIZE__ < 256, error, "LOWCODE too long for its copy loop"

; The result's page back at $6000, writable, rendering off.
board_fail:
        POKE PROTECT1, 2
        POKE PROTECT2, 1
        POKE PRG_RAM, 0
        POKE PPUMASK, 0
        rts

; X/Y to the protect registers, the two writes and the locked read, unlocked again, the bytes read
; back (program mode 3 with RAM page 1 at $8000 and at $6000).
protect_row:
        POKE PROTECT1, 2
        POKE PROTECT2, 1
        POKE PRG_RAM, 1
        POKE PRG_8000, $01
        lda #0
        sta $6401
        sta $6402
        stx PROTECT1
        sty PROTECT2
        POKE $6401, $5A
        POKE $8402, $A5
        lda $6400
        sta probe+2
        POKE PROTECT1, 2
        POKE PROTECT2, 1
        lda $6401
        sta probe
        lda $6402
        sta probe+1
        rts

probe_exram:
        lda EXRAM
        sta probe
        lda EXRAM + $1FF
        sta probe+1
        lda EXRAM + $3FF
        sta probe+2
        lda EXRAM + NT_OFFSET
        sta probe+3
        rts

; probe[0..2] := the attribute byte at $23C5, $27C5 and $2FC5 through PPUDATA.
probe_attributes:
        ldx #0
@next:  bit PPUSTATUS
        lda attribute_high,x
        sta PPUADDR
        lda #$C5
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        sta probe,x
        inx
        cpx #3
        bne @next
        rts
attribute_high: .byte $23, $27, $2F

; Pairs of factors and their products, low byte first.
.macro PRODUCT f1, f2
        .byte f1, f2, <((f1) * (f2)), >((f1) * (f2))
.endmacro
products:
        PRODUCT 0, 0
        PRODUCT 255, 255
        PRODUCT 1, 255
        PRODUCT 255, 1
        PRODUCT 16, 16
        PRODUCT 200, 3
        PRODUCT 123, 45
        PRODUCT 128, 2
        PRODUCT 0, 77
PRODUCTS_END = * - products

main:   lda #0
        sta PPUCTRL
        sta PPUMASK
        lda probe+7
        and #$C0
        CHECK 1, "$5204 at power-on: pending or in-frame set"

        ; identifying bytes of the RAM pages
        lda #RAM_ID
        sta $6000 + ID_OFFSET
        ldx #1
@ids:   stx PRG_RAM
        txa
        ora #RAM_ID
        sta $6000
        sta $6000 + ID_OFFSET
        inx
        cpx #4
        bne @ids
        POKE PRG_RAM, 0

        ; power-on program mode 3: each of $5114-$5116 shows its own page
        POKE PRG_8000, $81
        POKE PRG_A000, $82
        POKE PRG_C000, $83
        EXPECT_MAP 2, "power-on program mode not 3 (or $5117 not $FF)", 1, 2, 3, 15, $FF
        POKE PRG_8000, $8E
        POKE PRG_A000, $F5      ; 7 bits: $75 wraps to page 5
        POKE PRG_C000, $80
        EXPECT_MAP 3, "mode 3, ROM pages 14, $75, 0", 14, 5, 0, 15, $FF
        POKE PRG_8000, $01
        POKE PRG_A000, $02
        POKE PRG_C000, $7B      ; bit 7 clear: RAM page 3
        EXPECT_MAP 4, "mode 3, RAM pages 1, 2, 3", RAM+1, RAM+2, RAM+3, 15, $FF
        EXPECT_MAP 5, "mode 3, $5117 = $07 (ROM despite bit 7)", RAM+1, RAM+2, RAM+3, 7, $07

        POKE PRG_MODE, 2
        POKE PRG_A000, $85
        POKE PRG_C000, $8C
        EXPECT_MAP 6, "mode 2, ROM: $5115 $85, $5116 $8C", 4, 5, 12, 15, $FF
        POKE PRG_A000, $03
        POKE PRG_C000, $00
        EXPECT_MAP 7, "mode 2, RAM: $5115 $03, $5116 0, $5117 $09", RAM+2, RAM+3, RAM, 9, $09
        POKE $A403, $C3         ; the 16 KiB RAM window's upper half: page 3
        POKE PRG_RAM, 3
        lda $6403
        sta probe
        POKE PRG_RAM, 0
        EXPECT_PROBE 8, "mode 2: write to $A403 (RAM 16 KiB, A13 set) not in page 3", $C3

        POKE PRG_MODE, 1
        POKE PRG_A000, $87
        EXPECT_MAP 9, "mode 1, ROM: $5115 $87, $5117 $FF", 6, 7, 14, 15, $FF
        POKE PRG_A000, $01
        EXPECT_MAP 10, "mode 1, RAM: $5115 $01, $5117 $0B", RAM, RAM+1, 10, 11, $0B

        POKE PRG_MODE, 0
        EXPECT_MAP 11, "mode 0, $5117 $FF", 12, 13, 14, 15, $FF
        EXPECT_MAP 12, "mode 0, $5117 $06 (ROM despite bit 7)", 4, 5, 6, 7, $06
        EXPECT_MAP 13, "mode 0, $5117 $F9", 8, 9, 10, 11, $F9
        POKE PRG_MODE, 3

        ; the RAM page at $6000: value & 7
        POKE PRG_RAM, $F9
        lda $6000 + ID_OFFSET
        sta probe
        POKE PRG_RAM, $0A
        lda $6000 + ID_OFFSET
        sta probe+1
        POKE PRG_RAM, 3
        lda $6000 + ID_OFFSET
        sta probe+2
        POKE PRG_RAM, 0
        lda $6000 + ID_OFFSET
        sta probe+3
        EXPECT_PROBE 14, "$5113 = $F9, $0A, 3, 0: RAM pages", {RAM_ID+1, RAM_ID+2, RAM_ID+3, RAM_ID}
        ; page 4 is the second chip's, which this board lacks: a write there lands nowhere
        POKE PRG_RAM, 4
        POKE $6000 + ID_OFFSET, $55
        lda $6000 + ID_OFFSET
        sta probe+4
        ldx #3
@pages: stx PRG_RAM
        lda $6000 + ID_OFFSET
        sta probe,x
        dex
        bpl @pages
        POKE PRG_RAM, 0
        EXPECT_PROBE 15, "$5113 = 4 (no chip) wrote into pages 0-3", {RAM_ID, RAM_ID+1, RAM_ID+2, RAM_ID+3}
        lda probe+4
        CHECK_NOT 16, "$5113 = 4 (no chip) read back the byte written", $55

        EXPECT_PROTECT 17, "protect 2/1: writes lost", 2, 1, 1
        EXPECT_PROTECT 18, "protect 0/0: writes landed", 0, 0, 0
        EXPECT_PROTECT 19, "protect 2/0: writes landed", 2, 0, 0
        EXPECT_PROTECT 20, "protect 0/1: writes landed", 0, 1, 0
        EXPECT_PROTECT 21, "protect 1/2: writes landed", 1, 2, 0
        EXPECT_PROTECT 22, "protect 3/1: writes landed", 3, 1, 0
        EXPECT_PROTECT 23, "protect 2/3: writes landed", 2, 3, 0
        EXPECT_PROTECT 24, "protect $FE/$FD (bits 1-0 2/1): writes lost", $FE, $FD, 1
        EXPECT_PROTECT 25, "protect $06/$05 (bits 1-0 2/1): writes lost", $06, $05, 1
        POKE PRG_RAM, 0

        ; pattern banks, 8x8 sprites: set A
        POKE CHR_MODE, 3
        POKE CHR_UPPER, 0
        POKE $5120, $00
        POKE $5121, $11
        POKE $5122, $22
        POKE $5123, $FF
        POKE CHR_UPPER, 1
        POKE $5124, $05         ; 256 + 5
        POKE CHR_UPPER, 0
        POKE $5125, $80
        POKE CHR_UPPER, 3
        POKE $5126, $02         ; 768 + 2
        POKE CHR_UPPER, 2
        POKE $5127, $10         ; 512 + 16
        EXPECT_KIB 26, "mode 3, set A with $5130", 0, $11, $22, $FF, 261, $80, 770, 528
        POKE CHR_MODE, 2        ; the same registers in 2 KiB units
        EXPECT_KIB 27, "mode 2 from the mode 3 values", 34, 35, 510, 511, 256, 257, 1056, 1057
        POKE CHR_MODE, 1
        EXPECT_KIB 28, "mode 1 from the mode 3 values", 1020, 1021, 1022, 1023, 2112, 2113, 2114, 2115
        POKE CHR_MODE, 0
        EXPECT_KIB 29, "mode 0 from $5127 = 528", 4224, 4225, 4226, 4227, 4228, 4229, 4230, 4231
        POKE CHR_UPPER, 0
        POKE $5127, $3E
        EXPECT_KIB 30, "mode 0, $5127 $3E", 496, 497, 498, 499, 500, 501, 502, 503
        POKE CHR_MODE, 1
        POKE $5123, $25
        EXPECT_KIB 31, "mode 1, $5123 $25, $5127 $3E", 148, 149, 150, 151, 248, 249, 250, 251
        POKE CHR_MODE, 2
        POKE $5121, $83
        EXPECT_KIB 32, "mode 2, $5121 $83, $5123 $25, $5125 $80, $5127 $3E", 262, 263, 74, 75, 256, 257, 124, 125

        ; 8x16 sprites: PPUDATA sees the set written last
        POKE CHR_MODE, 3
        POKE PPUCTRL, $20
        EXPECT_KIB 33, "8x16, set A written last", 0, $83, $22, $25, 261, $80, 770, $3E
        POKE CHR_UPPER, 1
        POKE $5128, $30         ; 256 + $30
        POKE CHR_UPPER, 0
        POKE $5129, $31
        POKE $512A, $32
        POKE $512B, $33
        EXPECT_KIB 34, "8x16, set B written last, mode 3", 304, $31, $32, $33, 304, $31, $32, $33
        POKE PPUCTRL, $00
        EXPECT_KIB 35, "8x8 with set B written last: not set A", 0, $83, $22, $25, 261, $80, 770, $3E
        POKE PPUCTRL, $20
        EXPECT_KIB 36, "8x16 again: not set B", 304, $31, $32, $33, 304, $31, $32, $33
        POKE $2008, $00         ; PPUCTRL through a mirror: the PPU's 8x8, not heard by the MMC5
        EXPECT_KIB 59, "8x8 through $2008 was heard: not set B", 304, $31, $32, $33, 304, $31, $32, $33
        POKE PPUCTRL, $00
        POKE $3FF8, $20         ; the last mirror: 8x16 for the PPU alone
        EXPECT_KIB 60, "8x16 through $3FF8 was heard: not set A", 0, $83, $22, $25, 261, $80, 770, $3E
        POKE PPUCTRL, $20
        POKE CHR_MODE, 1
        EXPECT_KIB 37, "8x16, set B, mode 1", 204, 205, 206, 207, 204, 205, 206, 207
        POKE CHR_MODE, 2
        EXPECT_KIB 38, "8x16, set B, mode 2", 98, 99, 102, 103, 98, 99, 102, 103
        POKE CHR_MODE, 0
        EXPECT_KIB 39, "8x16, set B, mode 0", 408, 409, 410, 411, 412, 413, 414, 415
        POKE $5127, $3E
        EXPECT_KIB 40, "8x16, set A written last, mode 0", 496, 497, 498, 499, 500, 501, 502, 503
        POKE PPUCTRL, $00
        POKE CHR_MODE, 3

        ; ExRAM through $5C00-$5FFF
        POKE EXRAM_MODE, 2
        POKE EXRAM, $11
        POKE EXRAM + $1FF, $22
        POKE EXRAM + $3FF, $33
        POKE EXRAM + NT_OFFSET, $44
        EXPECT_EXRAM 41, "ExRAM mode 2: read back", $11, $22, $33, $44
        POKE EXRAM_MODE, 3
        POKE EXRAM, $99
        EXPECT_EXRAM 42, "ExRAM mode 3: a write landed, or no read", $11, $22, $33, $44
        POKE EXRAM_MODE, 0
        POKE EXRAM, $77         ; outside rendering: dropped
        lda EXRAM
        sta probe
        CHECK_NOT 43, "ExRAM mode 0: the CPU read ExRAM outside rendering", $11
        POKE EXRAM_MODE, 1
        POKE EXRAM + $1FF, $78
        POKE EXRAM_MODE, 2
        EXPECT_EXRAM 44, "ExRAM modes 0/1: a write outside rendering landed", $11, $22, $33, $44

        ; ExRAM as every nametable through PPUDATA
        POKE EXRAM_MODE, 0
        POKE NAMETABLES, $AA
        EXPECT_NT 45, "ExRAM nametables, mode 0", $44, $44, $44, $44
        NT_WRITE 1, $66
        POKE EXRAM_MODE, 1
        EXPECT_NT 46, "ExRAM nametables, mode 1, after a PPUDATA write", $66, $66, $66, $66
        POKE EXRAM_MODE, 2
        EXPECT_EXRAM 47, "PPUDATA write to an ExRAM nametable, as the CPU reads it", $11, $22, $33, $66
        EXPECT_NT 48, "ExRAM nametables, mode 2: not 0", 0, 0, 0, 0
        NT_WRITE 0, $12
        POKE EXRAM_MODE, 3
        EXPECT_NT 49, "ExRAM nametables, mode 3: not 0", 0, 0, 0, 0
        NT_WRITE 2, $13
        EXPECT_EXRAM 50, "PPUDATA writes to ExRAM nametables in modes 2/3 landed", $11, $22, $33, $66

        ; the quadrants of $5105
        POKE EXRAM_MODE, 0
        POKE NAMETABLES, $00
        NT_WRITE 3, $E0         ; $2C00 on CIRAM page 0
        POKE NAMETABLES, $55
        NT_WRITE 0, $E1         ; $2000 on CIRAM page 1
        POKE FILL_TILE, $37
        POKE FILL_COLOUR, $FE   ; bits 1-0: palette 2
        POKE NAMETABLES, $E4
        EXPECT_NT 51, "$5105 = $E4: CIRAM 0, CIRAM 1, ExRAM, fill", $E0, $E1, $66, $37
        POKE NAMETABLES, $1B
        EXPECT_NT 52, "$5105 = $1B: fill, ExRAM, CIRAM 1, CIRAM 0", $37, $66, $E1, $E0
        jsr probe_attributes
        EXPECT_PROBE 53, "$5105 = $1B, $5107 = $FE: attribute at $23C5", $AA
        POKE FILL_COLOUR, $01
        POKE FILL_TILE, $C8
        POKE NAMETABLES, $FF
        jsr probe_attributes
        EXPECT_PROBE 54, "$5105 = $FF, $5107 = 1: attributes at $23C5/$27C5/$2FC5", {$55, $55, $55}
        EXPECT_NT 55, "$5105 = $FF, $5106 = $C8", $C8, $C8, $C8, $C8
        POKE NAMETABLES, $50
        EXPECT_NT 56, "$5105 = $50: not horizontal", $E0, $E0, $E1, $E1
        POKE NAMETABLES, $44
        EXPECT_NT 57, "$5105 = $44: not vertical", $E0, $E1, $E0, $E1

        ; the multiplier
        ldx #0
product_loop:
        lda products,x
        sta FACTOR1
        lda products+1,x
        sta FACTOR2
        lda FACTOR1
        sta probe
        lda FACTOR2
        sta probe+1
        lda FACTOR1             ; reading does not change the factors
        sta probe+2
        lda products,x
        sta probe+4
        lda products+1,x
        sta probe+5
        lda probe
        cmp products+2,x
        bne product_wrong
        lda probe+2
        cmp products+2,x
        bne product_wrong
        lda probe+1
        cmp products+3,x
product_wrong: CHECK 58, "$5205 x $5206 (probe: low, high, low again, -, factors)"
        inx
        inx
        inx
        inx
        cpx #PRODUCTS_END
        beq products_done
        jmp product_loop
products_done:

        POKE PRG_RAM, 0
        PASS "MMC5 registers: ok"
