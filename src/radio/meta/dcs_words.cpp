#include "radio/meta/dcs_words.h"

namespace kdsp {

namespace {

constexpr unsigned DCS_DATA_BITS = 12;
// The fixed octal digit 4 above the code: its set bit goes out last of the 12.
constexpr std::uint32_t DCS_FIXED_BITS = 0x800;
// The Golay code's generator, x^11 + x^10 + x^6 + x^5 + x^4 + x^2 + 1, read
// with x^0 as the lowest bit so that it divides the data taken low bit first:
// the polynomial that makes the published words (023 is 0x763813).
constexpr std::uint32_t GOLAY_GENERATOR = 0xC75;

// The code's octal digits as a 9-bit number: 023 gives 0o023 = 19.
std::uint32_t code_bits(std::uint16_t code) {
  return static_cast<std::uint32_t>(code / 100 % 10 * 64 + code / 10 % 10 * 8 + code % 10);
}

// The 11 parity bits of 12 data bits: the remainder of the division by the
// generator, done one data bit at a time, lowest first.
std::uint32_t golay_parity(std::uint32_t data) {
  std::uint32_t remainder = data;
  for (unsigned bit = 0; bit < DCS_DATA_BITS; ++bit) {
    if (remainder & 1u) remainder ^= GOLAY_GENERATOR;
    remainder >>= 1;
  }
  return remainder;
}

bool is_rotation_of(std::uint32_t bits, std::uint32_t word) {
  for (unsigned shift = 0; shift < DCS_WORD_BITS; ++shift) {
    if (rotate_dcs_word(word, shift) == bits) return true;
  }
  return false;
}

}  // namespace

std::uint32_t dcs_word(std::uint16_t code) {
  const std::uint32_t data = DCS_FIXED_BITS | code_bits(code);
  return golay_parity(data) << DCS_DATA_BITS | data;
}

std::uint32_t rotate_dcs_word(std::uint32_t word, unsigned bits) {
  bits %= DCS_WORD_BITS;
  if (bits == 0) return word & DCS_WORD_MASK;
  return ((word >> bits) | (word << (DCS_WORD_BITS - bits))) & DCS_WORD_MASK;
}

std::uint32_t dcs_air_word(const Tone& tone) {
  const std::uint32_t word = dcs_word(tone.dcs_code);
  return tone.dcs_inverted ? ~word & DCS_WORD_MASK : word;
}

bool match_dcs_bits(std::uint32_t bits, Tone* tone) {
  bits &= DCS_WORD_MASK;
  for (std::uint16_t code : DCS_CODES) {
    if (is_rotation_of(bits, dcs_word(code))) {
      *tone = Tone{ToneKind::DCS, 0.0, code, false};
      return true;
    }
  }
  return false;
}

Tone dcs_alias(const Tone& tone) {
  Tone normal;
  if (!match_dcs_bits(~dcs_word(tone.dcs_code) & DCS_WORD_MASK, &normal)) return tone;
  // The complement of this code's normal word is the other code's normal
  // word, so this code inverted is the other one normal, and the reverse.
  normal.dcs_inverted = !tone.dcs_inverted;
  return normal;
}

}  // namespace kdsp
