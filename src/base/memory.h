// One allocation path for the whole tool.
//
// Every heap block the tool owns is taken through mem_alloc / mem_alloc_zeroed
// and given back through mem_release, so that a test can make the k-th request
// of a run fail and check that every failure path releases what it took and
// reports the right result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kdsp {

// Uninitialised block of `bytes` bytes, or null. A request of 0 bytes is
// served as a request of 1 byte so that null always means failure.
void* mem_alloc(std::size_t bytes);

// Zero-filled block of `count` elements of `size` bytes, or null; the product
// is guarded against overflow as calloc does.
void* mem_alloc_zeroed(std::size_t count, std::size_t size);

// Releases a block from either allocator; null does nothing.
void mem_release(void* block);

// Test seam: the `request`-th allocation request from now (1 = the next one)
// fails; 0 turns failure injection off. Counting starts afresh at each call.
void mem_fail_request(std::uint64_t request);

// Number of allocation requests since the last call of mem_fail_request
// (or since the start of the process).
std::uint64_t mem_request_count();

// Deleter for owners of blocks from this allocator.
struct MemRelease {
  void operator()(void* block) const { mem_release(block); }
};
template <typename T>
using MemPtr = std::unique_ptr<T, MemRelease>;

}  // namespace kdsp
