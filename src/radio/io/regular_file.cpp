#include "radio/io/regular_file.h"

#include <sys/stat.h>

#include "base/file_read.h"
#include "base/memory.h"

namespace kdsp {

bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int measure_regular_file(const char* path, std::uint64_t* length) {
  StreamPtr stream;
  return open_measured_file(path, UINT64_MAX, &stream, length);
}

int read_regular_file(const char* path, std::uint64_t max_length, std::vector<std::uint8_t>* bytes) {
  std::uint8_t* block = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(path, &block, &length, max_length) != 0) return -1;
  const MemPtr<std::uint8_t> owner(block);
  bytes->assign(block, block + length);
  return 0;
}

}  // namespace kdsp
