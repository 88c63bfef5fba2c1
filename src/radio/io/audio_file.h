// The audio a transmission is kept as: the core's WAV as it stands (16-bit
// mono PCM, the bytes kdsp writes), or encoded by libsndfile as FLAC
// (lossless: it decodes to exactly the same samples), Ogg Opus or MP3 at a
// voice bitrate. Encoded in memory, so that the file is written whole or not
// at all by the core's writer, as every output is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

enum class AudioFormat { WAV, FLAC, OPUS, MP3 };

// "wav", "flac", "opus", "mp3": the name on the command line, and the
// file's extension.
const char* audio_format_name(AudioFormat format);

// 0 with `*format` set for a name above, else -1.
int parse_audio_format(std::string_view name, AudioFormat* format);

// The format a file's extension names (.wav, .flac, .opus or .ogg, .mp3),
// if any.
std::optional<AudioFormat> audio_format_from_name(std::string_view path);

// "wav, flac, opus or mp3", for messages.
std::string audio_format_choices();

// Opus is encoded for speech at about this many bits per second (MP3 at its
// lowest at 48 kHz, about 35 kbit/s).
inline constexpr int VOICE_BITRATE_BPS = 24000;

// Encodes 16-bit little-endian mono samples at `sample_rate` (the data of
// the core's WAV) as `format`; a WAV is the core's own header and the
// samples. 0 with `*bytes` holding the whole file, or -1 with `*failure`.
int encode_audio(AudioFormat format, std::span<const std::uint8_t> pcm16, std::uint32_t sample_rate,
                 std::vector<std::uint8_t>* bytes, Failure* failure);

// Decodes an audio file held in memory (any format libsndfile reads) into
// 16-bit samples: 0 with `*samples` and `*sample_rate` set, or -1.
int decode_audio(std::span<const std::uint8_t> bytes, std::vector<std::int16_t>* samples, std::uint32_t* sample_rate,
                 Failure* failure);

}  // namespace kdsp
