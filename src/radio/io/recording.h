// Recordings kdsp-rx reads: raw interleaved I/Q (cu8, cs8, cs16, cf32,
// cs32), kdsp captures (.iq), two-channel WAV files, SigMF pairs and
// SDRangel's .sdriq files; where a recording says when it began (SigMF
// metadata, an .sdriq header, the names common recorders give their files),
// that too. A recording is first
// described (format, rate, centre, length, every check that needs no sample),
// then read in blocks from any position by readers that each own their file
// handle, so that pieces can be read side by side.
#pragma once

#include <sndfile.h>

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/io/channel_width.h"
#include "radio/io/sample_format.h"
#include "radio/meta/utc_time.h"

namespace kdsp {

enum class RecordingKind { RAW, WAV };

// What the command line says about a recording.
struct RecordingRequest {
  std::string path;
  std::optional<SampleFormat> format;  // --format: read the file as raw samples
  double sample_rate = 0.0;            // --rate; 0: from the file
  std::optional<double> centre_hz;     // --center
  std::optional<UtcTime> start_time;   // --start-time: the first pair's instant
};

struct RecordingInfo {
  std::string path;       // as given, for messages
  std::string data_path;  // the file holding the samples (the .sigmf-data of a pair)
  RecordingKind kind = RecordingKind::RAW;
  SampleFormat format = SampleFormat::CF32_LE;  // raw files only
  std::uint64_t pair_count = 0;
  double sample_rate = 0.0;
  std::optional<double> centre_hz;
  std::uint64_t data_offset = 0;  // bytes before the first pair (an .sdriq header)
  // When the first pair was taken, and what said so ("SigMF core:datetime",
  // "the gqrx file name", ...); times are then computed from pair counts.
  std::optional<UtcTime> start_time;
  std::string start_source;
  // What the file's name said besides ("centre and rate from the gqrx file
  // name"), for the user; empty when nothing.
  std::string name_said;
  std::string description;  // "cu8 at 2400000 pairs/s", for the user
};



// Describes the recording: 0 with `*info` filled, or -1 with `*error`
// naming the file, the cause and the fix.
int describe_recording(const RecordingRequest& request, RecordingInfo* info, Failure* failure);

// One reader of a described recording: its own file handle.
struct RecordingReader {
  const RecordingInfo* info = nullptr;
  int fd = -1;
  SNDFILE* sound = nullptr;
  std::vector<std::uint8_t> bytes;  // raw block buffer
  std::vector<float> frames;        // WAV block buffer

  RecordingReader() = default;
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;
  ~RecordingReader();
};

// Opens a reader. 0, or -1 with `*error` set.
int open_recording_reader(const RecordingInfo& info, RecordingReader* reader, Failure* failure);

// Reads pairs first .. first + count - 1 into `out`; positions before the
// start or past the end of the recording read as zero. 0, or -1 with
// `*error` set when the file cannot be read.
int read_recording_pairs(RecordingReader& reader, std::int64_t first, std::size_t count, std::complex<float>* out,
                         Failure* failure);

}  // namespace kdsp
