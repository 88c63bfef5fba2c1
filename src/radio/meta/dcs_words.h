// DCS on the air: each code is one 23-bit word of the Golay (23,12) code,
// sent over and over at DCS_BIT_RATE with no frame marker, so a receiver
// hears it in any rotation. Drawn in the order the bits leave the
// transmitter (bit 0 of a word here is the first on the air):
//
//    bit  0 ........ 8 | 9  10  11 | 12 .............. 22
//        code, low bit |   0  0  1 | 11 parity bits
//        first         |  (octal 4)|
//
// The nine code bits are the three octal digits of the code's name, least
// significant bit first. A transmitter that inverts the data sends the
// complement of the word; because the all-ones word is itself a Golay word,
// that complement is, rotated, the normal word of another code: each code's
// inverted signal is another code's normal one (023I is 047N), and a
// receiver cannot tell the two names apart.
#pragma once

#include <cstdint>

#include "radio/meta/tone_table.h"

namespace kdsp {

inline constexpr unsigned DCS_WORD_BITS = 23;
inline constexpr std::uint32_t DCS_WORD_MASK = (1u << DCS_WORD_BITS) - 1;
inline constexpr double DCS_BIT_RATE = 134.4;

// The word of a standard code in normal polarity; `code` as in DCS_CODES.
std::uint32_t dcs_word(std::uint16_t code);

// The 23 bits of `word` as heard `bits` bits later: bit `bits` first.
std::uint32_t rotate_dcs_word(std::uint32_t word, unsigned bits);

// The word a DCS tone puts on the air, from its first bit: the complement
// for an inverted code.
std::uint32_t dcs_air_word(const Tone& tone);

// The other name of the same signal: 023N for 047I, 047N for 023I, and so on.
// `tone` is a standard DCS code; every one has exactly one other name.
Tone dcs_alias(const Tone& tone);

// Which standard signal 23 consecutive bits of the air are, in whatever
// rotation they were caught: true with `*tone` set to its name in normal
// polarity (dcs_alias gives the inverted one), false when the bits are no
// rotation of a standard word.
bool match_dcs_bits(std::uint32_t bits, Tone* tone);

}  // namespace kdsp
