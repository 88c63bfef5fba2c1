// Kernel image to assembly text.
//
// The listing is kdsp-as source: assembling it gives back the image byte for
// byte, invalid words and all.
#pragma once

#include <cstdint>
#include <string>

#include "formats/kernel_image.h"
#include "radio/base/failure.h"

namespace kdsp {

// The listing of an image as parse_kernel_image built it.
std::string disassemble_kernel(const KernelImage& image);

// Disassembles a whole kernel file held in memory. 0 with the listing in
// `*text`, or, for a file the loader would refuse, -1 with the loader's
// reason as the cause (and `*text` untouched); "not enough memory to load
// the image" when the loader runs out of memory.
int disassemble_kernel_file(const std::uint8_t* bytes, std::uint64_t length, std::string* text, Failure* failure);

}  // namespace kdsp
