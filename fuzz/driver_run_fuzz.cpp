// A kernel and a capture together, through the very path of the tool: both
// written to files, then the driver run on them with an output file.
// Input layout: u16 little-endian kernel length, kernel bytes, capture bytes.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "driver/driver.h"
#include "kernel_mutator.h"

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

constexpr std::size_t KERNEL_LENGTH_BYTES = 2;
constexpr std::size_t MAX_KERNEL_LENGTH = 0xFFFF;

std::size_t kernel_length_of(const std::uint8_t* data, std::size_t size) {
  return std::min<std::size_t>(read_le16(data), size - KERNEL_LENGTH_BYTES);
}

}  // namespace

// Mostly the kernel is mutated as an image, with the length prefix kept in
// step; otherwise the capture's bytes (kept to whole pairs, mostly), or the
// whole input as plain bytes.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t max_size,
                                               unsigned int seed) {
  std::minstd_rand rng(seed);
  const unsigned choice = static_cast<unsigned>(rng() % 10);
  if (size < KERNEL_LENGTH_BYTES || max_size <= KERNEL_LENGTH_BYTES || choice == 0) {
    return LLVMFuzzerMutate(data, size, max_size);
  }
  const std::size_t kernel_length = kernel_length_of(data, size);
  std::vector<std::uint8_t> kernel(data + KERNEL_LENGTH_BYTES, data + KERNEL_LENGTH_BYTES + kernel_length);
  std::vector<std::uint8_t> capture(data + KERNEL_LENGTH_BYTES + kernel_length, data + size);
  const std::size_t room = max_size - KERNEL_LENGTH_BYTES;
  if (choice < 8) {
    const std::size_t kernel_max = std::min(MAX_KERNEL_LENGTH, room - std::min(room, capture.size()));
    if (kernel_max < std::max<std::size_t>(kernel.size(), 1)) return LLVMFuzzerMutate(data, size, max_size);
    kernel.resize(kernel_max);
    kernel.resize(mutate_kernel_image(kernel.data(), kernel_length, kernel_max, static_cast<unsigned>(rng())));
  } else {
    const std::size_t capture_size = capture.size();
    if (room == kernel.size()) return LLVMFuzzerMutate(data, size, max_size);
    capture.resize(room - kernel.size());
    capture.resize(LLVMFuzzerMutate(capture.data(), capture_size, capture.size()));
    if (rng() % 8 != 0) capture.resize(capture.size() / 8 * 8);
  }
  write_le16(data, static_cast<std::uint16_t>(kernel.size()));
  // std::copy, not memcpy: an empty vector's data() may be null.
  std::copy(kernel.begin(), kernel.end(), data + KERNEL_LENGTH_BYTES);
  std::copy(capture.begin(), capture.end(), data + KERNEL_LENGTH_BYTES + kernel.size());
  return KERNEL_LENGTH_BYTES + kernel.size() + capture.size();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < KERNEL_LENGTH_BYTES) return 0;
  const std::size_t kernel_size = kernel_length_of(data, size);
  static const std::string prefix = scratch_prefix();
  std::string kernel = prefix + "k.kdsp";
  std::string capture = prefix + "c.iq";
  std::string output = prefix + "out.wav";
  if (!write_bytes(kernel, data + KERNEL_LENGTH_BYTES, kernel_size) ||
      !write_bytes(capture, data + KERNEL_LENGTH_BYTES + kernel_size, size - KERNEL_LENGTH_BYTES - kernel_size)) {
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
