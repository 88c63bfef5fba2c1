// Kernel image to assembly text.
//
// The listing is kdsp-as source: assembling it gives back the image byte for
// byte, invalid words and all.
#pragma once

#include <cstdint>
#include <string>

namespace kdsp {

// Disassembles a whole kernel file held in memory. Returns null with the
// listing in `*text`, or, for a file the loader would refuse, the loader's
// reason (and `*text` untouched).
const char* disassemble_kernel_file(const std::uint8_t* bytes, std::uint64_t length, std::string* text);

}  // namespace kdsp
