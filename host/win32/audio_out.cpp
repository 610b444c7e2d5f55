// The waveOut device behind the shared sound pacing (host/paced_sound.cpp): 48000 Hz, mono, 16-bit,
// a rate every card takes. This file only queues wave blocks, tells how much of them is still
// unplayed and starts the paused device when the pacing has filled its queue. Where waveOutOpen
// fails (no device, as under Wine here) the shared silent stand-in keeps the pace.
#include "host/audio_out.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "host/paced_sound.h"

namespace {

constexpr size_t BLOCKS = 32;          // wave blocks in turn; far more than the queue target needs
constexpr size_t BLOCK_SAMPLES = 4096; // most samples in one block (85 ms)

struct Block {
  WAVEHDR header{};
  std::array<int16_t, BLOCK_SAMPLES> samples{};
};

// Everything here belongs to the emulation thread, which opens it.
struct WaveOut {
  HWAVEOUT device = nullptr;
  std::vector<Block> blocks = std::vector<Block>(BLOCKS);
  size_t next_block = 0;
  uint64_t queued = 0;  // samples handed to the device so far
};
WaveOut wave;

void queue(const int16_t* samples, size_t count) {
  while (count > 0) {
    const size_t n = std::min(count, BLOCK_SAMPLES);
    Block& b = wave.blocks[wave.next_block];
    while ((b.header.dwFlags & WHDR_PREPARED) && !(b.header.dwFlags & WHDR_DONE))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));  // all blocks queued: wait for one
    if (b.header.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(wave.device, &b.header, sizeof b.header);
    std::copy(samples, samples + n, b.samples.begin());
    b.header = WAVEHDR{};
    b.header.lpData = reinterpret_cast<LPSTR>(b.samples.data());
    b.header.dwBufferLength = static_cast<DWORD>(n * sizeof(int16_t));
    waveOutPrepareHeader(wave.device, &b.header, sizeof b.header);
    waveOutWrite(wave.device, &b.header, sizeof b.header);
    wave.next_block = (wave.next_block + 1) % BLOCKS;
    wave.queued += n;
    samples += n;
    count -= n;
  }
}

double backlog() {
  MMTIME time{};
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(wave.device, &time, sizeof time) != MMSYSERR_NOERROR || time.wType != TIME_SAMPLES)
    return -1;  // the device is gone
  const uint64_t played = std::min<uint64_t>(time.u.sample, wave.queued);
  return double(wave.queued - played) / SOUND_DEVICE_RATE;
}

void play() { waveOutRestart(wave.device); }
void hold() { waveOutPause(wave.device); }

// waveOutGetPosition counts the samples played, so none waits beyond the backlog.
const SoundDevice WAVE_OUT{queue, backlog, play, hold, 0.0};

}  // namespace

std::string audio_out_open() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = SOUND_DEVICE_RATE;
  format.wBitsPerSample = 16;
  format.nBlockAlign = sizeof(int16_t);
  format.nAvgBytesPerSec = SOUND_DEVICE_RATE * sizeof(int16_t);
  const MMRESULT result = waveOutOpen(&wave.device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
  if (result != MMSYSERR_NOERROR) {
    paced_sound_start(nullptr);
    return "no audio device, silent at the same pace (waveOutOpen error " + std::to_string(result) + ")";
  }
  waveOutPause(wave.device);  // silent until the queue first reaches its target
  paced_sound_start(&WAVE_OUT);
  return "audio device waveOut, 48000 Hz";
}
