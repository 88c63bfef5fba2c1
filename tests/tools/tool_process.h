// Running the companion tools as processes in a scratch directory, and
// reading back what they write.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/test_files.h"

namespace kdsp {

// Path of a built companion tool, e.g. tool_path("kdsp-synth").
std::string tool_path(const std::string& name);

// A tool's run: status, standard output and standard error.
using ToolRun = ProcessResult;

inline ToolRun run_tool(const std::string& program, const std::vector<std::string>& args) {
  return run_process(program, args);
}

// kdsp-rx's kernels: a source that demodulates where kdsp-rx placed the
// channel (OFFSET_HZ) and shifts the audio by SHIFT_HZ, which its line 5
// names and a -D must define.
inline const std::string SHIFTING_KERNEL_SOURCE =
    "; demodulate where kdsp-rx placed the channel, then shift down\n"
    "main:   GETIQ   r2\n"
    "        LI32    r4, OFFSET_HZ\n"
    "        FMDEMOD r3, r2, r4\n"
    "        LI      r5, SHIFT_HZ\n"
    "        FSHIFT  r1, r3, r5\n"
    "        EMIT\n"
    "        HALT\n";

// A capture's pairs; empty when the file cannot be read.
std::vector<std::complex<float>> read_pairs(const std::string& path);

// Writes pairs as a capture.
void write_pairs(const std::string& path, const std::vector<std::complex<float>>& pairs);

// The audio that frequency-modulated a lone, noise-free channel, recovered
// exactly from the phase step between pairs: deviation in Hz per pair.
std::vector<double> recover_deviation_hz(const std::vector<std::complex<float>>& pairs, double offset_hz);

// Frequency of a tone from its upward zero crossings.
double zero_crossing_hz(const std::vector<double>& signal, std::size_t first, std::size_t count, double sample_rate);

// One channel line of kdsp-scan's report.
struct ScanLine {
  double offset_hz;
  double level_db;
  double cnr_db;
  double width_hz;
};
std::vector<ScanLine> parse_scan_report(const std::string& report);

// A mono audio file's samples and rate (libsndfile); empty when it cannot be
// read or is not mono.
std::vector<float> read_mono_wav(const std::string& path, int* sample_rate);

}  // namespace kdsp
