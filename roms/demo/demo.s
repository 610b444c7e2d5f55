; The demo cartridge: a title screen, a small walking game over a landscape that scrolls through
; both nametables under a fixed status bar (a sprite 0 split), and a sound check that plays the
; five APU channels one at a time. Mapper 0, vertical nametable arrangement, NMI every frame.

.include "tiles.inc"
.include "sound.inc"

.segment "HEADER"
        .byte "NES", $1A
        .byte 2                 ; 2 x 16 KiB program ROM
        .byte 1                 ; 1 x 8 KiB character ROM
        .byte $01               ; mapper 0, vertical arrangement ($2000/$2800 and $2400/$2C00 pair up)
        .byte $00
        .byte 0, 0, 0, 0, 0, 0, 0, 0

; ---------------------------------------------------------------------------------------------
; Hardware

PPUCTRL   = $2000
PPUMASK   = $2001
PPUSTATUS = $2002
OAMADDR   = $2003
PPUSCROLL = $2005
PPUADDR   = $2006
PPUDATA   = $2007
OAMDMA    = $4014
JOYPAD1   = $4016
APU_FRAME = $4017

CTRL_NMI          = $80
CTRL_SPRITES_8X16 = $20
CTRL_BASE         = CTRL_NMI | CTRL_SPRITES_8X16    ; background tiles at $0000, nametable $2000
MASK_GREYSCALE    = $01
MASK_EMPHASIS_ALL = $E0     ; red, green and blue emphasis together: every colour darker
MASK_SHOW_ALL     = $1E     ; background and sprites, edge columns included
STATUS_SPRITE0    = $40

; Buttons as read from the controller: A first, Right last.
BUTTON_A      = $80
BUTTON_B      = $40
BUTTON_SELECT = $20
BUTTON_START  = $10
BUTTON_UP     = $08
BUTTON_DOWN   = $04
BUTTON_LEFT   = $02
BUTTON_RIGHT  = $01

MODE_TITLE = 0
MODE_CHECK = 1              ; the title screen while the sound check runs
MODE_PLAY  = 2

NAMETABLE_0 = $2000
NAMETABLE_1 = $2400
ATTRIBUTES  = $03C0         ; offset of the attribute table in a nametable
PANEL       = $80           ; font tile + PANEL = the same letter on the filled panel
PANEL_SPACE = ' ' | PANEL

; The play screen
STATUS_ROWS    = 4          ; rows 0-3 stay still; the border row 3 is the same in both tables
MARKER_Y       = 13         ; sprite 0's one opaque row lands on line 29, inside the border row
MARKER_X       = 8
GROUND_Y       = 160        ; top of the walker when it stands on the grass (row 22 is the ground)
SCROLL_LEFT    = 88         ; the walker stays between these screen columns; beyond, the view moves
SCROLL_RIGHT   = 136
JUMP_SPEED     = $0480      ; 4.5 pixels a frame, upwards
GRAVITY        = $0040      ; 0.25 pixels a frame, each frame
SPARK_FRAMES   = 40
SPARK_SPEED    = 3
GEM_COUNT      = 4
GEM_AWAY       = 90         ; a taken gem comes back after 90 x 4 frames
BIRD_COUNT     = 2
CHECK_FRAMES   = 60         ; each channel of the sound check sounds alone for one second
CHECK_CHANNELS = 5
ZAP_EVERY      = 12         ; frames between samples in the sample part of the check

; Sprite slots (byte offsets in the sprite page)
OAM_MARKER = 0
OAM_WALKER = 4
OAM_SPARK  = 12
OAM_GEMS   = 16
OAM_BIRDS  = 32
HIDDEN_Y   = $FF

; ---------------------------------------------------------------------------------------------
; State. The tests find these by name (the build writes a labels file) in a RAM dump.

.segment "ZEROPAGE"
nmi_count:      .res 2      ; frames since power-on (counted in the NMI)
loop_count:     .res 2      ; passes of the main loop: one per frame while the game keeps up
split_misses:   .res 2      ; play frames in which sprite 0 hit did not come
mode:           .res 1
paused:         .res 1
time_of_day:    .res 1      ; 0 day, 1 dusk, 2 night
camera:         .res 2      ; scroll position in the 512-pixel world, 0-511
player_x:       .res 1      ; walker's left edge on the screen
player_y:       .res 1      ; walker's top line
score:          .res 5      ; decimal digits, most significant first
gems_taken:     .res 2      ; decimal digits
check_step:     .res 1      ; channel now sounding in the sound check (0-4), 5 when done
nmi_ready:      .res 1      ; the main loop has prepared sprites and VRAM updates
ppu_off:        .res 1      ; the main loop is writing VRAM with rendering off: NMI stays away
ppu_mask:       .res 1      ; PPUMASK value for the next frame
palette_dirty:  .res 1
buttons:        .res 1
pressed:        .res 1      ; buttons that went down this frame
temp:           .res 4
pointer:        .res 2
player_y_sub:   .res 1
velocity:       .res 2      ; 8.8 pixels a frame, downwards positive
on_ground:      .res 1
facing:         .res 1      ; 0 right, 1 left
crouching:      .res 1
walking:        .res 1
behind_bush:    .res 1
walk_timer:     .res 1
spark_life:     .res 1      ; frames left, 0 when there is no spark
spark_x:        .res 2      ; world position
spark_y:        .res 1
spark_left:     .res 1      ; 1 when it flies to the left
spark_screen_x: .res 1
gem_away:       .res GEM_COUNT
gem_screen_x:   .res GEM_COUNT
gem_y:          .res GEM_COUNT
gem_shown:      .res GEM_COUNT
bird_x:         .res BIRD_COUNT
blink_timer:    .res 1
palette_phase:  .res 1
check_timer:    .res 1
vram_len:       .res 1

.segment "OAM"
oam:            .res 256

.segment "BSS"
VRAM_BUFFER_SIZE = 96
vram_buffer:    .res VRAM_BUFFER_SIZE   ; entries: address high, address low, length, bytes
palette:        .res 32

; ---------------------------------------------------------------------------------------------
; Start-up

.segment "CODE"

reset:
        sei
        cld
        ldx #$FF
        txs
        inx
        stx PPUCTRL
        stx PPUMASK
        stx $4010               ; no sample interrupt
        lda #$40
        sta APU_FRAME           ; no frame interrupt
        bit PPUSTATUS
@vblank1:
        bit PPUSTATUS
        bpl @vblank1
        lda #0
@clear: sta $00, x
        sta $0300, x
        sta $0400, x
        sta $0500, x
        sta $0600, x
        sta $0700, x
        inx
        bne @clear
        jsr hide_all_sprites
@vblank2:
        bit PPUSTATUS
        bpl @vblank2
        jsr sound_init
        lda #1
        sta ppu_off
        lda #CTRL_BASE
        sta PPUCTRL             ; NMI on from here
        jsr enter_title

main_loop:
        jsr wait_frame
        lda mode
        cmp #MODE_PLAY
        bne :+
        jsr split_status_bar
:       jsr read_buttons
        lda mode
        cmp #MODE_PLAY
        bne :+
        jsr play_frame
        jmp @done
:       cmp #MODE_CHECK
        bne :+
        jsr check_frame
        jmp @done
:       jsr title_frame
@done:  inc loop_count
        bne :+
        inc loop_count + 1
:       lda #1
        sta nmi_ready
        jmp main_loop

; Waits for the next NMI.
wait_frame:
        lda nmi_count
:       cmp nmi_count
        beq :-
        rts

; ---------------------------------------------------------------------------------------------
; NMI: sprites, palette and queued VRAM writes when the main loop has them ready, then the
; scroll of the top of the screen (status bar or title), then the sound.

nmi:
        pha
        txa
        pha
        tya
        pha
        lda ppu_off
        bne @sound
        lda nmi_ready
        beq @scroll
        lda #0
        sta OAMADDR
        lda #>oam
        sta OAMDMA
        lda palette_dirty
        beq :+
        jsr upload_palette
:       jsr flush_vram_buffer
        lda #0
        sta nmi_ready
@scroll:
        bit PPUSTATUS
        lda #0
        sta PPUSCROLL
        sta PPUSCROLL
        lda #CTRL_BASE
        sta PPUCTRL
        lda ppu_mask
        sta PPUMASK
@sound: inc nmi_count
        bne :+
        inc nmi_count + 1
:       jsr sound_frame
        pla
        tay
        pla
        tax
        pla
irq:    rti

upload_palette:
        bit PPUSTATUS
        lda #$3F
        sta PPUADDR
        lda #$00
        sta PPUADDR
        ldx #0
:       lda palette, x
        sta PPUDATA
        inx
        cpx #32
        bne :-
        lda #0
        sta palette_dirty
        rts

flush_vram_buffer:
        ldx #0
@entry: cpx vram_len
        beq @done
        lda vram_buffer, x
        sta PPUADDR
        inx
        lda vram_buffer, x
        sta PPUADDR
        inx
        ldy vram_buffer, x
        inx
@copy:  lda vram_buffer, x
        sta PPUDATA
        inx
        dey
        bne @copy
        jmp @entry
@done:  lda #0
        sta vram_len
        rts

; ---------------------------------------------------------------------------------------------
; The sprite 0 split: the status bar is drawn with scroll 0 from nametable 0; when sprite 0
; (hidden behind the border row) hits, the landscape below takes the camera's scroll. Polls
; are bounded, so that a frame without a hit costs time but never hangs the game.

SPLIT_POLLS_HIGH = 8        ; 8 x 256 polls of 11 cycles: about 200 scanlines

split_status_bar:
        ldx #0
        ldy #SPLIT_POLLS_HIGH
@wait_clear:                ; the previous frame's hit stays set until the pre-render line
        bit PPUSTATUS
        bvc @cleared
        dex
        bne @wait_clear
        dey
        bne @wait_clear
        beq @missed
@cleared:
        ldx #0
        ldy #SPLIT_POLLS_HIGH
@wait_hit:
        bit PPUSTATUS
        bvs @hit
        dex
        bne @wait_hit
        dey
        bne @wait_hit
@missed:
        inc split_misses
        bne :+
        inc split_misses + 1
:       rts
@hit:   lda camera
        sta PPUSCROLL
        lda #0
        sta PPUSCROLL
        lda camera + 1
        and #1
        ora #CTRL_BASE
        sta PPUCTRL
        lda paused
        beq :+
        lda #MASK_SHOW_ALL | MASK_GREYSCALE | MASK_EMPHASIS_ALL
        sta PPUMASK             ; the paused landscape turns dim grey; the status bar keeps its colours
:       rts

; ---------------------------------------------------------------------------------------------
; Helpers

read_buttons:
        lda buttons
        sta temp
        lda #1
        sta JOYPAD1
        lda #0
        sta JOYPAD1
        ldx #8
:       lda JOYPAD1
        lsr a
        rol buttons
        dex
        bne :-
        lda temp
        eor #$FF
        and buttons
        sta pressed
        rts

hide_all_sprites:
        ldx #0
        lda #HIDDEN_Y
:       sta oam, x
        inx
        inx
        inx
        inx
        bne :-
        rts

; Turns rendering off at the start of a vertical blank and keeps the NMI away from the PPU.
rendering_off:
        lda #1
        sta ppu_off
        jsr wait_frame
        lda #0
        sta PPUMASK
        rts

; Hands the PPU back to the NMI, which turns rendering on at the next vertical blank.
rendering_on:
        lda #MASK_SHOW_ALL
        sta ppu_mask
        lda #1
        sta palette_dirty
        sta nmi_ready
        lda #0
        sta ppu_off
        rts

clear_nametables:
        bit PPUSTATUS
        lda #>NAMETABLE_0
        sta PPUADDR
        lda #0
        sta PPUADDR
        ldx #8                  ; 8 x 256 bytes: both tables with their attributes
        tay
:       sta PPUDATA
        iny
        bne :-
        dex
        bne :-
        rts

; Writes a list of VRAM updates at `pointer` (rendering off). Each entry: address high, address
; low, then a length and that many bytes, or $80 + count and one byte written count times.
; A zero address high byte ends the list.
draw_list:
        ldy #0
@entry: lda (pointer), y
        beq @done
        sta PPUADDR
        iny
        lda (pointer), y
        sta PPUADDR
        iny
        lda (pointer), y
        iny
        tax
        bmi @run
@copy:  lda (pointer), y
        sta PPUDATA
        iny
        dex
        bne @copy
        beq @advance
@run:   txa
        and #$7F
        tax
        lda (pointer), y
        iny
@fill:  sta PPUDATA
        dex
        bne @fill
@advance:
        tya
        clc
        adc pointer
        sta pointer
        bcc :+
        inc pointer + 1
:       ldy #0
        beq @entry
@done:  rts

.macro POINT_AT label
        lda #<label
        sta pointer
        lda #>label
        sta pointer + 1
.endmacro

; Copies the 32-byte palette at `pointer` into the palette buffer.
load_palette:
        ldy #31
:       lda (pointer), y
        sta palette, y
        dey
        bpl :-
        lda #1
        sta palette_dirty
        rts

; Every 8 frames the gem colours (sprite palette 3) move round by one.
cycle_gem_colours:
        lda nmi_count
        and #7
        bne @done
        inc palette_phase
        ldx #0
        ldy palette_phase
@copy:  tya
        and #3
        tay
        lda gem_colours, y
        sta palette + 29, x
        iny
        inx
        cpx #3
        bne @copy
        lda #1
        sta palette_dirty
@done:  rts

; Queues temp+2 bytes from (pointer), each ORed with temp+3, for the VRAM address temp (high),
; temp+1 (low). A full queue drops the entry; the next change writes it again.
queue_text:
        lda vram_len
        clc
        adc temp + 2
        cmp #VRAM_BUFFER_SIZE - 3
        bcs @full
        ldx vram_len
        lda temp
        sta vram_buffer, x
        lda temp + 1
        sta vram_buffer + 1, x
        lda temp + 2
        sta vram_buffer + 2, x
        inx
        inx
        inx
        ldy #0
@copy:  lda (pointer), y
        ora temp + 3
        sta vram_buffer, x
        inx
        iny
        cpy temp + 2
        bne @copy
        stx vram_len
@full:  rts

.macro QUEUE_AT address, length, flags
        lda #>(address)
        sta temp
        lda #<(address)
        sta temp + 1
        lda #length
        sta temp + 2
        lda #flags
        sta temp + 3
        jsr queue_text
.endmacro

; ---------------------------------------------------------------------------------------------
; Title screen

enter_title:
        jsr rendering_off
        jsr clear_nametables
        POINT_AT title_screen
        jsr draw_list
        POINT_AT title_palette
        jsr load_palette
        lda #MODE_TITLE
        sta mode
        lda #0
        sta blink_timer
        lda #60
        sta bird_x
        lda #180
        sta bird_x + 1
        lda #REQUEST_RESTART
        sta music_request
        jsr hide_all_sprites
        jsr title_sprites
        jmp rendering_on

title_frame:
        lda pressed
        and #BUTTON_START
        beq :+
        jmp enter_play
:       lda pressed
        and #BUTTON_SELECT
        beq :+
        jsr start_check
:       jmp title_animation

; The sprites and colours that move on the title screen.
title_animation:
        inc blink_timer
        lda blink_timer
        and #31
        bne @no_blink
        lda blink_timer
        and #32
        beq :+
        lda #$0F
        bne :++
:       lda #$28
:       sta palette + 5         ; "PRESS START" goes dark and bright again
        lda #1
        sta palette_dirty
@no_blink:
        jsr cycle_gem_colours
        jsr move_birds
        inc walk_timer
        jmp title_sprites

; A := gem X's top line: `base_y`,x plus the bob at step (frame count / 8 + `phase`) of gem_bob.
.macro GEM_BOBBING_Y phase, base_y
        lda nmi_count
        lsr a
        lsr a
        lsr a
        clc
        adc phase
        and #7
        tay
        lda base_y, x
        clc
        adc gem_bob, y
.endmacro

; The gem sprite at byte Y of the gem slots: A = its Y byte, `screen_x`,x its left edge.
.macro GEM_SPRITE screen_x
        sta oam + OAM_GEMS, y
        lda #SPR_GEM
        sta oam + OAM_GEMS + 1, y
        lda #3
        sta oam + OAM_GEMS + 2, y
        lda screen_x, x
        sta oam + OAM_GEMS + 3, y
.endmacro

TITLE_WALKER_X = 48
TITLE_WALKER_Y = 188
title_sprites:
        lda #TITLE_WALKER_X
        sta player_x
        lda #TITLE_WALKER_Y
        sta player_y
        lda #0
        sta facing
        sta behind_bush
        lda walk_timer
        and #8
        beq :+
        lda #SPR_WALK_B
        bne :++
:       lda #SPR_WALK_A
:       jsr place_walker
        ; two gems beside the banner, bobbing
        ldx #0
@gem:   GEM_BOBBING_Y {title_gem_phase, x}, title_gem_y
        sec
        sbc #1
        pha
        txa
        asl a
        asl a
        tay
        pla
        GEM_SPRITE title_gem_x
        inx
        cpx #2
        bne @gem
        jmp place_birds

title_gem_x:     .byte 28, 220
title_gem_y:     .byte 44, 44
title_gem_phase: .byte 0, 4

; ---------------------------------------------------------------------------------------------
; Sound check: each channel alone for one second, in order pulse 1, pulse 2, triangle, noise,
; sample; the name of the channel shows under "PRESS START". Then the tune plays on all again.

start_check:
        lda #MODE_CHECK
        sta mode
        lda #0
        sta check_step
        jmp check_begin_step

check_begin_step:
        lda #CHECK_FRAMES
        sta check_timer
        ldx check_step
        lda check_masks, x
        REQUEST_TUNE_RESTART
        lda check_step
        asl a
        tax
        lda check_names, x
        sta pointer
        lda check_names + 1, x
        sta pointer + 1
        jmp queue_check_line

; Queues the 20-character line at `pointer` for the sound check row.
CHECK_LINE = NAMETABLE_0 + 27 * 32 + 6
CHECK_LINE_LENGTH = 20
queue_check_line:
        QUEUE_AT CHECK_LINE, CHECK_LINE_LENGTH, 0
        rts

check_frame:
        lda pressed
        and #BUTTON_START
        beq :+
        jsr end_check
        jmp enter_play
:       lda check_step
        cmp #CHECK_CHANNELS - 1
        bne @timer
        lda check_timer
        cmp #CHECK_FRAMES
        beq @zap
        ldx #ZAP_EVERY
        jsr divides_timer
        bne @timer
@zap:   lda #1
        sta zap_request
@timer: dec check_timer
        bne @animate
        inc check_step
        lda check_step
        cmp #CHECK_CHANNELS
        beq :+
        jsr check_begin_step
        jmp @animate
:       jsr end_check
@animate:
        jmp title_animation

; Z set when check_timer is a multiple of X.
divides_timer:
        stx temp
        lda check_timer
:       sec
        sbc temp
        beq @yes
        bcs :-
        lda #1                  ; clears Z
@yes:   rts

end_check:
        lda #MODE_TITLE
        sta mode
        lda #ALL_TONE_CHANNELS
        REQUEST_TUNE_RESTART
        POINT_AT check_idle_line
        jmp queue_check_line

; ---------------------------------------------------------------------------------------------
; The game

enter_play:
        jsr rendering_off
        jsr clear_nametables
        POINT_AT world_rows_0
        jsr draw_list
        POINT_AT world_rows_1
        jsr draw_list
        jsr draw_world_objects
        POINT_AT status_bar
        jsr draw_list
        ; fresh game
        ldx #0
        lda #0
:       sta score, x
        inx
        cpx #5
        bne :-
        sta gems_taken
        sta gems_taken + 1
        sta camera
        sta camera + 1
        sta paused
        sta music_muted
        sta time_of_day
        sta spark_life
        sta velocity
        sta velocity + 1
        sta player_y_sub
        sta facing
        sta walk_timer
        ldx #GEM_COUNT - 1
:       sta gem_away, x
        dex
        bpl :-
        lda #1
        sta on_ground
        lda #40
        sta player_x
        lda #GROUND_Y
        sta player_y
        lda #200
        sta bird_x
        lda #30
        sta bird_x + 1
        ; status text straight into VRAM, through the update queue
        lda #0
        sta vram_len
        jsr queue_score
        jsr queue_time_of_day
        jsr queue_pause_text
        jsr flush_vram_buffer
        jsr load_time_palette
        lda #MODE_PLAY
        sta mode
        lda #ALL_TONE_CHANNELS
        REQUEST_TUNE_RESTART
        jsr hide_all_sprites
        jsr update_gems
        jsr play_sprites
        jmp rendering_on

play_frame:
        lda pressed
        and #BUTTON_START
        beq :+
        jsr toggle_pause
:       lda paused
        beq :+
        rts                     ; everything stands still; the split greys the landscape
:       lda pressed
        and #BUTTON_SELECT
        beq :+
        jsr next_time_of_day
:       jsr move_walker
        jsr move_spark
        jsr update_gems
        jsr move_birds
        jsr cycle_gem_colours
        jmp play_sprites

toggle_pause:
        lda paused
        eor #1
        sta paused
        sta music_muted
        lda #SFX_BLIP
        sta sfx_request
        jmp queue_pause_text

next_time_of_day:
        inc time_of_day
        lda time_of_day
        cmp #3
        bcc :+
        lda #0
        sta time_of_day
:       lda #SFX_BLIP
        sta sfx_request
        jsr queue_time_of_day
        ; fall through
load_time_palette:
        lda time_of_day
        asl a
        tax
        lda time_palettes, x
        sta pointer
        lda time_palettes + 1, x
        sta pointer + 1
        jmp load_palette

; --- the walker ---

move_walker:
        lda #0
        sta crouching
        sta walking
        lda on_ground
        beq @steer
        lda buttons
        and #BUTTON_DOWN
        beq @steer
        lda #1
        sta crouching
        bne @jump
@steer: lda buttons
        and #BUTTON_RIGHT
        beq @left
        lda #0
        sta facing
        jsr step_right
        lda nmi_count
        and #1
        beq :+
        jsr step_right          ; 1.5 pixels a frame on average
:       jmp @walked
@left:  lda buttons
        and #BUTTON_LEFT
        beq @jump
        lda #1
        sta facing
        jsr step_left
        lda nmi_count
        and #1
        beq @walked
        jsr step_left
@walked:
        lda #1
        sta walking
        inc walk_timer
@jump:  lda pressed
        and #BUTTON_A
        beq @fall
        lda on_ground
        beq @fall
        lda crouching
        bne @fall
        lda #<-JUMP_SPEED
        sta velocity
        lda #>-JUMP_SPEED
        sta velocity + 1
        lda #0
        sta on_ground
        lda #SFX_JUMP
        sta sfx_request
@fall:  lda on_ground
        bne @throw
        clc
        lda velocity
        adc #<GRAVITY
        sta velocity
        lda velocity + 1
        adc #>GRAVITY
        sta velocity + 1
        clc
        lda player_y_sub
        adc velocity
        sta player_y_sub
        lda player_y
        adc velocity + 1
        sta player_y
        cmp #GROUND_Y
        bcc @throw
        lda #GROUND_Y           ; landed
        sta player_y
        lda #0
        sta player_y_sub
        sta velocity
        sta velocity + 1
        lda #1
        sta on_ground
@throw: lda pressed
        and #BUTTON_B
        beq @bushes
        lda spark_life
        bne @bushes
        jsr throw_spark
@bushes:
        jmp find_bush

step_right:
        lda player_x
        cmp #SCROLL_RIGHT
        bcs @scroll
        inc player_x
        rts
@scroll:
        inc camera
        bne :+
        inc camera + 1
:       lda camera + 1
        and #1
        sta camera + 1
        rts

step_left:
        lda player_x
        cmp #SCROLL_LEFT + 1
        bcc @scroll
        dec player_x
        rts
@scroll:
        lda camera
        bne :+
        dec camera + 1
:       dec camera
        lda camera + 1
        and #1
        sta camera + 1
        rts

; temp..temp+1 := world position of screen column A (0-511).
world_x_of_screen:
        clc
        adc camera
        sta temp
        lda camera + 1
        adc #0
        and #1
        sta temp + 1
        rts

; The walker goes behind a bush (sprite priority bit) while its middle is in front of one.
find_bush:
        lda #0
        sta behind_bush
        lda player_x
        clc
        adc #8
        jsr world_x_of_screen
        ldx #BUSH_COUNT - 1
@bush:  sec
        lda temp
        sbc bush_x_low, x
        sta temp + 2
        lda temp + 1
        sbc bush_x_high, x
        and #1
        bne @next
        lda temp + 2
        cmp #24
        bcs @next
        lda #1
        sta behind_bush
        rts
@next:  dex
        bpl @bush
        rts

; --- the spark ---

throw_spark:
        lda player_x
        ldx facing
        bne :+
        clc
        adc #12
        jmp :++
:       sec
        sbc #4
:       jsr world_x_of_screen
        lda temp
        sta spark_x
        lda temp + 1
        sta spark_x + 1
        lda facing
        sta spark_left
        lda player_y            ; the spark's 8x16 sprite has its picture in rows 4-11
        ldx crouching
        beq :+
        clc
        adc #6
:       sta spark_y
        lda #SPARK_FRAMES
        sta spark_life
        lda #1
        sta zap_request
        rts

move_spark:
        lda spark_life
        bne :+
        rts
:       dec spark_life
        lda spark_left
        bne @left
        clc
        lda spark_x
        adc #SPARK_SPEED
        sta spark_x
        lda spark_x + 1
        adc #0
        jmp @stored
@left:  sec
        lda spark_x
        sbc #SPARK_SPEED
        sta spark_x
        lda spark_x + 1
        sbc #0
@stored:
        and #1
        sta spark_x + 1
        ; on screen?
        sec
        lda spark_x
        sbc camera
        sta spark_screen_x
        lda spark_x + 1
        sbc camera + 1
        and #1
        beq :+
        lda #0                  ; left the screen
        sta spark_life
:       rts

; --- gems ---

update_gems:
        ldx #GEM_COUNT - 1
@gem:   lda #0
        sta gem_shown, x
        lda gem_away, x
        beq @here
        lda nmi_count
        and #3
        bne @next
        dec gem_away, x
        jmp @next
@here:  ; screen position
        sec
        lda gem_world_x_low, x
        sbc camera
        sta gem_screen_x, x
        lda gem_world_x_high, x
        sbc camera + 1
        and #1
        bne @next               ; in the other half of the world
        lda gem_screen_x, x
        cmp #248
        bcs @next
        lda #1
        sta gem_shown, x
        stx temp + 3
        GEM_BOBBING_Y temp + 3, gem_base_y
        sta gem_y, x
        jsr gem_touched
        bcc @next
        jsr take_gem
@next:  dex
        bpl @gem
        rts

; Carry set when the walker or the spark touches gem X (on screen).
gem_touched:
        ; walker: x from player_x + 2 to player_x + 13, y from player_y to player_y + 15
        lda gem_screen_x, x
        clc
        adc #6
        cmp player_x
        bcc @spark
        beq @spark
        lda player_x
        clc
        adc #14
        cmp gem_screen_x, x
        bcc @spark
        beq @spark
        lda gem_y, x
        clc
        adc #12
        cmp player_y
        bcc @spark
        beq @spark
        lda player_y
        clc
        adc #16
        cmp gem_y, x
        bcc @spark
        beq @spark
        sec
        rts
@spark: lda spark_life
        beq @no
        lda spark_screen_x
        sec
        sbc gem_screen_x, x
        bcs :+
        eor #$FF
        adc #1
:       cmp #8
        bcs @no
        lda spark_y
        clc
        adc #12
        cmp gem_y, x
        bcc @no
        beq @no
        lda gem_y, x
        clc
        adc #8                  ; the gem's 12 rows against the spark's rows 4-11
        cmp spark_y
        bcc @no
        beq @no
        sec
        rts
@no:    clc
        rts

take_gem:
        lda #GEM_AWAY
        sta gem_away, x
        lda #0
        sta gem_shown, x
        txa
        pha
        ldx #3                  ; ten points
:       inc score, x
        lda score, x
        cmp #10
        bcc :+
        lda #0
        sta score, x
        dex
        bpl :-
:       ldx #1
:       inc gems_taken, x
        lda gems_taken, x
        cmp #10
        bcc :+
        lda #0
        sta gems_taken, x
        dex
        bpl :-
:       lda #SFX_GEM
        sta sfx_request
        jsr queue_score
        pla
        tax
        rts

; --- birds: two birds in screen space, behind the clouds (sprite priority bit) ---

move_birds:
        dec bird_x
        lda nmi_count
        and #1
        beq :+
        inc bird_x + 1
:       rts

BIRD_ATTRIBUTES = $20 | 2   ; behind the background, palette 2
place_birds:
        lda #SPR_BIRD_DOWN
        sta temp + 2
        lda nmi_count
        and #8
        beq :+
        lda #SPR_BIRD_UP
        sta temp + 2
        ; bird 0 flies left: left half, right half
        lda #BIRD_0_Y - 1
        sta oam + OAM_BIRDS
        sta oam + OAM_BIRDS + 4
        lda temp + 2
        sta oam + OAM_BIRDS + 1
        clc
        adc #2
        sta oam + OAM_BIRDS + 5
        lda #BIRD_ATTRIBUTES
        sta oam + OAM_BIRDS + 2
        sta oam + OAM_BIRDS + 6
        lda bird_x
        sta oam + OAM_BIRDS + 3
        clc
        adc #8
        sta oam + OAM_BIRDS + 7
        bcc :+
        lda #HIDDEN_Y           ; its right half would wrap to the left edge
        sta oam + OAM_BIRDS + 4
:       ; bird 1 flies right: mirrored, so the right half's tile goes on the left
        lda #BIRD_1_Y - 1
        sta oam + OAM_BIRDS + 8
        sta oam + OAM_BIRDS + 12
        lda temp + 2
        sta oam + OAM_BIRDS + 13
        clc
        adc #2
        sta oam + OAM_BIRDS + 9
        lda #BIRD_ATTRIBUTES | $40
        sta oam + OAM_BIRDS + 10
        sta oam + OAM_BIRDS + 14
        lda bird_x + 1
        sta oam + OAM_BIRDS + 11
        clc
        adc #8
        sta oam + OAM_BIRDS + 15
        bcc :+
        lda #HIDDEN_Y
        sta oam + OAM_BIRDS + 12
:       rts
BIRD_0_Y = 52
BIRD_1_Y = 76

; --- sprites of the play screen ---

play_sprites:
        ; sprite 0: only its bottom row is opaque, and it sits behind the opaque border row
        lda #MARKER_Y
        sta oam + OAM_MARKER
        lda #SPR_MARKER
        sta oam + OAM_MARKER + 1
        lda #$20
        sta oam + OAM_MARKER + 2
        lda #MARKER_X
        sta oam + OAM_MARKER + 3
        ; the walker's pose
        lda crouching
        beq :+
        lda #SPR_CROUCH
        bne @pose
:       lda on_ground
        bne :+
        lda #SPR_JUMP
        bne @pose
:       lda walking
        bne :+
        lda #SPR_STAND
        bne @pose
:       lda walk_timer
        and #8
        beq :+
        lda #SPR_WALK_B
        bne @pose
:       lda #SPR_WALK_A
@pose:  jsr place_walker
        ; the spark spins by flipping: none, horizontal, both, vertical
        lda #HIDDEN_Y
        sta oam + OAM_SPARK
        lda spark_life
        beq @gems
        lda spark_y
        sec
        sbc #1
        sta oam + OAM_SPARK
        lda #SPR_SPARK
        sta oam + OAM_SPARK + 1
        lda spark_life
        lsr a
        lsr a
        and #3
        tax
        lda spark_flips, x
        ora #1
        sta oam + OAM_SPARK + 2
        lda spark_screen_x
        sta oam + OAM_SPARK + 3
@gems:  ldx #0
@gem:   txa
        asl a
        asl a
        tay
        lda #HIDDEN_Y
        sta oam + OAM_GEMS, y
        lda gem_shown, x
        beq @next
        lda gem_y, x
        sec
        sbc #1
        GEM_SPRITE gem_screen_x
@next:  inx
        cpx #GEM_COUNT
        bne @gem
        jmp place_birds

; A = the pose's left-half tile. Two 8x16 sprites at player_x, player_y; facing left swaps the
; halves and mirrors both; behind_bush puts them behind the background.
place_walker:
        sta temp
        clc
        adc #2
        sta temp + 1
        lda player_y
        sec
        sbc #1
        sta oam + OAM_WALKER
        sta oam + OAM_WALKER + 4
        lda player_x
        sta oam + OAM_WALKER + 3
        clc
        adc #8
        sta oam + OAM_WALKER + 7
        lda behind_bush
        beq :+
        lda #$20
:       ldx facing
        beq @right
        ora #$40
        sta oam + OAM_WALKER + 2
        sta oam + OAM_WALKER + 6
        lda temp + 1
        sta oam + OAM_WALKER + 1
        lda temp
        sta oam + OAM_WALKER + 5
        rts
@right: sta oam + OAM_WALKER + 2
        sta oam + OAM_WALKER + 6
        lda temp
        sta oam + OAM_WALKER + 1
        lda temp + 1
        sta oam + OAM_WALKER + 5
        rts

; --- status bar text ---

SCORE_AT  = NAMETABLE_0 + 1 * 32 + 7
GEMS_AT   = NAMETABLE_0 + 1 * 32 + 19
TIME_AT   = NAMETABLE_0 + 1 * 32 + 25
PAUSED_AT = NAMETABLE_0 + 2 * 32 + 13

queue_score:
        POINT_AT score
        QUEUE_AT SCORE_AT, 5, '0' | PANEL
        POINT_AT gems_taken
        QUEUE_AT GEMS_AT, 2, '0' | PANEL
        rts

queue_time_of_day:
        lda time_of_day
        asl a
        tax
        lda time_names, x
        sta pointer
        lda time_names + 1, x
        sta pointer + 1
        QUEUE_AT TIME_AT, 5, PANEL
        rts

queue_pause_text:
        POINT_AT blank_word
        lda paused
        beq :+
        POINT_AT paused_word
:       QUEUE_AT PAUSED_AT, 6, PANEL
        rts

; --- the landscape: objects stamped onto the two nametables ---

stamp_column = temp
stamp_row    = temp + 1

; Writes every object of world_objects: kind, column (0-63), row; $FF ends.
draw_world_objects:
        ldx #0
@object:
        lda world_objects, x
        cmp #$FF
        beq @done
        stx temp + 3
        asl a
        tay
        lda stamp_shapes, y
        sta pointer
        lda stamp_shapes + 1, y
        sta pointer + 1
        lda world_objects + 1, x
        sta stamp_column
        lda world_objects + 2, x
        sta stamp_row
        jsr draw_stamp
        ldx temp + 3
        inx
        inx
        inx
        bne @object
@done:  rts

; The shape at `pointer`: width, height, then the tiles row by row; tile 0 leaves the sky.
draw_stamp:
        ldy #0
        lda (pointer), y
        sta stamp_width
        iny
        lda (pointer), y
        sta stamp_height
        iny
@row:   lda stamp_width
        sta stamp_left
        lda stamp_column
        sta stamp_cursor
@tile:  lda (pointer), y
        beq @skip
        pha
        jsr set_tile_address
        pla
        sta PPUDATA
@skip:  iny
        inc stamp_cursor
        dec stamp_left
        bne @tile
        inc stamp_row
        dec stamp_height
        bne @row
        rts

.segment "BSS"
stamp_width:  .res 1
stamp_height: .res 1
stamp_left:   .res 1
stamp_cursor: .res 1
.segment "CODE"

; PPUADDR := the tile at world column stamp_cursor (0-63, wrapping) and row stamp_row.
set_tile_address:
        bit PPUSTATUS
        lda stamp_row
        lsr a
        lsr a
        lsr a
        ora #>NAMETABLE_0
        sta temp + 2
        lda stamp_cursor
        and #32
        beq :+
        lda temp + 2
        ora #>(NAMETABLE_1 - NAMETABLE_0)
        sta temp + 2
:       lda temp + 2
        sta PPUADDR
        lda stamp_row
        asl a
        asl a
        asl a
        asl a
        asl a
        sta temp + 2
        lda stamp_cursor
        and #31
        ora temp + 2
        sta PPUADDR
        rts

; ---------------------------------------------------------------------------------------------
; Data

.segment "RODATA"

.macro TEXT_AT column, row, text
        .byte >(NAMETABLE_0 + (row) * 32 + (column)), <(NAMETABLE_0 + (row) * 32 + (column))
        .byte .strlen(text), text
.endmacro

.macro PANEL_TEXT_AT column, row, text
        .byte >(NAMETABLE_0 + (row) * 32 + (column)), <(NAMETABLE_0 + (row) * 32 + (column))
        .byte .strlen(text)
  .repeat .strlen(text), i
        .byte .strat(text, i) | PANEL
  .endrepeat
.endmacro

.macro RUN_AT address, count, tile
        .byte >(address), <(address), $80 | (count), tile
.endmacro

.macro PANEL_STRING text
  .repeat .strlen(text), i
        .byte .strat(text, i)
  .endrepeat
.endmacro

title_screen:
        RUN_AT NAMETABLE_0 + 3 * 32 + 2, 28, TILE_RULE
        RUN_AT NAMETABLE_0 + 5 * 32 + 6, 20, PANEL_SPACE
        PANEL_TEXT_AT 6, 6, "      THE DEMO      "
        RUN_AT NAMETABLE_0 + 7 * 32 + 6, 20, PANEL_SPACE
        TEXT_AT 3, 9,  "A LITTLE WALK IN THE HILLS"
        TEXT_AT 4, 11, "ALL ART, MUSIC AND CODE"
        TEXT_AT 4, 12, "WRITTEN FOR THIS MACHINE"
        RUN_AT NAMETABLE_0 + 14 * 32 + 2, 28, TILE_RULE
        TEXT_AT 4, 16, "LEFT RIGHT  WALK"
        TEXT_AT 4, 17, "DOWN        CROUCH"
        TEXT_AT 4, 18, "A           JUMP"
        TEXT_AT 4, 19, "B           THROW A SPARK"
        TEXT_AT 4, 20, "SELECT      TIME OF DAY"
        TEXT_AT 4, 21, "START       PAUSE"
        RUN_AT NAMETABLE_0 + 23 * 32 + 2, 28, TILE_RULE
        TEXT_AT 10, 25, "PRESS START"
        TEXT_AT 6, 27, "SELECT: SOUND CHECK"
        ; attributes: the banner (rows 4-7) in palette 2, "PRESS START" (rows 24-25) in palette 1
        RUN_AT NAMETABLE_0 + ATTRIBUTES + 1 * 8, 8, $AA
        RUN_AT NAMETABLE_0 + ATTRIBUTES + 6 * 8, 8, $05
        .byte 0

check_idle_line: .byte "SELECT: SOUND CHECK "
check_lines:
        .byte "CHECK: PULSE 1      "
        .byte "CHECK: PULSE 2      "
        .byte "CHECK: TRIANGLE     "
        .byte "CHECK: NOISE        "
        .byte "CHECK: SAMPLE (DMC) "
check_names:
        .repeat CHECK_CHANNELS, i
        .addr check_lines + i * CHECK_LINE_LENGTH
        .endrepeat
check_masks:    .byte $01, $02, $04, $08, $00   ; the sample part starts the DMC itself

; One landscape table: sky (already clear), grass, soil, bricks, rock and the attributes.
.macro WORLD_ROWS base
        .byte >(base + 22 * 32), <(base + 22 * 32), 32
  .repeat 32, i
        .byte TILE_GRASS + ((i .mod 3) = 2)
  .endrepeat
        .byte >(base + 23 * 32), <(base + 23 * 32), 32
  .repeat 32, i
        .byte TILE_SOIL + (i .mod 2)
  .endrepeat
        RUN_AT base + 24 * 32, 64, TILE_BRICK
        RUN_AT base + 26 * 32, 64, TILE_BRICK
        RUN_AT base + 28 * 32, 64, TILE_ROCK
        ; palettes: status rows 0, sky rows 1, grass (rows 22-23) 2, bricks 3
        RUN_AT base + ATTRIBUTES, 8, $00
        RUN_AT base + ATTRIBUTES + 8, 32, $55
        RUN_AT base + ATTRIBUTES + 40, 8, $A5
        RUN_AT base + ATTRIBUTES + 48, 16, $FF
        .byte 0
.endmacro
world_rows_0:   WORLD_ROWS NAMETABLE_0
world_rows_1:   WORLD_ROWS NAMETABLE_1

status_bar:
        RUN_AT NAMETABLE_0, 96, PANEL_SPACE
        RUN_AT NAMETABLE_0 + 96, 32, TILE_BORDER
        RUN_AT NAMETABLE_1, 96, PANEL_SPACE
        RUN_AT NAMETABLE_1 + 96, 32, TILE_BORDER
        PANEL_TEXT_AT 1, 1, "SCORE"
        PANEL_TEXT_AT 14, 1, "GEMS"
        .byte 0

CLOUD = 0
HILL  = 1
BUSH  = 2
world_objects:
        .byte CLOUD, 3, 6
        .byte CLOUD, 14, 9
        .byte CLOUD, 24, 5
        .byte CLOUD, 37, 7
        .byte CLOUD, 50, 10
        .byte CLOUD, 59, 6
        .byte HILL, 1, 19
        .byte HILL, 20, 19
        .byte HILL, 40, 19
        .byte HILL, 53, 19
        .byte BUSH, 10, 20
        .byte BUSH, 30, 20
        .byte BUSH, 47, 20
        .byte BUSH, 61, 20
        .byte $FF

; The bushes' world positions in pixels, for the walker's priority.
BUSH_COUNT = 4
bush_x_low:  .lobytes 10 * 8, 30 * 8, 47 * 8, 61 * 8
bush_x_high: .hibytes 10 * 8, 30 * 8, 47 * 8, 61 * 8

stamp_shapes:   .addr cloud_shape, hill_shape, bush_shape
cloud_shape:
        .byte 4, 2
        .byte TILE_CLOUD + 0, TILE_CLOUD + 1, TILE_CLOUD + 2, TILE_CLOUD + 3
        .byte TILE_CLOUD + 4, TILE_CLOUD + 5, TILE_CLOUD + 6, TILE_CLOUD + 7
hill_shape:
        .byte 6, 3
        .byte 0, 0, TILE_HILL_CAP_L, TILE_HILL_CAP_R, 0, 0
        .byte 0, TILE_HILL_LEFT, TILE_HILL, TILE_HILL_SPOTS, TILE_HILL_RIGHT, 0
        .byte TILE_HILL_LEFT, TILE_HILL, TILE_HILL_SPOTS, TILE_HILL, TILE_HILL, TILE_HILL_RIGHT
bush_shape:
        .byte 3, 2
        .byte TILE_BUSH + 0, TILE_BUSH + 1, TILE_BUSH + 2
        .byte TILE_BUSH + 3, TILE_BUSH + 4, TILE_BUSH + 5

gem_world_x_low:  .lobytes 72, 176, 296, 424
gem_world_x_high: .hibytes 72, 176, 296, 424
gem_base_y:       .byte 128, 120, 132, 116
gem_bob:          .byte 0, 1, 2, 3, 3, 2, 1, 0
gem_colours:      .byte $12, $22, $32, $22
spark_flips:      .byte $00, $40, $C0, $80

time_palettes:  .addr day_palette, dusk_palette, night_palette
time_names:     .addr day_name, dusk_name, night_name
day_name:       .byte "DAY  "
dusk_name:      .byte "DUSK "
night_name:     .byte "NIGHT"
blank_word:     .byte "      "
paused_word:    .byte "PAUSED"

; Palettes: backgrounds 0-3, then sprites 0-3; entry 0 of each is the backdrop.
;   bg 0 text and status bar: letter, shadow, panel
;   bg 1 sky things: white, pale, green    bg 2 grass: light, green, brown    bg 3 bricks
;   sprites: 0 walker (outline, body, white), 1 spark, 2 birds, 3 gems (cycled)
title_palette:
        .byte $01, $30, $0F, $11,  $01, $28, $0F, $11,  $01, $30, $0F, $16,  $01, $30, $10, $00
        .byte $01, $0F, $27, $30,  $01, $16, $28, $30,  $01, $0F, $30, $16,  $01, $12, $22, $32
day_palette:
        .byte $21, $30, $0F, $02,  $21, $30, $31, $1A,  $21, $2A, $1A, $17,  $21, $27, $17, $07
        .byte $21, $0F, $27, $30,  $21, $16, $28, $30,  $21, $0F, $30, $16,  $21, $12, $22, $32
dusk_palette:
        .byte $27, $30, $0F, $06,  $27, $37, $26, $0A,  $27, $1A, $0A, $07,  $27, $17, $07, $0F
        .byte $27, $0F, $27, $30,  $27, $16, $28, $30,  $27, $0F, $30, $16,  $27, $12, $22, $32
night_palette:
        .byte $01, $30, $0F, $02,  $01, $10, $00, $0B,  $01, $0A, $0B, $07,  $01, $07, $0F, $0F
        .byte $01, $0F, $17, $20,  $01, $16, $28, $30,  $01, $0F, $10, $16,  $01, $12, $22, $32

.segment "VECTORS"
        .addr nmi, reset, irq
