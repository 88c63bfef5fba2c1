#include "base/memory.h"

#include <cstdlib>

namespace {

std::uint64_t request_count = 0;
std::uint64_t failing_request = 0;

// Counts the request and tells whether the test seam wants it to fail.
bool injected_failure() {
  ++request_count;
  return failing_request != 0 && request_count == failing_request;
}

}  // namespace

void* mem_alloc(std::size_t bytes) {
  if (injected_failure()) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* mem_alloc_zeroed(std::size_t count, std::size_t size) {
  if (injected_failure()) return nullptr;
  if (count == 0 || size == 0) return std::calloc(1, 1);
  return std::calloc(count, size);
}

void mem_release(void* block) { std::free(block); }

void mem_fail_request(std::uint64_t request) {
  request_count = 0;
  failing_request = request;
}

std::uint64_t mem_request_count() { return request_count; }
