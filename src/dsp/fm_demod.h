#pragma once
#include <cstdint>
#include "dsp/audio_buffer.h"
int fm_demodulate(const float* iq_samples, std::uint64_t pair_count, std::int32_t offset_hz, AudioBuffer** result);
