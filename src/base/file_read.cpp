#include "base/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/memory.h"

namespace kdsp {

namespace {

// Opens `path` for reading as a stream, refusing anything but a regular file.
// O_NONBLOCK keeps the open of a FIFO from waiting for a writer; the type is
// then checked on the open descriptor, so the file cannot be swapped between
// the check and the read.
std::FILE* open_regular_file(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* stream = ::fdopen(fd, "rb");
  if (stream == nullptr) ::close(fd);
  return stream;
}

// Length of the stream by seeking to its end and back, or -1.
long long measure_stream(std::FILE* stream) {
  if (::fseeko(stream, 0, SEEK_END) != 0) return -1;
  const off_t end = ::ftello(stream);
  if (end < 0) return -1;
  if (::fseeko(stream, 0, SEEK_SET) != 0) return -1;
  return static_cast<long long>(end);
}

}  // namespace

int open_measured_file(const char* path, std::uint64_t max_length, StreamPtr* stream, std::uint64_t* length) {
  StreamPtr opened(open_regular_file(path));
  if (!opened) return -1;
  const long long measured = measure_stream(opened.get());
  if (measured < 0 || static_cast<std::uint64_t>(measured) > max_length) return -1;
  *stream = std::move(opened);
  *length = static_cast<std::uint64_t>(measured);
  return 0;
}

int read_and_close(StreamPtr stream, void* block, std::uint64_t length) {
  if (length > 0 && std::fread(block, 1, length, stream.get()) != length) return -1;
  return std::fclose(stream.release()) == 0 ? 0 : -1;
}

int read_whole_file(const char* path, std::uint8_t** bytes, std::uint64_t* length, std::uint64_t max_length) {
  StreamPtr stream;
  std::uint64_t file_length = 0;
  if (open_measured_file(path, max_length, &stream, &file_length) != 0) return -1;
  MemPtr<std::uint8_t> block;
  if (file_length > 0) {
    block.reset(static_cast<std::uint8_t*>(mem_alloc(file_length)));
    if (!block) return -1;
  }
  if (read_and_close(std::move(stream), block.get(), file_length) != 0) return -1;
  *bytes = block.release();
  *length = file_length;
  return 0;
}

}  // namespace kdsp
