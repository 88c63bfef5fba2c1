#include "base/memory.h"

#include <gtest/gtest.h>

namespace kdsp {

TEST(MemorySeam, FailsExactlyTheRequestedAllocation) {
  mem_fail_request(2);
  void* first = mem_alloc(16);
  void* second = mem_alloc_zeroed(4, 4);
  void* third = mem_alloc(16);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(mem_request_count(), 3u);
  mem_release(first);
  mem_release(third);
  mem_fail_request(0);
}

TEST(MemorySeam, ZeroedAllocationRefusesOverflowingProducts) {
  EXPECT_EQ(mem_alloc_zeroed(SIZE_MAX / 2, 4), nullptr);
  void* empty = mem_alloc(0);
  EXPECT_NE(empty, nullptr);
  mem_release(empty);
}

TEST(MemoryLargeBlocks, AreWholeHugePagesAndZeroedWhenAsked) {
  // Large blocks take the huge-page path: aligned, usable to their last byte,
  // and zero-filled by the zeroing allocator; one request each for the seam.
  mem_fail_request(0);
  const std::size_t bytes = (std::size_t{6} << 20) + 3;
  auto* plain = static_cast<unsigned char*>(mem_alloc(bytes));
  auto* zeroed = static_cast<unsigned char*>(mem_alloc_zeroed(bytes, 1));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(mem_request_count(), 2u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(plain) % (std::uintptr_t{2} << 20), 0u);
  plain[0] = 1;
  plain[bytes - 1] = 2;
  std::size_t nonzero = 0;
  for (std::size_t i = 0; i < bytes; i += 4093) nonzero += zeroed[i] != 0;
  EXPECT_EQ(nonzero + zeroed[bytes - 1], 0u);
  mem_release(plain);
  mem_release(zeroed);
  EXPECT_EQ(mem_alloc(SIZE_MAX - 5), nullptr);
  EXPECT_EQ(mem_alloc_zeroed(SIZE_MAX / 8, 8), nullptr);
}

}  // namespace kdsp
