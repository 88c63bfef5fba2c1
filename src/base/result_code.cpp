#include "base/result_code.h"

namespace kdsp {

const char* result_name(int code) {
  switch (code) {
    case BAD_KERNEL: return "BAD_KERNEL";
    case BAD_OPCODE: return "BAD_OPCODE";
    case BAD_ADDRESS: return "BAD_ADDRESS";
    case BAD_HANDLE: return "BAD_HANDLE";
    case BAD_IQ: return "BAD_IQ";
    case STEP_LIMIT: return "STEP_LIMIT";
    case DSP_LIMIT: return "DSP_LIMIT";
    case NO_OUTPUT: return "NO_OUTPUT";
    case IO_ERROR: return "IO_ERROR";
    case BAD_PARAM: return "BAD_PARAM";
    default: return "VM_ERROR";
  }
}

}  // namespace kdsp
