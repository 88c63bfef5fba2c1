// The audio that modulates a channel: one of the built-in test signals or
// the first channel of an audio file, always scaled so that its peak is 1.0
// (the peak deviation).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

enum class AudioKind { TONE, TWO_TONE, SWEEP, VOICE, AUDIO_FILE };

// A parsed SOURCE argument.
struct AudioRequest {
  AudioKind kind = AudioKind::VOICE;
  double first_hz = 0.0;   // tone, two-tone, sweep start
  double second_hz = 0.0;  // two-tone, sweep end
  std::string path;        // file
};

// Mono audio at its own rate.
struct SourceAudio {
  std::vector<float> samples;
  std::uint32_t sample_rate = 0;
};

// Built-in signals are made at this rate and then converted like file audio.
inline constexpr std::uint32_t BUILTIN_AUDIO_RATE = 48000;
inline constexpr double BUILTIN_MIN_HZ = 1.0;
inline constexpr double BUILTIN_MAX_HZ = 20000.0;

// The forms a SOURCE argument takes, for messages.
inline constexpr const char* AUDIO_SOURCE_FORMS =
    "tone[:HZ], two-tone[:HZ,HZ], sweep[:HZ,HZ], voice or file:PATH, with HZ from 1 to 20000";

// Parses "tone[:HZ]", "two-tone[:HZ,HZ]", "sweep[:HZ,HZ]", "voice" or
// "file:PATH". 0 with `*request` filled, else -1 with `*error` set.
int parse_audio_request(const char* text, AudioRequest* request, Failure* failure);

// Makes `duration_s` seconds of a built-in signal. `request.kind` must not be AUDIO_FILE.
SourceAudio make_builtin_audio(const AudioRequest& request, double duration_s);

// Reads the first channel of an audio file, at most `max_duration_s` seconds.
// 0 with `*audio` filled, else -1 with `*error` set.
int read_audio_file(const std::string& path, double max_duration_s, SourceAudio* audio, Failure* failure);

// Duration of `audio` in seconds.
double audio_duration_s(const SourceAudio& audio);

// Scales `samples` so that the largest magnitude is 1.0; silence stays silent.
void normalize_peak(std::vector<float>& samples);

}  // namespace kdsp
