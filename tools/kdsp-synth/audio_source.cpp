#include "kdsp-synth/audio_source.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "base/file_read.h"
#include "base/numbers.h"
#include "kdsp-synth/speech_like.h"
#include "radio/base/option_value.h"

namespace kdsp {

namespace {

struct SndfileClose {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileClose>;

// Audio files below this rate are not audio; above it, no resampler setting
// we use makes sense.
constexpr int MIN_FILE_RATE = 1000;
constexpr int MAX_FILE_RATE = 1000000;
constexpr sf_count_t READ_CHUNK_FRAMES = 4096;

constexpr double DEFAULT_TONE_HZ = 1000.0;
constexpr double DEFAULT_TWO_TONE_LOW_HZ = 700.0;
constexpr double DEFAULT_TWO_TONE_HIGH_HZ = 1900.0;
constexpr double DEFAULT_SWEEP_START_HZ = 300.0;
constexpr double DEFAULT_SWEEP_END_HZ = 3300.0;

bool has_prefix(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// Parses "" (keeping the defaults), or ":HZ" when `count` is 1, or ":HZ,HZ"
// when `count` is 2.
int parse_frequencies(const char* rest, int count, double* first_hz, double* second_hz) {
  if (rest[0] == '\0') return 0;
  if (rest[0] != ':') return -1;
  std::string list(rest + 1);
  std::size_t comma = list.find(',');
  if (count == 1) {
    return comma == std::string::npos ? parse_real_option(list.c_str(), BUILTIN_MIN_HZ, BUILTIN_MAX_HZ, first_hz) : -1;
  }
  if (comma == std::string::npos) return -1;
  std::string first = list.substr(0, comma);
  std::string second = list.substr(comma + 1);
  double a = 0.0;
  double b = 0.0;
  if (parse_real_option(first.c_str(), BUILTIN_MIN_HZ, BUILTIN_MAX_HZ, &a) != 0 ||
      parse_real_option(second.c_str(), BUILTIN_MIN_HZ, BUILTIN_MAX_HZ, &b) != 0) {
    return -1;
  }
  *first_hz = a;
  *second_hz = b;
  return 0;
}

std::vector<float> make_tones(double duration_s, double first_hz, double second_hz, bool two) {
  auto count = static_cast<std::size_t>(std::llround(duration_s * BUILTIN_AUDIO_RATE));
  std::vector<float> samples(count);
  for (std::size_t n = 0; n < count; ++n) {
    double t = static_cast<double>(n) / BUILTIN_AUDIO_RATE;
    double value = std::sin(TWO_PI * first_hz * t);
    if (two) value += std::sin(TWO_PI * second_hz * t);
    samples[n] = static_cast<float>(value);
  }
  return samples;
}

// Linear sweep from start_hz to end_hz over the whole duration.
std::vector<float> make_sweep(double duration_s, double start_hz, double end_hz) {
  auto count = static_cast<std::size_t>(std::llround(duration_s * BUILTIN_AUDIO_RATE));
  std::vector<float> samples(count);
  double rate_hz_per_s = (end_hz - start_hz) / duration_s;
  for (std::size_t n = 0; n < count; ++n) {
    double t = static_cast<double>(n) / BUILTIN_AUDIO_RATE;
    double cycles = start_hz * t + 0.5 * rate_hz_per_s * t * t;
    samples[n] = static_cast<float>(std::sin(TWO_PI * cycles));
  }
  return samples;
}

}  // namespace

int parse_audio_request(const char* text, AudioRequest* request, Failure* failure) {
  AudioRequest parsed;
  int status = 0;
  if (has_prefix(text, "file:")) {
    parsed.kind = AudioKind::AUDIO_FILE;
    parsed.path = text + 5;
    status = parsed.path.empty() ? -1 : 0;
  } else if (std::strcmp(text, "voice") == 0) {
    parsed.kind = AudioKind::VOICE;
  } else if (has_prefix(text, "two-tone")) {
    parsed.kind = AudioKind::TWO_TONE;
    parsed.first_hz = DEFAULT_TWO_TONE_LOW_HZ;
    parsed.second_hz = DEFAULT_TWO_TONE_HIGH_HZ;
    status = parse_frequencies(text + 8, 2, &parsed.first_hz, &parsed.second_hz);
  } else if (has_prefix(text, "tone")) {
    parsed.kind = AudioKind::TONE;
    parsed.first_hz = DEFAULT_TONE_HZ;
    status = parse_frequencies(text + 4, 1, &parsed.first_hz, nullptr);
  } else if (has_prefix(text, "sweep")) {
    parsed.kind = AudioKind::SWEEP;
    parsed.first_hz = DEFAULT_SWEEP_START_HZ;
    parsed.second_hz = DEFAULT_SWEEP_END_HZ;
    status = parse_frequencies(text + 5, 2, &parsed.first_hz, &parsed.second_hz);
  } else {
    status = -1;
  }
  if (status != 0) {
    *failure = Failure{std::string("bad audio source '") + text + "': expected " + AUDIO_SOURCE_FORMS};
    return -1;
  }
  *request = std::move(parsed);
  return 0;
}

SourceAudio make_builtin_audio(const AudioRequest& request, double duration_s) {
  SourceAudio audio;
  audio.sample_rate = BUILTIN_AUDIO_RATE;
  switch (request.kind) {
    case AudioKind::TONE: audio.samples = make_tones(duration_s, request.first_hz, 0.0, false); break;
    case AudioKind::TWO_TONE: audio.samples = make_tones(duration_s, request.first_hz, request.second_hz, true); break;
    case AudioKind::SWEEP: audio.samples = make_sweep(duration_s, request.first_hz, request.second_hz); break;
    case AudioKind::VOICE: audio.samples = make_speech_like(duration_s, BUILTIN_AUDIO_RATE); break;
    case AudioKind::AUDIO_FILE: break;
  }
  normalize_peak(audio.samples);
  return audio;
}

int read_audio_file(const std::string& path, double max_duration_s, SourceAudio* audio, Failure* failure) {
  // Through the core's check, as kdsp opens its inputs: anything but a
  // regular file (a FIFO would block until a writer came) is refused at once.
  StreamPtr stream;
  std::uint64_t length = 0;
  if (open_measured_file(path.c_str(), std::numeric_limits<std::uint64_t>::max(), &stream, &length) != 0) {
    *failure = Failure{"cannot read audio file '" + path + "': it cannot be opened or is not a regular file"};
    return -1;
  }
  // Measuring may have left the descriptor anywhere (stdio reads ahead), and
  // libsndfile takes the descriptor's position as the start of the audio file.
  const int fd = ::fileno(stream.get());
  SF_INFO info{};
  SndfilePtr file(::lseek(fd, 0, SEEK_SET) == 0 ? sf_open_fd(fd, SFM_READ, &info, SF_FALSE) : nullptr);
  if (!file) {
    *failure = Failure{"cannot read audio file '" + path + "': " + sf_strerror(nullptr)};
    return -1;
  }
  if (info.samplerate < MIN_FILE_RATE || info.samplerate > MAX_FILE_RATE || info.channels < 1) {
    *failure =
        Failure{"audio file '" + path + "' has an unusable sample rate (" + std::to_string(info.samplerate) + " Hz)"};
    return -1;
  }
  auto frame_limit = static_cast<sf_count_t>(std::ceil(max_duration_s * info.samplerate));
  sf_count_t frames_wanted = info.frames > 0 ? std::min(info.frames, frame_limit) : 0;
  if (frames_wanted == 0) {
    *failure = Failure{"audio file '" + path + "' holds no audio"};
    return -1;
  }

  SourceAudio read;
  read.sample_rate = static_cast<std::uint32_t>(info.samplerate);
  read.samples.reserve(static_cast<std::size_t>(frames_wanted));
  std::vector<float> chunk(static_cast<std::size_t>(READ_CHUNK_FRAMES * info.channels));
  while (static_cast<sf_count_t>(read.samples.size()) < frames_wanted) {
    sf_count_t want = std::min(READ_CHUNK_FRAMES, frames_wanted - static_cast<sf_count_t>(read.samples.size()));
    sf_count_t got = sf_readf_float(file.get(), chunk.data(), want);
    if (got <= 0) break;
    for (sf_count_t frame = 0; frame < got; ++frame) {
      float value = chunk[static_cast<std::size_t>(frame * info.channels)];
      // A float file can hold NaN or infinity; modulated, it would poison
      // every later pair of the capture.
      if (!std::isfinite(value)) {
        *failure = Failure{"audio file '" + path + "' holds a value that is not a finite number"};
        return -1;
      }
      read.samples.push_back(value);
    }
  }
  if (read.samples.empty()) {
    *failure = Failure{"cannot read audio from '" + path + "': " + sf_strerror(file.get())};
    return -1;
  }
  normalize_peak(read.samples);
  *audio = std::move(read);
  return 0;
}

double audio_duration_s(const SourceAudio& audio) {
  return static_cast<double>(audio.samples.size()) / static_cast<double>(audio.sample_rate);
}

void normalize_peak(std::vector<float>& samples) {
  float peak = 0.0f;
  for (float value : samples) peak = std::max(peak, std::fabs(value));
  if (peak == 0.0f) return;
  for (float& value : samples) value /= peak;
}

}  // namespace kdsp
