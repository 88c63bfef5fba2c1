#include "radio/kernel/disassembler.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <span>

#include "base/byte_order.h"
#include "base/result_code.h"
#include "formats/kernel_image.h"
#include "vm/isa.h"

namespace kdsp {

namespace {

constexpr std::size_t COMMENT_COLUMN = 40;
constexpr std::size_t DATA_BYTES_PER_LINE = 16;
// Zero runs at least this long become one .space line instead of many .word lines.
constexpr std::size_t MIN_SPACE_RUN = 16;

std::string hex(std::uint64_t value, int digits) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return buffer;
}

std::string reg(std::uint8_t number) { return "r" + std::to_string(number); }

std::string label_for(std::uint64_t index) { return "L" + std::to_string(index); }

// One listing line: the statement, then a comment aligned after it.
void append_line(std::string* text, const std::string& statement, const std::string& comment) {
  std::string line = "        " + statement;
  if (!comment.empty()) {
    line.resize(std::max(line.size() + 1, COMMENT_COLUMN), ' ');
    line += "; " + comment;
  }
  *text += line + "\n";
}

bool is_branch(const InstructionInfo& info) {
  return info.form == OperandForm::RD_BRANCH || info.form == OperandForm::BRANCH;
}

// Where a branch word would go if taken, when that lies inside the code.
std::optional<std::uint64_t> branch_target(std::uint32_t word, std::uint64_t index, std::uint64_t code_count) {
  const InstructionInfo* info = find_instruction(word);
  if (info == nullptr || !is_branch(*info)) return std::nullopt;
  const std::int64_t target = static_cast<std::int64_t>(index) + 1 + imm16_signed(decode_word(word).imm16);
  if (target < 0 || static_cast<std::uint64_t>(target) >= code_count) return std::nullopt;
  return static_cast<std::uint64_t>(target);
}

struct Code {
  std::span<const std::uint32_t> words;
  std::set<std::uint64_t> labels;  // word indexes that get a label
};

// The branch operand: a label when the target is inside the code, else the
// raw word offset (valid, but the run would stop there if it were taken).
std::string branch_operand(const Code& code, std::uint32_t word, std::uint64_t index, std::string* remark) {
  const std::optional<std::uint64_t> target = branch_target(word, index, code.words.size());
  if (target) return label_for(*target);
  const std::int32_t offset = imm16_signed(decode_word(word).imm16);
  *remark = "  target " + std::to_string(static_cast<std::int64_t>(index) + 1 + offset) +
            " is outside the code: BAD_OPCODE if taken";
  return std::to_string(offset);
}

std::string operands_text(const Code& code, const InstructionInfo& info, std::uint32_t word, std::uint64_t index,
                          std::string* remark) {
  const DecodedWord d = decode_word(word);
  const std::int32_t imm = imm16_signed(d.imm16);
  switch (info.form) {
    case OperandForm::NONE: return "";
    case OperandForm::RD_IMM20:
      return reg(d.rd) + ", " + (info.opcode == OP_LUI ? hex(d.imm20, 5) : std::to_string(d.imm20));
    case OperandForm::RD_RA_IMM16: return reg(d.rd) + ", " + reg(d.ra) + ", " + std::to_string(imm);
    case OperandForm::RD_MEM: return reg(d.rd) + ", " + std::to_string(imm) + "(" + reg(d.ra) + ")";
    case OperandForm::RD_RA_RB: return reg(d.rd) + ", " + reg(d.ra) + ", " + reg(d.rb);
    case OperandForm::RD_RA_SHIFT: return reg(d.rd) + ", " + reg(d.ra) + ", " + std::to_string(d.imm16);
    case OperandForm::RD_BRANCH: return reg(d.rd) + ", " + branch_operand(code, word, index, remark);
    case OperandForm::BRANCH: return branch_operand(code, word, index, remark);
    case OperandForm::RD: return reg(d.rd);
  }
  return "";
}

void append_code(std::string* text, const Code& code) {
  *text += ".text\n";
  for (std::uint64_t index = 0; index < code.words.size(); ++index) {
    if (code.labels.count(index) != 0) *text += label_for(index) + ":\n";
    const std::uint32_t word = code.words[index];
    char where[32];
    std::snprintf(where, sizeof where, "%04llu: %08X", static_cast<unsigned long long>(index), word);
    const InstructionInfo* info = find_instruction(word);
    if (info == nullptr) {
      append_line(text, ".word   " + hex(word, 8), std::string(where) + "  invalid: " + invalid_word_reason(word));
      continue;
    }
    std::string remark;
    std::string statement = info->mnemonic;
    const std::string operands = operands_text(code, *info, word, index, &remark);
    if (!operands.empty()) {
      statement.resize(std::max<std::size_t>(statement.size() + 1, 8), ' ');
      statement += operands;
    }
    append_line(text, statement, std::string(where) + remark);
  }
}

// Releases the loaded image on every path, a thrown bad_alloc included.
struct LoadedKernel {
  KernelImage image{};
  LoadedKernel() = default;
  LoadedKernel(const LoadedKernel&) = delete;
  LoadedKernel& operator=(const LoadedKernel&) = delete;
  ~LoadedKernel() { release_kernel_image(&image); }
};

std::size_t zero_run(std::span<const std::uint8_t> data, std::size_t from) {
  std::size_t end = from;
  while (end < data.size() && data[end] == 0) ++end;
  return end - from;
}

// Up to DATA_BYTES_PER_LINE bytes from `from`: whole words while four bytes
// remain, the last one to three bytes as .byte.
std::size_t append_data_line(std::string* text, std::span<const std::uint8_t> data, std::size_t from) {
  const std::size_t count = std::min(DATA_BYTES_PER_LINE, data.size() - from);
  const std::size_t words = count / 4;
  std::string statement;
  if (words > 0) {
    statement = ".word   ";
    for (std::size_t i = 0; i < words; ++i) {
      if (i > 0) statement += ", ";
      statement += hex(read_le32(&data[from + 4 * i]), 8);
    }
  } else {
    statement = ".byte   ";
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) statement += ", ";
      statement += hex(data[from + i], 2);
    }
  }
  append_line(text, statement, hex(from, 5));
  return words > 0 ? 4 * words : count;
}

void append_data(std::string* text, std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  *text += "\n.data\ndata:\n";
  std::size_t offset = 0;
  while (offset < data.size()) {
    const std::size_t zeros = zero_run(data, offset);
    if (zeros >= MIN_SPACE_RUN) {
      append_line(text, ".space  " + std::to_string(zeros), hex(offset, 5) + "  zero-filled");
      offset += zeros;
    } else {
      offset += append_data_line(text, data, offset);
    }
  }
}

}  // namespace

std::string disassemble_kernel(const KernelImage& image) {
  const std::span<const std::uint32_t> words(image.code, image.code_count);
  const std::span<const std::uint8_t> data(image.memory, image.data_size);

  Code code{words, {image.entry}};
  for (std::uint64_t index = 0; index < words.size(); ++index) {
    if (const std::optional<std::uint64_t> target = branch_target(words[index], index, words.size())) {
      code.labels.insert(*target);
    }
  }

  std::string listing;
  listing += "; kernel image: magic \"KDSP\", version " + std::to_string(KERNEL_VERSION) + ", header " +
             std::to_string(KERNEL_HEADER_SIZE) + " bytes\n";
  listing += "; " + std::to_string(image.code_count) + " code words, " + std::to_string(image.data_size) +
             " data bytes, entry word " + std::to_string(image.entry) + "\n";
  listing += ".entry " + label_for(image.entry) + "\n\n";
  append_code(&listing, code);
  append_data(&listing, data);
  return listing;
}

int disassemble_kernel_file(const std::uint8_t* bytes, std::uint64_t length, std::string* text, Failure* failure) {
  // The reason comes from the loader's own check; the words and data from
  // the loader itself, so that the listing shows what kdsp would run.
  KernelHeader header{};
  if (const char* reason = check_kernel_file(bytes, length, &header)) {
    *failure = Failure{reason};
    return -1;
  }
  LoadedKernel loaded;
  if (parse_kernel_image(bytes, length, &loaded.image) != ResultCode::OK) {
    *failure = Failure{"not enough memory to load the image"};
    return -1;
  }
  *text = disassemble_kernel(loaded.image);
  return 0;
}

}  // namespace kdsp
