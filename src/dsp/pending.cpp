// Placeholders until the signal chain lands.
#include "dsp/fm_demod.h"
#include "dsp/freq_shift.h"
int fm_demodulate(const float*, std::uint64_t, std::int32_t, AudioBuffer**) { return -1; }
int frequency_shift(const AudioBuffer*, std::uint32_t, AudioBuffer**) { return -1; }
