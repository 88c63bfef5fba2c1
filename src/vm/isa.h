// The kernel instruction set: word layout, opcodes and their field rules.
//
// Every instruction is one 32-bit word. All fields are taken from every word;
// which of them an opcode uses, and which bits must hold a fixed value, the
// table INSTRUCTION_SET says. The interpreter, the assembler and the
// disassembler all read that one table.
//
//    31        24 23    20 19    16 15    12 11                     0
//   +------------+--------+--------+--------+------------------------+
//   |   opcode   |   rd   |   ra   |   rb   |     low twelve bits    |
//   +------------+--------+--------+--------+------------------------+
//                                  |<------------ imm16 ------------>|
//                         |<---------------- imm20 ----------------->|
//                |<------------------- low 24 ---------------------->|
//
//   rd     destination; the value stored by ST; the register BEQZ/BLTZ test
//   ra     first source; base of LD/ST; source handle of FMDEMOD/FSHIFT
//   rb     second source (overlaps imm16)
//   imm16  signed where it is added (ADDI, LD, ST, branches), unsigned as a
//          shift count
//   imm20  unsigned (LI, LUI)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kdsp {

enum Opcode : std::uint8_t {
  OP_NOP = 0x00,      //            nothing; the whole word must be 0
  OP_LI = 0x01,       // rd imm20   rd := imm20
  OP_LUI = 0x02,      // rd imm20   rd := imm20 << 12
  OP_ADDI = 0x03,     // rd ra imm  rd := ra + imm16 (mod 2^32)
  OP_LD = 0x04,       // rd imm(ra) rd := mem32[ra + imm16]
  OP_ST = 0x05,       // rd imm(ra) mem32[ra + imm16] := rd
  OP_ADD = 0x06,      // rd ra rb   rd := ra + rb (mod 2^32)
  OP_XOR = 0x07,      // rd ra rb   rd := ra ^ rb
  OP_SHL = 0x08,      // rd ra n    rd := ra << n, n <= 31
  OP_SHR = 0x09,      // rd ra n    rd := ra >> n (logical), n <= 31
  OP_BEQZ = 0x0A,     // rd off     if rd == 0: pc := pc + 1 + off
  OP_BLTZ = 0x0B,     // rd off     if rd < 0 (signed): pc := pc + 1 + off
  OP_JMP = 0x0C,      // off        pc := pc + 1 + off
  OP_GETIQ = 0x20,    // rd         rd := the capture handle
  OP_FMDEMOD = 0x21,  // rd ra rb   rd := new audio: capture ra demodulated at rb Hz (signed)
  OP_FSHIFT = 0x22,   // rd ra rb   rd := new audio: audio ra shifted down by rb Hz
  OP_SYSTEM = 0x30,   //            low 24 = 0: EMIT (audio handle r1); 1: EXIT (code r1)
  OP_HALT = 0xFF,     //            end: success if something was emitted
};

// How an instruction names its operands; the assembler and disassembler
// format and parse by it.
enum class OperandForm : std::uint8_t {
  NONE,         // NOP, EMIT, EXIT, HALT
  RD_IMM20,     // LI, LUI
  RD_RA_IMM16,  // ADDI (signed imm16)
  RD_MEM,       // LD, ST: rd, imm16(ra)
  RD_RA_RB,     // ADD, XOR, FMDEMOD, FSHIFT
  RD_RA_SHIFT,  // SHL, SHR: count 0..31
  RD_BRANCH,    // BEQZ, BLTZ: rd, word offset
  BRANCH,       // JMP: word offset
  RD,           // GETIQ
};

// One row per instruction. A word is that instruction when its opcode byte is
// `opcode` and (word & fixed_mask) == fixed_value; anything else with the same
// opcode byte breaks a field rule.
struct InstructionInfo {
  const char* mnemonic;
  std::uint8_t opcode;
  OperandForm form;
  std::uint32_t fixed_mask;
  std::uint32_t fixed_value;
};

// Field positions, as drawn above: each field is (word >> SHIFT) & its mask.
inline constexpr unsigned OPCODE_SHIFT = 24;
inline constexpr unsigned RD_SHIFT = 20;
inline constexpr unsigned RA_SHIFT = 16;
inline constexpr unsigned RB_SHIFT = 12;
inline constexpr std::uint32_t REGISTER_FIELD_MASK = 0xFu;
inline constexpr std::uint32_t IMM16_MASK = 0x0000FFFFu;

inline constexpr std::uint32_t LOW12_MASK = 0x00000FFFu;
inline constexpr std::uint32_t LOW20_MASK = 0x000FFFFFu;
inline constexpr std::uint32_t LOW24_MASK = 0x00FFFFFFu;
inline constexpr std::uint32_t RA_MASK = REGISTER_FIELD_MASK << RA_SHIFT;
inline constexpr std::uint32_t RD_MASK = REGISTER_FIELD_MASK << RD_SHIFT;
inline constexpr std::uint32_t SHIFT_OVER_31_MASK = 0x0000FFE0u;  // imm16 > 31 iff one of these is set

// The low 24 bits of opcode 0x30 choose the system function.
inline constexpr std::uint32_t SYSTEM_EMIT = 0;
inline constexpr std::uint32_t SYSTEM_EXIT = 1;
// EMIT takes its audio handle, EXIT its code, from r1.
inline constexpr std::uint8_t SYSTEM_ARGUMENT_REGISTER = 1;

inline constexpr InstructionInfo INSTRUCTION_SET[] = {
    {"NOP", OP_NOP, OperandForm::NONE, LOW24_MASK, 0},
    {"LI", OP_LI, OperandForm::RD_IMM20, 0, 0},
    {"LUI", OP_LUI, OperandForm::RD_IMM20, 0, 0},
    {"ADDI", OP_ADDI, OperandForm::RD_RA_IMM16, 0, 0},
    {"LD", OP_LD, OperandForm::RD_MEM, 0, 0},
    {"ST", OP_ST, OperandForm::RD_MEM, 0, 0},
    {"ADD", OP_ADD, OperandForm::RD_RA_RB, LOW12_MASK, 0},
    {"XOR", OP_XOR, OperandForm::RD_RA_RB, LOW12_MASK, 0},
    {"SHL", OP_SHL, OperandForm::RD_RA_SHIFT, SHIFT_OVER_31_MASK, 0},
    {"SHR", OP_SHR, OperandForm::RD_RA_SHIFT, SHIFT_OVER_31_MASK, 0},
    {"BEQZ", OP_BEQZ, OperandForm::RD_BRANCH, RA_MASK, 0},
    {"BLTZ", OP_BLTZ, OperandForm::RD_BRANCH, RA_MASK, 0},
    {"JMP", OP_JMP, OperandForm::BRANCH, RD_MASK | RA_MASK, 0},
    {"GETIQ", OP_GETIQ, OperandForm::RD, LOW20_MASK, 0},
    {"FMDEMOD", OP_FMDEMOD, OperandForm::RD_RA_RB, LOW12_MASK, 0},
    {"FSHIFT", OP_FSHIFT, OperandForm::RD_RA_RB, LOW12_MASK, 0},
    {"EMIT", OP_SYSTEM, OperandForm::NONE, LOW24_MASK, SYSTEM_EMIT},
    {"EXIT", OP_SYSTEM, OperandForm::NONE, LOW24_MASK, SYSTEM_EXIT},
    {"HALT", OP_HALT, OperandForm::NONE, LOW24_MASK, 0},
};

// The decoded fields of a word, all taken whatever the opcode.
struct DecodedWord {
  std::uint8_t opcode;
  std::uint8_t rd;
  std::uint8_t ra;
  std::uint8_t rb;
  std::uint16_t imm16;  // raw bits; see imm16_signed()
  std::uint32_t imm20;
  std::uint32_t low24;
};

constexpr DecodedWord decode_word(std::uint32_t word) {
  return DecodedWord{
      static_cast<std::uint8_t>(word >> OPCODE_SHIFT),
      static_cast<std::uint8_t>((word >> RD_SHIFT) & REGISTER_FIELD_MASK),
      static_cast<std::uint8_t>((word >> RA_SHIFT) & REGISTER_FIELD_MASK),
      static_cast<std::uint8_t>((word >> RB_SHIFT) & REGISTER_FIELD_MASK),
      static_cast<std::uint16_t>(word & IMM16_MASK),
      word & LOW20_MASK,
      word & LOW24_MASK,
  };
}

constexpr std::int32_t imm16_signed(std::uint16_t imm16) {
  return static_cast<std::int32_t>(static_cast<std::int16_t>(imm16));
}

// The rows sharing the word's opcode byte (empty for an opcode outside the set).
std::span<const InstructionInfo> instructions_with_opcode(std::uint8_t opcode);

// The instruction a word encodes, or null when its opcode is unknown or it
// breaks a field rule. Branch targets and memory addresses are run-time
// checks and not judged here.
const InstructionInfo* find_instruction(std::uint32_t word);

// The instruction with this mnemonic (upper case), or null.
const InstructionInfo* find_mnemonic(const char* mnemonic);

// Why a word is not a valid instruction ("unknown opcode", "nonzero must-be-zero
// bits", "shift count above 31", ...), or null when it is one.
const char* invalid_word_reason(std::uint32_t word);

// Builds a word from fields; bits outside each field's width are dropped.
// `low16` is imm16, or rb in its top four bits for the register forms.
constexpr std::uint32_t encode_word(std::uint8_t opcode, std::uint32_t rd, std::uint32_t ra, std::uint32_t low16) {
  return (std::uint32_t{opcode} << OPCODE_SHIFT) | ((rd & REGISTER_FIELD_MASK) << RD_SHIFT) |
         ((ra & REGISTER_FIELD_MASK) << RA_SHIFT) | (low16 & IMM16_MASK);
}

// A register form word: rd, ra, rb and zero low twelve bits.
constexpr std::uint32_t encode_registers(std::uint8_t opcode, std::uint32_t rd, std::uint32_t ra, std::uint32_t rb) {
  return encode_word(opcode, rd, ra, (rb & REGISTER_FIELD_MASK) << RB_SHIFT);
}

// LI/LUI: rd and a 20-bit immediate.
constexpr std::uint32_t encode_imm20(std::uint8_t opcode, std::uint32_t rd, std::uint32_t imm20) {
  return (std::uint32_t{opcode} << OPCODE_SHIFT) | ((rd & REGISTER_FIELD_MASK) << RD_SHIFT) | (imm20 & LOW20_MASK);
}

}  // namespace kdsp
