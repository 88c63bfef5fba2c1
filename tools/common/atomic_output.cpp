#include "common/atomic_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kdsp {

AtomicOutput::~AtomicOutput() { atomic_output_abandon(*this); }

int atomic_output_open(const char* target_path, AtomicOutput* out) {
  if (target_path == nullptr || target_path[0] == '\0') return ENOENT;
  std::string temp_path = std::string(target_path) + ".tmp." + std::to_string(static_cast<long>(getpid()));
  // O_EXCL: never truncate a file that someone else left under that name.
  int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  atomic_output_abandon(*out);
  out->target_path = target_path;
  out->temp_path = std::move(temp_path);
  out->fd = fd;
  out->committed = false;
  return 0;
}

int atomic_output_write(AtomicOutput& out, std::span<const std::uint8_t> bytes) {
  if (out.fd < 0) return EBADF;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = write(out.fd, bytes.data() + done, bytes.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

int atomic_output_commit(AtomicOutput& out) {
  if (out.fd < 0) return EBADF;
  int error = 0;
  if (fsync(out.fd) != 0) error = errno;
  if (close(out.fd) != 0 && error == 0) error = errno;
  out.fd = -1;
  if (error == 0 && std::rename(out.temp_path.c_str(), out.target_path.c_str()) != 0) error = errno;
  if (error != 0) {
    atomic_output_abandon(out);
    return error;
  }
  out.committed = true;
  return 0;
}

void atomic_output_abandon(AtomicOutput& out) {
  if (out.committed) return;
  if (out.fd >= 0) {
    close(out.fd);
    out.fd = -1;
  }
  if (!out.temp_path.empty()) {
    unlink(out.temp_path.c_str());
    out.temp_path.clear();
  }
}

}  // namespace kdsp
