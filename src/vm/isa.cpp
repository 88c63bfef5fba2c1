#include "vm/isa.h"

#include <array>
#include <cstring>
#include <iterator>

namespace kdsp {

namespace {

// Where each opcode byte's rows sit in INSTRUCTION_SET (rows of one opcode are
// adjacent), built once at compile time so that decoding a word in the
// interpreter's loop is one lookup, not a scan of the table.
struct OpcodeRows {
  std::uint8_t first = 0;
  std::uint8_t count = 0;
};

constexpr std::array<OpcodeRows, 256> opcode_rows() {
  std::array<OpcodeRows, 256> rows{};
  for (std::size_t i = 0; i < std::size(INSTRUCTION_SET); ++i) {
    OpcodeRows& entry = rows[INSTRUCTION_SET[i].opcode];
    if (entry.count == 0) entry.first = static_cast<std::uint8_t>(i);
    ++entry.count;
  }
  return rows;
}

constexpr bool rows_of_each_opcode_adjacent() {
  for (std::size_t i = 0; i < std::size(INSTRUCTION_SET); ++i) {
    for (std::size_t j = i + 2; j < std::size(INSTRUCTION_SET); ++j) {
      if (INSTRUCTION_SET[j].opcode == INSTRUCTION_SET[i].opcode &&
          INSTRUCTION_SET[j - 1].opcode != INSTRUCTION_SET[i].opcode) {
        return false;
      }
    }
  }
  return true;
}
static_assert(rows_of_each_opcode_adjacent(), "INSTRUCTION_SET must keep the rows of one opcode together");

constexpr std::array<OpcodeRows, 256> OPCODE_ROWS = opcode_rows();

}  // namespace

std::span<const InstructionInfo> instructions_with_opcode(std::uint8_t opcode) {
  const OpcodeRows rows = OPCODE_ROWS[opcode];
  return std::span<const InstructionInfo>(INSTRUCTION_SET).subspan(rows.first, rows.count);
}

const InstructionInfo* find_instruction(std::uint32_t word) {
  for (const InstructionInfo& info : instructions_with_opcode(static_cast<std::uint8_t>(word >> OPCODE_SHIFT))) {
    if ((word & info.fixed_mask) == info.fixed_value) return &info;
  }
  return nullptr;
}

const InstructionInfo* find_mnemonic(const char* mnemonic) {
  for (const InstructionInfo& info : INSTRUCTION_SET) {
    if (std::strcmp(info.mnemonic, mnemonic) == 0) return &info;
  }
  return nullptr;
}

const char* invalid_word_reason(std::uint32_t word) {
  const std::uint8_t opcode = static_cast<std::uint8_t>(word >> OPCODE_SHIFT);
  const std::span<const InstructionInfo> rows = instructions_with_opcode(opcode);
  if (rows.empty()) return "unknown opcode";
  if (find_instruction(word) != nullptr) return nullptr;
  switch (opcode) {
    case OP_NOP: return "NOP with nonzero operand bits";
    case OP_SHL:
    case OP_SHR: return "shift count above 31";
    case OP_BEQZ:
    case OP_BLTZ: return "nonzero ra field in a conditional branch";
    case OP_JMP: return "nonzero rd or ra field in JMP";
    case OP_GETIQ: return "nonzero bits below rd in GETIQ";
    case OP_SYSTEM: return "opcode 0x30 with a sub-function other than EMIT (0) or EXIT (1)";
    case OP_HALT: return "HALT with nonzero operand bits";
    default: return "nonzero low twelve bits in a register form";
  }
}

}  // namespace kdsp
