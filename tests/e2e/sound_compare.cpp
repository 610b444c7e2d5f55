// Checks what a sound device received from the window program against the console's own stream:
// the headless runner's WAV (one sample per CPU cycle), converted to the device rate, must appear
// sample for sample and in order; the only other thing allowed is whole device periods of silence
// at buffer boundaries, where the device found nothing queued (before the first buffer, or when the
// emulation fell behind).
//
// usage: sound_compare CONSOLE.wav DEVICE.raw RATE PERIOD     exit 0 when it matches, 1 when not
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "host/resampler.h"

namespace {

constexpr uint32_t CONSOLE_RATE = 1789800;
constexpr size_t CONSOLE_BUFFER = 178980;    // samples per hand-off, a tenth of a second
constexpr size_t MIN_MATCHED_SECONDS = 1;

std::vector<uint8_t> read_file(const char* path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "sound_compare: cannot read %s\n", path);
    std::exit(2);
  }
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }

std::vector<int16_t> samples_of(const uint8_t* p, size_t bytes) {
  std::vector<int16_t> s(bytes / 2);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  return s;
}

// The samples of a mono 16-bit WAV at the console's rate.
std::vector<int16_t> read_console_wav(const char* path) {
  const std::vector<uint8_t> f = read_file(path);
  if (f.size() < 44 || std::memcmp(f.data(), "RIFF", 4) != 0 || le32(&f[24]) != CONSOLE_RATE) {
    std::fprintf(stderr, "sound_compare: %s is not a WAV at %u Hz\n", path, CONSOLE_RATE);
    std::exit(2);
  }
  return samples_of(f.data() + 44, f.size() - 44);
}

bool all_zero(const std::vector<int16_t>& s, size_t from, size_t count) {
  for (size_t i = from; i < from + count && i < s.size(); ++i)
    if (s[i] != 0) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: sound_compare CONSOLE.wav DEVICE.raw RATE PERIOD\n");
    return 2;
  }
  const uint32_t rate = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  const size_t period = std::strtoul(argv[4], nullptr, 10);
  const size_t buffer = rate / 10;  // device samples per console buffer

  const std::vector<int16_t> console = read_console_wav(argv[1]);
  Resampler resampler(CONSOLE_RATE, rate);
  std::vector<int16_t> expected;
  std::vector<int16_t> piece(resampler.max_output(CONSOLE_BUFFER));
  for (size_t at = 0; at + CONSOLE_BUFFER <= console.size(); at += CONSOLE_BUFFER) {
    const size_t n = resampler.process(console.data() + at, CONSOLE_BUFFER, piece.data());
    expected.insert(expected.end(), piece.begin(), piece.begin() + static_cast<ptrdiff_t>(n));
  }
  const std::vector<uint8_t> raw = read_file(argv[2]);
  const std::vector<int16_t> device = samples_of(raw.data(), raw.size());

  size_t d = 0, e = 0, silent_periods = 0;
  while (d < device.size()) {
    const bool at_boundary = e % buffer == 0;
    if (at_boundary && all_zero(device, d, period) && !all_zero(expected, e, period)) {
      d += period;  // nothing was queued: the device played a period of silence
      ++silent_periods;
      continue;
    }
    if (e >= expected.size()) {
      std::printf("sound_compare: the device got more than the %zu samples of the reference\n",
                  expected.size());
      return 1;
    }
    if (device[d] != expected[e]) {
      std::printf("sound_compare: device sample %zu is %d, but the console's sample %zu "
                  "(buffer %zu, +%zu) converts to %d\n",
                  d, device[d], e, e / buffer, e % buffer, expected[e]);
      return 1;
    }
    ++d;
    ++e;
  }
  std::printf("sound_compare: %zu samples (%zu buffers) in order and unchanged, %zu silent periods\n",
              e, e / buffer, silent_periods);
  if (e < MIN_MATCHED_SECONDS * rate) {
    std::printf("sound_compare: too little sound to judge\n");
    return 1;
  }
  return 0;
}
