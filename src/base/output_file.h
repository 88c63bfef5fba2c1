// Delivering the finished WAV image.
#pragma once

#include <cstdint>

namespace kdsp {

// Writes `length` bytes to the file at `path`, or to standard output when
// `path` is null. 0 when every byte was delivered, else -1; prints nothing.
// A file at `path` is replaced whole or left as it was, never partially
// written, and no temporary file outlives the call.
int write_output(const char* path, const std::uint8_t* bytes, std::uint64_t length);

}  // namespace kdsp
