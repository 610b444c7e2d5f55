; config: mapper30_prg512
; Mapper 30 (UNROM 512), the plain board: NES 2.0 submapper 0 without the battery bit, so bus
; conflicts, wired for the one-screen page by latch bit 7 (header bit 6.3 set, 6.0 clear). 512 KiB
; of program ROM, 32 KiB of character RAM, 8 KiB of RAM at $6000 declared for the result area.
; Any write to $8000-$FFFF loads the latch MCCPPPPP with the value ANDed with the ROM byte there:
; PPPPP the 16 KiB bank at $8000 (all five bits), CC the 8 KiB character RAM bank, M the page all
; four nametables show; $C000-$FFFF keeps the last bank; power-on: latch 0; writes below $8000 leave
; the latch alone.
.include "banked.inc"
NES2_HEADER 32, 0, $E8, $10, $00, $07, $09
PRG_IDS 64

FREE = $C100    ; a program ROM byte of $FF in the fixed bank: a write there is taken whole

.macro LATCH value
        lda #value
        sta FREE
.endmacro

.segment "RAMCODE"
main:   EXPECT_WINDOWS 1, "power-on program pages", 0, 1, 62, 63
        ; marks in each character RAM bank b: b*16+1 at PPU $0000, b*16+2 at $1000
.repeat 4, b
        LATCH b << 5
        CHR_WRITE 0, b * 16 + 1
        CHR_WRITE 4, b * 16 + 2
.endrepeat
        LATCH $00
        EXPECT_CHR_KIB 2, "character bank 0", $01, 0, 0, 0, $02, 0, 0, 0
        LATCH $20
        EXPECT_CHR_KIB 3, "character bank 1", $11, 0, 0, 0, $12, 0, 0, 0
        LATCH $40
        EXPECT_CHR_KIB 4, "character bank 2", $21, 0, 0, 0, $22, 0, 0, 0
        LATCH $60
        EXPECT_CHR_KIB 5, "character bank 3", $31, 0, 0, 0, $32, 0, 0, 0
        EXPECT_WINDOWS 6, "latch $60: program bank 0", 0, 1, 62, 63

        LATCH $01
        EXPECT_WINDOWS 7, "bank bit 0", 2, 3, 62, 63
        LATCH $02
        EXPECT_WINDOWS 8, "bank bit 1", 4, 5, 62, 63
        LATCH $04
        EXPECT_WINDOWS 9, "bank bit 2", 8, 9, 62, 63
        LATCH $08
        EXPECT_WINDOWS 10, "bank bit 3", 16, 17, 62, 63
        LATCH $10
        EXPECT_WINDOWS 11, "bank bit 4", 32, 33, 62, 63
        LATCH $1F
        EXPECT_WINDOWS 12, "bank 31", 62, 63, 62, 63

        LATCH $00
        NT_WRITE 0, $A0         ; page 0
        LATCH $80
        NT_WRITE 0, $B1         ; page 1
        EXPECT_NT 13, "M = 1: page 1 in all four", $B1, $B1, $B1, $B1
        LATCH $00
        EXPECT_NT 14, "M = 0: page 0 in all four", $A0, $A0, $A0, $A0

        ; bus conflicts: bank 0 is at $8000, whose second byte is $7F
        lda #$FF
        sta $8001               ; $7F: bank 31, character bank 3, M = 0
        EXPECT_WINDOWS 15, "$FF at $8001 ($7F)", 62, 63, 62, 63
        EXPECT_CHR_KIB 16, "$FF at $8001: character bank", $31, 0, 0, 0, $32, 0, 0, 0
        EXPECT_NT 17, "$FF at $8001: page", $A0, $A0, $A0, $A0
        lda #$C1
        sta $C000               ; $BE there: $80, bank 0, M = 1
        EXPECT_WINDOWS 18, "$C1 at $C000 ($BE)", 0, 1, 62, 63
        EXPECT_NT 19, "$C1 at $C000: page", $B1, $B1, $B1, $B1
        EXPECT_CHR_KIB 20, "$C1 at $C000: character bank", $01, 0, 0, 0, $02, 0, 0, 0
        lda #$5F
        sta $E001               ; $40 there: character bank 2 alone
        EXPECT_WINDOWS 21, "$5F at $E001 ($40)", 0, 1, 62, 63
        EXPECT_CHR_KIB 22, "$5F at $E001: character bank", $21, 0, 0, 0, $22, 0, 0, 0
        EXPECT_NT 23, "$5F at $E001: page", $A0, $A0, $A0, $A0
        lda #$FF
        sta $A7FF               ; bank 0's second page: $FF there
        EXPECT_WINDOWS 24, "$FF at $A7FF", 62, 63, 62, 63

        LATCH $00
        lda #$05
        sta $7FF0
        sta $5000
        sta $4020
        EXPECT_WINDOWS 25, "a write below $8000 moved the bank", 0, 1, 62, 63
        lda $7FF0
        cmp #$05
        CHECK 26, "RAM at $7FF0 lost its byte"
        PASS "mapper 30: ok"
