#include "base/output_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kdsp {

namespace {

std::uint64_t call_count = 0;
std::uint64_t failing_call = 0;

bool injected_failure() {
  ++call_count;
  if (failing_call == 0 || call_count != failing_call) return false;
  errno = EIO;
  return true;
}

}  // namespace

int out_open(const char* path, int flags, unsigned mode) {
  return injected_failure() ? -1 : ::open(path, flags, mode);
}

std::FILE* out_fdopen(int fd, const char* mode) { return injected_failure() ? nullptr : ::fdopen(fd, mode); }

std::size_t out_fwrite(const void* data, std::size_t size, std::size_t count, std::FILE* stream) {
  return injected_failure() ? 0 : std::fwrite(data, size, count, stream);
}

int out_fflush(std::FILE* stream) { return injected_failure() ? EOF : std::fflush(stream); }

int out_fsync(int fd) { return injected_failure() ? -1 : ::fsync(fd); }

int out_fclose(std::FILE* stream) {
  const bool fail = injected_failure();
  const int result = std::fclose(stream);
  return fail ? EOF : result;
}

int out_rename(const char* from, const char* to) { return injected_failure() ? -1 : std::rename(from, to); }

void out_fail_call(std::uint64_t call) {
  call_count = 0;
  failing_call = call;
}

std::uint64_t out_call_count() { return call_count; }

}  // namespace kdsp
