// Writing a file so that it holds either its old contents or the whole new
// contents, never a part.
#pragma once

#include <cstdint>
#include <span>

// Writes `bytes` to a new temporary file beside `path` (same directory, so
// the rename stays on one file system), forces it to storage, then renames it
// over `path`. Returns 0, or -1 with the temporary file removed and `path`
// untouched.
int write_file_atomically(const char* path, std::span<const std::uint8_t> bytes);
