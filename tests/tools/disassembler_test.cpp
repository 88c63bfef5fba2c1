#include "radio/kernel/disassembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memory.h"
#include "formats/kernel_image.h"
#include "radio/kernel/assembler.h"
#include "vm/isa.h"

namespace kdsp {

namespace {

struct Random {
  std::uint32_t state;
  std::uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state;
  }
};

std::vector<std::uint8_t> image_file(std::vector<std::uint32_t> code, std::vector<std::uint8_t> data,
                                     std::uint32_t entry) {
  return kernel_file_bytes(AsmProgram{std::move(code), std::move(data), entry});
}

std::string disassemble(const std::vector<std::uint8_t>& file) {
  std::string text;
  Failure failure;
  EXPECT_EQ(disassemble_kernel_file(file.data(), file.size(), &text, &failure), 0) << failure.cause;
  return text;
}

// Disassembles, assembles the listing again and expects the very same file.
void expect_round_trip(const std::vector<std::uint8_t>& file, const char* what) {
  const std::string listing = disassemble(file);
  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  ASSERT_EQ(assemble_text(listing, &program, &diagnostics), 0)
      << what << ": line " << diagnostics[0].line << ": " << diagnostics[0].message;
  EXPECT_TRUE(kernel_file_bytes(program) == file) << what;
}

TEST(Disassembler, RoundTripsEveryOpcodeWithEveryFieldPattern) {
  // 256 opcodes x 16 words fill the largest code: the fixed-bit patterns that
  // make a word valid or break one rule, plus random fields.
  const std::uint32_t patterns[] = {0x000000, 0x000001, 0x000002, 0xFFFFFF, 0x00001F, 0x000020,
                                    0x000FFF, 0x001000, 0x0F0000, 0xF00000, 0x0FFFFF};
  Random random{7};
  std::vector<std::uint32_t> code;
  for (std::uint32_t opcode = 0; opcode < 256; ++opcode) {
    for (std::uint32_t low24 : patterns) code.push_back((opcode << OPCODE_SHIFT) | low24);
    while (code.size() % 16 != 0) code.push_back((opcode << OPCODE_SHIFT) | (random.next() & LOW24_MASK));
  }
  // Branches with targets inside the code, so that labels are exercised too.
  for (std::uint32_t opcode : {OP_BEQZ, OP_BLTZ, OP_JMP}) {
    for (int i = 0; i < 16; ++i) {
      const std::uint32_t at = opcode * 16 + static_cast<std::uint32_t>(i);
      const std::int64_t target = random.next() % KERNEL_MAX_WORDS;
      const std::int64_t offset = target - (static_cast<std::int64_t>(at) + 1);
      const std::uint32_t rd = opcode == OP_JMP ? 0 : random.next() % 16;
      code[at] = encode_word(static_cast<std::uint8_t>(opcode), rd, 0, static_cast<std::uint32_t>(offset));
    }
  }
  ASSERT_EQ(code.size(), KERNEL_MAX_WORDS);
  std::vector<std::uint8_t> data(1003);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = (i / 100) % 2 == 0 ? 0 : static_cast<std::uint8_t>(random.next() >> 24);
  expect_round_trip(image_file(code, data, 1234), "every opcode");
  expect_round_trip(image_file(code, {}, KERNEL_MAX_WORDS - 1), "every opcode, last word as entry");
}

TEST(Disassembler, RoundTripsDataSectionsOfEveryShape) {
  Random random{11};
  for (std::size_t size : {1u, 2u, 3u, 4u, 5u, 15u, 16u, 17u, 19u, 33u, 4099u}) {
    std::vector<std::uint8_t> dense(size);
    for (std::uint8_t& byte : dense) byte = static_cast<std::uint8_t>(random.next() >> 24);
    expect_round_trip(image_file({0xFF000000}, dense, 0), "dense data");
    std::vector<std::uint8_t> sparse(size, 0);
    sparse[size / 2] = 0x5A;
    expect_round_trip(image_file({0xFF000000}, sparse, 0), "sparse data");
    expect_round_trip(image_file({0xFF000000}, std::vector<std::uint8_t>(size, 0), 0), "zero data");
  }
  std::vector<std::uint8_t> full(DATA_MEMORY_SIZE, 0);
  full.back() = 1;
  full[4096] = 0x80;
  expect_round_trip(image_file({0xFF000000}, full, 0), "the whole memory");
}

TEST(Disassembler, NamesBranchTargetsEntryDataAndWhyAWordIsInvalid) {
  const std::vector<std::uint32_t> code = {
      0x0A100001,  // 0: BEQZ r1, +1 -> word 2
      0x0000FFFF,  // 1: NOP with operand bits
      0x0C00FFFD,  // 2: JMP -3 -> word 0
      0x0C000005,  // 3: JMP +5 -> word 9, outside the code
      0x30000002,  // 4: opcode 0x30, sub-function 2
      0xFF000000,  // 5: HALT
  };
  const std::string listing = disassemble(image_file(code, {0x10, 0, 0, 0, 0x20}, 2));
  for (const char* expected :
       {".entry L2\n", "L0:\n", "L2:\n", "BEQZ    r1, L2", "JMP     L0", "JMP     5",
        "target 9 is outside the code: BAD_OPCODE if taken", ".word   0x0000FFFF",
        "invalid: NOP with nonzero operand bits",
        "invalid: opcode 0x30 with a sub-function other than EMIT (0) or EXIT (1)",
        "6 code words, 5 data bytes, entry word 2", "\n.data\ndata:\n", ".word   0x00000010", ".byte   0x20"}) {
    EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
  }
  EXPECT_EQ(listing.find("L1:"), std::string::npos);  // no label nobody jumps to
}

TEST(Disassembler, RefusesMalformedImagesWithTheLoadersReason) {
  const std::vector<std::uint8_t> valid = image_file({0xFF000000, 0}, {1, 2}, 1);
  std::vector<std::vector<std::uint8_t>> bad;
  bad.push_back({});
  bad.push_back(valid);
  bad.back()[0] = 'P';  // magic
  bad.push_back(valid);
  bad.back().push_back(0);  // trailing byte
  bad.push_back(valid);
  bad.back().pop_back();  // missing byte
  bad.push_back(valid);
  bad.back()[16] = 2;  // entry == code_count
  bad.push_back(valid);
  bad.back()[8] = 0;  // code_count 0
  bad.push_back(valid);
  bad.back()[25] = 1;  // reserved
  for (const std::vector<std::uint8_t>& file : bad) {
    KernelHeader header{};
    const char* loader_reason = check_kernel_file(file.data(), file.size(), &header);
    ASSERT_NE(loader_reason, nullptr);
    std::string text = "untouched";
    Failure failure;
    EXPECT_EQ(disassemble_kernel_file(file.data(), file.size(), &text, &failure), -1);
    EXPECT_EQ(failure.cause, loader_reason);
    EXPECT_EQ(text, "untouched");
  }

  // A valid image the loader has no memory for is not listed either; the
  // loader's blocks are released (LeakSanitizer checks).
  for (std::uint64_t request = 1; request <= 2; ++request) {
    std::string text = "untouched";
    mem_fail_request(request);
    Failure failure;
    const int result = disassemble_kernel_file(valid.data(), valid.size(), &text, &failure);
    mem_fail_request(0);
    EXPECT_EQ(result, -1) << request;
    EXPECT_EQ(failure.cause, "not enough memory to load the image") << request;
    EXPECT_EQ(text, "untouched");
  }
}

}  // namespace

}  // namespace kdsp
