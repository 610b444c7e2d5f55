; config: nrom16
; Namco 163 (mapper 19) sound for the WAV tests, each note between stretches of silence (the chip's
; output off by $E000 bit 6), with the console's channels on at level 0:
; - one channel (channel 8): a 16-sample ramp 0, 1 ... 15 at frequency $0F1B, volume 15: a note of
;   1789773 x $0F1B / (15 x 65536 x 16) = 440.0 Hz;
; - one channel: a 16-sample square (eight 0s, eight 15s) at frequency $1000, volume 15: 256 turns
;   of 15 cycles a period, the full-volume square whose loudness the chip is set by;
; - four channels (8, 7, 6, 5) on that square at frequencies $4000, $2000, $8000, $1000 and volumes
;   15, 10, 5, 12: one channel on the output in each 15-cycle slot, in the order 8, 7, 6, 5.
; First, with the console's channels still off, channel 8 alone at volume 0 (silent) has its phase
; read twice through the port 300 cycles apart: 20 turns on (result 1 if not).
; 16 KiB of program ROM: at power-on $C000 shows its first 8 KiB and $E000 (fixed) its last, as
; the image is linked. The result sits in cartridge RAM, which takes writes while $F800's upper
; nibble is %0100; the internal RAM's port (auto-increment) is set to other values in between.
NOTES_FLAGS6 = $30
NOTES_FLAGS7 = $10
.include "apu_notes.inc"

SOUND_OFF = $E000               ; bit 6; bits 0-5 the bank at $8000 (0 here)
PORT_ADDRESS = $F800
PORT_DATA = $4800
RAM_OPEN = $40                  ; cartridge RAM writable, the port at $00 without stepping

; Channel k's eight bytes: frequency (18 bits), phase 0, length, start (in samples), volume; the
; enabled count (1-8) sits beside channel 8's volume.
.macro CHANNEL k, frequency, length, start, volume, count
        lda #$80 | ($40 + 8 * (k - 1))
        sta PORT_ADDRESS
        lda #<(frequency)
        sta PORT_DATA
        lda #0
        sta PORT_DATA
        lda #>(frequency)
        sta PORT_DATA
        lda #0
        sta PORT_DATA
        lda #((256 - (length)) & $FC) | (((frequency) >> 16) & 3)
        sta PORT_DATA
        lda #0
        sta PORT_DATA
        lda #start
        sta PORT_DATA
.if k = 8
        lda #(((count) - 1) << 4) | (volume)
.else
        lda #volume
.endif
        sta PORT_DATA
.endmacro

.include "delay.inc"

.segment "ZEROPAGE"
phase:  .res 1

.segment "CODE"
zero_sample:                    ; $C000
        .byte $00

; Samples, low nibble first: the ramp at sample 0, the square at sample 16.
waves:  .byte $10, $32, $54, $76, $98, $BA, $DC, $FE
        .byte $00, $00, $00, $00, $FF, $FF, $FF, $FF
WAVES_SIZE = * - waves

reset:  lda #RAM_OPEN
        sta PORT_ADDRESS
        TEST_RESET

        ; Silent, the phases still move, and the port reads them as they are in the read's cycle:
        ; channel 8 alone at volume 0 and frequency $0100 (length 256) takes a turn every 15 cycles,
        ; so two reads of its phase's middle byte 300 cycles apart see it 20 turns on. (The console's
        ; channels are still off: nothing else in the sound unit needs the chip brought up to date.)
        CHANNEL 8, $0100, 256, 0, 0, 1
        lda #$00
        sta SOUND_OFF
        lda #$7B                ; channel 8's +3, without stepping
        sta PORT_ADDRESS
        lda PORT_DATA
        sta phase
        DELAY 300 - 7           ; from the first read's cycle to the second's: 3 + this + 4
        lda PORT_DATA
        sec
        sbc phase
        tax
        lda #RAM_OPEN
        sta PORT_ADDRESS
        cpx #20
        EXPECT_EQ 1, "the port's reads did not see the phase 20 turns on in 300 cycles"
        lda #$40
        sta SOUND_OFF

        SILENT_START 0, $00
        lda #$80                ; the waves at $00, then the channel bytes at $40-$7F cleared
        sta PORT_ADDRESS
        ldy #0
:       lda waves,y
        sta PORT_DATA
        iny
        cpy #WAVES_SIZE
        bne :-
        lda #$80 | $40
        sta PORT_ADDRESS
        lda #0
        ldy #$40
:       sta PORT_DATA
        dey
        bne :-
        WAIT_FRAMES 2

        CHANNEL 8, $0F1B, 16, 0, 15, 1
        lda #$00
        sta SOUND_OFF
        WAIT_FRAMES 4
        lda #$40
        sta SOUND_OFF
        WAIT_FRAMES 2

        CHANNEL 8, $1000, 16, 16, 15, 1
        lda #$00
        sta SOUND_OFF
        WAIT_FRAMES 4
        lda #$40
        sta SOUND_OFF
        WAIT_FRAMES 2

        CHANNEL 8, $4000, 16, 16, 15, 4
        CHANNEL 7, $2000, 16, 16, 10, 4
        CHANNEL 6, $8000, 16, 16, 5, 4
        CHANNEL 5, $1000, 16, 16, 12, 4
        lda #$00
        sta SOUND_OFF
        WAIT_FRAMES 6
        lda #$7F                ; one channel, channel 8 at volume 0: silent from its next turn
        sta PORT_ADDRESS
        lda #$00
        sta PORT_DATA
        WAIT_FRAMES 2

        lda #$40
        sta SOUND_OFF
        lda #RAM_OPEN
        sta PORT_ADDRESS
        TEST_END 0, "Namco 163 notes played"

.segment "VECTORS"
        .word reset, reset, reset
