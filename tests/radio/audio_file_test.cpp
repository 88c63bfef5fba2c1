// The audio formats a transmission is kept in: FLAC gives back exactly the
// core's samples; Opus and MP3 give back the same speech at a voice bitrate;
// WAV is the core's own bytes.
#include "radio/io/audio_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numeric>

namespace kdsp {

namespace {

constexpr std::uint32_t RATE = 48000;

// `seconds` of real speech (codec2-examples, 8 kHz) brought to 48 kHz by
// linear interpolation, as 16-bit little-endian samples.
std::vector<std::uint8_t> speech_pcm(double seconds) {
  std::ifstream in("/usr/share/codec2/raw/hts1a.raw", std::ios::binary);
  const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<double> speech(raw.size() / 2);
  for (std::size_t n = 0; n < speech.size(); ++n) {
    speech[n] = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint8_t>(raw[2 * n]) |
                                                                      (static_cast<std::uint8_t>(raw[2 * n + 1]) << 8)));
  }
  std::vector<std::uint8_t> pcm;
  const auto count = static_cast<std::size_t>(seconds * RATE);
  for (std::size_t i = 0; i < count && !speech.empty(); ++i) {
    const double position = static_cast<double>(i) / 6.0;
    const auto at = static_cast<std::size_t>(position);
    const double fraction = position - static_cast<double>(at);
    const double value = (1.0 - fraction) * speech[at % speech.size()] + fraction * speech[(at + 1) % speech.size()];
    const auto code = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(value)));
    pcm.push_back(static_cast<std::uint8_t>(code));
    pcm.push_back(static_cast<std::uint8_t>(code >> 8));
  }
  return pcm;
}

std::vector<double> as_values(std::span<const std::uint8_t> pcm) {
  std::vector<double> values(pcm.size() / 2);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
  }
  return values;
}

// The best correlation of `decoded` with `original` over shifts up to
// `max_shift` samples (an encoder's delay).
double best_correlation(const std::vector<double>& original, const std::vector<std::int16_t>& decoded,
                        std::size_t max_shift) {
  double best = 0.0;
  for (std::size_t shift = 0; shift <= max_shift; ++shift) {
    double dot = 0.0, a = 0.0, b = 0.0;
    // Two seconds are enough to tell the speech from anything else.
    for (std::size_t i = 0; i + shift < decoded.size() && i < original.size() && i < 2 * RATE; ++i) {
      dot += original[i] * decoded[i + shift];
      a += original[i] * original[i];
      b += static_cast<double>(decoded[i + shift]) * decoded[i + shift];
    }
    if (a > 0.0 && b > 0.0) best = std::max(best, dot / std::sqrt(a * b));
  }
  return best;
}

}  // namespace

TEST(AudioFile, FlacGivesBackTheCoresSamplesExactlyAndWavIsTheCoresBytes) {
  const std::vector<std::uint8_t> pcm = speech_pcm(2.0);
  ASSERT_FALSE(pcm.empty()) << "codec2-examples is missing";
  std::vector<std::uint8_t> flac;
  Failure failure;
  ASSERT_EQ(encode_audio(AudioFormat::FLAC, pcm, RATE, &flac, &failure), 0) << failure;
  EXPECT_LT(flac.size(), pcm.size());
  std::vector<std::int16_t> decoded;
  std::uint32_t rate = 0;
  ASSERT_EQ(decode_audio(flac, &decoded, &rate, &failure), 0) << failure;
  EXPECT_EQ(rate, RATE);
  ASSERT_EQ(decoded.size(), pcm.size() / 2);
  const std::vector<double> original = as_values(pcm);
  for (std::size_t i = 0; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], original[i]) << i;

  std::vector<std::uint8_t> wav;
  ASSERT_EQ(encode_audio(AudioFormat::WAV, pcm, RATE, &wav, &failure), 0);
  ASSERT_EQ(wav.size(), 44 + pcm.size());
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), wav.begin() + 44));
}

TEST(AudioFile, OpusAndMp3KeepTheSpeechAtAVoiceBitrate) {
  constexpr double SECONDS = 20.0;
  const std::vector<std::uint8_t> pcm = speech_pcm(SECONDS);
  ASSERT_FALSE(pcm.empty());
  const std::vector<double> original = as_values(pcm);
  for (AudioFormat format : {AudioFormat::OPUS, AudioFormat::MP3}) {
    std::vector<std::uint8_t> bytes;
    Failure failure;
    ASSERT_EQ(encode_audio(format, pcm, RATE, &bytes, &failure), 0) << failure;
    const double bits_per_second = 8.0 * static_cast<double>(bytes.size()) / SECONDS;
    std::printf("%s: %.1f kbit/s, %.0f kB per minute\n", audio_format_name(format), bits_per_second / 1000.0,
                bits_per_second * 60.0 / 8.0 / 1000.0);
    EXPECT_LT(bits_per_second, 64000.0) << audio_format_name(format);
    std::vector<std::int16_t> decoded;
    std::uint32_t rate = 0;
    ASSERT_EQ(decode_audio(bytes, &decoded, &rate, &failure), 0) << failure;
    EXPECT_EQ(rate, RATE);
    EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(original.size()), 0.1 * RATE);
    EXPECT_GT(best_correlation(original, decoded, 4000), 0.9) << audio_format_name(format);
  }
}

TEST(AudioFile, FormatsAreKnownByNameAndExtension) {
  AudioFormat format = AudioFormat::WAV;
  EXPECT_EQ(parse_audio_format("flac", &format), 0);
  EXPECT_EQ(format, AudioFormat::FLAC);
  EXPECT_EQ(parse_audio_format("aac", &format), -1);
  EXPECT_EQ(audio_format_from_name("calls/voice.OPUS"), AudioFormat::OPUS);
  EXPECT_EQ(audio_format_from_name("voice.ogg"), AudioFormat::OPUS);
  EXPECT_EQ(audio_format_from_name("voice.mp3"), AudioFormat::MP3);
  EXPECT_EQ(audio_format_from_name("voice"), std::nullopt);
  EXPECT_EQ(audio_format_from_name("voice.iq"), std::nullopt);
}

}  // namespace kdsp
