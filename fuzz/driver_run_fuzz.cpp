// A kernel and a capture together, through the very path of the tool: both
// written to files, then the driver run on them with an output file.
// Input layout: u16 little-endian kernel length, kernel bytes, capture bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "driver/driver.h"

namespace kdsp {

namespace {

bool write_bytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

std::string scratch_prefix() {
  const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/kdsp-fuzz-" + std::to_string(::getpid()) + "-";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t kernel_size = std::size_t{data[0]} | (std::size_t{data[1]} << 8);
  if (kernel_size > size - 2) kernel_size = size - 2;
  static const std::string prefix = scratch_prefix();
  std::string kernel = prefix + "k.kdsp";
  std::string capture = prefix + "c.iq";
  std::string output = prefix + "out.wav";
  if (!write_bytes(kernel, data + 2, kernel_size) ||
      !write_bytes(capture, data + 2 + kernel_size, size - 2 - kernel_size)) {
    return 0;
  }
  std::string program = "kdsp";
  char* argv[] = {program.data(), capture.data(), kernel.data(), output.data(), nullptr};
  const int status = run_driver(4, argv);
  // Output exists exactly when the run succeeded; no temporary survives.
  const bool written = ::access(output.c_str(), F_OK) == 0;
  const std::string temp = output + ".tmp." + std::to_string(::getpid());
  if ((status == 0) != written || ::access(temp.c_str(), F_OK) == 0) __builtin_trap();
  std::remove(output.c_str());
  return 0;
}

}  // namespace kdsp
