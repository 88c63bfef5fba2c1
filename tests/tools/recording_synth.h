// Radio recordings as receivers write them, made by the tests: FM channels
// with known audio at chosen offsets, noise, any rate, and every file format
// kdsp-rx reads (raw cu8/cs8/cs16/cf32, two-channel WAV, SigMF pairs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kdsp {

// Audio that modulates a channel, at its own rate; read between samples by
// linear interpolation and repeated when the recording is longer.
struct ModulatingAudio {
  std::vector<float> samples;
  double sample_rate = 8000.0;
};

ModulatingAudio tone_audio(double frequency_hz, double amplitude, double duration_s);

// Real speech from Debian's codec2-examples (8 kHz, 16-bit), scaled to a
// peak of 0.9; empty when the file is missing.
ModulatingAudio speech_audio(const std::string& name);

// The audio's value at time `t_s` (the same function the modulator uses).
double audio_at(const ModulatingAudio& audio, double t_s);

struct SynthChannel {
  double offset_hz = 0.0;
  double deviation_hz = 5000.0;  // at audio 1.0
  double amplitude = 0.5;
  ModulatingAudio audio;
};

struct SynthRecording {
  double sample_rate = 240000.0;
  double duration_s = 1.0;
  std::vector<SynthChannel> channels;
  double noise_rms = 0.0;  // per component
  std::uint32_t seed = 1;
};

// Raw formats as kdsp-rx names them: "cu8", "cs8", "cs16", "cf32".
void write_raw_recording(const std::string& path, const std::string& format, const SynthRecording& recording);

// A two-channel WAV (I left, Q right) of libsndfile subtype `subtype`
// (for example SF_FORMAT_PCM_16 or SF_FORMAT_FLOAT).
void write_wav_recording(const std::string& path, int subtype, const SynthRecording& recording);

// NAME.sigmf-data and NAME.sigmf-meta with `datatype` ("cu8", "ci8",
// "ci16_le", "cf32_le") and the centre frequency.
void write_sigmf_recording(const std::string& base, const std::string& datatype, double centre_hz,
                           const SynthRecording& recording);

}  // namespace kdsp
