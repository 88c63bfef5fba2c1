// Outcome of a run, also the process exit status.
#pragma once

#include <cstdint>

namespace kdsp {

enum ResultCode : int {
  RESULT_OK = 0,
  BAD_KERNEL = 2,
  BAD_OPCODE = 3,
  BAD_ADDRESS = 4,
  BAD_HANDLE = 5,
  BAD_IQ = 6,
  STEP_LIMIT = 7,
  DSP_LIMIT = 8,
  NO_OUTPUT = 9,
  IO_ERROR = 10,
  BAD_PARAM = 11,
};

// Name printed for a failure code; "VM_ERROR" for any code without a name.
const char* result_name(int code);

}  // namespace kdsp
