// The kernel interpreter: one run of a loaded kernel against a capture.
#pragma once

#include "formats/wav.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"

namespace kdsp {

// Runs `kernel` (its memory is changed in place) against `capture`, which is
// only read. `wav` must be passed empty. Returns a ResultCode:
//   0            one WAV image in `wav`, `*exit_flag` 0;
//   1..255       with `*exit_flag` 1: the kernel's own EXIT code, `wav` empty;
//   other codes  a failure, `*exit_flag` 0, `wav` empty.
// Every audio buffer created during the run is released before it returns.
int run_kernel(KernelImage& kernel, const IqCapture& capture, WavImage& wav, int& exit_flag);

}  // namespace kdsp
