#include "kdsp-as/atomic_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tools/tool_process.h"

namespace {

const std::vector<std::uint8_t> BYTES = {'n', 'e', 'w'};

TEST(AtomicFile, ReplacesTheTargetWhole) {
  ScratchDir dir;
  write_text_file(dir.file("out"), "old contents, longer than the new");
  ASSERT_EQ(write_file_atomically(dir.file("out").c_str(), BYTES), 0);
  EXPECT_EQ(read_text_file(dir.file("out")), "new");
  EXPECT_EQ(directory_entries(dir.path), std::vector<std::string>{"out"});
}

TEST(AtomicFile, NeverWritesIntoAFileItDidNotCreate) {
  // A leftover with this process's temporary name, or a link planted there,
  // must be neither truncated nor followed.
  ScratchDir dir;
  const std::string stale = dir.file("out.tmp." + std::to_string(static_cast<long>(getpid())));
  write_text_file(stale, "someone else's");
  ASSERT_EQ(write_file_atomically(dir.file("out").c_str(), BYTES), 0);
  EXPECT_EQ(read_text_file(stale), "someone else's");
  EXPECT_EQ(read_text_file(dir.file("out")), "new");
}

TEST(AtomicFile, LeavesNothingBehindWhenTheRenameFails) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.file("busy"));
  write_text_file(dir.file("busy/keep"), "x");
  EXPECT_EQ(write_file_atomically(dir.file("busy").c_str(), BYTES), -1);
  EXPECT_EQ(directory_entries(dir.path), std::vector<std::string>{"busy"});
  EXPECT_EQ(write_file_atomically(dir.file("missing/out").c_str(), BYTES), -1);
}

}  // namespace
