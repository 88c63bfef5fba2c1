#include "radio/kernel/piece_plan.h"

#include <algorithm>
#include <numeric>

namespace kdsp {

std::vector<Piece> plan_pieces(std::uint64_t total_pairs, std::uint64_t alignment, std::uint64_t max_pairs,
                               std::uint64_t pairs_per_sample) {
  const std::uint64_t unit = std::lcm(std::max<std::uint64_t>(alignment, 1), pairs_per_sample);
  // The largest aligned step that keeps the overlap; at least one unit.
  const std::uint64_t step = std::max<std::uint64_t>((max_pairs - PIECE_OVERLAP_PAIRS) / unit, 1) * unit;
  std::vector<Piece> pieces;
  for (std::uint64_t first = 0;; first += step) {
    Piece piece;
    piece.first_pair = first;
    piece.pair_count = std::min(max_pairs, total_pairs - first);
    pieces.push_back(piece);
    if (first + piece.pair_count >= total_pairs) break;
  }
  const std::uint64_t total_samples = total_pairs / pairs_per_sample;
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    Piece& piece = pieces[k];
    piece.keep_begin = k == 0 ? 0 : pieces[k - 1].keep_end;
    if (k + 1 == pieces.size()) {
      piece.keep_end = total_samples;
    } else {
      // The middle of the overlap with the next piece.
      const std::uint64_t overlap_begin = pieces[k + 1].first_pair;
      const std::uint64_t overlap_end = piece.first_pair + piece.pair_count;
      piece.keep_end = (overlap_begin + (overlap_end - overlap_begin) / 2) / pairs_per_sample;
    }
  }
  return pieces;
}

}  // namespace kdsp
