// The DCS words as receivers hear them: the published word of a code, the
// inverted-code pairs, and that no two signals can be taken for each other
// however a receiver catches the word.
#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <utility>
#include <vector>

#include "radio/meta/dcs_words.h"

namespace kdsp {

namespace {

Tone dcs(std::uint16_t code, bool inverted) { return Tone{ToneKind::DCS, 0.0, code, inverted}; }

}  // namespace

TEST(DcsWords, CodeWordsCarryTheCodeTheFixedBitsAndParity) {
  // 023: the code's bits 000 010 011 from the lowest, the fixed octal 4,
  // then the parity: the word every encoder sends for it.
  EXPECT_EQ(dcs_word(23), 0x763813u);
  for (std::uint16_t code : DCS_CODES) {
    const std::uint32_t word = dcs_word(code);
    EXPECT_EQ(word & 0x1ffu, (code / 100u) * 64u + (code / 10u % 10u) * 8u + code % 10u) << code;
    EXPECT_EQ(word >> 9 & 7u, 4u) << code;
    EXPECT_EQ(word & ~DCS_WORD_MASK, 0u) << code;
  }
}

TEST(DcsWords, InvertedCodesAreTheOtherNamesOfNormalOnes) {
  // Pairs as radio manuals list them: each code inverted is the other normal.
  const std::pair<std::uint16_t, std::uint16_t> pairs[] = {{23, 47},   {25, 244},  {26, 464}, {31, 627},
                                                           {32, 51},   {43, 445},  {54, 413}, {65, 271},
                                                           {114, 712}, {116, 754}, {134, 223}};
  for (const auto& [a, b] : pairs) {
    EXPECT_EQ(dcs_alias(dcs(a, true)), dcs(b, false)) << a;
    EXPECT_EQ(dcs_alias(dcs(b, true)), dcs(a, false)) << b;
    EXPECT_EQ(dcs_alias(dcs(a, false)), dcs(b, true)) << a;
  }
  for (std::uint16_t code : DCS_CODES) {
    for (bool inverted : {false, true}) {
      const Tone tone = dcs(code, inverted);
      const Tone alias = dcs_alias(tone);
      EXPECT_NE(alias.dcs_code, code) << code;
      EXPECT_NE(alias.dcs_inverted, inverted) << code;
      EXPECT_EQ(dcs_alias(alias), tone) << code;
      // One signal: the alias's air word is this one's, caught later.
      Tone heard;
      ASSERT_TRUE(match_dcs_bits(rotate_dcs_word(dcs_air_word(alias), code % 23), &heard)) << code;
      EXPECT_EQ(heard, inverted ? alias : tone) << code;
    }
  }
}

TEST(DcsWords, AnyRotationIsRecognisedAndNoiseIsNot) {
  for (std::uint16_t code : DCS_CODES) {
    for (unsigned late = 0; late < DCS_WORD_BITS; ++late) {
      Tone heard;
      ASSERT_TRUE(match_dcs_bits(rotate_dcs_word(dcs_word(code), late), &heard)) << code << " " << late;
      EXPECT_EQ(heard, dcs(code, false));
    }
  }
  Tone untouched = dcs(23, false);
  for (std::uint32_t bits : {0u, DCS_WORD_MASK, 0x555555u & DCS_WORD_MASK, 0x763812u}) {
    EXPECT_FALSE(match_dcs_bits(bits, &untouched)) << std::hex << bits;
  }
  EXPECT_EQ(untouched, dcs(23, false));
}

TEST(DcsWords, EveryTwoSignalsDifferInSevenBitsHoweverCaught) {
  // The words are Golay words: a receiver that corrects three bit errors
  // never takes one signal, in any rotation or polarity, for another.
  std::vector<std::uint32_t> heard;
  for (std::uint16_t code : DCS_CODES) {
    for (unsigned late = 0; late < DCS_WORD_BITS; ++late) {
      const std::uint32_t word = rotate_dcs_word(dcs_word(code), late);
      heard.push_back(word);
      heard.push_back(~word & DCS_WORD_MASK);
    }
  }
  EXPECT_EQ(std::set<std::uint32_t>(heard.begin(), heard.end()).size(), heard.size() / 2)
      << "each inverted signal is exactly one normal one";
  int closest = static_cast<int>(DCS_WORD_BITS);
  for (std::size_t i = 0; i < heard.size(); ++i) {
    for (std::size_t j = i + 1; j < heard.size(); ++j) {
      if (heard[i] != heard[j]) closest = std::min(closest, std::popcount(heard[i] ^ heard[j]));
    }
  }
  EXPECT_EQ(closest, 7);
}

}  // namespace kdsp
