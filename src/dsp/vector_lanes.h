// Vector types and the choice of vector width for the signal functions.
//
// The optimised loops come in two widths with the same results bit for bit:
// AVX2 where the processor has it, SSE2 (the build's baseline) elsewhere.
// Tests switch the wide lanes off to check the narrow ones on any machine.
#pragma once

namespace kdsp {

// Two and four doubles side by side (the GCC vector extension, which clang
// knows too): operators work lane by lane, each result rounded on its own as
// the scalar operation would be. Double4 belongs in functions compiled with
// __attribute__((target("avx2"))) only, never with "fma": a fused
// multiply-add rounds a product and a sum together.
typedef double Double2 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

// True when the AVX2 lanes are to be used: the processor has AVX2 and the
// tests have not switched them off (detail::allow_avx2_lanes).
bool use_avx2_lanes();

}  // namespace kdsp
