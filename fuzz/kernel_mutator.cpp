#include "kernel_mutator.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <span>
#include <vector>

#include "base/byte_order.h"
#include "formats/kernel_image.h"
#include "vm/isa.h"
#include "vm/vm_state.h"

namespace kdsp {

namespace {

using Random = std::minstd_rand;

// ------------------------------------------------------------- randomness

std::uint32_t below(Random& rng, std::size_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(rng() % n); }

bool one_in(Random& rng, std::size_t n) { return below(rng, n) == 0; }

template <typename T>
T pick(Random& rng, std::span<const T> values) {
  return values[below(rng, values.size())];
}

// Values the interpreter compares against, or that sit on an edge: handle
// numbers, shift counts around 31, the offset and shift limits of the signal
// instructions, the last word of the data memory, sign boundaries.
constexpr std::uint16_t INTERESTING_IMM16[] = {0,      1,      2,      3,      4,      5,      8,      16,
                                               31,     32,     33,     300,    0x2710, 0x2711, 0x61A8, 0x7FFC,
                                               0x7FFF, 0x8000, 0x9E58, 0xD8F0, 0xFFFC, 0xFFFD, 0xFFFE, 0xFFFF};
constexpr std::uint32_t INTERESTING_IMM20[] = {
    0,     1,     2,     3,     4,     5,     31,     32,     127,     128,     255,     256,     300,    9999,
    10000, 10001, 25000, 40000, 77777, 99999, 100000, 100001, 0x7FFFF, 0x80000, 0xFFFF0, 0xFFFFC, 0xFFFFF};
constexpr std::uint32_t INTERESTING_DATA_WORDS[] = {
    0,          1,          2,          3,          4,          31,        32,         255,
    256,        10000,      10001,      25000,      100000,     100001,    0x000FFFFC, 0x00100000,
    0x7FFFFFFF, 0x80000000, 0xFFFE7960, 0xFFFE795F, 0xFFFF9E58, 0xFFFFFFFF};

// ------------------------------------------------------------ word fields

constexpr std::uint32_t OPCODE_MASK = 0xFFu << OPCODE_SHIFT;
constexpr std::uint32_t RB_MASK = REGISTER_FIELD_MASK << RB_SHIFT;

// `word` with the field under `mask` replaced by `value`.
constexpr std::uint32_t with_field(std::uint32_t word, std::uint32_t mask, std::uint32_t value) {
  return (word & ~mask) | ((value << std::countr_zero(mask)) & mask);
}

// `word` changed as little as needed to meet `info`'s fixed bits.
constexpr std::uint32_t obeying(std::uint32_t word, const InstructionInfo& info) {
  return (word & ~info.fixed_mask) | info.fixed_value;
}

// Mostly the low registers: r1 is what EMIT and EXIT read, and handles are
// small numbers.
std::uint32_t random_register(Random& rng) { return one_in(rng, 2) ? below(rng, 4) : below(rng, REGISTER_COUNT); }

std::uint32_t random_imm20(Random& rng) {
  return one_in(rng, 4) ? below(rng, LOW20_MASK + 1) : pick<std::uint32_t>(rng, INTERESTING_IMM20);
}

// A branch offset from word `index`: mostly to a word inside the code.
std::uint32_t random_branch_offset(Random& rng, std::size_t index, std::size_t code_count) {
  if (one_in(rng, 8)) return pick<std::uint16_t>(rng, INTERESTING_IMM16);
  const auto target = static_cast<std::int64_t>(below(rng, code_count));
  return static_cast<std::uint32_t>(target - static_cast<std::int64_t>(index) - 1);
}

std::uint32_t random_imm16(Random& rng, std::size_t index, std::size_t code_count) {
  switch (below(rng, 4)) {
    case 0: return random_branch_offset(rng, index, code_count);
    case 1: return below(rng, IMM16_MASK + 1);
    default: return pick<std::uint16_t>(rng, INTERESTING_IMM16);
  }
}

// A word that is an instruction of the set, with operands worth trying.
std::uint32_t random_instruction(Random& rng, std::size_t index, std::size_t code_count) {
  const InstructionInfo& info = pick<InstructionInfo>(rng, INSTRUCTION_SET);
  std::uint32_t word = encode_word(info.opcode, random_register(rng), random_register(rng), 0);
  switch (info.form) {
    case OperandForm::RD_IMM20: word = with_field(word, LOW20_MASK, random_imm20(rng)); break;
    case OperandForm::RD_RA_IMM16:
    case OperandForm::RD_MEM: word = with_field(word, IMM16_MASK, random_imm16(rng, index, code_count)); break;
    case OperandForm::RD_RA_RB: word = with_field(word, RB_MASK, random_register(rng)); break;
    case OperandForm::RD_RA_SHIFT: word = with_field(word, IMM16_MASK, below(rng, 32)); break;
    case OperandForm::RD_BRANCH:
    case OperandForm::BRANCH: word = with_field(word, IMM16_MASK, random_branch_offset(rng, index, code_count)); break;
    case OperandForm::NONE:
    case OperandForm::RD: break;
  }
  return obeying(word, info);
}

// One operand of a valid instruction changed within its form, so that the
// word stays that instruction (a shift count now and then goes above 31).
std::uint32_t mutate_operand(Random& rng, std::uint32_t word, const InstructionInfo& info, std::size_t index,
                             std::size_t code_count) {
  const bool first = one_in(rng, 2);
  switch (info.form) {
    case OperandForm::NONE: return random_instruction(rng, index, code_count);
    case OperandForm::RD: return with_field(word, RD_MASK, random_register(rng));
    case OperandForm::RD_IMM20:
      return first ? with_field(word, RD_MASK, random_register(rng)) : with_field(word, LOW20_MASK, random_imm20(rng));
    case OperandForm::RD_RA_RB:
      if (first) return with_field(word, RD_MASK, random_register(rng));
      return with_field(word, one_in(rng, 2) ? RA_MASK : RB_MASK, random_register(rng));
    case OperandForm::RD_RA_SHIFT:
      if (first) return with_field(word, one_in(rng, 2) ? RD_MASK : RA_MASK, random_register(rng));
      return with_field(word, IMM16_MASK,
                        one_in(rng, 8) ? pick<std::uint16_t>(rng, INTERESTING_IMM16) : below(rng, 32));
    case OperandForm::RD_RA_IMM16:
    case OperandForm::RD_MEM:
      if (first) return with_field(word, one_in(rng, 2) ? RD_MASK : RA_MASK, random_register(rng));
      break;
    case OperandForm::RD_BRANCH:
      if (first) return with_field(word, RD_MASK, random_register(rng));
      break;
    case OperandForm::BRANCH: break;
  }
  // The signed imm16: a value worth trying, or a small step from the old one.
  if (one_in(rng, 2)) return with_field(word, IMM16_MASK, random_imm16(rng, index, code_count));
  return with_field(word, IMM16_MASK, word + (one_in(rng, 2) ? 1u : ~0u) * (1 + below(rng, 8)));
}

// One field of `word` changed. A valid word mostly stays valid; an invalid
// one is mostly repaired; and now and then an opcode from the set without
// its field rules, or a raw bit, keeps invalid words coming.
std::uint32_t mutate_word(Random& rng, std::uint32_t word, std::size_t index, std::size_t code_count) {
  const std::uint32_t choice = below(rng, 10);
  if (choice == 0) {
    const InstructionInfo& info = pick<InstructionInfo>(rng, INSTRUCTION_SET);
    word = with_field(word, OPCODE_MASK, info.opcode);
    return one_in(rng, 4) ? word : obeying(word, info);
  }
  if (choice == 1) return word ^ (1u << below(rng, 32));
  if (const InstructionInfo* info = find_instruction(word)) return mutate_operand(rng, word, *info, index, code_count);
  // Repair: meet the field rules of an instruction with this opcode byte, or,
  // when there is none, take a random opcode byte.
  const std::span<const InstructionInfo> rows =
      instructions_with_opcode(static_cast<std::uint8_t>(word >> OPCODE_SHIFT));
  if (rows.empty()) return with_field(word, OPCODE_MASK, below(rng, 256));
  return obeying(word, pick(rng, rows));
}

// ------------------------------------------------------- image in parts

struct ImageParts {
  std::uint32_t entry = 0;
  std::vector<std::uint32_t> words;
  std::vector<std::uint8_t> data;
};

constexpr std::uint32_t HALT_WORD = std::uint32_t{OP_HALT} << OPCODE_SHIFT;

std::vector<std::uint32_t> words_of(const std::uint8_t* bytes, std::size_t count) {
  std::vector<std::uint32_t> words(count);
  for (std::size_t i = 0; i < count; ++i) words[i] = read_le32(bytes + 4 * i);
  return words;
}

// Takes an input apart. A valid image splits exactly as the loader reads it;
// anything else as leniently as possible (a plausible code_count is kept, the
// other bytes become words, then data), so that a broken input is repaired
// rather than thrown away.
ImageParts split_image(const std::uint8_t* bytes, std::size_t size) {
  ImageParts parts;
  if (size < KERNEL_HEADER_SIZE) {
    parts.words = words_of(bytes, size / 4);
  } else {
    const std::uint8_t* body = bytes + KERNEL_HEADER_SIZE;
    const std::size_t body_size = size - KERNEL_HEADER_SIZE;
    std::uint64_t code_count = read_le32(bytes + 8);
    if (code_count == 0 || code_count > KERNEL_MAX_WORDS || 4 * code_count > body_size) {
      code_count = std::min<std::uint64_t>(body_size / 4, KERNEL_MAX_WORDS);
    }
    parts.words = words_of(body, code_count);
    const std::size_t data_size = std::min<std::size_t>(body_size - 4 * code_count, DATA_MEMORY_SIZE);
    parts.data.assign(body + 4 * code_count, body + 4 * code_count + data_size);
    parts.entry = read_le32(bytes + 16);
  }
  if (parts.words.empty()) parts.words.push_back(HALT_WORD);
  return parts;
}

// A header that the loader would refuse in exactly one way.
void break_header(Random& rng, KernelHeader& header) {
  switch (below(rng, 7)) {
    case 0: header.magic ^= 1u << below(rng, 32); break;
    case 1: header.version = one_in(rng, 2) ? 0 : static_cast<std::uint16_t>(KERNEL_VERSION + 1); break;
    case 2: header.header_size = static_cast<std::uint16_t>(one_in(rng, 2) ? 0 : KERNEL_HEADER_SIZE + 4); break;
    case 3: header.code_count += one_in(rng, 2) ? 1 : ~0u; break;
    case 4: header.data_size += one_in(rng, 2) ? 1 : DATA_MEMORY_SIZE + 1; break;
    case 5: header.entry = one_in(rng, 2) ? header.code_count : ~0u; break;
    default: header.reserved[below(rng, 3)] = 1u << below(rng, 32); break;
  }
}

// Writes the parts as an image into `out`, cutting data and then code to fit
// `max_size`, with the header's counts matching what was written. Returns
// the size, or 0 when not even a one-word image fits.
std::size_t join_image(ImageParts& parts, std::uint8_t* out, std::size_t max_size, Random* breaker) {
  if (max_size < KERNEL_HEADER_SIZE + 4) return 0;
  std::size_t room = max_size - KERNEL_HEADER_SIZE;
  parts.words.resize(std::min<std::size_t>({parts.words.size(), room / 4, KERNEL_MAX_WORDS}));
  room -= 4 * parts.words.size();
  parts.data.resize(std::min<std::size_t>({parts.data.size(), room, DATA_MEMORY_SIZE}));

  const auto code_count = static_cast<std::uint32_t>(parts.words.size());
  KernelHeader header{KERNEL_MAGIC,
                      KERNEL_VERSION,
                      static_cast<std::uint16_t>(KERNEL_HEADER_SIZE),
                      code_count,
                      static_cast<std::uint32_t>(parts.data.size()),
                      parts.entry % code_count,
                      {0, 0, 0}};
  if (breaker != nullptr) break_header(*breaker, header);
  write_kernel_header(header, out);
  std::uint8_t* at = out + KERNEL_HEADER_SIZE;
  for (std::uint32_t word : parts.words) {
    write_le32(at, word);
    at += 4;
  }
  if (!parts.data.empty()) std::memcpy(at, parts.data.data(), parts.data.size());
  return KERNEL_HEADER_SIZE + 4 * parts.words.size() + parts.data.size();
}

// ----------------------------------------------------------- mutations

// libFuzzer's byte mutation on a byte vector, which may grow by `growth`.
void mutate_bytes(std::vector<std::uint8_t>& bytes, std::size_t growth) {
  const std::size_t size = bytes.size();
  bytes.resize(size + growth);
  bytes.resize(LLVMFuzzerMutate(bytes.data(), size, bytes.size()));
}

void mutate_data(Random& rng, std::vector<std::uint8_t>& data, std::size_t room) {
  switch (below(rng, 3)) {
    case 0: {
      if (data.empty()) data.resize(4);
      mutate_bytes(data, std::min<std::size_t>(room, 64));
      return;
    }
    case 1: {
      // An interesting word where kernels load from: the first words mostly.
      const std::size_t address = 4 * (one_in(rng, 2) ? below(rng, 4) : below(rng, data.size() / 4 + 2));
      if (address + 4 > data.size()) {
        if (address + 4 - data.size() > room) return;
        data.resize(address + 4);
      }
      write_le32(data.data() + address, pick<std::uint32_t>(rng, INTERESTING_DATA_WORDS));
      return;
    }
    default:
      data.resize(one_in(rng, 2) ? below(rng, data.size() + 1)
                                 : data.size() + below(rng, std::min<std::size_t>(room, 16) + 1));
  }
}

// libFuzzer's byte mutation on the code as bytes: raw patterns across word
// boundaries. A ragged tail is dropped.
void mutate_code_bytes(std::vector<std::uint32_t>& words, std::size_t room_words) {
  std::vector<std::uint8_t> bytes(4 * words.size());
  for (std::size_t i = 0; i < words.size(); ++i) write_le32(bytes.data() + 4 * i, words[i]);
  mutate_bytes(bytes, 4 * std::min<std::size_t>(room_words, 4));
  words = words_of(bytes.data(), bytes.size() / 4);
  if (words.empty()) words.push_back(HALT_WORD);
}

void mutate_parts(Random& rng, ImageParts& parts, std::size_t max_size) {
  std::vector<std::uint32_t>& words = parts.words;
  const std::size_t used = KERNEL_HEADER_SIZE + 4 * words.size() + parts.data.size();
  const std::size_t room = max_size > used ? max_size - used : 0;
  const bool can_grow = room >= 4 && words.size() < KERNEL_MAX_WORDS;
  const std::uint32_t choice = below(rng, 100);
  const std::size_t index = below(rng, words.size());
  if (choice < 40) {
    words[index] = mutate_word(rng, words[index], index, words.size());
  } else if (choice < 55) {
    words[index] = random_instruction(rng, index, words.size());
  } else if (choice < 67 && can_grow) {
    const std::size_t at = below(rng, words.size() + 1);
    words.insert(words.begin() + static_cast<std::ptrdiff_t>(at), random_instruction(rng, at, words.size() + 1));
  } else if (choice < 75 && words.size() > 1) {
    words.erase(words.begin() + static_cast<std::ptrdiff_t>(index));
  } else if (choice < 80) {
    const std::size_t other = below(rng, words.size());
    if (can_grow && one_in(rng, 2)) {
      const std::uint32_t copied = words[other];
      words.insert(words.begin() + static_cast<std::ptrdiff_t>(index), copied);
    } else {
      std::swap(words[index], words[other]);
    }
  } else if (choice < 84) {
    parts.entry = one_in(rng, 2) ? 0 : below(rng, words.size());
  } else if (choice < 94) {
    mutate_data(rng, parts.data, room);
  } else {
    mutate_code_bytes(words, room / 4);
  }
}

}  // namespace

std::size_t mutate_kernel_image(std::uint8_t* data, std::size_t size, std::size_t max_size, unsigned seed) {
  Random rng(seed);
  // Now and then plain byte mutation of the whole file, header included.
  if (max_size < KERNEL_HEADER_SIZE + 4 || one_in(rng, 20)) return LLVMFuzzerMutate(data, size, max_size);

  ImageParts parts = split_image(data, size);
  const std::size_t rounds = one_in(rng, 2) ? 1 : 1 + below(rng, 4);
  for (std::size_t i = 0; i < rounds; ++i) mutate_parts(rng, parts, max_size);
  return join_image(parts, data, max_size, one_in(rng, 25) ? &rng : nullptr);
}

std::size_t cross_kernel_images(const std::uint8_t* a, std::size_t a_size, const std::uint8_t* b, std::size_t b_size,
                                std::uint8_t* out, std::size_t max_out_size, unsigned seed) {
  Random rng(seed);
  ImageParts first = split_image(a, a_size);
  const ImageParts second = split_image(b, b_size);
  // first's head, then a piece of second's code.
  const std::size_t head = 1 + below(rng, first.words.size());
  const std::size_t from = below(rng, second.words.size());
  const std::size_t to = from + 1 + below(rng, second.words.size() - from);
  first.words.resize(head);
  first.words.insert(first.words.end(), second.words.begin() + static_cast<std::ptrdiff_t>(from),
                     second.words.begin() + static_cast<std::ptrdiff_t>(to));
  if (one_in(rng, 2)) first.data = second.data;
  return join_image(first, out, max_out_size, nullptr);
}

}  // namespace kdsp
