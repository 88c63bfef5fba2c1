#include "kdsp-synth/noise.h"

#include <cmath>

#include "base/numbers.h"

namespace kdsp {

namespace {

std::uint64_t splitmix64(std::uint64_t& x) {
  x += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = x;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t rotate_left(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

}  // namespace

RandomStream make_random_stream(std::uint64_t seed) {
  RandomStream stream{};
  for (std::uint64_t& word : stream.state) word = splitmix64(seed);
  return stream;
}

std::uint64_t next_random_bits(RandomStream& stream) {
  std::uint64_t* s = stream.state;
  std::uint64_t result = rotate_left(s[1] * 5, 7) * 9;
  std::uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotate_left(s[3], 45);
  return result;
}

double next_uniform(RandomStream& stream) { return static_cast<double>(next_random_bits(stream) >> 11) * 0x1.0p-53; }

std::complex<double> next_complex_gaussian(RandomStream& stream, double power) {
  // Box-Muller: one pair of uniforms gives one complex value. 1 - u keeps the
  // logarithm's argument in (0, 1].
  double radius = std::sqrt(-power * std::log(1.0 - next_uniform(stream)));
  double angle = TWO_PI * next_uniform(stream);
  return std::polar(radius, angle);
}

}  // namespace kdsp
