// The metadata half of a SigMF recording (NAME.sigmf-meta beside
// NAME.sigmf-data): what kdsp-rx needs to read the data half.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "radio/base/failure.h"
#include "radio/io/sample_format.h"
#include "radio/meta/utc_time.h"

namespace kdsp {

struct SigmfMeta {
  SampleFormat format = SampleFormat::CF32_LE;
  double sample_rate = 0.0;  // 0: not given
  bool has_centre = false;
  double centre_hz = 0.0;  // the first capture segment's core:frequency
  // The first capture segment's core:datetime: the instant of its first
  // sample, which is sample core:sample_start of the data.
  std::optional<UtcTime> datetime;
  std::uint64_t sample_start = 0;
};

// Reads the JSON text of a .sigmf-meta file. 0 with `*meta` filled, or -1
// with `*error` saying what is wrong (not JSON, a datatype that is not
// complex cu8, ci8, ci16_le or cf32_le, a rate that is not a positive
// number, more than one channel).
int parse_sigmf_meta(std::string_view json_text, SigmfMeta* meta, Failure* failure);

// The JSON text of a .sigmf-meta file describing `meta`: one complex channel
// of its datatype at its rate, and its centre when it has one. What
// parse_sigmf_meta reads back as the same record.
std::string sigmf_meta_text(const SigmfMeta& meta);

}  // namespace kdsp
