// The program: arguments, loading, one run of the kernel, output, report.
#pragma once

#include "formats/audio_buffer.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"
#include "formats/wav.h"
#include "vm/interpreter.h"

namespace kdsp {

// Runs the whole tool as a process would and returns the exit status.
int run_driver(int argc, char** argv);

// One run of a loaded kernel on a loaded capture, exactly as the tool makes
// it, with the WAV encoded at EMIT: the SUCCEEDED outcome with the image in
// `*wav` (the caller then owns wav->bytes), or another outcome with `*wav`
// untouched. The kernel's memory is changed in place. For companions that
// run the core on captures they made themselves.
RunOutcome run_captured_kernel(KernelImage& kernel, const IqCapture& capture, WavImage* wav);

// The emit the tool hands the interpreter: encodes the audio with the gain
// into the WavImage that `context` points to (0, or -1 leaving it untouched).
int encode_emitted_wav(void* context, const AudioBuffer& audio, double gain);

}  // namespace kdsp
