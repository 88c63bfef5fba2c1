// The system calls of the output writer, each behind a wrapper so that a
// test can make the k-th of them fail and check that the writer cleans up:
// no temporary file left, the target unchanged, the failure reported.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kdsp {

int out_open(const char* path, int flags, unsigned mode);
std::FILE* out_fdopen(int fd, const char* mode);
std::size_t out_fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* stream);
int out_fflush(std::FILE* stream);
int out_fsync(int fd);
int out_fclose(std::FILE* stream);  // the stream is closed even when failure is injected
int out_rename(const char* from, const char* to);

// Test seam: the `call`-th wrapped call from now (1 = the next) fails with
// EIO; 0 turns injection off. Counting starts afresh at each call.
void out_fail_call(std::uint64_t call);

// Wrapped calls made since the last out_fail_call.
std::uint64_t out_call_count();

}  // namespace kdsp
