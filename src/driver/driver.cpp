#include "driver/driver.h"

#include <cstdio>

#include "formats/wav.h"
#include "base/memory.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"
#include "base/output_file.h"
#include "base/result_code.h"
#include "vm/interpreter.h"

namespace kdsp {

namespace {

// What one run holds. Everything starts empty, so one release at the end
// serves every path.
struct DriverRun {
  KernelImage kernel{};
  IqCapture capture{};
  WavImage wav{};
  int exit_flag = 0;

  ~DriverRun() {
    mem_release(wav.bytes);
    release_iq_capture(&capture);
    release_kernel_image(&kernel);
  }
};

void print_usage(int argc, char** argv) {
  // A process may be started with no argument 0 at all; never print null.
  const char* program = (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : "kdsp";
  std::fprintf(stderr, "usage: %s capture.iq kernel.kdsp [output.wav]\n", program);
}

// Loads both inputs (the kernel first, although the capture comes first on
// the command line), runs the kernel, and delivers its image.
int run_once(DriverRun& run, const char* capture_path, const char* kernel_path, const char* output_path) {
  int code = load_kernel_image(kernel_path, &run.kernel);
  if (code != RESULT_OK) return code;
  code = load_iq_capture(capture_path, &run.capture);
  if (code != RESULT_OK) return code;
  code = run_kernel(run.kernel, run.capture, run.wav, run.exit_flag);
  if (code != RESULT_OK) return code;
  return write_output(output_path, run.wav.bytes, run.wav.length) == 0 ? RESULT_OK : IO_ERROR;
}

}  // namespace

int run_driver(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    print_usage(argc, argv);
    return BAD_PARAM;
  }
  DriverRun run;
  const int code = run_once(run, argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
  if (code == RESULT_OK) return code;
  if (run.exit_flag != 0) {
    std::fprintf(stderr, "VM_EXIT code=%d\n", code);
  } else {
    std::fprintf(stderr, "%s\n", result_name(code));
  }
  return code;
}

}  // namespace kdsp
