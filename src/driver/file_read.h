// Reading an input file whole into one heap block.
#pragma once

#include <cstdint>

// Reads the regular file at `path` into a new block from mem_alloc: 0 with
// `*bytes` and `*length` filled (an empty file gives null and 0), or -1 with
// both untouched. Fails without reading when the file is longer than
// `max_length`, and fails on anything that is not a regular file (a FIFO, a
// device, a directory) without waiting for a writer.
int read_whole_file(const char* path, std::uint8_t** bytes, std::uint64_t* length, std::uint64_t max_length);
