#include "base/memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace kdsp {

namespace {

std::uint64_t request_count = 0;
std::uint64_t failing_request = 0;

// Counts the request and tells whether the test seam wants it to fail.
bool injected_failure() {
  ++request_count;
  return failing_request != 0 && request_count == failing_request;
}

// The first use of every fresh 4 KiB page costs a page fault, and the signal
// arrays run to tens of megabytes: thousands of faults that cost more than
// the arithmetic. Blocks of this size and more are therefore aligned to the
// 2 MiB huge page and marked for transparent huge pages, so that one fault
// maps 2 MiB. Smaller blocks are not worth the alignment slack.
constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;
constexpr std::size_t LARGE_BLOCK_BYTES = std::size_t{4} << 20;

// A block of `bytes` (at least LARGE_BLOCK_BYTES) on huge-page boundaries,
// rounded up to whole huge pages, or null. The advice is only a hint: where
// the kernel does not follow it the block still works with small pages.
void* alloc_large(std::size_t bytes) {
  if (bytes > SIZE_MAX - HUGE_PAGE_BYTES) return nullptr;
  const std::size_t rounded = (bytes + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
  void* block = std::aligned_alloc(HUGE_PAGE_BYTES, rounded);
  if (block != nullptr) ::madvise(block, rounded, MADV_HUGEPAGE);
  return block;
}

void* alloc_any(std::size_t bytes) {
  if (bytes >= LARGE_BLOCK_BYTES) return alloc_large(bytes);
  return std::malloc(bytes == 0 ? 1 : bytes);
}

}  // namespace

void* mem_alloc(std::size_t bytes) {
  if (injected_failure()) return nullptr;
  return alloc_any(bytes);
}

void* mem_alloc_zeroed(std::size_t count, std::size_t size) {
  if (injected_failure()) return nullptr;
  if (count == 0 || size == 0) return std::calloc(1, 1);
  if (count > SIZE_MAX / size) return nullptr;
  const std::size_t bytes = count * size;
  if (bytes < LARGE_BLOCK_BYTES) return std::calloc(count, size);
  void* block = alloc_large(bytes);
  if (block != nullptr) std::memset(block, 0, bytes);
  return block;
}

void mem_release(void* block) { std::free(block); }

void mem_fail_request(std::uint64_t request) {
  request_count = 0;
  failing_request = request;
}

std::uint64_t mem_request_count() { return request_count; }

}  // namespace kdsp
