#include "radio/io/recording.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string_view>

#include "formats/iq_capture.h"
#include "radio/base/quantity_text.h"
#include "radio/io/regular_file.h"
#include "radio/io/sigmf_meta.h"
#include "radio/meta/recording_names.h"
#include "radio/meta/sdriq_header.h"

namespace kdsp {

namespace {

// A .sigmf-meta file is a few kilobytes; the bound keeps a wrong path from
// being read whole.
constexpr std::uint64_t MAX_SIGMF_META_BYTES = 16ull << 20;
constexpr std::size_t READ_BLOCK_PAIRS = 65536;

bool ends_with(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  std::string_view end = text.substr(text.size() - tail.size());
  return std::equal(end.begin(), end.end(), tail.begin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

int describe_raw(const std::string& path, SampleFormat format, RecordingInfo* info, Failure* failure) {
  std::uint64_t length = 0;
  if (measure_regular_file(path.c_str(), &length) != 0) {
    *failure = Failure{quoted(path) + " cannot be read (missing, unreadable, or not a regular file)", "", path};
    return -1;
  }
  const std::size_t size = pair_bytes(format);
  if (length % size != 0) {
    *failure = Failure{quoted(path) + " holds " + std::to_string(length) + " bytes, not a whole number of " +
                           sample_format_name(format) + " I/Q pairs (" + std::to_string(size) + " bytes each)",
                       "is the format right? (--format " + sample_format_choices() + ")", path};
    return -1;
  }
  if (length == 0) {
    *failure = Failure{quoted(path) + " is empty", "", path};
    return -1;
  }
  info->data_path = path;
  info->kind = RecordingKind::RAW;
  info->format = format;
  info->pair_count = length / size;
  return 0;
}

int describe_wav(const std::string& path, RecordingInfo* info, Failure* failure) {
  std::uint64_t length = 0;
  if (measure_regular_file(path.c_str(), &length) != 0) {
    *failure = Failure{quoted(path) + " cannot be read (missing, unreadable, or not a regular file)", "", path};
    return -1;
  }
  SF_INFO sound_info{};
  SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &sound_info);
  if (sound == nullptr) {
    *failure = Failure{quoted(path) + " cannot be read as a WAV file: " + sf_strerror(nullptr), "", path};
    return -1;
  }
  sf_close(sound);
  if (sound_info.channels != 2) {
    *failure = Failure{quoted(path) + " has " + std::to_string(sound_info.channels) + " channels",
                       "an I/Q WAV file has two (I left, Q right)", path};
    return -1;
  }
  if (sound_info.frames <= 0) {
    *failure = Failure{quoted(path) + " holds no samples", "", path};
    return -1;
  }
  info->data_path = path;
  info->kind = RecordingKind::WAV;
  info->pair_count = static_cast<std::uint64_t>(sound_info.frames);
  info->sample_rate = sound_info.samplerate;
  return 0;
}

int describe_sigmf(const std::string& path, RecordingInfo* info, Failure* failure) {
  const std::string base = path.substr(0, path.size() - std::strlen(".sigmf-meta"));
  const std::string meta_path = base + ".sigmf-meta";
  std::vector<std::uint8_t> text;
  std::uint64_t length = 0;
  if (measure_regular_file(meta_path.c_str(), &length) == 0 && length > MAX_SIGMF_META_BYTES) {
    *failure = Failure{"SigMF metadata " + quoted(meta_path) + " is too large (" + std::to_string(length) +
                           " bytes; metadata is a few kilobytes, and kdsp reads at most " +
                           std::to_string(MAX_SIGMF_META_BYTES) + ")",
                       "is it the metadata half of the pair?", meta_path};
    return -1;
  }
  if (read_regular_file(meta_path.c_str(), MAX_SIGMF_META_BYTES, &text) != 0) {
    *failure =
        Failure{"SigMF metadata " + quoted(meta_path) + " cannot be read (missing, unreadable, or not a regular file)",
                "", meta_path};
    return -1;
  }
  SigmfMeta meta;
  if (parse_sigmf_meta(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), &meta, failure) !=
      0) {
    prefix_failure(failure, "SigMF metadata " + quoted(meta_path) + " cannot be used: ");
    failure->file = meta_path;
    return -1;
  }
  if (describe_raw(base + ".sigmf-data", meta.format, info, failure) != 0) return -1;
  info->sample_rate = meta.sample_rate;
  if (meta.has_centre) info->centre_hz = meta.centre_hz;
  // The datetime is that of the segment's first sample; the recording's
  // first pair came sample_start pairs earlier.
  if (meta.datetime && meta.sample_rate > 0.0) {
    UtcTime first;
    if (utc_time_before_samples(*meta.datetime, meta.sample_start, meta.sample_rate, &first) == 0) {
      info->start_time = first;
      info->start_source = "SigMF core:datetime";
    }
  }
  return 0;
}

// SDRangel's recordings: a 32-byte header with the rate, the centre and the
// start, then 16-bit pairs, or 24-bit samples in 32-bit words.
int describe_sdriq(const std::string& path, RecordingInfo* info, Failure* failure) {
  std::vector<std::uint8_t> head;
  std::uint64_t length = 0;
  if (measure_regular_file(path.c_str(), &length) != 0 ||
      read_regular_file_start(path.c_str(), SDRIQ_HEADER_BYTES, &head) != 0) {
    *failure = Failure{quoted(path) + " cannot be read (missing, unreadable, or not a regular file)", "", path};
    return -1;
  }
  SdriqHeader header;
  if (parse_sdriq_header(head, &header, failure) != 0) {
    prefix_failure(failure, quoted(path) + " is not an .sdriq recording kdsp can read: ");
    failure->file = path;
    return -1;
  }
  const SampleFormat format =
      sdriq_layout(header) == SdriqLayout::I16_PAIRS ? SampleFormat::CS16_LE : SampleFormat::CI32_LE;
  const std::uint64_t data_bytes = length - SDRIQ_DATA_OFFSET;
  if (data_bytes == 0 || data_bytes % pair_bytes(format) != 0) {
    *failure = Failure{quoted(path) + " holds " + std::to_string(data_bytes) + " bytes after its header, not a " +
                           "whole number of its " + std::to_string(header.sample_bits) + "-bit pairs",
                       "", path};
    return -1;
  }
  info->data_path = path;
  info->kind = RecordingKind::RAW;
  info->format = format;
  info->data_offset = SDRIQ_DATA_OFFSET;
  info->pair_count = data_bytes / pair_bytes(format);
  info->sample_rate = header.sample_rate;
  info->centre_hz = static_cast<double>(header.centre_hz);
  if (header.time_unit != SdriqTimeUnit::NONE) {
    info->start_time = header.start_time;
    info->start_source = "the .sdriq header";
  }
  return 0;
}

// What the names common recorders give their files say: a start time, and
// the centre, rate and format where the name tells them. A local time is
// taken as this machine's local time, and said so.
void take_recording_name(const std::string& path, RecordingInfo* info) {
  RecordingName name;
  if (parse_recording_name(path, &name) != 0) return;
  std::string said;
  if (name.centre_hz && !info->centre_hz) {
    info->centre_hz = name.centre_hz;
    said = "centre";
  }
  if (name.sample_rate && info->sample_rate <= 0.0) {
    info->sample_rate = *name.sample_rate;
    said += said.empty() ? "rate" : " and rate";
  }
  if (!said.empty()) info->name_said = said + " from the " + name.recorder + " file name";
  if (info->start_time) return;
  UtcTime start;
  Failure ignored;
  if (name.time_base == NameTimeBase::UTC) {
    if (utc_time_from_civil(name.start, &start) != 0) return;
    info->start_source = std::string("the ") + name.recorder + " file name";
  } else {
    if (utc_time_from_local(name.start, &start, &ignored) != 0) return;
    info->start_source = std::string("the ") + name.recorder + " file name, read as this machine's local time";
  }
  info->start_time = start;
}

// The raw format a recorder's name fixes (gqrx's .raw files are cf32).
std::optional<SampleFormat> format_from_recorder_name(const std::string& path) {
  RecordingName name;
  SampleFormat format = SampleFormat::CF32_LE;
  if (parse_recording_name(path, &name) != 0 || parse_sample_format(name.sample_format, &format) != 0) {
    return std::nullopt;
  }
  return format;
}

int describe_file(const RecordingRequest& request, RecordingInfo* info, Failure* failure) {
  const std::string& path = request.path;
  if (request.format) return describe_raw(path, *request.format, info, failure);
  if (ends_with(path, ".sigmf-meta") || ends_with(path, ".sigmf-data")) return describe_sigmf(path, info, failure);
  if (ends_with(path, ".wav")) return describe_wav(path, info, failure);
  if (ends_with(path, ".sdriq")) return describe_sdriq(path, info, failure);
  std::optional<SampleFormat> format = sample_format_from_name(path);
  if (!format) format = format_from_recorder_name(path);
  if (format) {
    if (describe_raw(path, *format, info, failure) != 0) return -1;
    // A kdsp capture is float32 pairs at the core's own rate.
    if (ends_with(path, ".iq")) info->sample_rate = IQ_SAMPLE_RATE;
    return 0;
  }
  *failure = Failure{"cannot tell the format of " + quoted(path) + " from its name",
                     "give --format (" + sample_format_choices() +
                         ") for raw I/Q, or name it .wav, .sigmf-meta, .sdriq, .iq, .cu8, .cs8, .cs16 or .cf32",
                     path};
  return -1;
}

}  // namespace

int describe_recording(const RecordingRequest& request, RecordingInfo* info, Failure* failure) {
  RecordingInfo described;
  if (describe_file(request, &described, failure) != 0) return -1;
  described.path = request.path;
  if (request.sample_rate > 0.0) described.sample_rate = request.sample_rate;
  if (request.centre_hz) described.centre_hz = request.centre_hz;
  if (request.start_time) {
    described.start_time = request.start_time;
    described.start_source = "--start-time";
  }
  take_recording_name(described.data_path, &described);
  if (described.sample_rate <= 0.0) {
    *failure = Failure{"the sample rate of " + quoted(request.path) + " is not known",
                       "give --rate (pairs per second, for example --rate 2.4M)", request.path};
    return -1;
  }
  if (!std::isfinite(described.sample_rate) || described.sample_rate < MIN_SAMPLE_RATE ||
      described.sample_rate > MAX_SAMPLE_RATE) {
    *failure = Failure{"the sample rate of " + quoted(request.path) + " (" + rate_text(described.sample_rate) +
                           ") is not one kdsp can use",
                       "give --rate between " + rate_text(MIN_SAMPLE_RATE) + " and " + rate_text(MAX_SAMPLE_RATE),
                       request.path};
    return -1;
  }
  described.description =
      std::string(described.kind == RecordingKind::WAV ? "WAV" : sample_format_name(described.format)) + " at " +
      rate_text(described.sample_rate) + " pairs/s";
  *info = std::move(described);
  return 0;
}

RecordingReader::~RecordingReader() {
  if (fd >= 0) ::close(fd);
  if (sound != nullptr) sf_close(sound);
}

int open_recording_reader(const RecordingInfo& info, RecordingReader* reader, Failure* failure) {
  reader->info = &info;
  if (info.kind == RecordingKind::WAV) {
    SF_INFO sound_info{};
    reader->sound = sf_open(info.data_path.c_str(), SFM_READ, &sound_info);
    if (reader->sound == nullptr) {
      *failure = Failure{quoted(info.path) + " cannot be read: " + sf_strerror(nullptr)};
      return -1;
    }
    return 0;
  }
  reader->fd = ::open(info.data_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (reader->fd < 0) {
    *failure = Failure{quoted(info.path) + " cannot be opened: " + std::strerror(errno)};
    return -1;
  }
  return 0;
}

namespace {

int read_raw_block(RecordingReader& reader, std::uint64_t first, std::size_t count, std::complex<float>* out,
                   Failure* failure) {
  const RecordingInfo& info = *reader.info;
  const std::size_t size = pair_bytes(info.format);
  reader.bytes.resize(count * size);
  std::size_t done = 0;
  while (done < reader.bytes.size()) {
    const ssize_t got = ::pread(reader.fd, reader.bytes.data() + done, reader.bytes.size() - done,
                                static_cast<off_t>(info.data_offset + first * size + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *failure =
          Failure{quoted(info.path) + " could not be read " +
                  (got < 0 ? std::string("(") + std::strerror(errno) + ")" : std::string("(it became shorter)"))};
      return -1;
    }
    done += static_cast<std::size_t>(got);
  }
  decode_pairs(info.format, reader.bytes.data(), count, out);
  return 0;
}

int read_wav_block(RecordingReader& reader, std::uint64_t first, std::size_t count, std::complex<float>* out,
                   Failure* failure) {
  const RecordingInfo& info = *reader.info;
  reader.frames.resize(2 * count);
  if (sf_seek(reader.sound, static_cast<sf_count_t>(first), SEEK_SET) < 0 ||
      sf_readf_float(reader.sound, reader.frames.data(), static_cast<sf_count_t>(count)) !=
          static_cast<sf_count_t>(count)) {
    *failure = Failure{quoted(info.path) + " could not be read: " + sf_strerror(reader.sound)};
    return -1;
  }
  for (std::size_t i = 0; i < count; ++i) out[i] = {reader.frames[2 * i], reader.frames[2 * i + 1]};
  return 0;
}

}  // namespace

int read_recording_pairs(RecordingReader& reader, std::int64_t first, std::size_t count, std::complex<float>* out,
                         Failure* failure) {
  const auto total = static_cast<std::int64_t>(reader.info->pair_count);
  std::fill(out, out + count, std::complex<float>{});
  const std::int64_t begin = std::max<std::int64_t>(first, 0);
  const std::int64_t end = std::min<std::int64_t>(first + static_cast<std::int64_t>(count), total);
  for (std::int64_t at = begin; at < end;) {
    const auto block = static_cast<std::size_t>(std::min<std::int64_t>(end - at, READ_BLOCK_PAIRS));
    std::complex<float>* target = out + (at - first);
    const int read = reader.info->kind == RecordingKind::WAV
                         ? read_wav_block(reader, static_cast<std::uint64_t>(at), block, target, failure)
                         : read_raw_block(reader, static_cast<std::uint64_t>(at), block, target, failure);
    if (read != 0) return -1;
    at += static_cast<std::int64_t>(block);
  }
  return 0;
}

}  // namespace kdsp
