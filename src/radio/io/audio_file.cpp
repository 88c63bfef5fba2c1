#include "radio/io/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "formats/wav.h"

namespace kdsp {

namespace {

struct FormatEntry {
  AudioFormat format;
  const char* name;
  int sndfile_format;  // 0 for WAV, written by the core's encoder
};

constexpr FormatEntry FORMATS[] = {
    {AudioFormat::WAV, "wav", 0},
    {AudioFormat::FLAC, "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {AudioFormat::OPUS, "opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
    {AudioFormat::MP3, "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
};

const FormatEntry& entry_of(AudioFormat format) {
  for (const FormatEntry& entry : FORMATS) {
    if (entry.format == format) return entry;
  }
  return FORMATS[0];
}

// A growing byte buffer that libsndfile writes into and reads from as a
// file.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  sf_count_t position = 0;
};

sf_count_t memory_length(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
  MemoryFile& file = *static_cast<MemoryFile*>(user);
  const sf_count_t base = whence == SEEK_CUR ? file.position
                          : whence == SEEK_END ? static_cast<sf_count_t>(file.bytes.size())
                                               : 0;
  file.position = std::max<sf_count_t>(0, base + offset);
  return file.position;
}

sf_count_t memory_read(void* target, sf_count_t count, void* user) {
  MemoryFile& file = *static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(file.bytes.size());
  const sf_count_t take = std::clamp<sf_count_t>(size - file.position, 0, count);
  std::memcpy(target, file.bytes.data() + file.position, static_cast<std::size_t>(take));
  file.position += take;
  return take;
}

sf_count_t memory_write(const void* source, sf_count_t count, void* user) {
  MemoryFile& file = *static_cast<MemoryFile*>(user);
  const auto end = static_cast<std::size_t>(file.position + count);
  if (end > file.bytes.size()) file.bytes.resize(end);
  std::memcpy(file.bytes.data() + file.position, source, static_cast<std::size_t>(count));
  file.position += count;
  return count;
}

sf_count_t memory_tell(void* user) { return static_cast<MemoryFile*>(user)->position; }

SF_VIRTUAL_IO memory_io() { return SF_VIRTUAL_IO{memory_length, memory_seek, memory_read, memory_write, memory_tell}; }

struct SoundClose {
  void operator()(SNDFILE* sound) const { sf_close(sound); }
};
using SoundOwner = std::unique_ptr<SNDFILE, SoundClose>;

// The encoders' settings for speech: a variable rate, and the compression
// level libsndfile maps to about VOICE_BITRATE_BPS for Opus at 48 kHz mono
// (24 kbit/s, 180 kB a minute of speech, measured); MP3 at 48 kHz cannot go
// below 32 kbit/s, which the lowest setting gives (about 35 kbit/s, 260 kB
// a minute).
void set_voice_bitrate(SNDFILE* sound, AudioFormat format) {
  int mode = SF_BITRATE_MODE_VARIABLE;
  sf_command(sound, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
  double level = format == AudioFormat::OPUS ? 0.93 : 1.0;
  sf_command(sound, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
}

std::vector<std::int16_t> samples_of(std::span<const std::uint8_t> pcm16) {
  std::vector<std::int16_t> samples(pcm16.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(pcm16[2 * i] | (pcm16[2 * i + 1] << 8)));
  }
  return samples;
}

}  // namespace

const char* audio_format_name(AudioFormat format) { return entry_of(format).name; }

int parse_audio_format(std::string_view name, AudioFormat* format) {
  for (const FormatEntry& entry : FORMATS) {
    if (name == entry.name) {
      *format = entry.format;
      return 0;
    }
  }
  return -1;
}

std::optional<AudioFormat> audio_format_from_name(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  std::string extension(path.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "ogg") return AudioFormat::OPUS;
  AudioFormat format = AudioFormat::WAV;
  if (parse_audio_format(extension, &format) != 0) return std::nullopt;
  return format;
}

std::string audio_format_choices() { return "wav, flac, opus or mp3"; }

int encode_audio(AudioFormat format, std::span<const std::uint8_t> pcm16, std::uint32_t sample_rate,
                 std::vector<std::uint8_t>* bytes, Failure* failure) {
  const std::uint64_t count = pcm16.size() / 2;
  if (format == AudioFormat::WAV) {
    std::vector<std::uint8_t> wav(WAV_HEADER_SIZE + pcm16.size());
    write_wav_header(wav.data(), count, sample_rate);
    std::copy(pcm16.begin(), pcm16.end(), wav.begin() + static_cast<std::ptrdiff_t>(WAV_HEADER_SIZE));
    *bytes = std::move(wav);
    return 0;
  }
  MemoryFile file;
  SF_VIRTUAL_IO io = memory_io();
  SF_INFO info{};
  info.samplerate = static_cast<int>(sample_rate);
  info.channels = 1;
  info.format = entry_of(format).sndfile_format;
  SoundOwner sound(sf_open_virtual(&io, SFM_WRITE, &info, &file));
  if (!sound) {
    *failure = Failure{std::string("the ") + audio_format_name(format) + " encoder could not start: " +
                       sf_strerror(nullptr)};
    return -1;
  }
  if (format != AudioFormat::FLAC) set_voice_bitrate(sound.get(), format);
  const std::vector<std::int16_t> samples = samples_of(pcm16);
  if (sf_write_short(sound.get(), samples.data(), static_cast<sf_count_t>(samples.size())) !=
      static_cast<sf_count_t>(samples.size())) {
    *failure = Failure{std::string("the ") + audio_format_name(format) + " encoder failed: " +
                       sf_strerror(sound.get())};
    return -1;
  }
  sound.reset();  // closing flushes the encoder into `file`
  *bytes = std::move(file.bytes);
  return 0;
}

int decode_audio(std::span<const std::uint8_t> bytes, std::vector<std::int16_t>* samples, std::uint32_t* sample_rate,
                 Failure* failure) {
  MemoryFile file{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 0};
  SF_VIRTUAL_IO io = memory_io();
  SF_INFO info{};
  SoundOwner sound(sf_open_virtual(&io, SFM_READ, &info, &file));
  if (!sound || info.channels != 1) {
    *failure = Failure{"not mono audio libsndfile reads"};
    return -1;
  }
  std::vector<std::int16_t> decoded(static_cast<std::size_t>(std::max<sf_count_t>(info.frames, 0)));
  const sf_count_t got = sf_read_short(sound.get(), decoded.data(), static_cast<sf_count_t>(decoded.size()));
  decoded.resize(static_cast<std::size_t>(std::max<sf_count_t>(got, 0)));
  *samples = std::move(decoded);
  *sample_rate = static_cast<std::uint32_t>(info.samplerate);
  return 0;
}

}  // namespace kdsp
