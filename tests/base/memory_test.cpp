#include "base/memory.h"

#include <gtest/gtest.h>

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
