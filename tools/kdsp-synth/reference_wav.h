// The modulating audio as a WAV file, so that a demodulated result can be
// compared with what went in.
#pragma once

#include <string>

#include "kdsp-synth/audio_source.h"
#include "radio/base/failure.h"

namespace kdsp {

// Writes `audio` as 16-bit mono PCM WAV to `path`, whole or not at all.
// 0, or -1 with `*error` set.
int write_reference_wav(const std::string& path, const SourceAudio& audio, Failure* failure);

}  // namespace kdsp
