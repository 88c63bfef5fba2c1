// Everything kdsp-rx takes from the core, in one place: running a kernel on a
// capture held in memory exactly as kdsp runs it on a capture file, the WAV
// image it returns, the atomic output writer, and the core's file readers.
// Nothing else in the tool includes a core header, so that a change in the
// core's interfaces is met here alone.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

// The core's fixed figures, as kdsp-rx needs them.
extern const std::uint32_t CORE_PAIR_RATE;         // pairs per second of a capture
extern const std::uint64_t CORE_MAX_PAIRS;         // the longest capture
extern const std::uint64_t CORE_MIN_PAIRS;         // the shortest capture that gives audio
extern const std::uint32_t CORE_AUDIO_RATE;        // samples per second of the WAV
extern const std::uint32_t CORE_PAIRS_PER_SAMPLE;  // capture pairs per audio sample
extern const std::int32_t CORE_MAX_OFFSET_HZ;      // the farthest channel a kernel reaches
extern const std::uint64_t CORE_WAV_HEADER_BYTES;
extern const std::uint64_t CORE_WAV_MAX_SAMPLES;

// A kernel image file's bytes, checked once: 0, or -1 with `*reason` set to
// the core's reason for refusing it.
int check_kernel_bytes(std::span<const std::uint8_t> image, std::string* reason);

// Runs the kernel image on a capture of `pair_count` interleaved I/Q pairs at
// CORE_PAIR_RATE, as kdsp runs it on a capture file holding those floats.
// 0 with `*wav` holding the WAV file kdsp would write, or -1 with `*error`
// saying why the core refused the capture or the kernel failed.
int run_kernel_on_capture(std::span<const std::uint8_t> kernel_image, const float* iq_values, std::uint64_t pair_count,
                          std::vector<std::uint8_t>* wav, Failure* failure);

// 0 when the core's WAV holds `expected` audio samples, else -1 with
// `*cause` saying how many the kernel emitted.
int check_emitted_samples(std::span<const std::uint8_t> wav, std::uint64_t expected, Failure* failure);

// Writes `bytes` atomically to `path`, or to standard output when `path` is
// null, with the core's writer. 0, or -1.
int write_output_file(const char* path, std::span<const std::uint8_t> bytes);

// The same writer in parts, so that a long WAV never sits in memory whole:
// open (null `path`: standard output), append parts in order, commit. Until
// the commit a file keeps its old contents; a stream not committed, failed
// or dropped leaves nothing behind. Each call: 0, or -1.
struct OutputStream;  // the core's
struct OutputStreamRelease {
  void operator()(OutputStream* stream) const;
};
using StreamedOutput = std::unique_ptr<OutputStream, OutputStreamRelease>;
int open_streamed_output(const char* path, StreamedOutput* out);
int append_streamed_output(OutputStream* out, std::span<const std::uint8_t> bytes);
int commit_streamed_output(StreamedOutput* out);

}  // namespace kdsp
