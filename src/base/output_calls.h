// The system calls of the output writer, each behind a wrapper so that a
// test can make the k-th of them fail and check that the writer cleans up:
// no temporary file left, the target unchanged, the failure reported.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace kdsp {

int out_lstat(const char* path, struct stat* info);
int out_stat(const char* path, struct stat* info);
int out_fstat(int fd, struct stat* info);
int out_open(const char* path, int flags, unsigned mode);
int out_set_blocking(int fd);  // clears O_NONBLOCK
std::FILE* out_fdopen(int fd, const char* mode);
std::size_t out_fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* stream);
int out_fflush(std::FILE* stream);
int out_fsync(int fd);
int out_fclose(std::FILE* stream);  // the stream is closed even when failure is injected
// A new name for the file open on `fd` (a file opened with O_TMPFILE).
int out_link_descriptor(int fd, const char* to);
int out_rename(const char* from, const char* to);

// Test seam: the `call`-th wrapped call from now (1 = the next) fails with
// `error`; 0 turns injection off. Counting starts afresh at each call, and
// any action set by out_before_call is dropped.
void out_fail_call(std::uint64_t call, int error = EIO);

// Wrapped calls made since the last out_fail_call.
std::uint64_t out_call_count();

// Test seam: `action` runs once, just before the `call`-th wrapped call
// counted from the last out_fail_call; it may call the writer itself, whose
// calls are then neither counted nor failed.
void out_before_call(std::uint64_t call, void (*action)());

// Test seam: every open that asks for an anonymous file fails with
// EOPNOTSUPP, as on a file system without them.
void out_refuse_anonymous_files(bool refuse);

}  // namespace kdsp
