#include "dsp/fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/numbers.h"
#include "dsp/vector_lanes.h"

namespace kdsp {

// Every result bit is fixed by the plain algorithm: bit-reversal, then one
// radix-2 stage after the other, each butterfly t = v * w, u + t, u - t with
// every product rounded on its own, and the stage's twiddles walked from
// (1, 0) by repeated multiplication with the stage's (cos, sin). The speed
// comes only from the order of independent work:
//   - each stage's twiddles are walked once into a table (every block of a
//     stage sees the same values, so walking once or per block is the same);
//   - the stages up to SMALL_BLOCK elements run block by block while the
//     block sits in cache;
//   - the larger stages run two at a time over chunks of the array, so the
//     array streams through memory once per two stages;
//   - neighbouring butterflies share vector lanes, with separate multiply and
//     add instructions (never fused).
// Not allowed, because each changes bits: skipping a multiplication by
// (1, 0), exact rotations by -i, radix-4 butterflies, twiddles from sincos.

namespace {

// Elements per cache block of the small stages, and twiddles per table chunk
// of the large ones: both sized for the second-level cache.
constexpr std::uint64_t SMALL_BLOCK = 8192;
constexpr std::uint64_t TWIDDLE_CHUNK = 1024;

// ---- Bit reversal ---------------------------------------------------------

std::uint64_t reverse_bits(std::uint64_t value, unsigned bits) {
  std::uint64_t reversed = 0;
  for (unsigned b = 0; b < bits; ++b) reversed |= ((value >> b) & 1u) << (bits - 1 - b);
  return reversed;
}

// The textbook exchange loop, for small arrays.
void bit_reverse_plain(Complex* x, std::uint64_t n) {
  std::uint64_t j = 0;
  for (std::uint64_t i = 1; i < n; ++i) {
    std::uint64_t bit = n / 2;
    while ((j & bit) != 0) {
      j ^= bit;
      bit /= 2;
    }
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
}

// Tiled reversal: an index is (high TILE_BITS, middle, low TILE_BITS) and
// its reversal is (rev low, rev middle, rev high). The 16 x 16 elements that
// share a middle value are gathered row by row (runs of 16 neighbours), and
// scattered row by row into the tile of the reversed middle, so that every
// cache line is read once and written once.
constexpr unsigned TILE_BITS = 4;
constexpr std::uint64_t TILE = std::uint64_t{1} << TILE_BITS;
constexpr std::uint8_t TILE_REVERSED[TILE] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

void gather_tile(const Complex* x, std::uint64_t row_stride, std::uint64_t mid_offset, Complex (&tile)[TILE][TILE]) {
  for (std::uint64_t hi = 0; hi < TILE; ++hi) {
    for (std::uint64_t lo = 0; lo < TILE; ++lo) tile[hi][lo] = x[hi * row_stride + mid_offset + lo];
  }
}

// Element (hi, lo) of the tile goes to row rev(lo), column rev(hi).
void scatter_tile(Complex* x, std::uint64_t row_stride, std::uint64_t mid_offset, const Complex (&tile)[TILE][TILE]) {
  for (std::uint64_t row = 0; row < TILE; ++row) {
    const std::uint64_t lo = TILE_REVERSED[row];
    for (std::uint64_t col = 0; col < TILE; ++col) {
      x[row * row_stride + mid_offset + col] = tile[TILE_REVERSED[col]][lo];
    }
  }
}

void bit_reverse_permute(Complex* x, std::uint64_t n, unsigned log2_n) {
  if (log2_n < 2 * TILE_BITS + 2) {
    bit_reverse_plain(x, n);
    return;
  }
  const unsigned mid_bits = log2_n - 2 * TILE_BITS;
  const std::uint64_t row_stride = std::uint64_t{1} << (mid_bits + TILE_BITS);
  Complex first[TILE][TILE];
  Complex second[TILE][TILE];
  for (std::uint64_t mid = 0; mid < (std::uint64_t{1} << mid_bits); ++mid) {
    const std::uint64_t mirrored = reverse_bits(mid, mid_bits);
    if (mirrored < mid) continue;  // exchanged when the pair's first member came by
    gather_tile(x, row_stride, mid << TILE_BITS, first);
    if (mirrored != mid) {
      gather_tile(x, row_stride, mirrored << TILE_BITS, second);
      scatter_tile(x, row_stride, mid << TILE_BITS, second);
    }
    scatter_tile(x, row_stride, mirrored << TILE_BITS, first);
  }
}

// The zero-padded real signal of fft_radix2_padded_real, element by element.
struct PaddedReal {
  const float* x;
  std::uint64_t count;
  std::uint64_t offset;
  Complex at(std::uint64_t index) const {
    // Below the offset the difference wraps round to a huge value.
    const std::uint64_t i = index - offset;
    return i < count ? Complex{static_cast<double>(x[i]), 0.0} : Complex{0.0, 0.0};
  }
};

// Elements first .. first + TILE - 1 of the padded signal; a row wholly
// inside the signal or wholly in the padding goes without a test per element.
void gather_padded_row(const PaddedReal& source, std::uint64_t first, Complex (&row)[TILE]) {
  const std::uint64_t end = source.offset + source.count;
  if (first >= source.offset && first + TILE <= end) {
    const float* x = source.x + (first - source.offset);
    for (std::uint64_t lo = 0; lo < TILE; ++lo) row[lo] = Complex{static_cast<double>(x[lo]), 0.0};
  } else if (first + TILE <= source.offset || first >= end) {
    for (std::uint64_t lo = 0; lo < TILE; ++lo) row[lo] = Complex{0.0, 0.0};
  } else {
    for (std::uint64_t lo = 0; lo < TILE; ++lo) row[lo] = source.at(first + lo);
  }
}

// The padded signal written to x in bit-reversed order: each tile is
// gathered from the signal and scattered to its mirrored place, so that the
// zeros and the signal are written once, already where the stages want them.
void bit_reverse_from_padded(const PaddedReal& source, Complex* x, std::uint64_t n, unsigned log2_n) {
  if (log2_n < 2 * TILE_BITS + 2) {
    for (std::uint64_t i = 0; i < n; ++i) x[i] = source.at(i);
    bit_reverse_plain(x, n);
    return;
  }
  const unsigned mid_bits = log2_n - 2 * TILE_BITS;
  const std::uint64_t row_stride = std::uint64_t{1} << (mid_bits + TILE_BITS);
  Complex tile[TILE][TILE];
  for (std::uint64_t mid = 0; mid < (std::uint64_t{1} << mid_bits); ++mid) {
    for (std::uint64_t hi = 0; hi < TILE; ++hi)
      gather_padded_row(source, hi * row_stride + (mid << TILE_BITS), tile[hi]);
    scatter_tile(x, row_stride, reverse_bits(mid, mid_bits) << TILE_BITS, tile);
  }
}

// ---- Twiddles -------------------------------------------------------------

// The stage's rotation step: the one trigonometric evaluation per stage.
Complex stage_step(std::uint64_t len, bool inverse) {
  const double base = inverse ? TWO_PI : -TWO_PI;
  Complex step{0.0, 0.0};
  ::sincos(base / static_cast<double>(len), &step.im, &step.re);
  return step;
}

// Writes `count` twiddles starting from `w` and leaves `w` at the next one.
void walk_twiddles(Complex& w, const Complex& step, Complex* out, std::uint64_t count) {
  for (std::uint64_t j = 0; j < count; ++j) {
    out[j] = w;
    w = Complex{step.re * w.re - step.im * w.im, step.im * w.re + step.re * w.im};
  }
}

// ---- Butterflies ----------------------------------------------------------

// Vectors of one (Double2) or two (Double4) complex values, re then im, and
// the lane shuffles that a complex product needs (__builtin_shufflevector,
// which GCC and clang both know, so the fuzz build compiles the same code).
// Everything here is inlined into the per-target entry points below, so no
// 256-bit vector ever crosses a call, and the ABI note about passing them
// does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
struct OneComplex {
  using V = Double2;
  static constexpr std::uint64_t COMPLEX_PER_VECTOR = 1;
  static V real_parts(V w) { return __builtin_shufflevector(w, w, 0, 0); }
  static V imag_parts(V w) { return __builtin_shufflevector(w, w, 1, 1); }
  static V swapped(V v) { return __builtin_shufflevector(v, v, 1, 0); }
  static V re_from_first_im_from_second(V a, V b) { return __builtin_shufflevector(a, b, 0, 3); }
};
struct TwoComplex {
  using V = Double4;
  static constexpr std::uint64_t COMPLEX_PER_VECTOR = 2;
  static V real_parts(V w) { return __builtin_shufflevector(w, w, 0, 0, 2, 2); }
  static V imag_parts(V w) { return __builtin_shufflevector(w, w, 1, 1, 3, 3); }
  static V swapped(V v) { return __builtin_shufflevector(v, v, 1, 0, 3, 2); }
  static V re_from_first_im_from_second(V a, V b) { return __builtin_shufflevector(a, b, 0, 5, 2, 7); }
};

// Butterflies j = 0 .. count-1 between a[j] and b[j] with twiddle w[j]:
// t = (v.re w.re - v.im w.im, v.im w.re + v.re w.im), a = u + t, b = u - t.
// Both lanes of a product are computed as the sum and as the difference, and
// the right lane taken from each: every value is the one rounded operation.
template <typename L>
[[gnu::always_inline]] inline void butterflies(Complex* a, Complex* b, const Complex* w, std::uint64_t count) {
  using V = typename L::V;
  std::uint64_t j = 0;
  for (; j + L::COMPLEX_PER_VECTOR <= count; j += L::COMPLEX_PER_VECTOR) {
    V wv;
    V v;
    V u;
    std::memcpy(&wv, w + j, sizeof wv);
    std::memcpy(&v, b + j, sizeof v);
    std::memcpy(&u, a + j, sizeof u);
    const V p = v * L::real_parts(wv);
    const V q = L::swapped(v) * L::imag_parts(wv);
    const V t = L::re_from_first_im_from_second(p - q, p + q);
    const V sum = u + t;
    const V difference = u - t;
    std::memcpy(a + j, &sum, sizeof sum);
    std::memcpy(b + j, &difference, sizeof difference);
  }
  if (j < count) butterflies<OneComplex>(a + j, b + j, w + j, count - j);
}

void divide_by(Complex* x, std::uint64_t count, double scale) {
  for (std::uint64_t i = 0; i < count; ++i) {
    x[i].re = x[i].re / scale;
    x[i].im = x[i].im / scale;
  }
}

// ---- Stages ---------------------------------------------------------------

// Stages of length 2 .. limit (limit <= SMALL_BLOCK), block by block.
template <typename L>
[[gnu::always_inline]] inline void small_stages(Complex* x, std::uint64_t n, std::uint64_t limit, bool inverse) {
  // Stage of half length h keeps its h twiddles at table[h - 1 .. 2h - 2].
  Complex table[SMALL_BLOCK];
  for (std::uint64_t len = 2; len <= limit; len *= 2) {
    Complex w{1.0, 0.0};
    walk_twiddles(w, stage_step(len, inverse), table + len / 2 - 1, len / 2);
  }
  for (std::uint64_t block = 0; block < n; block += limit) {
    for (std::uint64_t k = block; k < block + limit; k += 2) butterflies<OneComplex>(x + k, x + k + 1, table, 1);
    for (std::uint64_t len = 4; len <= limit; len *= 2) {
      const std::uint64_t half = len / 2;
      for (std::uint64_t k = block; k < block + limit; k += len) {
        butterflies<L>(x + k, x + k + half, table + half - 1, half);
      }
    }
  }
}

// One stage of half length `half` (a multiple of TWIDDLE_CHUNK).
template <typename L>
[[gnu::always_inline]] inline void large_stage(Complex* x, std::uint64_t n, std::uint64_t half, bool inverse,
                                               double scale) {
  const Complex step = stage_step(2 * half, inverse);
  Complex w{1.0, 0.0};
  Complex table[TWIDDLE_CHUNK];
  for (std::uint64_t j0 = 0; j0 < half; j0 += TWIDDLE_CHUNK) {
    walk_twiddles(w, step, table, TWIDDLE_CHUNK);
    for (std::uint64_t k = 0; k < n; k += 2 * half) {
      Complex* a = x + k + j0;
      butterflies<L>(a, a + half, table, TWIDDLE_CHUNK);
      if (scale != 0.0) {
        divide_by(a, TWIDDLE_CHUNK, scale);
        divide_by(a + half, TWIDDLE_CHUNK, scale);
      }
    }
  }
}

// Two stages, of half lengths `half` and 2 `half`, in one pass: for each
// chunk of positions the four quarters of every block go through the first
// stage (pairs a-b and c-d), then the second (a-c with twiddle j, b-d with
// twiddle j + half), while the chunk is still in cache.
template <typename L>
[[gnu::always_inline]] inline void large_stage_pair(Complex* x, std::uint64_t n, std::uint64_t half, bool inverse,
                                                    double scale) {
  const Complex first_step = stage_step(2 * half, inverse);
  const Complex second_step = stage_step(4 * half, inverse);
  Complex first_w{1.0, 0.0};
  Complex second_w{1.0, 0.0};
  Complex second_upper_w{1.0, 0.0};
  for (std::uint64_t j = 0; j < half; ++j) {  // the walk to twiddle `half` of the second stage
    second_upper_w = Complex{second_step.re * second_upper_w.re - second_step.im * second_upper_w.im,
                             second_step.im * second_upper_w.re + second_step.re * second_upper_w.im};
  }
  Complex first[TWIDDLE_CHUNK];
  Complex second[TWIDDLE_CHUNK];
  Complex second_upper[TWIDDLE_CHUNK];
  for (std::uint64_t j0 = 0; j0 < half; j0 += TWIDDLE_CHUNK) {
    walk_twiddles(first_w, first_step, first, TWIDDLE_CHUNK);
    walk_twiddles(second_w, second_step, second, TWIDDLE_CHUNK);
    walk_twiddles(second_upper_w, second_step, second_upper, TWIDDLE_CHUNK);
    for (std::uint64_t k = 0; k < n; k += 4 * half) {
      Complex* a = x + k + j0;
      Complex* b = a + half;
      Complex* c = b + half;
      Complex* d = c + half;
      butterflies<L>(a, b, first, TWIDDLE_CHUNK);
      butterflies<L>(c, d, first, TWIDDLE_CHUNK);
      butterflies<L>(a, c, second, TWIDDLE_CHUNK);
      butterflies<L>(b, d, second_upper, TWIDDLE_CHUNK);
      if (scale != 0.0) {
        for (Complex* quarter : {a, b, c, d}) divide_by(quarter, TWIDDLE_CHUNK, scale);
      }
    }
  }
}

// All stages after the bit reversal, and the inverse's division by n, which
// rides along with the last pass.
template <typename L>
[[gnu::always_inline]] inline void all_stages(Complex* x, std::uint64_t n, bool inverse) {
  const std::uint64_t small_limit = std::min(n, SMALL_BLOCK);
  small_stages<L>(x, n, small_limit, inverse);
  const double scale = static_cast<double>(n);
  std::uint64_t half = small_limit;
  while (half < n) {
    const bool pair = half <= n / 4;
    const bool last = pair ? half == n / 4 : half == n / 2;
    const double pass_scale = inverse && last ? scale : 0.0;
    if (pair) {
      large_stage_pair<L>(x, n, half, inverse, pass_scale);
      half *= 4;
    } else {
      large_stage<L>(x, n, half, inverse, pass_scale);
      half *= 2;
    }
  }
  if (inverse && small_limit == n) divide_by(x, n, scale);
}

// Two butterflies per 256-bit vector where the processor has AVX2; never
// FMA, which would round a product and a sum together.
__attribute__((target("avx2"))) void all_stages_avx2(Complex* x, std::uint64_t n, bool inverse) {
  all_stages<TwoComplex>(x, n, inverse);
}

void all_stages_sse2(Complex* x, std::uint64_t n, bool inverse) { all_stages<OneComplex>(x, n, inverse); }

}  // namespace

namespace {

unsigned log2_of(std::uint64_t n) {
  unsigned log2_n = 0;
  while ((std::uint64_t{1} << log2_n) < n) ++log2_n;
  return log2_n;
}

void run_stages(Complex* x, std::uint64_t n, bool inverse) {
  if (use_avx2_lanes()) {
    all_stages_avx2(x, n, inverse);
  } else {
    all_stages_sse2(x, n, inverse);
  }
}

}  // namespace

void fft_radix2(Complex* x, std::uint64_t n, bool inverse) {
  if (n < 2) return;
  bit_reverse_permute(x, n, log2_of(n));
  run_stages(x, n, inverse);
}

void fft_radix2_padded_real(const float* x, std::uint64_t count, std::uint64_t offset, Complex* work, std::uint64_t n) {
  const PaddedReal source{x, count, offset};
  if (n < 2) {
    for (std::uint64_t i = 0; i < n; ++i) work[i] = source.at(i);
    return;
  }
  bit_reverse_from_padded(source, work, n, log2_of(n));
  run_stages(work, n, false);
}

}  // namespace kdsp
