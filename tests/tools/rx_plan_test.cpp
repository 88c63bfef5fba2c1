// The parts of kdsp-rx that decide numbers before any sample is read: how a
// long capture is cut into pieces and joined, and how rates are written.
#include <gtest/gtest.h>

#include "radio/chain/front_end.h"
#include "radio/base/option_value.h"
#include "radio/kernel/piece_plan.h"

namespace kdsp {

namespace {

constexpr std::uint64_t MAX_PAIRS = 7200000;

void expect_covering_plan(std::uint64_t total, std::uint64_t alignment) {
  SCOPED_TRACE("total " + std::to_string(total) + ", alignment " + std::to_string(alignment));
  const std::vector<Piece> pieces = plan_pieces(total, alignment, MAX_PAIRS, 5);
  ASSERT_FALSE(pieces.empty());
  EXPECT_EQ(pieces.front().keep_begin, 0u);
  EXPECT_EQ(pieces.back().keep_end, total / 5);
  EXPECT_EQ(pieces.back().first_pair + pieces.back().pair_count, total);
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const Piece& piece = pieces[k];
    EXPECT_LE(piece.pair_count, MAX_PAIRS);
    EXPECT_EQ(piece.first_pair % 5, 0u);
    EXPECT_EQ(piece.first_pair % alignment, 0u);
    if (k > 0) {
      EXPECT_EQ(piece.keep_begin, pieces[k - 1].keep_end);
    }
    // Half an overlap of settling on each side of a switch between pieces.
    const std::uint64_t first_sample = piece.first_pair / 5;
    const std::uint64_t end_sample = (piece.first_pair + piece.pair_count) / 5;
    if (k > 0) {
      EXPECT_GE(piece.keep_begin, first_sample + PIECE_OVERLAP_PAIRS / 10);
    }
    if (k + 1 < pieces.size()) {
      EXPECT_LE(piece.keep_end + PIECE_OVERLAP_PAIRS / 10, end_sample);
    }
    EXPECT_LT(piece.keep_begin, piece.keep_end);
  }
}

}  // namespace

TEST(RxPiecePlan, PiecesCoverTheCaptureWithSettledJoins) {
  EXPECT_EQ(plan_pieces(MAX_PAIRS, 1, MAX_PAIRS, 5).size(), 1u);
  EXPECT_EQ(plan_pieces(MAX_PAIRS + 1, 1, MAX_PAIRS, 5).size(), 2u);
  for (std::uint64_t total : {std::uint64_t{5}, std::uint64_t{7199999}, MAX_PAIRS, MAX_PAIRS + 1, MAX_PAIRS + 4,
                              std::uint64_t{14160001}, std::uint64_t{28800000}, std::uint64_t{864000000}}) {
    for (std::uint64_t alignment : {1, 5, 15, 3000, 240000}) expect_covering_plan(total, alignment);
  }
}

TEST(RxOptionValues, FrequenciesAndRatesInEveryUsualSpelling) {
  const std::pair<const char*, double> good[] = {
      {"2400000", 2400000.0},       {"2.4M", 2400000.0}, {"2.4e6", 2400000.0},
      {"240k", 240000.0},           {"12.5k", 12500.0},  {"-12.5K", -12500.0},
      {"145.5125MHz", 145512500.0}, {"1.2G", 1.2e9},     {"96000Hz", 96000.0},
  };
  for (const auto& [text, expected] : good) {
    double value = 0.0;
    EXPECT_EQ(parse_frequency_option(text, -1e12, 1e12, &value), 0) << text;
    EXPECT_EQ(value, expected) << text;
  }
  for (const char* text : {"", " 240k", "2.4 M", "2.4MM", "2.4m", "2e3k", "inf", "nan", "0x10", "k", "2.4Mz", "1e13"}) {
    double value = 7.0;
    EXPECT_EQ(parse_frequency_option(text, -1e12, 1e12, &value), -1) << text;
    EXPECT_EQ(value, 7.0) << text;
  }
}

TEST(RxFrontEndPlan, FirstStageDecimatesToBetweenTwiceAndFourTimesTheCoreRate) {
  const std::pair<double, unsigned> cases[] = {
      {96000.0, 1},   {240000.0, 1},  {959999.0, 1},    {960000.0, 2},    {1024000.0, 2},
      {2048000.0, 4}, {2400000.0, 5}, {10000000.0, 20}, {20000000.0, 41},
  };
  for (const auto& [rate, factor] : cases) EXPECT_EQ(first_stage_decimation(rate), factor) << rate;
  // A kdsp capture at the core's rate with the channel in reach passes untouched.
  FrontEndPlan plan;
  Failure failure;
  ASSERT_EQ(plan_front_end(240000.0, 1000, 25000.0, 0.0, &plan, &failure), 0) << failure;
  EXPECT_TRUE(plan.pass_through);
  EXPECT_EQ(plan.placed_offset_hz, 25000);
}

}  // namespace kdsp
