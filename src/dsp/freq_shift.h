#pragma once
#include <cstdint>
#include "dsp/audio_buffer.h"
int frequency_shift(const AudioBuffer* in, std::uint32_t shift_hz, AudioBuffer** out);
