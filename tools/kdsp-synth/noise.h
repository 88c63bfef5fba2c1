// Reproducible randomness for captures: a small generator whose sequence is
// fixed by its seed on every platform (the standard library's distributions
// are not), and complex Gaussian noise drawn from it.
#pragma once

#include <complex>
#include <cstdint>

namespace kdsp {

// xoshiro256** state, seeded through splitmix64.
struct RandomStream {
  std::uint64_t state[4];
};

RandomStream make_random_stream(std::uint64_t seed);

// Next 64 random bits.
std::uint64_t next_random_bits(RandomStream& stream);

// Uniform in [0, 1), 53 random bits.
double next_uniform(RandomStream& stream);

// Circular complex Gaussian with total power `power` (half in each part).
std::complex<double> next_complex_gaussian(RandomStream& stream, double power);

}  // namespace kdsp
