// The outcome vocabulary of the tool: what a loader, the interpreter or the
// output writer reports, and, unchanged, the process exit status. It lives at
// the bottom of the layers because every layer above produces these codes and
// only the driver turns them into a message and a status.
#pragma once

namespace kdsp {

enum class ResultCode : int {
  OK = 0,
  BAD_KERNEL = 2,   // the kernel file is unreadable or not a valid image
  BAD_OPCODE = 3,   // unknown opcode, broken field rule, branch out of the code, run past the end
  BAD_ADDRESS = 4,  // LD/ST outside the data memory
  BAD_HANDLE = 5,   // handle out of range or of the wrong kind
  BAD_IQ = 6,       // the capture is unreadable, of a bad length, or not finite
  STEP_LIMIT = 7,   // the step budget ran out
  DSP_LIMIT = 8,    // too many signal handles created
  NO_OUTPUT = 9,    // the run ended without emitting audio
  IO_ERROR = 10,    // memory ran out while loading or encoding, or the output failed
  BAD_PARAM = 11,   // a signal parameter out of range, a second EMIT, EXIT above 255; the usage error
};

// The process exit status of a result.
constexpr int exit_status(ResultCode code) { return static_cast<int>(code); }

// Name printed for a failure code; "VM_ERROR" for any code without a name.
const char* result_name(ResultCode code);

}  // namespace kdsp
