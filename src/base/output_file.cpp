#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/memory.h"
#include "base/output_calls.h"

namespace kdsp {

namespace {

// Room for ".tmp." and any process identifier.
constexpr std::size_t TEMP_SUFFIX_ROOM = 48;

// Creates the temporary file exclusively. The name is predictable, so an
// ordinary create-or-truncate open would follow a symbolic link planted under
// it and truncate whatever it points at. O_EXCL|O_NOFOLLOW refuses any
// existing entry; a stale one (ours from an earlier crashed run, or a planted
// link) is removed once and the create tried once more.
int create_exclusive(const char* temp_name) {
  constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = out_open(temp_name, flags, 0666);
  if (fd < 0 && errno == EEXIST) {
    std::remove(temp_name);
    fd = out_open(temp_name, flags, 0666);
  }
  return fd;
}

// Writes, flushes, forces to storage and closes the stream; the close is
// always made. The fsync comes before the rename: without it a crash after
// the rename could leave the target naming a file whose data never reached
// the disk, that is an empty or partial image.
bool write_and_close(std::FILE* stream, const std::uint8_t* bytes, std::uint64_t length) {
  if (out_fwrite(bytes, 1, length, stream) != length) {
    out_fclose(stream);
    return false;
  }
  const bool flushed = out_fflush(stream) == 0 && out_fsync(::fileno(stream)) == 0;
  const bool closed = out_fclose(stream) == 0;
  return flushed && closed;
}

// After the rename, the directory entry itself is made durable. The image is
// already in place under its name by then, so a failure here is not reported:
// the write has happened and cannot be undone. `scratch` (at least as long as
// `path` plus one) receives the directory's name.
void sync_parent_directory(const char* path, char* scratch) {
  std::strcpy(scratch, path);
  char* slash = std::strrchr(scratch, '/');
  if (slash == nullptr) {
    std::strcpy(scratch, ".");
  } else {
    slash[slash == scratch ? 1 : 0] = '\0';
  }
  const int fd = ::open(scratch, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

int write_to_path(const char* path, const std::uint8_t* bytes, std::uint64_t length) {
  const std::size_t name_size = std::strlen(path) + TEMP_SUFFIX_ROOM;
  MemPtr<char> temp_name(static_cast<char*>(mem_alloc(name_size)));
  if (!temp_name) return -1;
  std::snprintf(temp_name.get(), name_size, "%s.tmp.%ld", path, static_cast<long>(::getpid()));

  const int fd = create_exclusive(temp_name.get());
  std::FILE* stream = fd < 0 ? nullptr : out_fdopen(fd, "wb");
  if (stream == nullptr) {
    if (fd >= 0) ::close(fd);
    std::remove(temp_name.get());
    return -1;
  }
  if (!write_and_close(stream, bytes, length) || out_rename(temp_name.get(), path) != 0) {
    std::remove(temp_name.get());
    return -1;
  }
  sync_parent_directory(path, temp_name.get());
  return 0;
}

int write_to_stdout(const std::uint8_t* bytes, std::uint64_t length) {
  if (out_fwrite(bytes, 1, length, stdout) != length) return -1;
  return out_fflush(stdout) == 0 ? 0 : -1;
}

}  // namespace

int write_output(const char* path, const std::uint8_t* bytes, std::uint64_t length) {
  return path == nullptr ? write_to_stdout(bytes, length) : write_to_path(path, bytes, length);
}

}  // namespace kdsp
