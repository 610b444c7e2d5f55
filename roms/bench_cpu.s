; config: nrom32
; Benchmark cartridge, CPU-bound: rendering and interrupts stay off and the program runs a tight
; loop of varied instructions forever (loads and stores in every addressing mode, arithmetic,
; shifts, compares, branches, subroutine calls and the stack) over a page of work RAM.
; nes-headless --frames N stops it.
.include "registers.inc"
.include "result.inc"
INES_HEADER 2, 1, $00, $00

work = $0300

.segment "ZEROPAGE"
pointer: .res 2
sum:     .res 2
count:   .res 1

.segment "CODE"
reset:
        sei
        cld
        ldx #$FF
        txs
        inx
        stx PPUCTRL
        stx PPUMASK
        lda #<work
        sta pointer
        lda #>work
        sta pointer+1
loop:   ldx #0
        ldy #0
pass:   lda work,x              ; absolute,X load, ROM table, indirect,Y and zero-page arithmetic
        clc
        adc table,x
        eor (pointer),y
        sta work,x
        adc sum
        sta sum
        lda sum+1
        adc #0
        sta sum+1
        asl a
        rol work+$80,x
        lsr sum
        ror a
        and #$3F
        tay
        jsr mix
        inc work,x
        dec count
        bit sum
        bvs :+
        cmp #$20
        bcc :+
        pha
        txa
        pha
        pla
        tax
        pla
:       inx
        bne pass
        jmp loop

; A few more addressing modes: zero page,X, (indirect,X) and absolute,Y.
.proc mix
        lda sum,x
        ora (pointer,x)
        sta work+$40,y
        cpy #$10
        bne done
        sbc #$07
done:   rts
.endproc

nmi:
irq:    rti

.segment "RODATA"
table:
        .repeat 256, I
        .byte (I * 37 + 11) & $FF
        .endrepeat

.segment "VECTORS"
        .word nmi, reset, irq
