// Frame sequencer, mixer and the sample stream.
#include "apu/apu.h"
#include "ppu/ppu.h"

SampleSink audio_sink = nullptr;
SampleStream sample_stream;

void apu_tick() {}

void audio_open() {
  frame_buffer = new std::atomic<uint32_t>[FRAME_WIDTH * FRAME_HEIGHT]();
}
