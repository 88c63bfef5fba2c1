#include "vm/interpreter.h"

#include <algorithm>

#include "base/byte_order.h"
#include "vm/handle_ops.h"
#include "vm/isa.h"

namespace kdsp {

namespace {

// Highest address at which a whole 32-bit word fits in the data memory.
constexpr std::int64_t LAST_WORD_ADDRESS = DATA_MEMORY_SIZE - 4;

// ra + imm16, unsigned register plus signed offset, in 64 bits so that
// nothing wraps; -1 when the word would not lie wholly inside the memory.
std::int64_t data_address(const VmState& vm, const DecodedWord& f) {
  const std::int64_t address = std::int64_t{vm.regs[f.ra]} + imm16_signed(f.imm16);
  return (address < 0 || address > LAST_WORD_ADDRESS) ? -1 : address;
}

StepEnd exec_load(VmState& vm, const DecodedWord& f, const KernelImage& kernel) {
  const std::int64_t address = data_address(vm, f);
  if (address < 0) return run_failed(ResultCode::BAD_ADDRESS);
  vm.regs[f.rd] = read_le32(kernel.memory + address);
  return RUN_ON;
}

StepEnd exec_store(const VmState& vm, const DecodedWord& f, KernelImage& kernel) {
  const std::int64_t address = data_address(vm, f);
  if (address < 0) return run_failed(ResultCode::BAD_ADDRESS);
  write_le32(kernel.memory + address, vm.regs[f.rd]);
  return RUN_ON;
}

// Takes a branch: the target is next + imm16, computed wide and checked only
// now that the branch is taken.
StepEnd take_branch(const DecodedWord& f, std::uint64_t code_count, std::uint64_t& next) {
  const std::int64_t target = static_cast<std::int64_t>(next) + imm16_signed(f.imm16);
  if (target < 0 || static_cast<std::uint64_t>(target) >= code_count) return run_failed(ResultCode::BAD_OPCODE);
  next = static_cast<std::uint64_t>(target);
  return RUN_ON;
}

// Carries out one instruction whose field rules hold. Returns RUN_ON or the
// outcome that ends the run; `next` is replaced by a taken branch's target.
StepEnd execute(VmState& vm, std::uint32_t word, std::uint64_t& next, const RunContext& run) {
  const DecodedWord f = decode_word(word);
  std::uint32_t* r = vm.regs;
  switch (f.opcode) {
    case OP_NOP: return RUN_ON;
    case OP_LI: r[f.rd] = f.imm20; return RUN_ON;
    case OP_LUI: r[f.rd] = f.imm20 << 12; return RUN_ON;
    case OP_ADDI: r[f.rd] = r[f.ra] + static_cast<std::uint32_t>(imm16_signed(f.imm16)); return RUN_ON;
    case OP_LD: return exec_load(vm, f, *run.kernel);
    case OP_ST: return exec_store(vm, f, *run.kernel);
    case OP_ADD: r[f.rd] = r[f.ra] + r[f.rb]; return RUN_ON;
    case OP_XOR: r[f.rd] = r[f.ra] ^ r[f.rb]; return RUN_ON;
    case OP_SHL: r[f.rd] = r[f.ra] << f.imm16; return RUN_ON;
    case OP_SHR: r[f.rd] = r[f.ra] >> f.imm16; return RUN_ON;
    case OP_BEQZ: return r[f.rd] == 0 ? take_branch(f, run.kernel->code_count, next) : RUN_ON;
    case OP_BLTZ: return (r[f.rd] >> 31) != 0 ? take_branch(f, run.kernel->code_count, next) : RUN_ON;
    case OP_JMP: return take_branch(f, run.kernel->code_count, next);
    case OP_GETIQ: return exec_getiq(vm, word);
    case OP_FMDEMOD: return exec_fmdemod(vm, word, *run.signals);
    case OP_FSHIFT: return exec_fshift(vm, word, *run.signals);
    case OP_SYSTEM: return f.low24 == SYSTEM_EMIT ? exec_emit(vm, *run.signals) : exec_exit(vm);
    case OP_HALT: return exec_halt(vm);
    default: return run_failed(ResultCode::BAD_OPCODE);  // find_instruction has already refused it
  }
}

// The fetch-execute loop from the entry word. Every completed instruction
// uses one step; the one that uses the last step still takes full effect,
// and then the run ends with STEP_LIMIT. An instruction that ends the run
// (HALT, EXIT, a failure) uses no step.
RunOutcome run_loop(VmState& vm, const RunContext& run, std::uint32_t step_budget) {
  const KernelImage& kernel = *run.kernel;
  vm.pc = kernel.entry;
  vm.steps_left = step_budget;
  for (;;) {
    const std::uint32_t word = kernel.code[vm.pc];
    std::uint64_t next = vm.pc + 1;
    const StepEnd end =
        find_instruction(word) == nullptr ? run_failed(ResultCode::BAD_OPCODE) : execute(vm, word, next, run);
    if (end) return *end;
    if (--vm.steps_left == 0) return run_failed(ResultCode::STEP_LIMIT);
    if (next >= kernel.code_count) return run_failed(ResultCode::BAD_OPCODE);  // ran past the last word
    vm.pc = next;
  }
}

}  // namespace

RunOutcome run_kernel(KernelImage& kernel, const IqCapture& capture, const SignalFunctions& signals,
                      std::uint32_t step_budget) {
  VmState vm{};
  preset_handles(vm, capture);
  const RunContext run{&kernel, &signals};
  const RunOutcome outcome = kernel.entry < kernel.code_count ? run_loop(vm, run, std::max(step_budget, 1u))
                                                              : run_failed(ResultCode::BAD_OPCODE);
  release_audio_handles(vm);
  return outcome;
}

}  // namespace kdsp
