#include "base/result_code.h"

namespace kdsp {

const char* result_name(ResultCode code) {
  switch (code) {
    case ResultCode::BAD_KERNEL: return "BAD_KERNEL";
    case ResultCode::BAD_OPCODE: return "BAD_OPCODE";
    case ResultCode::BAD_ADDRESS: return "BAD_ADDRESS";
    case ResultCode::BAD_HANDLE: return "BAD_HANDLE";
    case ResultCode::BAD_IQ: return "BAD_IQ";
    case ResultCode::STEP_LIMIT: return "STEP_LIMIT";
    case ResultCode::DSP_LIMIT: return "DSP_LIMIT";
    case ResultCode::NO_OUTPUT: return "NO_OUTPUT";
    case ResultCode::IO_ERROR: return "IO_ERROR";
    case ResultCode::BAD_PARAM: return "BAD_PARAM";
    case ResultCode::OK: break;
  }
  return "VM_ERROR";
}

}  // namespace kdsp
