// Stretches of a recording with no signal and no noise at all: every pair
// the same (zeros, a constant, a receiver's clipped rail). Real noise varies
// from one sample to the next at any gain, so such a stretch is a dropout of
// the receiver or the link, not a quiet band: there is no noise floor for a
// channel to stand over, and nothing in it may be taken for a channel or
// open a squelch. They are found in stretches of DROPOUT_STRETCH_PAIRS pairs
// of the recording, as read, and said once each.
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kdsp {

// Pairs of the recording looked at together: short enough to find a
// dropout of a few milliseconds at any rate, long enough that real noise
// always varies within it.
inline constexpr std::size_t DROPOUT_STRETCH_PAIRS = 4096;

// True when every pair of `pairs` is the same (an empty span is not).
bool pairs_are_constant(std::span<const std::complex<float>> pairs);

// A dropout: recording pairs [first_pair, end_pair).
struct DropoutSpan {
  std::uint64_t first_pair = 0;
  std::uint64_t end_pair = 0;
};

// The dropouts of a recording, built in order as it is read: stretches
// whose pairs are all the same, joined where they touch.
class DropoutTimeline {
 public:
  // Looks at `pairs` (recording pairs from `first_pair` on, read in order
  // and without gaps) in stretches of DROPOUT_STRETCH_PAIRS from
  // `first_pair`; a shorter last stretch counts as it is.
  void add(std::uint64_t first_pair, std::span<const std::complex<float>> pairs);
  // Records recording pairs [first_pair, end_pair) as a dropout.
  void add_span(std::uint64_t first_pair, std::uint64_t end_pair);
  // True when any pair of [first_pair, end_pair) lies in a dropout.
  bool overlaps(std::uint64_t first_pair, std::uint64_t end_pair) const;
  const std::vector<DropoutSpan>& spans() const { return spans_; }

 private:
  std::vector<DropoutSpan> spans_;
};

// "no signal from 12.0 s to 14.5 s", for a recording at `sample_rate`.
std::string dropout_text(const DropoutSpan& span, double sample_rate);

}  // namespace kdsp
