; config: prg128_chr64
; Mapper 206 (Namco 108): only $8000 and $8001 (address AND $E001) exist; the layout is fixed as
; mapper 4's P=0, C=0 (R6, R7, -2, -1; 2 KiB at $0000/$0800, 1 KiB at $1000-$1C00) whatever bits
; 6 and 7 of $8000 say; R6/R7 keep 4 bits, R0/R1 bits 5-1, R2-R5 bits 5-0; $A000-$FFFF are ignored
; (no arrangement register: the header's stands; no IRQ).
; 128 KiB program ROM (16 pages), 64 KiB character ROM (KiB numbered by their first byte). An NES 2.0
; header (older headers fold mapper numbers of 64 and up) asking for the vertical arrangement, with
; 8 KiB of PRG RAM declared for the result area.
.include "banked.inc"
NES2_HEADER 8, 8, $E1, $C0, $00, $07, $00
PRG_IDS 16
CHR_KIB_IDS 64

.macro BANK select, value
        lda #select
        sta $8000
        lda #value
        sta $8001
.endmacro

.segment "RAMCODE"
main:   EXPECT_WINDOWS 1, "power-on program pages", 0, 0, 14, 15
        EXPECT_CHR_KIB 2, "power-on pattern KiB", 0, 1, 0, 1, 0, 0, 0, 0
        NT_WRITE 0, $E0
        NT_WRITE 1, $E1
        EXPECT_NT 3, "power-on nametables not vertical", $E0, $E1, $E0, $E1

        BANK $C6, 5             ; P and C set: no such bits; R6 := 5
        EXPECT_WINDOWS 4, "$8000=$C6, R6 5: 5, 0, 14, 15", 5, 0, 14, 15
        BANK $47, $FA           ; R7 := $FA AND $0F = 10
        EXPECT_WINDOWS 5, "R7 $FA: 5, 10, 14, 15", 5, 10, 14, 15
        BANK $06, $1F           ; R6 := 15
        EXPECT_WINDOWS 6, "R6 $1F: 15, 10, 14, 15", 15, 10, 14, 15

        BANK $80, $FF           ; R0: bits 5-1 = $3E
        BANK $81, $C4           ; R1: $04
        BANK $82, $FF           ; R2: $3F
        BANK $83, $40           ; R3: 0
        BANK $84, $2A           ; R4: 42
        BANK $85, $15           ; R5: 21
        EXPECT_CHR_KIB 7, "pattern KiB (C fixed at 0)", 62, 63, 4, 5, 63, 0, 42, 21

        lda #$01                ; horizontal, were there an arrangement register
        sta $A000
        EXPECT_NT 8, "$A000=1 changed the nametables", $E0, $E1, $E0, $E1
        lda #$06                ; select R6, then odd addresses above $9FFF: not $8001
        sta $8000
        lda #$03
        sta $A001
        sta $C001
        sta $E001
        EXPECT_WINDOWS 9, "a write to $A001/$C001/$E001 reached R6", 15, 10, 14, 15
        lda #$07                ; even addresses above $9FFF: not $8000
        sta $A000
        sta $C000
        sta $E000
        lda #$02
        sta $8001
        EXPECT_WINDOWS 10, "a write to $A000/$C000/$E000 changed the bank select", 2, 10, 14, 15
        lda #$07
        sta $9FFE               ; $8000
        lda #$09
        sta $9FFF               ; $8001
        EXPECT_WINDOWS 11, "$9FFE/$9FFF did not reach R7", 2, 9, 14, 15

        ; no IRQ: latch 0, reload, enable, then A12 rises through PPUADDR with interrupts allowed.
        ; An MMC3 would interrupt at the first rise; the interrupt vector is the reset handler, which
        ; starts the test again, so it would never end.
        lda #0
        sta $C000
        sta $C001
        sta $E001
        cli
        ldx #8
@rise:  lda #$00
        sta PPUADDR
        sta PPUADDR
        lda #$10
        sta PPUADDR
        lda #$00
        sta PPUADDR
        dex
        bne @rise
        sei
        EXPECT_CHR_KIB 12, "the IRQ writes changed the pattern banks", 62, 63, 4, 5, 63, 0, 42, 21
        PASS "mapper 206: ok"
