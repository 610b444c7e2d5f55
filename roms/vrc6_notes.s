; config: nrom16
; Konami VRC6a (mapper 24) sound for the WAV tests, each note between stretches of silence, with
; the console's channels on at level 0: pulse 1 at period 199, duty 7, volume 15; pulse 2 at period
; 99, duty 2, volume 10; the sawtooth at period 99, rate 42. 16 KiB of program ROM: at power-on
; $C000 shows its first 8 KiB and $E000 (fixed) its last, as the image is linked. Cartridge RAM,
; where the result is reported, answers only once $B003 bit 7 is set.
NOTES_FLAGS6 = $80
NOTES_FLAGS7 = $10
.include "apu_notes.inc"

VRC6_P1_CTRL = $9000
VRC6_P1_LO = $9001
VRC6_P1_HI = $9002
VRC6_FREQ = $9003
VRC6_P2_CTRL = $A000
VRC6_P2_LO = $A001
VRC6_P2_HI = $A002
VRC6_SAW_RATE = $B000
VRC6_SAW_LO = $B001
VRC6_SAW_HI = $B002

.segment "CODE"
zero_sample:                    ; $C000
        .byte $00

reset:  lda #$A0                ; cartridge RAM on (the result sits there), PPU banking mode 0
        sta $B003
        TEST_RESET
        SILENT_START 0, $00
        lda #$00
        sta VRC6_FREQ           ; run, no period shift
        WAIT_FRAMES 2

        lda #$7F                ; duty 7, volume 15
        sta VRC6_P1_CTRL
        lda #199
        sta VRC6_P1_LO
        lda #$80
        sta VRC6_P1_HI
        WAIT_FRAMES 4
        lda #$00
        sta VRC6_P1_HI
        WAIT_FRAMES 2

        lda #$2A                ; duty 2, volume 10
        sta VRC6_P2_CTRL
        lda #99
        sta VRC6_P2_LO
        lda #$80
        sta VRC6_P2_HI
        WAIT_FRAMES 4
        lda #$00
        sta VRC6_P2_HI
        WAIT_FRAMES 2

        lda #42
        sta VRC6_SAW_RATE
        lda #99
        sta VRC6_SAW_LO
        lda #$80
        sta VRC6_SAW_HI
        WAIT_FRAMES 4
        lda #$00
        sta VRC6_SAW_HI
        WAIT_FRAMES 2
        TEST_END 0, "VRC6 notes played"

.segment "VECTORS"
        .word reset, reset, reset
