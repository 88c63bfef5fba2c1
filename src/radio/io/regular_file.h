// Reading the regular files a companion is given, through the core's own
// file layer: FIFOs and devices are refused at once instead of waited on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kdsp {

// Opens the regular file at `path` and measures it: 0 with `*length` set,
// else -1.
int measure_regular_file(const char* path, std::uint64_t* length);

// Reads the regular file at `path` whole, refusing anything longer than
// `max_length`: 0 with `*bytes` filled, else -1.
int read_regular_file(const char* path, std::uint64_t max_length, std::vector<std::uint8_t>* bytes);

// Reads the first `count` bytes of the regular file at `path` (fewer when
// it is shorter): 0 with `*bytes` filled, else -1.
int read_regular_file_start(const char* path, std::size_t count, std::vector<std::uint8_t>* bytes);

// True when `a` and `b` name the same existing file, through any path or
// link: an output that must not replace an input.
bool same_file(const std::string& a, const std::string& b);

}  // namespace kdsp
