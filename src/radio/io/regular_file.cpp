#include "radio/io/regular_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "base/file_read.h"
#include "base/memory.h"

namespace kdsp {

int read_regular_file_start(const char* path, std::size_t count, std::vector<std::uint8_t>* bytes) {
  StreamPtr stream;
  std::uint64_t length = 0;
  if (open_measured_file(path, UINT64_MAX, &stream, &length) != 0) return -1;
  std::vector<std::uint8_t> read(static_cast<std::size_t>(std::min<std::uint64_t>(count, length)));
  if (!read.empty() && std::fread(read.data(), 1, read.size(), stream.get()) != read.size()) return -1;
  *bytes = std::move(read);
  return 0;
}

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
