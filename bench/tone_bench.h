// The tone decoder's cost: CPU per second of transmission on an FM channel
// carrying a voice band tone and a CTCSS or DCS tone at 15 % of the
// deviation, in noise, and the cost of making a decoder, paid once per
// transmission.
#pragma once

#include <cstdint>

namespace kdsp {

// Registers the benchmarks on `seconds` of signal.
void register_tone_benchmarks(std::uint64_t seconds);

}  // namespace kdsp
