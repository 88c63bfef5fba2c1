// Scratch directories and the input files the tests write themselves.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "base/result_code.h"

namespace kdsp {

// Failure messages name a result code instead of showing its bytes.
inline void PrintTo(ResultCode code, std::ostream* os) { *os << result_name(code) << " (" << exit_status(code) << ")"; }

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary folder, removed with all its
// contents when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);
// The same for text; a file that cannot be read reads as empty.
void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);

// A kernel image file: header, words, data section.
Bytes kernel_file(const std::vector<std::uint32_t>& words, const Bytes& data = {}, std::uint32_t entry = 0);

// A capture file of interleaved I/Q float values.
Bytes capture_file(const std::vector<float>& values);

// A capture file of `pair_count` pairs holding a complex tone at `tone_hz`
// (sampled at 240 000 pairs per second) frequency-modulated by an audio tone:
// deviation `deviation_hz` at `audio_hz`; audio_hz 0 gives a plain carrier.
Bytes fm_capture_file(std::uint64_t pair_count, double carrier_hz, double audio_hz, double deviation_hz);

}  // namespace kdsp
