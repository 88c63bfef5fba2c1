#include "vm/isa.h"

#include <cstring>

namespace kdsp {

std::span<const InstructionInfo> instructions_with_opcode(std::uint8_t opcode) {
  const std::span<const InstructionInfo> all(INSTRUCTION_SET);
  std::size_t first = 0;
  while (first < all.size() && all[first].opcode != opcode) ++first;
  std::size_t last = first;
  while (last < all.size() && all[last].opcode == opcode) ++last;
  return all.subspan(first, last - first);
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
