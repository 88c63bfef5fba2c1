#include "tools/tool_process.h"

#include <sndfile.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/numbers.h"

namespace kdsp {

std::string tool_path(const std::string& name) { return std::string(KDSP_TOOLS_DIR) + "/" + name + "/" + name; }

std::vector<std::complex<float>> read_pairs(const std::string& path) {
  std::vector<std::uint8_t> bytes = read_file(path);
  std::vector<std::complex<float>> pairs(bytes.size() / 8);
  // The tests run on little-endian hosts, where the file's bytes are the floats.
  std::memcpy(pairs.data(), bytes.data(), pairs.size() * 8);
  return pairs;
}

void write_pairs(const std::string& path, const std::vector<std::complex<float>>& pairs) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(pairs.data()), static_cast<std::streamsize>(pairs.size() * 8));
}

std::vector<double> recover_deviation_hz(const std::vector<std::complex<float>>& pairs, double offset_hz) {
  std::vector<double> deviation;
  for (std::size_t n = 0; n + 1 < pairs.size(); ++n) {
    std::complex<double> step = std::complex<double>(pairs[n + 1]) * std::conj(std::complex<double>(pairs[n]));
    deviation.push_back(std::arg(step) * 240000.0 / (TWO_PI)-offset_hz);
  }
  return deviation;
}

double zero_crossing_hz(const std::vector<double>& signal, std::size_t first, std::size_t count, double sample_rate) {
  int crossings = 0;
  std::size_t first_crossing = 0;
  std::size_t last_crossing = 0;
  for (std::size_t n = first + 1; n < first + count && n < signal.size(); ++n) {
    if (signal[n - 1] < 0.0 && signal[n] >= 0.0) {
      if (crossings == 0) first_crossing = n;
      last_crossing = n;
      ++crossings;
    }
  }
  if (crossings < 2) return 0.0;
  return (crossings - 1) * sample_rate / static_cast<double>(last_crossing - first_crossing);
}

std::vector<ScanLine> parse_scan_report(const std::string& report) {
  std::vector<ScanLine> lines;
  std::istringstream in(report);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ScanLine parsed{};
    if (std::sscanf(line.c_str(), "%lf %lf %lf %lf", &parsed.offset_hz, &parsed.level_db, &parsed.cnr_db,
                    &parsed.width_hz) == 4) {
      lines.push_back(parsed);
    }
  }
  return lines;
}

std::vector<float> read_mono_wav(const std::string& path, int* sample_rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr || info.channels != 1) {
    if (file != nullptr) sf_close(file);
    return {};
  }
  std::vector<float> samples(static_cast<std::size_t>(info.frames));
  sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  *sample_rate = info.samplerate;
  return samples;
}

}  // namespace kdsp
