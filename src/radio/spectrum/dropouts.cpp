#include "radio/spectrum/dropouts.h"

#include <algorithm>
#include <cstdio>

namespace kdsp {

bool pairs_are_constant(std::span<const std::complex<float>> pairs) {
  if (pairs.empty()) return false;
  const std::complex<float> first = pairs.front();
  return std::all_of(pairs.begin(), pairs.end(), [first](std::complex<float> pair) { return pair == first; });
}

void DropoutTimeline::add(std::uint64_t first_pair, std::span<const std::complex<float>> pairs) {
  for (std::size_t at = 0; at < pairs.size(); at += DROPOUT_STRETCH_PAIRS) {
    const std::size_t count = std::min(DROPOUT_STRETCH_PAIRS, pairs.size() - at);
    if (pairs_are_constant(pairs.subspan(at, count))) add_span(first_pair + at, first_pair + at + count);
  }
}

void DropoutTimeline::add_span(std::uint64_t first_pair, std::uint64_t end_pair) {
  if (first_pair >= end_pair) return;
  // Spans arrive in order; one that starts where the last ends (or inside
  // it) extends it.
  if (!spans_.empty() && first_pair <= spans_.back().end_pair) {
    spans_.back().end_pair = std::max(spans_.back().end_pair, end_pair);
    return;
  }
  spans_.push_back({first_pair, end_pair});
}

bool DropoutTimeline::overlaps(std::uint64_t first_pair, std::uint64_t end_pair) const {
  // The first span that ends after first_pair, then whether it starts
  // before end_pair.
  const auto after = std::upper_bound(spans_.begin(), spans_.end(), first_pair,
                                      [](std::uint64_t pair, const DropoutSpan& span) { return pair < span.end_pair; });
  return after != spans_.end() && after->first_pair < end_pair;
}

std::string dropout_text(const DropoutSpan& span, double sample_rate) {
  char text[96];
  std::snprintf(text, sizeof text, "no signal from %.1f s to %.1f s",
                static_cast<double>(span.first_pair) / sample_rate, static_cast<double>(span.end_pair) / sample_rate);
  return text;
}

}  // namespace kdsp
