#include "driver/driver.h"

#include <cstdio>

#include "base/memory.h"
#include "base/output_file.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"
#include "formats/wav.h"
#include "vm/interpreter.h"

namespace kdsp {

namespace {

// What one run holds. Everything starts empty, so one release at the end
// serves every path.
struct DriverRun {
  KernelImage kernel{};
  IqCapture capture{};
  WavImage wav{};

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
RunOutcome run_once(DriverRun& run, const char* capture_path, const char* kernel_path, const char* output_path) {
  ResultCode loaded = load_kernel_image(kernel_path, &run.kernel);
  if (loaded != ResultCode::OK) return run_failed(loaded);
  loaded = load_iq_capture(capture_path, &run.capture);
  if (loaded != ResultCode::OK) return run_failed(loaded);
  const RunOutcome outcome = run_captured_kernel(run.kernel, run.capture, &run.wav);
  if (outcome.end != RunEnd::SUCCEEDED) return outcome;
  if (write_output(output_path, run.wav.bytes, run.wav.length) != 0) return run_failed(ResultCode::IO_ERROR);
  return outcome;
}

void report(const RunOutcome& outcome) {
  switch (outcome.end) {
    case RunEnd::SUCCEEDED: return;
    case RunEnd::KERNEL_EXIT: std::fprintf(stderr, "VM_EXIT code=%d\n", outcome_status(outcome)); return;
    case RunEnd::FAILED: std::fprintf(stderr, "%s\n", result_name(outcome.failure)); return;
  }
}

}  // namespace

int encode_emitted_wav(void* context, const AudioBuffer& audio, double gain) {
  auto* wav = static_cast<WavImage*>(context);
  return encode_wav(audio, &wav->bytes, &wav->length, gain);
}

RunOutcome run_captured_kernel(KernelImage& kernel, const IqCapture& capture, WavImage* wav) {
  WavImage emitted{};
  const RunOutcome outcome = run_kernel(kernel, capture, core_signal_functions(encode_emitted_wav, &emitted));
  if (outcome.end != RunEnd::SUCCEEDED) {
    mem_release(emitted.bytes);
    return outcome;
  }
  *wav = emitted;
  return outcome;
}

int run_driver(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    print_usage(argc, argv);
    return exit_status(ResultCode::BAD_PARAM);
  }
  DriverRun run;
  const RunOutcome outcome = run_once(run, argv[1], argv[2], argc == 4 ? argv[3] : nullptr);
  report(outcome);
  return outcome_status(outcome);
}

}  // namespace kdsp
