// Reading an input file whole, into a new heap block or into a block the
// caller provides.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace kdsp {

// Closes a stream that is abandoned on a failure path.
struct StreamClose {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using StreamPtr = std::unique_ptr<std::FILE, StreamClose>;

// Opens the regular file at `path` and measures it: 0 with `*stream` and
// `*length` filled, or -1 with both untouched when it cannot be opened, is
// not a regular file (a FIFO, a device, a directory: refused without waiting
// for a writer), cannot be positioned, or is longer than `max_length`.
int open_measured_file(const char* path, std::uint64_t max_length, StreamPtr* stream, std::uint64_t* length);

// Reads exactly `length` bytes from the start of `stream` into `block`, then
// closes it: 0, or -1 when fewer bytes arrive or the close fails.
int read_and_close(StreamPtr stream, void* block, std::uint64_t length);

// Reads the regular file at `path` into a new block from mem_alloc: 0 with
// `*bytes` and `*length` filled (an empty file gives null and 0), or -1 with
// both untouched. Fails without reading when the file is longer than
// `max_length`, and on anything that is not a regular file.
int read_whole_file(const char* path, std::uint8_t** bytes, std::uint64_t* length, std::uint64_t max_length);

}  // namespace kdsp
