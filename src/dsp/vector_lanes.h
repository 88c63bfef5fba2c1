// Choice of vector width for the signal functions.
//
// The optimised loops come in two widths with the same results bit for bit:
// AVX2 where the processor has it, SSE2 (the build's baseline) elsewhere.
// Tests switch the wide lanes off to check the narrow ones on any machine.
#pragma once

namespace kdsp {

// True when the AVX2 lanes are to be used: the processor has AVX2 and the
// test seam has not switched them off.
bool use_avx2_lanes();

// Test seam: false makes every signal function take the SSE2 lanes; true
// goes back to the processor's choice.
void allow_avx2_lanes(bool allowed);

}  // namespace kdsp
