// Instruction words for hand-written test kernels.
#pragma once

#include <cstdint>
#include <vector>

#include "vm/isa.h"

namespace kdsp {

namespace words {

constexpr std::uint32_t low16(std::int32_t imm) { return static_cast<std::uint32_t>(imm) & 0xFFFFu; }
constexpr std::uint32_t rrr(Opcode op, int rd, int ra, int rb) {
  return encode_registers(op, static_cast<std::uint32_t>(rd), static_cast<std::uint32_t>(ra),
                          static_cast<std::uint32_t>(rb));
}

constexpr std::uint32_t nop() { return 0; }
constexpr std::uint32_t li(int rd, std::uint32_t imm20) {
  return encode_imm20(OP_LI, static_cast<std::uint32_t>(rd), imm20);
}
constexpr std::uint32_t lui(int rd, std::uint32_t imm20) {
  return encode_imm20(OP_LUI, static_cast<std::uint32_t>(rd), imm20);
}
constexpr std::uint32_t addi(int rd, int ra, std::int32_t imm) {
  return encode_word(OP_ADDI, static_cast<std::uint32_t>(rd), static_cast<std::uint32_t>(ra), low16(imm));
}
constexpr std::uint32_t ld(int rd, std::int32_t imm, int ra) {
  return encode_word(OP_LD, static_cast<std::uint32_t>(rd), static_cast<std::uint32_t>(ra), low16(imm));
}
constexpr std::uint32_t st(int rd, std::int32_t imm, int ra) {
  return encode_word(OP_ST, static_cast<std::uint32_t>(rd), static_cast<std::uint32_t>(ra), low16(imm));
}
constexpr std::uint32_t add(int rd, int ra, int rb) { return rrr(OP_ADD, rd, ra, rb); }
constexpr std::uint32_t xor_(int rd, int ra, int rb) { return rrr(OP_XOR, rd, ra, rb); }
constexpr std::uint32_t shl(int rd, int ra, std::uint32_t n) {
  return encode_word(OP_SHL, static_cast<std::uint32_t>(rd), static_cast<std::uint32_t>(ra), n);
}
constexpr std::uint32_t shr(int rd, int ra, std::uint32_t n) {
  return encode_word(OP_SHR, static_cast<std::uint32_t>(rd), static_cast<std::uint32_t>(ra), n);
}
constexpr std::uint32_t beqz(int rd, std::int32_t off) {
  return encode_word(OP_BEQZ, static_cast<std::uint32_t>(rd), 0, low16(off));
}
constexpr std::uint32_t bltz(int rd, std::int32_t off) {
  return encode_word(OP_BLTZ, static_cast<std::uint32_t>(rd), 0, low16(off));
}
constexpr std::uint32_t jmp(std::int32_t off) { return encode_word(OP_JMP, 0, 0, low16(off)); }
constexpr std::uint32_t getiq(int rd) { return encode_word(OP_GETIQ, static_cast<std::uint32_t>(rd), 0, 0); }
constexpr std::uint32_t fmdemod(int rd, int ra, int rb) { return rrr(OP_FMDEMOD, rd, ra, rb); }
constexpr std::uint32_t fshift(int rd, int ra, int rb) { return rrr(OP_FSHIFT, rd, ra, rb); }
constexpr std::uint32_t emit() { return encode_word(OP_SYSTEM, 0, 0, SYSTEM_EMIT); }
constexpr std::uint32_t exit_() { return encode_word(OP_SYSTEM, 0, 0, SYSTEM_EXIT); }
constexpr std::uint32_t halt() { return encode_word(OP_HALT, 0, 0, 0); }
static_assert(emit() == 0x30000000u && exit_() == 0x30000001u && halt() == 0xFF000000u);

// GETIQ r2; LI r4, 25000; FMDEMOD r3, r2, r4; ADDI r1, r3, 0; EMIT; HALT:
// the smallest kernel that demodulates the channel at +25 kHz and emits it.
inline const std::vector<std::uint32_t> SIX_WORD_KERNEL = {0x20200000u, 0x014061A8u, 0x21324000u,
                                                           0x03130000u, 0x30000000u, 0xFF000000u};

}  // namespace words

}  // namespace kdsp
