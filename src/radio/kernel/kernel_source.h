// The kernel run on every piece: the built-in one, or the user's image or
// assembly source (assembled in process, with -D constants).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

// The kernel for a channel placed at `placed_offset_hz`: the built-in one
// when `path` is empty, else the kernel at `path`: a file ending in .kasm is assembled with the
// `definitions` (NAME=VALUE) visible as constants, and with OFFSET_HZ set to
// `placed_offset_hz` unless a definition gives it; any other file must be a
// kernel image. 0 with `*image` filled, or -1 with `*error` naming the file,
// the cause (each assembler diagnostic as file:line:column: message) and
// the fix.
int load_kernel(const std::string& path, const std::vector<std::string>& definitions, std::int32_t placed_offset_hz,
                std::vector<std::uint8_t>* image, Failure* failure);

}  // namespace kdsp
