// Cutting a long capture into pieces the core accepts, and which part of each
// piece's audio goes into the joined result.
//
// Piece k starts at k * step pairs and is at most CORE_MAX_PAIRS long; the
// step leaves an overlap of at least PIECE_OVERLAP_PAIRS between neighbours.
// The voice chain's filters need time to settle at both ends of a capture,
// so the joined audio switches from one piece to the next in the middle of
// their overlap, half an overlap away from either piece's edge.
#pragma once

#include <cstdint>
#include <vector>

namespace kdsp {

// One second at the core's rate.
inline constexpr std::uint64_t PIECE_OVERLAP_PAIRS = 240000;

struct Piece {
  std::uint64_t first_pair = 0;
  std::uint64_t pair_count = 0;
  // Audio samples of the joined result this piece supplies: [keep_begin,
  // keep_end), counted from the capture's first sample.
  std::uint64_t keep_begin = 0;
  std::uint64_t keep_end = 0;
};

// Plans the pieces of a capture of `total_pairs` pairs (at least one).
// Piece starts are multiples of `alignment` and of the pairs per audio
// sample, so that every piece's samples fall on the joined result's.
//   max_pairs        : the longest piece
//   pairs_per_sample : capture pairs per audio sample
std::vector<Piece> plan_pieces(std::uint64_t total_pairs, std::uint64_t alignment, std::uint64_t max_pairs,
                               std::uint64_t pairs_per_sample);

}  // namespace kdsp
