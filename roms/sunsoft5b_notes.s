; config: nrom16
; Sunsoft 5B (mapper 69) sound for the WAV tests, each note between stretches of silence, with the
; console's channels on at level 0:
; - tone A at period 127 (440.4 Hz), volume 12, tone only;
; - tone B at period 100, volumes 15, 14 ... 1, a frame each;
; - channel C with tone and noise off (on all the time) at the envelope's level: period 20, shape
;   $0E (/\/\), restarted by the shape's write;
; - noise on A at period 7, volume 15, noise only.
; 16 KiB of program ROM: at power-on the FME-7's $C000 shows its first 8 KiB and $E000 (fixed) its
; last, as the image is linked. The result sits in cartridge RAM, switched on by command 8 = $C0.
NOTES_FLAGS6 = $50
NOTES_FLAGS7 = $40
.include "apu_notes.inc"

FME7_COMMAND = $8000
FME7_PARAMETER = $A000
AY_ADDRESS = $C000
AY_DATA = $E000

.macro AY reg, value
        lda #reg
        sta AY_ADDRESS
        lda #value
        sta AY_DATA
.endmacro

.segment "CODE"
zero_sample:                    ; $C000
        .byte $00

reset:  lda #$08                ; $6000: the cartridge RAM, enabled
        sta FME7_COMMAND
        lda #$C0
        sta FME7_PARAMETER
        TEST_RESET
        SILENT_START 0, $00
        WAIT_FRAMES 2

        AY $00, 127             ; tone A, period 127
        AY $01, 0
        AY $07, $3E             ; tone A only
        AY $08, 12
        WAIT_FRAMES 4
        AY $08, 0
        WAIT_FRAMES 2

        AY $02, 100             ; tone B, period 100
        AY $03, 0
        AY $07, $3D             ; tone B only
        lda #$09
        sta AY_ADDRESS
        ldy #15
volume: sty AY_DATA             ; volumes 15 down to 1
        WAIT_FRAMES 1
        dey
        bne volume
        sty AY_DATA
        WAIT_FRAMES 2

        AY $07, $3F             ; every tone and noise off: the channels are on all the time
        AY $0B, 20              ; envelope period 20
        AY $0C, 0
        AY $0A, $10             ; C at the envelope's level
        AY $0D, $0E             ; /\/\, starting now
        WAIT_FRAMES 4
        AY $0A, 0
        WAIT_FRAMES 2

        AY $06, 7               ; noise period 7
        AY $07, $37             ; noise on A only
        AY $08, 15
        WAIT_FRAMES 2
        AY $08, 0
        WAIT_FRAMES 2
        TEST_END 0, "5B notes played"

.segment "VECTORS"
        .word reset, reset, reset
