#include "kdsp-as/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

// Creates a fresh temporary name: O_EXCL never opens a file that someone else
// (or a stale run with the same process id) left there.
int create_temporary(const std::string& path, std::string* name) {
  constexpr int ATTEMPTS = 16;
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    std::string candidate = path + ".tmp." + std::to_string(static_cast<long>(getpid()));
    if (attempt > 0) candidate += "." + std::to_string(attempt);
    const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *name = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Writes, flushes, syncs and closes; the stream is closed on every path.
int write_and_close(int fd, std::span<const std::uint8_t> bytes) {
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    close(fd);
    return -1;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  ok = std::fflush(stream) == 0 && ok;
  ok = fsync(fileno(stream)) == 0 && ok;
  ok = std::fclose(stream) == 0 && ok;
  return ok ? 0 : -1;
}

}  // namespace

int write_file_atomically(const char* path, std::span<const std::uint8_t> bytes) {
  std::string temporary;
  const int fd = create_temporary(path, &temporary);
  if (fd < 0) return -1;
  if (write_and_close(fd, bytes) != 0 || std::rename(temporary.c_str(), path) != 0) {
    std::remove(temporary.c_str());
    return -1;
  }
  return 0;
}
