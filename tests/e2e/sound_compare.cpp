// Checks what a sound device received from the window program against the console's own stream:
// the headless runner's WAV (one sample per CPU cycle), converted to the device rate with the rate
// adjustments that the program logged (NES_RATE_LOG) and passed through the output stage, must
// appear sample for sample and in order; the only other thing allowed is silence (0) inserted
// where the device found its queue empty (before the start, or when the emulation fell behind).
//
// With --breaks it judges a device's sound over a run in which the player paused, rewound, loaded
// states, reset and fast-forwarded: every run of silence (0) begins and ends within 2% of full
// scale of 0 (a ramp, not a cut), none is a short gap in the sound, and no step between samples is
// larger than the largest of the console's own streams (the headless runner's WAVs of the same
// cartridge, converted as the program converts them: one from power-on, and one from a state saved
// just after the reset, since a game restarting its tune there may step further than it ever does
// from power-on).
//
// usage: sound_compare CONSOLE.wav DEVICE.raw RATE RATE_LOG          exit 0 when it matches, 1 when not
//        sound_compare --breaks DEVICE.raw RATE CONSOLE.wav...       exit 0 when it is judged clean
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "host/output_stage.h"
#include "host/resampler.h"

namespace {

constexpr uint32_t CONSOLE_RATE = 1789800;
constexpr size_t MIN_MATCHED_SECONDS = 1;
constexpr size_t RESUMED_MATCH = 32;  // samples that must match after inserted silence

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

struct RateChange {
  uint64_t console_sample;  // the adjustment holds from this input sample on
  double adjustment;
};

std::vector<RateChange> read_rate_log(const char* path) {
  std::FILE* f = std::fopen(path, "r");
  if (!f) {
    std::fprintf(stderr, "sound_compare: cannot read %s\n", path);
    std::exit(2);
  }
  std::vector<RateChange> changes;
  unsigned long long at = 0;
  double adjustment = 0;
  while (std::fscanf(f, "%llu %la", &at, &adjustment) == 2) changes.push_back({at, adjustment});
  std::fclose(f);
  return changes;
}

// The console's stream as the program converts it: the resampler held at the first sample's
// level, the logged adjustments at their input samples, then the output stage.
std::vector<int16_t> convert(const std::vector<int16_t>& console, uint32_t rate,
                             const std::vector<RateChange>& changes, size_t& adjustments_applied) {
  Resampler resampler(CONSOLE_RATE, rate);
  if (!console.empty()) resampler.hold(console[0]);
  std::vector<int16_t> out, piece;
  size_t at = 0;
  adjustments_applied = 0;
  auto take = [&](size_t until) {
    while (at < until) {
      const size_t n = std::min<size_t>(until - at, 1 << 16);
      piece.resize(resampler.max_output(n));
      piece.resize(resampler.process(console.data() + at, n, piece.data()));
      out.insert(out.end(), piece.begin(), piece.end());
      at += n;
    }
  };
  for (const RateChange& c : changes) {
    if (c.console_sample > console.size()) break;
    take(c.console_sample);
    resampler.set_rate_adjustment(c.adjustment);
    ++adjustments_applied;
  }
  take(console.size());
  OutputStage(rate).process(out.data(), out.size());
  return out;
}

bool same(const std::vector<int16_t>& a, size_t i, const std::vector<int16_t>& b, size_t j, size_t n) {
  for (size_t k = 0; k < n && i + k < a.size() && j + k < b.size(); ++k)
    if (a[i + k] != b[j + k]) return false;
  return true;
}

// The largest step between neighbouring samples of s[from, end).
int largest_step(const std::vector<int16_t>& s, size_t from) {
  int step = 0;
  for (size_t i = from + 1; i < s.size(); ++i) step = std::max(step, std::abs(s[i] - s[i - 1]));
  return step;
}

// The --breaks judgement (see the top of the file); `own` is the console's largest step.
int judge_breaks(int own, const std::vector<int16_t>& device, uint32_t rate) {
  constexpr int NEAR_ZERO = 32768 * 2 / 100;  // 2% of full scale
  const size_t shortest_silence = rate / 50;  // 20 ms: shorter runs of 0 inside the sound are gaps
  const size_t counted_run = rate / 2000;     // 0.5 ms: shorter runs of 0 are the wave passing by
  size_t start = 0;  // the device's silence before the sound first comes is not the program's
  while (start < device.size() && device[start] == 0) ++start;
  if (device.size() - start < MIN_MATCHED_SECONDS * rate) {
    std::printf("sound_compare: too little sound to judge\n");
    return 1;
  }
  int failures = 0;
  size_t silences = 0;
  int worst_edge = 0;
  for (size_t i = start; i < device.size();) {
    if (device[i] != 0) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < device.size() && device[end] == 0) ++end;
    const size_t length = end - i;
    if (length >= counted_run) {
      const int before = std::abs(device[i - 1]);
      const int after = end < device.size() ? std::abs(device[end]) : 0;  // the end of the run: no edge
      worst_edge = std::max({worst_edge, before, after});
      if (before > NEAR_ZERO || after > NEAR_ZERO) {
        std::printf("sound_compare: the silence at device sample %zu (%.1f ms) is cut: %d before it, %d after\n",
                    i, 1000.0 * double(length) / rate, device[i - 1], end < device.size() ? device[end] : 0);
        ++failures;
      }
      if (length < shortest_silence && end < device.size()) {
        std::printf("sound_compare: a gap of %.1f ms in the sound at device sample %zu\n",
                    1000.0 * double(length) / rate, i);
        ++failures;
      }
      if (length >= shortest_silence) ++silences;
    }
    i = end;
  }
  // The device's rate adjustments move the conversion's points a little, which may make a step of
  // the wave a few percent larger than the same step converted at the nominal rate.
  const int heard = largest_step(device, start);
  if (heard > own + own / 20) {
    std::printf("sound_compare: a step of %d on the device, larger than the console's own %d\n", heard, own);
    ++failures;
  }
  if (failures) return 1;
  std::printf("sound_compare: %zu silences, each beginning and ending within %d of 0; largest step %d "
              "(the console's own: %d); no gap\n", silences, worst_edge, heard, own);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--breaks") == 0) {
    const uint32_t rate = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    int own = 0;
    for (int i = 4; i < argc; ++i) {
      size_t adjustments = 0;
      own = std::max(own, largest_step(convert(read_console_wav(argv[i]), rate, {}, adjustments), 0));
    }
    const std::vector<uint8_t> raw = read_file(argv[2]);
    return judge_breaks(own, samples_of(raw.data(), raw.size()), rate);
  }
  if (argc != 5) {
    std::fprintf(stderr, "usage: sound_compare CONSOLE.wav DEVICE.raw RATE RATE_LOG\n"
                         "       sound_compare --breaks DEVICE.raw RATE CONSOLE.wav...\n");
    return 2;
  }
  const uint32_t rate = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  const std::vector<int16_t> console = read_console_wav(argv[1]);
  size_t adjustments = 0;
  const std::vector<int16_t> expected = convert(console, rate, read_rate_log(argv[4]), adjustments);
  const std::vector<uint8_t> raw = read_file(argv[2]);
  const std::vector<int16_t> device = samples_of(raw.data(), raw.size());

  // Where the device's sample differs and is 0, silence was inserted: skip it up to the point
  // where the stream goes on.
  size_t d = 0, e = 0, inserted = 0, gaps = 0;
  while (d < device.size()) {
    if (e >= expected.size()) {
      std::printf("sound_compare: the device got more than the %zu samples of the reference\n",
                  expected.size());
      return 1;
    }
    if (device[d] == expected[e]) {
      ++d;
      ++e;
      continue;
    }
    size_t z = d;
    while (z < device.size() && device[z] == 0 && !same(device, z, expected, e, RESUMED_MATCH)) ++z;
    if (device[d] != 0 || z == d || (z < device.size() && !same(device, z, expected, e, RESUMED_MATCH))) {
      std::printf("sound_compare: device sample %zu is %d, but the console's sample converts to %d "
                  "(converted sample %zu)\n", d, device[d], expected[e], e);
      return 1;
    }
    inserted += z - d;
    ++gaps;
    d = z;
  }
  std::printf("sound_compare: %zu samples in order and unchanged through %zu rate adjustments, "
              "%zu samples of silence inserted in %zu places\n", e, adjustments, inserted, gaps);
  if (e < MIN_MATCHED_SECONDS * rate) {
    std::printf("sound_compare: too little sound to judge\n");
    return 1;
  }
  return 0;
}
