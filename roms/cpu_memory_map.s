; config: prg32_chr8
; The CPU memory map around the cartridge: work RAM repeats every 2 KiB up to $1FFF, the PPU
; registers every 8 bytes up to $3FFF, $4000-$4014 read 0, $4018-$5FFF read program ROM offsets
; $0018-$1FFF, and cartridge RAM keeps every byte written to $7000-$7FFF.
.include "banked.inc"
BANKED_IMAGE 2, 1, $00, $00

.segment "ZEROPAGE"
low_ptr:  .res 2
rom_ptr:  .res 2

.segment "RAMCODE"
main:   lda #$11
        sta $0433
        lda #$22
        sta $0C33
        lda $1433
        sta probe
        lda #$33
        sta $1C33
        lda $0433
        sta probe+1
        EXPECT_PROBE 1, "work RAM mirrors", {$22, $33}

        bit $3FFA               ; PPUSTATUS through its last mirror resets the toggle
        lda #$23
        sta $3456               ; PPUADDR
        lda #$C5
        sta $2E0E               ; PPUADDR
        lda #$99
        sta $200F               ; PPUDATA
        bit PPUSTATUS
        lda #$23
        sta PPUADDR
        lda #$C5
        sta PPUADDR
        lda PPUDATA
        lda PPUDATA
        sta probe
        EXPECT_PROBE 2, "PPU register mirrors", $99

        ldx #$14
apu_zero:   lda $4000,x
        CHECK 3, "a read of $4000-$4014 is not 0"
        dex
        bpl apu_zero

        lda #$00                ; $4018-$5FFF against $8018-$9FFF
        sta low_ptr
        sta rom_ptr
        lda #$40
        sta low_ptr+1
        lda #$80
        sta rom_ptr+1
        ldy #$18
low_rom:   lda (low_ptr),y
        cmp (rom_ptr),y
        CHECK 4, "$4018-$5FFF differ from program ROM offsets $0018-$1FFF"
        iny
        bne low_rom
        inc rom_ptr+1
        inc low_ptr+1
        lda low_ptr+1
        cmp #$60
        bne low_rom

        ldx #$70                ; byte $7000 + n gets (n AND $FF) XOR (n >> 8) XOR $A5
        stx low_ptr+1
        ldy #0
ram_write: tya
        eor low_ptr+1
        eor #$A5
        sta (low_ptr),y
        iny
        bne ram_write
        inc low_ptr+1
        bpl ram_write              ; until $8000
        stx low_ptr+1
ram_read:  tya
        eor low_ptr+1
        eor #$A5
        cmp (low_ptr),y
        CHECK 5, "cartridge RAM $7000-$7FFF lost a byte"
        iny
        bne ram_read
        inc low_ptr+1
        bpl ram_read
        PASS "CPU memory map: ok"
