#include "dsp/vector_lanes.h"

#include "dsp/detail.h"

namespace kdsp {

namespace {

bool avx2_allowed = true;

}  // namespace

bool use_avx2_lanes() {
  static const bool has_avx2 = __builtin_cpu_supports("avx2");
  return has_avx2 && avx2_allowed;
}

void detail::allow_avx2_lanes(bool allowed) { avx2_allowed = allowed; }

}  // namespace kdsp
