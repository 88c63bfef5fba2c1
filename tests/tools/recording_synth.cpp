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

namespace kdsp {

namespace {

using Pair = std::complex<double>;
constexpr std::size_t BLOCK_PAIRS = 65536;

// Calls `sink` with the recording's pairs, block by block.
void synthesize(const SynthRecording& recording, const std::function<void(const std::vector<Pair>&)>& sink) {
  std::mt19937 engine(recording.seed);
  std::normal_distribution<double> normal(0.0, recording.noise_rms);
  std::vector<double> phases(recording.channels.size(), 0.0);
  const auto total = static_cast<std::uint64_t>(std::llround(recording.duration_s * recording.sample_rate));
  std::vector<Pair> block;
  for (std::uint64_t start = 0; start < total; start += BLOCK_PAIRS) {
    block.assign(std::min<std::uint64_t>(BLOCK_PAIRS, total - start), Pair{});
    for (std::size_t i = 0; i < block.size(); ++i) {
      const double t = static_cast<double>(start + i) / recording.sample_rate;
      Pair pair{};
      for (std::size_t c = 0; c < recording.channels.size(); ++c) {
        const SynthChannel& channel = recording.channels[c];
        pair += std::polar(channel.amplitude, phases[c]);
        const double hz = channel.offset_hz + channel.deviation_hz * audio_at(channel.audio, t);
        phases[c] = std::remainder(phases[c] + TWO_PI * hz / recording.sample_rate, TWO_PI);
      }
      if (recording.noise_rms > 0.0) pair += Pair{normal(engine), normal(engine)};
      block[i] = pair;
    }
    sink(block);
  }
}

template <typename T>
void put(std::vector<std::uint8_t>& bytes, T value) {
  std::uint8_t raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));  // the tests run on little-endian hosts
  bytes.insert(bytes.end(), raw, raw + sizeof(T));
}

double clamp_round(double v, double low, double high) { return std::clamp(std::round(v), low, high); }

void encode(const std::string& format, const std::vector<Pair>& block, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  for (const Pair& pair : block) {
    for (double v : {pair.real(), pair.imag()}) {
      if (format == "cu8") {
        bytes.push_back(static_cast<std::uint8_t>(clamp_round(v * 128.0 + 127.5, 0.0, 255.0)));
      } else if (format == "cs8") {
        put(bytes, static_cast<std::int8_t>(clamp_round(v * 128.0, -128.0, 127.0)));
      } else if (format == "cs16") {
        put(bytes, static_cast<std::int16_t>(clamp_round(v * 32768.0, -32768.0, 32767.0)));
      } else {
        put(bytes, static_cast<float>(v));
      }
    }
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
  std::vector<std::uint8_t> bytes;
  synthesize(recording, [&](const std::vector<Pair>& block) {
    encode(format, block, bytes);
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
  const std::string format = datatype == "ci8"       ? "cs8"
                             : datatype == "ci16_le" ? "cs16"
                             : datatype == "cu8"     ? "cu8"
                                                     : "cf32";
  write_raw_recording(base + ".sigmf-data", format, recording);
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
