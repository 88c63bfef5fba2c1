#include "radio/spectrum/recording_spectrum.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace kdsp {

namespace {

constexpr std::uint64_t SPECTRUM_BLOCK_PAIRS = 65536;

bool all_finite(const std::vector<std::complex<float>>& pairs) {
  return std::all_of(pairs.begin(), pairs.end(),
                     [](std::complex<float> pair) { return std::isfinite(pair.real()) && std::isfinite(pair.imag()); });
}

}  // namespace

int add_recording_stretch(RecordingReader& reader, std::uint64_t first, std::uint64_t count,
                          SpectrumAccumulator* accumulator, Failure* failure) {
  std::vector<std::complex<float>> block;
  break_spectrum_stream(accumulator);
  for (std::uint64_t done = 0; done < count;) {
    block.resize(static_cast<std::size_t>(std::min(count - done, SPECTRUM_BLOCK_PAIRS)));
    if (read_recording_pairs(reader, static_cast<std::int64_t>(first + done), block.size(), block.data(), failure) !=
        0) {
      return -1;
    }
    if (!all_finite(block)) {
      *failure = Failure{"'" + reader.info->path + "' holds a value that is not a finite number"};
      return -1;
    }
    accumulator->dropouts.add(first + done, block);
    add_spectrum_pairs(accumulator, block);
    done += block.size();
  }
  return 0;
}

}  // namespace kdsp
