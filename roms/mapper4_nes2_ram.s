; config: prg128_chr32
; Mapper 4 under an NES 2.0 header with 8 KiB of PRG RAM (byte 10 = $07, submapper 0): $A001 gates
; the RAM at $6000-$7FFF. Bit 7 clear: disabled, reads give 0 (this machine has no CPU open bus)
; and writes are dropped; bit 6 set: write-protected, reads work; $80: normal. The other bits do
; nothing, and $BFFF is $A001 (address AND $E001).
; The checks that shut the RAM off run from the fixed page at $E000, and the RAM is enabled again
; before anything is reported, since the result area and RAMCODE live in it.
.include "banked.inc"
NES2_HEADER 8, 4, $40, $00, $00, $07, $00
PRG_IDS 16
CHR_KIB_IDS 32

RAM_PROTECT = $A001
CELL        = $7ABC             ; a RAM byte away from the result area and RAMCODE

; Z from comparing the RAM cell with `value` (the byte read goes to probe[0]); on a mismatch the
; RAM is enabled again and `code` reported with `text`.
.macro CELL_IS code, text, value
        .local ok, message
        lda CELL
        sta probe
        cmp #value
        beq ok
        lda #$80
        sta RAM_PROTECT
        lda #code
        ldx #<message
        ldy #>message
        jmp fail
message:
        .asciiz text
ok:
.endmacro

.macro PROTECT value
        lda #value
        sta RAM_PROTECT
.endmacro

.macro CELL_WRITE value
        lda #value
        sta CELL
.endmacro

.segment "RAMCODE"
main:   jmp ram_checks

.segment "CODE"
ram_checks:
        CELL_WRITE $5A
        CELL_IS 1, "power-on: RAM not readable and writable", $5A
        PROTECT $00
        CELL_IS 2, "$A001=$00: RAM still readable", $00
        CELL_WRITE $33
        PROTECT $80
        CELL_IS 3, "$A001=$00: a write reached the RAM, or it lost its contents", $5A
        PROTECT $C0
        CELL_IS 4, "$A001=$C0: RAM not readable", $5A
        CELL_WRITE $44
        CELL_IS 5, "$A001=$C0: a write reached the protected RAM", $5A
        PROTECT $40             ; protect without enable: still disabled
        CELL_IS 6, "$A001=$40: RAM readable", $00
        PROTECT $BF             ; enabled, bit 6 clear: writable whatever bits 0-5 say
        CELL_WRITE $66
        CELL_IS 7, "$A001=$BF: RAM not writable", $66
        lda #$00
        sta $BFFF               ; $A001
        CELL_IS 8, "$BFFF=$00: RAM still readable", $00
        lda #$80
        sta $A003               ; $A001
        CELL_IS 9, "$A003=$80: RAM not readable", $66
        lda #$00
        sta $A000               ; the arrangement register: the RAM stays
        sta $8001
        CELL_IS 10, "$A000/$8001 writes changed the RAM gate", $66
        CELL_WRITE $77
        CELL_IS 11, "$A001=$80: RAM not writable", $77
        jmp passed

.segment "RAMCODE"
passed: PASS "mapper 4, NES 2.0 PRG RAM gate: ok"
