// The metadata half of a SigMF recording (NAME.sigmf-meta beside
// NAME.sigmf-data): what kdsp-rx needs to read the data half.
#pragma once

#include <string>
#include <string_view>

#include "common/sample_format.h"

namespace kdsp {

struct SigmfMeta {
  SampleFormat format = SampleFormat::CF32_LE;
  double sample_rate = 0.0;  // 0: not given
  bool has_centre = false;
  double centre_hz = 0.0;  // the first capture segment's core:frequency
};

// Reads the JSON text of a .sigmf-meta file. 0 with `*meta` filled, or -1
// with `*error` saying what is wrong (not JSON, a datatype that is not
// complex cu8, ci8, ci16_le or cf32_le, a rate that is not a positive
// number, more than one channel).
int parse_sigmf_meta(std::string_view json_text, SigmfMeta* meta, std::string* error);

}  // namespace kdsp
