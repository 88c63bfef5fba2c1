#include "reference_wav.h"

#include <sndfile.h>

#include <cstring>

#include "common/atomic_output.h"

namespace kdsp {

int write_reference_wav(const std::string& path, const SourceAudio& audio, std::string* error) {
  AtomicOutput out;
  int open_error = atomic_output_open(path.c_str(), &out);
  if (open_error != 0) {
    *error = "cannot create '" + path + "': " + std::strerror(open_error);
    return -1;
  }
  SF_INFO info{};
  info.samplerate = static_cast<int>(audio.sample_rate);
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open_fd(out.fd, SFM_WRITE, &info, SF_FALSE);
  if (file == nullptr) {
    *error = "cannot write '" + path + "': " + sf_strerror(nullptr);
    return -1;
  }
  // A peak of exactly 1.0 must not wrap around to the most negative sample.
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  auto frames = static_cast<sf_count_t>(audio.samples.size());
  bool written = sf_writef_float(file, audio.samples.data(), frames) == frames;
  bool closed = sf_close(file) == 0;
  if (!written || !closed) {
    *error = "cannot write '" + path + "'";
    return -1;
  }
  int commit_error = atomic_output_commit(out);
  if (commit_error != 0) {
    *error = "cannot write '" + path + "': " + std::strerror(commit_error);
    return -1;
  }
  return 0;
}

}  // namespace kdsp
