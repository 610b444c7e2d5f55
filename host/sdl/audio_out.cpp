// The SDL audio device behind the shared sound pacing (host/paced_sound.cpp): 48000 Hz, mono,
// 16-bit, fed through SDL_QueueAudio in periods of 5 ms, opened paused until the pacing has filled
// its queue. Where no device opens the shared silent stand-in keeps the pace.
#include "host/audio_out.h"

#include <SDL.h>

#include <string>

#include "host/paced_sound.h"

namespace {

constexpr Uint16 DEVICE_PERIOD = 240;  // frames the device takes at a time: 5 ms

// Belongs to the emulation thread, which opens it.
SDL_AudioDeviceID device = 0;

void queue(const int16_t* samples, size_t count) {
  SDL_QueueAudio(device, samples, static_cast<Uint32>(count * sizeof(int16_t)));
}

double backlog() {
  if (SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED) return -1;  // the device went away
  return double(SDL_GetQueuedAudioSize(device) / sizeof(int16_t)) / SOUND_DEVICE_RATE;
}

void play() { SDL_PauseAudioDevice(device, 0); }
void hold() { SDL_PauseAudioDevice(device, 1); }

const SoundDevice SDL_DEVICE{queue, backlog, play, hold, double(DEVICE_PERIOD) / SOUND_DEVICE_RATE};

}  // namespace

std::string audio_out_open() {
  // This thread makes the sound a few milliseconds before the device needs it: where the system
  // allows, it goes before ordinary work (on Linux a lower nice value, or through RealtimeKit).
  SDL_SetThreadPriority(SDL_THREAD_PRIORITY_HIGH);

  const auto stand_in = [] {
    const std::string chosen = std::string("no audio device, silent at the same pace (") + SDL_GetError() + ")";
    paced_sound_start(nullptr);
    return chosen;
  };
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return stand_in();
  SDL_AudioSpec wanted{};
  wanted.freq = SOUND_DEVICE_RATE;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = 1;
  wanted.samples = DEVICE_PERIOD;
  wanted.callback = nullptr;  // fed through SDL_QueueAudio
  SDL_AudioSpec got{};
  device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &got, 0);
  if (device == 0) return stand_in();
  // Paused (silent) until the queue first reaches its target.
  paced_sound_start(&SDL_DEVICE);
  return std::string("audio device ") + SDL_GetCurrentAudioDriver();
}
