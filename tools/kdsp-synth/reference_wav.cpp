#include "kdsp-synth/reference_wav.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "base/output_file.h"

namespace kdsp {

namespace {

// A file in memory for libsndfile's virtual I/O: it seeks back to fill in the
// header's sizes, so the bytes are kept whole and handed to the core's
// writer only once complete.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  sf_count_t position = 0;
};

MemoryFile& file_of(void* user) { return *static_cast<MemoryFile*>(user); }

sf_count_t memory_length(void* user) { return static_cast<sf_count_t>(file_of(user).bytes.size()); }

sf_count_t memory_seek(sf_count_t offset, int whence, void* user) {
  MemoryFile& file = file_of(user);
  sf_count_t base = 0;
  if (whence == SEEK_CUR) base = file.position;
  if (whence == SEEK_END) base = static_cast<sf_count_t>(file.bytes.size());
  if (base + offset < 0) return -1;
  file.position = base + offset;
  return file.position;
}

sf_count_t memory_read(void* data, sf_count_t count, void* user) {
  MemoryFile& file = file_of(user);
  const sf_count_t size = static_cast<sf_count_t>(file.bytes.size());
  const sf_count_t available = std::clamp<sf_count_t>(size - file.position, 0, count);
  if (available > 0) std::memcpy(data, file.bytes.data() + file.position, static_cast<std::size_t>(available));
  file.position += available;
  return available;
}

// No exception may cross libsndfile's C frames: running out of memory is a
// short write, which libsndfile reports.
sf_count_t memory_write(const void* data, sf_count_t count, void* user) {
  MemoryFile& file = file_of(user);
  const auto end = static_cast<std::size_t>(file.position + count);
  try {
    if (end > file.bytes.size()) file.bytes.resize(end);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::memcpy(file.bytes.data() + file.position, data, static_cast<std::size_t>(count));
  file.position += count;
  return count;
}

sf_count_t memory_tell(void* user) { return file_of(user).position; }

// 0 with `*wav` holding the whole file, else -1.
int encode_reference_wav(const SourceAudio& audio, MemoryFile* wav) {
  SF_VIRTUAL_IO io{memory_length, memory_seek, memory_read, memory_write, memory_tell};
  SF_INFO info{};
  info.samplerate = static_cast<int>(audio.sample_rate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, wav);
  if (file == nullptr) return -1;
  // A peak of exactly 1.0 must not wrap around to the most negative sample.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  auto frames = static_cast<sf_count_t>(audio.samples.size());
  const bool written = sf_writef_float(file, audio.samples.data(), frames) == frames;
  const bool closed = sf_close(file) == 0;
  return written && closed ? 0 : -1;
}

}  // namespace

int write_reference_wav(const std::string& path, const SourceAudio& audio, Failure* failure) {
  MemoryFile wav;
  if (encode_reference_wav(audio, &wav) != 0) {
    *failure = Failure{"cannot encode the audio for '" + path + "'"};
    return -1;
  }
  if (write_output(path.c_str(), wav.bytes.data(), wav.bytes.size()) != 0) {
    *failure = Failure{"cannot write '" + path + "'"};
    return -1;
  }
  return 0;
}

}  // namespace kdsp
