// Quantities as messages and file names print them.
#pragma once

#include <cstdint>
#include <string>

namespace kdsp {

// "145512500 Hz": to the hertz, as channels are named.
std::string hz_text(double hz);

// "2400000": a rate without trailing zeros, as a user would type it.
std::string rate_text(double rate);

}  // namespace kdsp
