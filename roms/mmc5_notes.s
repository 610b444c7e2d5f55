; config: nrom16
; MMC5 (mapper 5) sound for the WAV tests, each note between stretches of silence, with the
; console's channels on at level 0: pulse 1 at timer 199, duty 2, constant volume 15; pulse 2 at
; timer 99, duty 3, volume 10 (both with their lengths halted, stopped through $5015); then the
; PCM through $5011 at $40, $80 and $FE, a $00 that trips and leaves the level at $FE, and $01.
; $5015 and $5010 are checked on the way. 16 KiB of program ROM: the MMC5 powers on in program
; mode 3 with $5117 = $FF, so only $E000-$FFFF is known; the reset code there picks mode 1, where
; $C000-$FFFF is the last 16 KiB, as the image is linked. Cartridge RAM, where the result is
; reported, takes writes once $5102 = 2 and $5103 = 1.
NOTES_FLAGS6 = $50
NOTES_FLAGS7 = $00
.include "apu_notes.inc"

MMC5_P1_CTRL = $5000
MMC5_P1_LO = $5002
MMC5_P1_HI = $5003
MMC5_P2_CTRL = $5004
MMC5_P2_LO = $5006
MMC5_P2_HI = $5007
MMC5_PCM_CTRL = $5010
MMC5_PCM_RAW = $5011
MMC5_STATUS = $5015

.segment "CODE"
zero_sample:                    ; $C000
        .byte $00
        .res $1FFF, $FF

reset:  sei                     ; $E000
        lda #$01                ; program mode 1: $C000-$FFFF from $5117
        sta $5100
        lda #$02                ; cartridge RAM writable, bank 0 at $6000
        sta $5102
        lda #$01
        sta $5103
        lda #$00
        sta $5113
        TEST_RESET
        SILENT_START 0, $00
        lda #$00
        sta MMC5_PCM_CTRL       ; write mode, no interrupt
        lda #$03
        sta MMC5_STATUS
        WAIT_FRAMES 2

        lda #$BF                ; duty 2, length halted, constant volume 15
        sta MMC5_P1_CTRL
        lda #199
        sta MMC5_P1_LO
        lda #$00
        sta MMC5_P1_HI
        lda MMC5_STATUS
        cmp #$01
        EXPECT_EQ 1, "$5015 did not show pulse 1's length"
        WAIT_FRAMES 4
        lda #$00                ; disabling zeroes the length: silence
        sta MMC5_STATUS
        lda MMC5_STATUS
        cmp #$00
        EXPECT_EQ 2, "$5015 still showed a length once disabled"
        lda #$03
        sta MMC5_STATUS
        WAIT_FRAMES 2

        lda #$FA                ; duty 3, length halted, constant volume 10
        sta MMC5_P2_CTRL
        lda #99
        sta MMC5_P2_LO
        lda #$00
        sta MMC5_P2_HI
        lda MMC5_STATUS
        cmp #$02
        EXPECT_EQ 3, "$5015 did not show pulse 2's length"
        WAIT_FRAMES 4
        lda #$00
        sta MMC5_STATUS
        WAIT_FRAMES 2

        lda #$40
        sta MMC5_PCM_RAW
        WAIT_FRAMES 2
        lda #$80
        sta MMC5_PCM_RAW
        WAIT_FRAMES 2
        lda #$FE
        sta MMC5_PCM_RAW
        WAIT_FRAMES 2
        lda #$00                ; trips; the level stays
        sta MMC5_PCM_RAW
        lda MMC5_PCM_CTRL
        and #$80
        EXPECT_EQ 4, "$5010 reported the trip with its interrupt off"
        lda #$00
        sta MMC5_PCM_RAW
        lda #$80                ; the interrupt on (the I flag stays set): trip AND enable
        sta MMC5_PCM_CTRL
        lda MMC5_PCM_CTRL
        cmp #$80
        EXPECT_EQ 5, "$5010 did not report the trip"
        lda MMC5_PCM_CTRL       ; the read cleared it
        cmp #$00
        EXPECT_EQ 6, "reading $5010 did not clear the trip"
        sta MMC5_PCM_CTRL
        WAIT_FRAMES 2
        lda #$01
        sta MMC5_PCM_RAW
        WAIT_FRAMES 2
        TEST_END 0, "MMC5 notes played"

.segment "VECTORS"
        .word reset, reset, reset
