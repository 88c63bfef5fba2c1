#include "radio/kernel/assembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/byte_order.h"
#include "formats/kernel_image.h"
#include "vm/isa.h"

namespace kdsp {

namespace {

struct Assembled {
  int result;
  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
};

Assembled assemble(const std::string& text) {
  Assembled a{0, {}, {}};
  a.result = assemble_text(text, &a.program, &a.diagnostics);
  return a;
}

std::uint32_t single_word(const std::string& instruction) {
  const Assembled a = assemble(instruction + "\n");
  EXPECT_EQ(a.result, 0) << instruction << ": " << (a.diagnostics.empty() ? "" : a.diagnostics[0].message);
  return a.program.code.empty() ? 0xDEADDEADu : a.program.code[0];
}

std::string repeat(const std::string& line, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += line + "\n";
  return text;
}

TEST(Assembler, EncodesEveryInstructionForm) {
  struct Case {
    const char* source;
    std::uint32_t word;
  } cases[] = {
      {"NOP", 0x00000000},
      {"LI r4, 25000", 0x014061A8},
      {"LI r15, 0xFFFFF", 0x01FFFFFF},
      {"LUI r1, 0xFFFFF", 0x021FFFFF},
      {"ADDI r2, r3, -1", 0x0323FFFF},
      {"ADDI r1, r3, 0", 0x03130000},
      {"ADDI r0, r0, 32767", 0x03007FFF},
      {"ADDI r0, r0, -32768", 0x03008000},
      {"LD r1, 8(r2)", 0x04120008},
      {"LD r1, (r2)", 0x04120000},
      {"ST r7, -4(r15)", 0x057FFFFC},
      {"ADD r1, r2, r3", 0x06123000},
      {"XOR r15, r14, r13", 0x07FED000},
      {"SHL r1, r2, 31", 0x0812001F},
      {"SHR r1, r2, 0", 0x09120000},
      {"BEQZ r3, 0", 0x0A300000},
      {"BLTZ r3, -2", 0x0B30FFFE},
      {"JMP -1", 0x0C00FFFF},
      {"GETIQ r2", 0x20200000},
      {"FMDEMOD r3, r2, r4", 0x21324000},
      {"FSHIFT r5, r3, r6", 0x22536000},
      {"EMIT", 0x30000000},
      {"EXIT", 0x30000001},
      {"HALT", 0xFF000000},
  };
  for (const Case& c : cases) {
    const std::uint32_t word = single_word(c.source);
    EXPECT_EQ(word, c.word) << c.source;
    EXPECT_NE(find_instruction(word), nullptr) << c.source;
  }
}

TEST(Assembler, AcceptsCaseCommentsHexAndLineEndings) {
  const Assembled a = assemble(
      "  ; a whole-line comment\r\n"
      "start: first:  li R4, 0x61a8   # trailing comment\r\n"
      "\taddi r1 , r4 , +0x10 ; spaces around commas\r\n"
      "  Halt");
  ASSERT_EQ(a.result, 0);
  EXPECT_EQ(a.program.code, (std::vector<std::uint32_t>{0x014061A8, 0x03140010, 0xFF000000}));
}

TEST(Assembler, ResolvesBranchLabelsAsOffsetsFromTheNextWord) {
  const Assembled a = assemble(
      "top:    NOP\n"
      "        BEQZ r1, done   ; forward: target 4 - (1 + 1)\n"
      "        BLTZ r2, top    ; backward: 0 - (2 + 1)\n"
      "        JMP  top+1      ; label plus words\n"
      "done:   HALT\n");
  ASSERT_EQ(a.result, 0);
  EXPECT_EQ(a.program.code[1], 0x0A100002u);
  EXPECT_EQ(a.program.code[2], 0x0B20FFFDu);
  EXPECT_EQ(a.program.code[3], 0x0C00FFFDu);
}

TEST(Assembler, LaysOutTheDataSectionAndItsLabels) {
  const Assembled a = assemble(
      ".entry main\n"
      ".data\n"
      "first:  .word 0x11223344, -1\n"
      "bytes:  .byte 1, 255, -128\n"
      "        .space 5\n"
      "table:  .word first, bytes+1, table\n"
      "end:\n"
      ".text\n"
      "        NOP\n"
      "main:   LI r2, table\n"
      "        LD r3, end-4(r0)\n"
      "        .word 0x00000001\n");
  ASSERT_EQ(a.result, 0);
  const std::vector<std::uint8_t> expected = {0x44, 0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0xFF, 0x80, 0, 0, 0,
                                              0,    0,    0,    0,    0,    0,    9,    0,    0, 0,    16,   0, 0, 0};
  EXPECT_EQ(a.program.data, expected);
  EXPECT_EQ(a.program.entry, 1u);
  EXPECT_EQ(a.program.code[1], 0x01200010u);  // LI r2, 16
  EXPECT_EQ(a.program.code[2], 0x04300018u);  // LD r3, 24(r0)
  EXPECT_EQ(a.program.code[3], 0x00000001u);  // a raw word in the code, invalid as it may be
}

// What LUI then ADDI leave in rd, computed from the words as the interpreter
// defines the two instructions.
std::uint32_t run_load_constant(const std::vector<std::uint32_t>& code) {
  const DecodedWord lui = decode_word(code[0]);
  const DecodedWord addi = decode_word(code[1]);
  EXPECT_EQ(lui.opcode, OP_LUI);
  EXPECT_EQ(addi.opcode, OP_ADDI);
  EXPECT_EQ(addi.ra, lui.rd);
  EXPECT_EQ(addi.rd, lui.rd);
  return (lui.imm20 << 12) + static_cast<std::uint32_t>(imm16_signed(addi.imm16));
}

TEST(Assembler, LoadConstantReachesEvery32BitValue) {
  std::vector<std::int64_t> values = {0,          1,          -1,         0x7FF,      0x800,         0xFFF,
                                      0x1000,     0x7FFF,     0x8000,     0xFFFF,     0x10000,       -0x800,
                                      -0x801,     -0x1000,    0x7FFFF800, 0x7FFFFFFF, -2147483648LL, 0x80000800,
                                      0xFFFFF800, 0xFFFFFFFF, 0xDEADBEEF, 0x00100000};
  std::uint32_t lcg = 12345;
  for (int i = 0; i < 2000; ++i) {
    lcg = lcg * 1664525u + 1013904223u;
    values.push_back(lcg);
  }
  for (std::int64_t value : values) {
    const Assembled a = assemble("LI32 r9, " + std::to_string(value) + "\n");
    ASSERT_EQ(a.result, 0) << value;
    ASSERT_EQ(a.program.code.size(), 2u);
    EXPECT_EQ(run_load_constant(a.program.code), static_cast<std::uint32_t>(value)) << value;
    EXPECT_EQ(decode_word(a.program.code[0]).rd, 9);
  }
}

struct ErrorCase {
  const char* source;
  std::uint32_t line;
  std::uint32_t column;
  const char* message;  // a part of the expected message
};

void expect_error(const ErrorCase& c) {
  const Assembled a = assemble(c.source);
  EXPECT_EQ(a.result, -1) << c.source;
  ASSERT_FALSE(a.diagnostics.empty()) << c.source;
  const AsmDiagnostic& d = a.diagnostics[0];
  EXPECT_EQ(d.line, c.line) << c.source << ": " << d.message;
  EXPECT_EQ(d.column, c.column) << c.source << ": " << d.message;
  EXPECT_NE(d.message.find(c.message), std::string::npos) << c.source << ": " << d.message;
  EXPECT_TRUE(a.program.code.empty());
}

TEST(Assembler, ReportsEachKindOfMistakeWhereItIs) {
  const ErrorCase cases[] = {
      {"NOP\n  FROB r1\nHALT", 2, 3, "unknown mnemonic 'FROB'"},
      {"ADD r1, r2\n", 1, 1, "ADD takes rd, ra, rb, got 2 operands"},
      {"HALT r1\n", 1, 1, "HALT takes no operands, got 1 operand"},
      {"LI r16, 1\n", 1, 4, "register 'r16' out of range"},
      {"LD r1, 0(r99)\n", 1, 10, "register 'r99' out of range"},
      {"ADD r1, 5, r2\n", 1, 9, "expected a register"},
      {"LD r1, r2\n", 1, 8, "expected imm16(ra)"},
      {"ADDI r1, r1, 32768\n", 1, 14, "does not fit in a signed 16-bit immediate"},
      {"LD r1, -32769(r2)\n", 1, 8, "does not fit in a signed 16-bit immediate"},
      {"LI r1, 0x100000\n", 1, 8, "does not fit in an unsigned 20-bit immediate"},
      {"LUI r1, -1\n", 1, 9, "does not fit in an unsigned 20-bit immediate"},
      {"SHL r1, r1, 32\n", 1, 13, "does not fit in a shift count (0..31)"},
      {"SHR r1, r1, -1\n", 1, 13, "shift count"},
      {"LI32 r1, 0x100000000\n", 1, 10, "bad number"},
      {"LI32 r1, -2147483649\n", 1, 10, "does not fit in 32 bits"},
      {"JMP 32768\n", 1, 5, "does not fit in a signed 16-bit immediate"},
      {"NOP\nJMP end\nHALT\nend:\n", 2, 5, "lies outside the code"},
      {".data\nx: .word 1\n.text\nBEQZ r1, x\n", 4, 10, "is not a code label"},
      {"JMP nowhere\n", 1, 5, "undefined label 'nowhere'"},
      {"a: NOP\na: HALT\n", 2, 1, "duplicate label 'a' (first defined on line 1)"},
      {"r3: NOP\n", 1, 1, "register name cannot be a label"},
      {".data\nHALT\n", 2, 1, "in the data section"},
      {".byte 1\nHALT\n", 1, 1, "belongs in the data section"},
      {".entry a\n.entry a\na: HALT\n", 2, 1, "duplicate .entry"},
      {".entry d\nHALT\n.data\nd: .word 0\n", 1, 8, "names a data label"},
      {".entry 1\nHALT\n", 1, 8, "entry word 1 lies outside the code"},
      {".data\n.byte 256\n.text\nHALT\n", 2, 7, "does not fit in a byte"},
      {".frob\nHALT\n", 1, 1, "unknown directive"},
      {"LI r1, 12abc\n", 1, 8, "bad number"},
      {"LI r1, x + y\n", 1, 10, "expected '+ number'"},
      {"ADD r1,, r2\n", 1, 8, "empty operand"},
      {"NOP ! \n", 1, 1, "NOP takes no operands"},
      {"; nothing but a comment\n", 1, 1, "no instructions"},
  };
  for (const ErrorCase& c : cases) expect_error(c);
}

TEST(Assembler, ReportsEveryMistakeInOneRunInSourceOrder) {
  const Assembled a = assemble(
      "        JMP later_undefined\n"
      "        LI r20, 1\n"
      "        FROB\n"
      "        ADDI r1, r1, 99999\n"
      "        HALT\n");
  ASSERT_EQ(a.result, -1);
  ASSERT_EQ(a.diagnostics.size(), 4u);
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(a.diagnostics[i].line, i + 1) << a.diagnostics[i].message;
}

TEST(Assembler, EnforcesTheCodeAndDataLimitsExactly) {
  EXPECT_EQ(assemble(repeat("NOP", 4096)).result, 0);
  EXPECT_EQ(assemble(repeat("NOP", 4094) + "LI32 r1, 5\n").result, 0);
  expect_error({(repeat("NOP", 4095) + "LI32 r1, 5\n" + repeat("NOP", 10)).c_str(), 4096, 1,
                "more than 4096 instruction words"});
  const Assembled over = assemble(repeat("NOP", 5000));
  EXPECT_EQ(over.diagnostics.size(), 1u);  // said once, not once per line

  EXPECT_EQ(assemble("HALT\n.data\n.space 1048572\n.word 7\n").result, 0);
  expect_error({"HALT\n.data\n.space 1048573\n.word 7\n", 4, 1, "data section larger than 1048576 bytes"});
  expect_error({"HALT\n.data\n.space 4294967295\n.space 4294967295\n", 3, 1, "data section larger"});
}

TEST(Assembler, LabelsAfterABadLineKeepTheirAddresses) {
  // The bad LI32 still takes its two words, so 'end' is word 3 and the branch
  // reports nothing of its own.
  const Assembled a = assemble("LI32 r99, 1\nJMP end\nend: HALT\n");
  ASSERT_EQ(a.diagnostics.size(), 1u);
  EXPECT_EQ(a.diagnostics[0].line, 1u);
}

TEST(Assembler, ImageFileMatchesWhatTheLoaderAccepts) {
  const Assembled a = assemble(".entry go\nNOP\ngo: HALT\n.data\n.byte 1, 2, 3\n");
  ASSERT_EQ(a.result, 0);
  const std::vector<std::uint8_t> file = kernel_file_bytes(a.program);
  KernelHeader header{};
  ASSERT_EQ(check_kernel_file(file.data(), file.size(), &header), nullptr);
  EXPECT_EQ(header.code_count, 2u);
  EXPECT_EQ(header.data_size, 3u);
  EXPECT_EQ(header.entry, 1u);
  EXPECT_EQ(read_le32(file.data() + 36), 0xFF000000u);
  EXPECT_EQ(file.back(), 3);
}

// Arbitrary bytes and damaged programs must come back as diagnostics, never
// as a crash, a hang or an unbounded flood.
TEST(Assembler, SurvivesArbitraryText) {
  const std::string valid =
      ".entry s\ns: GETIQ r2\nLD r4, c(r0)\nFMDEMOD r3, r2, r4\nADDI r1, r3, 0\nEMIT\nLI32 r5, -7\n"
      "BEQZ r5, s\nHALT\n.data\nc: .word 25000, c+4\n.byte 1\n.space 3\n";
  const std::string alphabet = "rR0123456789xX-+,:;#().abcdefLIJMPHALT \t\n\r\x80\xff";
  std::uint32_t lcg = 99;
  auto next = [&lcg]() {
    lcg = lcg * 1103515245u + 12345u;
    return lcg >> 8;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text = valid;
    const int edits = 1 + static_cast<int>(next() % 8);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = next() % (text.size() + 1);
      const char c = round % 3 == 0 ? static_cast<char>(next() & 0xFF) : alphabet[next() % alphabet.size()];
      if (next() % 2 == 0 && at < text.size()) {
        text[at] = c;
      } else {
        text.insert(at, 1, c);
      }
    }
    std::vector<AsmDiagnostic> diagnostics;
    AsmProgram program;
    const int result = assemble_text(text, &program, &diagnostics);
    if (result != 0) {
      ASSERT_FALSE(diagnostics.empty());
      ASSERT_LE(diagnostics.size(), ASM_MAX_DIAGNOSTICS + 1);
    } else {
      ASSERT_TRUE(diagnostics.empty());
      ASSERT_GE(program.code.size(), 1u);
      ASSERT_LT(program.entry, program.code.size());
    }
  }
  const Assembled flood = assemble(repeat("@@@", 500) + std::string(1000, '\0'));
  EXPECT_EQ(flood.diagnostics.size(), ASM_MAX_DIAGNOSTICS + 1);
  EXPECT_EQ(flood.diagnostics.back().message, "too many errors; giving up");
}

}  // namespace

TEST(Assembler, DefinitionsFromOutsideAreConstantsWhereverANumberMayStand) {
  AsmDefinition offset;
  AsmDefinition negative;
  Failure error;
  ASSERT_EQ(parse_asm_definition("OFFSET_HZ=25000", &offset, &error), 0) << error.cause;
  ASSERT_EQ(parse_asm_definition("low=-0x10", &negative, &error), 0) << error.cause;
  EXPECT_EQ(negative.value, -16);
  const std::vector<AsmDefinition> definitions = {offset, negative};
  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  ASSERT_EQ(assemble_text("LI r4, OFFSET_HZ\nADDI r1, r1, low+1\nHALT\n.data\n.word OFFSET_HZ\n", &program,
                          &diagnostics, definitions),
            0);
  EXPECT_EQ(program.code[0], 0x014061A8u);
  EXPECT_EQ(program.code[1], 0x0311FFF1u);
  EXPECT_EQ(program.data, (std::vector<std::uint8_t>{0xA8, 0x61, 0, 0}));

  // A branch needs a code label, and a label may not take a defined name.
  diagnostics.clear();
  EXPECT_EQ(assemble_text("JMP OFFSET_HZ\nOFFSET_HZ: HALT\n", &program, &diagnostics, definitions), -1);
  ASSERT_EQ(diagnostics.size(), 2u);
  EXPECT_NE(diagnostics[0].message.find("not a code label"), std::string::npos);
  EXPECT_NE(diagnostics[1].message.find("also given as a constant with -D"), std::string::npos);

  for (const char* bad : {"NAME", "=5", "9lives=1", "r4=1", ".x=1", "a-b=1", "X=", "X=0x100000000", "X=five"}) {
    AsmDefinition untouched{"keep", 7};
    EXPECT_EQ(parse_asm_definition(bad, &untouched, &error), -1) << bad;
    EXPECT_EQ(untouched.value, 7) << bad;
  }
}

}  // namespace kdsp
