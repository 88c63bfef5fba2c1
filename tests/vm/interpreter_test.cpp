#include <gtest/gtest.h>

#include "base/memory.h"
#include "base/result_code.h"
#include "formats/kernel_image.h"
#include "support/kernel_words.h"
#include "vm/interpreter.h"
#include "vm/kernel_runner.h"

namespace kdsp {

using namespace words;

namespace {

// Runs `code`, stores r2 at address 0 and halts; returns what r2 held.
std::uint32_t r2_after(std::vector<std::uint32_t> code) {
  code.push_back(st(2, 0, 0));
  code.push_back(halt());
  const KernelOutcome outcome = run_words(code);
  EXPECT_EQ(outcome.result, ResultCode::NO_OUTPUT);
  return word_at(outcome, 0);
}

// A prologue, then a loop that completes exactly 3 * iterations
// instructions, then `last`, which is therefore instruction number
// prologue.size() + 3 * iterations + 1 of the run.
std::vector<std::uint32_t> counted_kernel(std::vector<std::uint32_t> prologue, std::uint32_t iterations,
                                          std::uint32_t last) {
  std::vector<std::uint32_t> code = std::move(prologue);
  // LI, then per iteration ADDI + BEQZ + JMP, except the last iteration
  // whose BEQZ is taken past the JMP: 1 + 3 * iterations - 1 steps.
  code.push_back(li(9, iterations));
  code.push_back(addi(9, 9, -1));
  code.push_back(beqz(9, 1));
  code.push_back(jmp(-3));
  code.push_back(last);
  return code;
}

}  // namespace

TEST(InterpreterFieldRules, WordsBreakingAFieldRuleEndWithBadOpcode) {
  const std::uint32_t bad_words[] = {
      0x00000001u,          // NOP with any bit set
      0x00100000u,          // NOP with rd set
      add(1, 2, 3) | 0x1u,  // ADD with low twelve bits
      xor_(1, 2, 3) | 0x800u,
      shl(1, 2, 32),             // shift count above 31
      shr(1, 2, 0x1000),         // count in the rb bits
      beqz(1, 0) | 0x00010000u,  // ra field in a conditional branch
      bltz(1, 0) | 0x00020000u,
      jmp(0) | 0x00100000u,  // rd in JMP
      jmp(0) | 0x00010000u,  // ra in JMP
      getiq(3) | 0x1u,       // GETIQ low bits
      getiq(3) | 0x00010000u,
      fmdemod(3, 2, 4) | 0x1u,
      fshift(3, 2, 4) | 0x10u,
      0x30000002u,  // no such sub-function of 0x30
      0x30800000u,
      0xFF000001u,  // HALT with operand bits
      0x0D000000u,
      0x1F000000u,
      0x23000000u,
      0x2F000000u,
      0x31000000u,
      0xFE000000u,
  };
  for (std::uint32_t word : bad_words) {
    // The first word stores a marker; the bad word must not disturb anything.
    const KernelOutcome outcome = run_words({li(2, 7), st(2, 0, 0), word, halt()});
    EXPECT_EQ(outcome.result, ResultCode::BAD_OPCODE) << std::hex << word;
    EXPECT_NE(outcome.end, RunEnd::KERNEL_EXIT);
    EXPECT_EQ(word_at(outcome, 0), 7u);
  }
}

TEST(InterpreterFieldRules, RegisterFieldsBeyondTheFormAreIgnored) {
  // LI/LUI use ra/rb bits as immediate; ADDI/LD/ST/shifts use rb bits.
  EXPECT_EQ(r2_after({li(2, 0xFFFFF)}), 1048575u);
  EXPECT_EQ(r2_after({lui(2, 0xFFFFF)}), 0xFFFFF000u);
  EXPECT_EQ(r2_after({li(3, 5), addi(2, 3, 0x7FFF)}), 5u + 0x7FFFu);
  EXPECT_EQ(r2_after({nop(), li(2, 1)}), 1u);
}

TEST(InterpreterArithmetic, WrapsAndShiftsAsThirtyTwoBitRegisters) {
  EXPECT_EQ(r2_after({addi(2, 2, -1)}), 0xFFFFFFFFu);
  EXPECT_EQ(r2_after({lui(3, 0xFFFFF), li(4, 0xFFF), add(2, 3, 4), addi(2, 2, 1)}), 0u);
  EXPECT_EQ(r2_after({li(3, 0xF0F0F), li(4, 0xFFFFF), xor_(2, 3, 4)}), 0x0F0F0u);
  EXPECT_EQ(r2_after({li(3, 1), shl(2, 3, 31)}), 0x80000000u);
  EXPECT_EQ(r2_after({lui(3, 0x80000), shr(2, 3, 31)}), 1u);
  EXPECT_EQ(r2_after({lui(3, 0x80000), shr(2, 3, 0)}), 0x80000000u);
  // A destination that is also a source reads the source first.
  EXPECT_EQ(r2_after({li(2, 3), add(2, 2, 2)}), 6u);
}

TEST(InterpreterMemory, LoadsAndStoresOnlyWholeWordsInsideTheMemory) {
  Bytes data(DATA_MEMORY_SIZE, 0);
  data[32767] = 0xAB;
  data[DATA_MEMORY_SIZE - 4] = 0x01;
  data[DATA_MEMORY_SIZE - 1] = 0x80;
  const KernelOutcome loaded =
      run_words({ld(2, 0x7FFF, 0), st(2, 0, 0), li(3, 0xFFFFC), ld(2, 0, 3), st(2, 4, 0), halt()}, data);
  EXPECT_EQ(loaded.result, ResultCode::NO_OUTPUT);
  EXPECT_EQ(word_at(loaded, 0), 0xABu);
  EXPECT_EQ(word_at(loaded, 4), 0x80000001u);

  const std::vector<std::vector<std::uint32_t>> out_of_bounds = {
      {li(3, 0xFFFFD), ld(2, 0, 3), halt()},
      {ld(2, -4, 0), halt()},                                              // no wrap below 0
      {lui(3, 0xFFFFF), li(4, 0xFFF), add(3, 3, 4), ld(2, 1, 3), halt()},  // no wrap past 2^32
      {li(3, 0xFFFFF), st(2, 0, 3), halt()},
  };
  for (const auto& code : out_of_bounds) {
    const KernelOutcome outcome = run_words(code);
    EXPECT_EQ(outcome.result, ResultCode::BAD_ADDRESS);
  }

  // Unaligned and little-endian: 0x11223344 stored at 1 reads back at 0 as
  // 0x22334400.
  const KernelOutcome unaligned =
      run_words({lui(3, 0x11223), addi(3, 3, 0x344), st(3, 1, 0), ld(2, 0, 0), st(2, 8, 0), halt()});
  EXPECT_EQ(word_at(unaligned, 8), 0x22334400u);
  EXPECT_EQ(unaligned.memory[1], 0x44);
  EXPECT_EQ(unaligned.memory[4], 0x11);

  // A refused store writes nothing.
  const KernelOutcome refused = run_words({li(3, 0xFFFFD), li(2, 0xFFFFF), st(2, 0, 3), halt()});
  EXPECT_EQ(refused.result, ResultCode::BAD_ADDRESS);
  EXPECT_EQ(word_at(refused, 0xFFFFC), 0u);
}

TEST(InterpreterMemory, DataSectionAppearsAtAddressZero) {
  const KernelOutcome outcome = run_words({ld(2, 0, 0), st(2, 16, 0), halt()}, Bytes{0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(word_at(outcome, 16), 0x12345678u);
}

TEST(InterpreterBranches, TargetsAreCheckedOnlyWhenTaken) {
  // Not taken: the out-of-range offset does not matter.
  EXPECT_EQ(run_words({li(2, 1), beqz(2, 100), halt()}).result, ResultCode::NO_OUTPUT);
  EXPECT_EQ(run_words({li(2, 0), beqz(2, 100), halt()}).result, ResultCode::BAD_OPCODE);
  EXPECT_EQ(run_words({li(2, 0), beqz(2, -3), halt()}).result, ResultCode::BAD_OPCODE);
  EXPECT_EQ(run_words({li(2, 0), beqz(2, -2), halt()}).result, ResultCode::STEP_LIMIT);  // back to the LI forever
  EXPECT_EQ(run_words({jmp(1), li(2, 1), halt()}).result, ResultCode::NO_OUTPUT);
  EXPECT_EQ(run_words({jmp(2), halt()}).result, ResultCode::BAD_OPCODE);
  // Field rules come first, taken or not.
  EXPECT_EQ(run_words({li(2, 1), beqz(2, 0) | 0x00010000u, halt()}).result, ResultCode::BAD_OPCODE);
  EXPECT_EQ(run_words({li(2, 1), bltz(2, 0) | 0x00010000u, halt()}).result, ResultCode::BAD_OPCODE);
}

TEST(InterpreterBranches, BltzTestsTheSignBit) {
  EXPECT_EQ(r2_after({lui(3, 0x80000), li(2, 1), bltz(3, 1), li(2, 0)}), 1u);
  EXPECT_EQ(r2_after({lui(3, 0x7FFFF), addi(3, 3, 0x7FF), addi(3, 3, 0x7FF), li(2, 1), bltz(3, 1), li(2, 0)}), 0u);
  EXPECT_EQ(r2_after({addi(3, 3, -1), li(2, 1), bltz(3, 1), li(2, 0)}), 1u);
}

TEST(InterpreterBranches, CountingLoopRunsItsIterations) {
  // r2 = sum of 1..10 with r3 counting down.
  EXPECT_EQ(r2_after({li(3, 10), add(2, 2, 3), addi(3, 3, -1), beqz(3, 1), jmp(-4)}), 55u);
}

TEST(InterpreterSteps, BudgetCountsEveryCompletedInstruction) {
  // A jump to itself runs exactly 100000 times.
  EXPECT_EQ(run_words({jmp(-1)}).result, ResultCode::STEP_LIMIT);

  // HALT as the 100000th instruction ends with its own result.
  EXPECT_EQ(run_words(counted_kernel({}, 33333, halt())).result, ResultCode::NO_OUTPUT);
  // One iteration more and the budget is gone first.
  EXPECT_EQ(run_words(counted_kernel({}, 33334, halt())).result, ResultCode::STEP_LIMIT);
  // A NOP as the 100000th instruction and the last word: the budget decides,
  // not running past the code.
  EXPECT_EQ(run_words(counted_kernel({}, 33333, nop())).result, ResultCode::STEP_LIMIT);
  EXPECT_EQ(run_words(counted_kernel({}, 33332, nop())).result, ResultCode::BAD_OPCODE);
  // EXIT as the 100000th instruction.
  const KernelOutcome exited = run_words(counted_kernel({li(1, 5), nop(), nop()}, 33332, exit_()));
  EXPECT_EQ(exited.exit_code, 5u);
  EXPECT_EQ(exited.end, RunEnd::KERNEL_EXIT);
  // The 100000th instruction takes full effect before the run ends.
  const KernelOutcome stored = run_words(counted_kernel({li(2, 9), nop(), nop()}, 33332, st(2, 0, 0)));
  EXPECT_EQ(stored.result, ResultCode::STEP_LIMIT);
  EXPECT_EQ(word_at(stored, 0), 9u);
}

// Runs `code` with a lowered step budget, as the fuzz harness does.
RunOutcome run_with_budget(std::vector<std::uint32_t> code, std::uint32_t budget) {
  std::vector<std::uint8_t> memory(DATA_MEMORY_SIZE, 0);
  KernelImage kernel{.code = code.data(),
                     .code_count = static_cast<std::uint32_t>(code.size()),
                     .entry = 0,
                     .memory = memory.data(),
                     .data_size = 0};
  std::vector<float> samples = silent_capture();
  const IqCapture capture{samples.data(), samples.size() / 2};
  return run_kernel(kernel, capture, core_signal_functions(nullptr, nullptr), budget);
}

TEST(InterpreterSteps, LoweredBudgetEndsTheRunByTheSameRule) {
  // The LI uses the only step: the budget ends the run before EXIT.
  EXPECT_EQ(run_with_budget({li(1, 5), exit_()}, 1).failure, ResultCode::STEP_LIMIT);
  const RunOutcome exited = run_with_budget({li(1, 5), exit_()}, 2);
  EXPECT_EQ(exited.end, RunEnd::KERNEL_EXIT);
  EXPECT_EQ(exited.exit_code, 5u);
  EXPECT_EQ(run_with_budget({jmp(-1)}, 3).failure, ResultCode::STEP_LIMIT);
  // No budget at all still lets one instruction complete.
  EXPECT_EQ(run_with_budget({li(1, 5), exit_()}, 0).failure, ResultCode::STEP_LIMIT);
}

TEST(InterpreterEnds, RunningPastTheCodeAndEntryChecks) {
  EXPECT_EQ(run_words({nop()}).result, ResultCode::BAD_OPCODE);
  EXPECT_EQ(run_words({li(2, 1), st(2, 0, 0)}).result, ResultCode::BAD_OPCODE);
  // Entry beyond the code, which the loader refuses, is refused here too.
  EXPECT_EQ(run_words({halt()}, {}, 1).result, ResultCode::BAD_OPCODE);
  // Execution starts at the entry word.
  const KernelOutcome outcome = run_words({li(2, 1), st(2, 0, 0), halt()}, {}, 1);
  EXPECT_EQ(outcome.result, ResultCode::NO_OUTPUT);
  EXPECT_EQ(word_at(outcome, 0), 0u);
}

TEST(InterpreterEnds, ExitAndHaltResults) {
  const KernelOutcome halted = run_words({halt()});
  EXPECT_EQ(halted.result, ResultCode::NO_OUTPUT);
  EXPECT_NE(halted.end, RunEnd::KERNEL_EXIT);
  EXPECT_TRUE(halted.wav.empty());

  EXPECT_EQ(run_words({exit_()}).result, ResultCode::NO_OUTPUT);  // code 0 without an EMIT
  for (std::uint32_t code : {1u, 3u, 7u, 255u}) {
    const KernelOutcome outcome = run_words({li(1, code), exit_()});
    EXPECT_EQ(outcome.exit_code, code);
    EXPECT_EQ(outcome.end, RunEnd::KERNEL_EXIT);
  }
  const KernelOutcome too_big = run_words({li(1, 256), exit_()});
  EXPECT_EQ(too_big.result, ResultCode::BAD_PARAM);
  EXPECT_NE(too_big.end, RunEnd::KERNEL_EXIT);
}

TEST(InterpreterHandles, CaptureHandleAndRefusedHandles) {
  EXPECT_EQ(r2_after({getiq(2)}), 1u);
  // EMIT as the first word names handle 0, which is never in use.
  EXPECT_EQ(run_words({emit(), halt()}).result, ResultCode::BAD_HANDLE);
  // The capture cannot be emitted or shifted.
  EXPECT_EQ(run_words({getiq(1), emit(), halt()}).result, ResultCode::BAD_HANDLE);
  EXPECT_EQ(run_words({getiq(2), fshift(3, 2, 4), halt()}).result, ResultCode::BAD_HANDLE);
  // FMDEMOD needs the capture handle.
  for (std::uint32_t handle : {0u, 2u, 127u, 128u, 0xFFFFFFFFu}) {
    const KernelOutcome outcome =
        run_words({lui(2, handle >> 12), addi(2, 2, 0), li(5, handle & 0xFFF), add(2, 2, 5), fmdemod(3, 2, 4), halt()});
    EXPECT_EQ(outcome.result, ResultCode::BAD_HANDLE) << handle;
  }
  // The offset is checked after the handle: +-100000 is the range.
  EXPECT_EQ(run_words({getiq(2), li(4, 100001), fmdemod(3, 2, 4), halt()}).result, ResultCode::BAD_PARAM);
  // -100001: two's complement negation by XOR with all ones, plus one.
  EXPECT_EQ(run_words({getiq(2), li(4, 100001), addi(6, 0, -1), xor_(4, 4, 6), addi(4, 4, 1), fmdemod(3, 2, 4), halt()})
                .result,
            ResultCode::BAD_PARAM);
  EXPECT_EQ(run_words({getiq(2), li(4, 10001), li(1, 0), fshift(3, 1, 4), halt()}).result, ResultCode::BAD_HANDLE);
  EXPECT_EQ(run_words({li(4, 100001), fmdemod(3, 2, 4), halt()}).result, ResultCode::BAD_HANDLE);
}

}  // namespace kdsp
