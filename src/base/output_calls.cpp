#include "base/output_calls.h"

#include <fcntl.h>
#include <unistd.h>

namespace kdsp {

namespace {

std::uint64_t call_count = 0;
std::uint64_t failing_call = 0;
int failing_error = EIO;
std::uint64_t action_call = 0;
void (*pending_action)() = nullptr;
bool inside_action = false;
bool refuse_anonymous = false;

void run_pending_action() {
  void (*action)() = pending_action;
  pending_action = nullptr;
  inside_action = true;
  action();
  inside_action = false;
}

bool injected_failure() {
  if (inside_action) return false;
  ++call_count;
  if (pending_action != nullptr && call_count == action_call) run_pending_action();
  if (failing_call == 0 || call_count != failing_call) return false;
  errno = failing_error;
  return true;
}

bool asks_for_anonymous_file(int flags) { return (flags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

int out_lstat(const char* path, struct stat* info) { return injected_failure() ? -1 : ::lstat(path, info); }

int out_stat(const char* path, struct stat* info) { return injected_failure() ? -1 : ::stat(path, info); }

int out_fstat(int fd, struct stat* info) { return injected_failure() ? -1 : ::fstat(fd, info); }

int out_open(const char* path, int flags, unsigned mode) {
  if (injected_failure()) return -1;
  if (refuse_anonymous && asks_for_anonymous_file(flags)) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::open(path, flags, mode);
}

int out_set_blocking(int fd) {
  if (injected_failure()) return -1;
  const int flags = ::fcntl(fd, F_GETFL);
  return flags < 0 ? -1 : ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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

int out_link_descriptor(int fd, const char* to) {
  if (injected_failure()) return -1;
  // The descriptor's entry under /proc names the open file itself; following
  // it is the one way for an unprivileged process to link a nameless file.
  char from[32];
  std::snprintf(from, sizeof from, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}

int out_rename(const char* from, const char* to) { return injected_failure() ? -1 : std::rename(from, to); }

void out_fail_call(std::uint64_t call, int error) {
  call_count = 0;
  failing_call = call;
  failing_error = error;
  pending_action = nullptr;
}

std::uint64_t out_call_count() { return call_count; }

void out_before_call(std::uint64_t call, void (*action)()) {
  action_call = call;
  pending_action = action;
}

void out_refuse_anonymous_files(bool refuse) { refuse_anonymous = refuse; }

}  // namespace kdsp
