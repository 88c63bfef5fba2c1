// Mathematical constants, named once for the whole tool.
#pragma once

#include <numbers>

namespace kdsp {

inline constexpr double PI = std::numbers::pi;  // 3.141592653589793
inline constexpr double TWO_PI = 2.0 * PI;      // 6.283185307179586, exact doubling

}  // namespace kdsp
