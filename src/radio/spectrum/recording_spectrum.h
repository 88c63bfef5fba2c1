// A recording's pairs streamed into a spectrum in blocks, so that a
// recording of any length is scanned in the same memory.
#pragma once

#include <cstdint>
#include <string>

#include "radio/base/failure.h"
#include "radio/io/recording.h"
#include "radio/spectrum/spectrum.h"

namespace kdsp {

// Adds pairs first .. first + count - 1 of the recording to `accumulator` as
// one stretch. 0, or -1 with `*error` naming the file when it cannot be read
// or holds a value that is not a finite number.
int add_recording_stretch(RecordingReader& reader, std::uint64_t first, std::uint64_t count,
                          SpectrumAccumulator* accumulator, Failure* failure);

}  // namespace kdsp
