#include "tools/recording_synth.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>

#include "base/numbers.h"
#include "radio/chain/fm_modulator.h"
#include "radio/io/sample_format.h"

namespace kdsp {

namespace {

using Pair = std::complex<double>;
constexpr std::size_t BLOCK_PAIRS = 65536;

// Calls `sink` with the recording's pairs, block by block.
void synthesize(const SynthRecording& recording, const std::function<void(const std::vector<Pair>&)>& sink) {
  std::mt19937 engine(recording.seed);
  std::normal_distribution<double> normal(0.0, recording.noise_rms);
  std::vector<FmOscillator> oscillators;
  for (const SynthChannel& channel : recording.channels) {
    oscillators.push_back(
        make_fm_oscillator(recording.sample_rate, channel.offset_hz, channel.deviation_hz, channel.amplitude, 0.0));
  }
  const auto total = static_cast<std::uint64_t>(std::llround(recording.duration_s * recording.sample_rate));
  std::vector<Pair> block;
  for (std::uint64_t start = 0; start < total; start += BLOCK_PAIRS) {
    block.assign(std::min<std::uint64_t>(BLOCK_PAIRS, total - start), Pair{});
    for (std::size_t i = 0; i < block.size(); ++i) {
      const double t = static_cast<double>(start + i) / recording.sample_rate;
      Pair pair{};
      for (std::size_t c = 0; c < recording.channels.size(); ++c) {
        pair += next_fm_pair(oscillators[c], static_cast<float>(audio_at(recording.channels[c].audio, t)));
      }
      if (recording.noise_rms > 0.0) pair += Pair{normal(engine), normal(engine)};
      block[i] = pair;
    }
    sink(block);
  }
}

}  // namespace

ModulatingAudio tone_audio(double frequency_hz, double amplitude, double duration_s) {
  ModulatingAudio audio;
  audio.sample_rate = 48000.0;
  audio.samples.resize(static_cast<std::size_t>(duration_s * audio.sample_rate));
  for (std::size_t n = 0; n < audio.samples.size(); ++n) {
    audio.samples[n] =
        static_cast<float>(amplitude * std::sin(TWO_PI * frequency_hz * static_cast<double>(n) / audio.sample_rate));
  }
  return audio;
}

ModulatingAudio speech_audio(const std::string& name) {
  ModulatingAudio audio;
  std::ifstream in("/usr/share/codec2/raw/" + name, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  audio.samples.resize(raw.size() / 2);
  float peak = 0.0f;
  for (std::size_t n = 0; n < audio.samples.size(); ++n) {
    std::int16_t value;
    std::memcpy(&value, raw.data() + 2 * n, 2);
    audio.samples[n] = value;
    peak = std::max(peak, std::fabs(audio.samples[n]));
  }
  for (float& sample : audio.samples) sample = peak > 0.0f ? 0.9f * sample / peak : 0.0f;
  return audio;
}

double audio_at(const ModulatingAudio& audio, double t_s) {
  if (audio.samples.empty()) return 0.0;
  const double position = t_s * audio.sample_rate;
  const auto index = static_cast<std::size_t>(position);
  const double fraction = position - static_cast<double>(index);
  const std::size_t n = audio.samples.size();
  return (1.0 - fraction) * audio.samples[index % n] + fraction * audio.samples[(index + 1) % n];
}

void write_raw_recording(const std::string& path, const std::string& format, const SynthRecording& recording) {
  std::ofstream out(path, std::ios::binary);
  SampleFormat sample_format = SampleFormat::CF32_LE;
  parse_sample_format(format, &sample_format);
  std::vector<std::uint8_t> bytes;
  synthesize(recording, [&](const std::vector<Pair>& block) {
    bytes.resize(block.size() * pair_bytes(sample_format));
    encode_pairs(sample_format, block.data(), block.size(), bytes.data());
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  });
}

void write_wav_recording(const std::string& path, int subtype, const SynthRecording& recording) {
  SF_INFO info{};
  info.samplerate = static_cast<int>(recording.sample_rate);
  info.channels = 2;
  info.format = SF_FORMAT_WAV | subtype;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return;
  std::vector<double> frames;
  synthesize(recording, [&](const std::vector<Pair>& block) {
    frames.clear();
    for (const Pair& pair : block) {
      frames.push_back(pair.real());
      frames.push_back(pair.imag());
    }
    sf_writef_double(file, frames.data(), static_cast<sf_count_t>(block.size()));
  });
  sf_close(file);
}

void write_sigmf_recording(const std::string& base, const std::string& datatype, double centre_hz,
                           const SynthRecording& recording) {
  SampleFormat format = SampleFormat::CF32_LE;
  parse_sigmf_datatype(datatype, &format);
  write_raw_recording(base + ".sigmf-data", sample_format_name(format), recording);
  std::ofstream meta(base + ".sigmf-meta");
  char text[512];
  std::snprintf(
      text, sizeof text,
      "{\n  \"global\": {\"core:datatype\": \"%s\", \"core:sample_rate\": %.17g, \"core:version\": \"1.0.0\"},\n"
      "  \"captures\": [{\"core:sample_start\": 0, \"core:frequency\": %.17g}],\n  \"annotations\": []\n}\n",
      datatype.c_str(), recording.sample_rate, centre_hz);
  meta << text;
}

}  // namespace kdsp
