; config: prg32_chr8
; Sprite DMA: a write of v to $4014 copies work RAM page (v AND 7) through OAMDATA, starting at
; OAMADDR and wrapping, and leaves OAMADDR where it started. Sprite memory is read back through
; OAMDATA, whose reads do not move OAMADDR and show attribute bytes with bits 2-4 clear.
.include "banked.inc"
BANKED_IMAGE 2, 1, $00, $00

.segment "ZEROPAGE"
source: .res 2

; Copies page `value` AND 7 with OAMADDR 0 and compares sprite memory with page `page`.
.macro DMA_AND_COMPARE value, page, code, text
        lda #0
        sta source
        lda #page
        sta source+1
        lda #0
        sta OAMADDR
        lda #value
        sta OAMDMA
        jsr compare_oam
        CHECK code, text
.endmacro

.segment "RAMCODE"
main:   ldx #0
@fill:  txa
        eor #$5A
        sta $0200,x
        txa
        eor #$C3
        sta $0300,x
        inx
        bne @fill
        DMA_AND_COMPARE $FA, $02, 1, "$FA did not copy $0200"
        DMA_AND_COMPARE $83, $03, 2, "$83 did not copy $0300"
        DMA_AND_COMPARE $80, $00, 3, "$80 did not copy $0000"
        DMA_AND_COMPARE $02, $02, 4, "$02 did not copy $0200"

        lda #$10                ; start at OAMADDR $10: byte i lands at $10 + i
        sta OAMADDR
        lda #$03
        sta OAMDMA
        lda #$77                ; 256 writes later OAMADDR is $10 again
        sta OAMDATA
        ldx #$0F
        stx OAMADDR
        lda OAMDATA
        sta probe               ; $0300 + $FF
        ldx #$12
        stx OAMADDR
        lda OAMDATA
        sta probe+1             ; $0302, an attribute byte
        lda OAMDATA
        sta probe+2             ; again: reads do not move OAMADDR
        ldx #$10
        stx OAMADDR
        lda OAMDATA
        sta probe+3
        EXPECT_PROBE 5, "copy from OAMADDR $10", {$FF ^ $C3, ($02 ^ $C3) & $E3, ($02 ^ $C3) & $E3, $77}
        PASS "sprite DMA: ok"

; Z set when every sprite memory byte, read through OAMDATA, equals the byte of page (source), with
; bits 2-4 of attribute bytes clear. Writes no zero-page byte (page 0 may be the source).
compare_oam:
        ldy #0
@next:  sty OAMADDR
        tya
        and #3
        cmp #2
        beq @attribute
        lda (source),y
        jmp @compare
@attribute:
        lda (source),y
        and #$E3
@compare:
        cmp OAMDATA
        bne @done
        iny
        bne @next
@done:  rts
