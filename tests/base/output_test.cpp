#include <fcntl.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "base/memory.h"
#include "base/output_file.h"
#include "base/output_calls.h"
#include "support/test_files.h"

namespace kdsp {

namespace {

const Bytes kImage = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 5};

std::string temp_name_for(const std::string& path) {
  return path + ".tmp." + std::to_string(static_cast<long>(::getpid()));
}

int write_image(const std::string& path) { return write_output(path.c_str(), kImage.data(), kImage.size()); }

}  // namespace

TEST(OutputWriter, WritesANewFileOrReplacesAnOldOneWhole) {
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(read_file(path), kImage);

  write_file(path, Bytes(1000, 0xEE));
  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(read_file(path), kImage);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"});
}

TEST(OutputWriter, FailuresLeaveNoTemporaryAndTheTargetUnchanged) {
  ScratchDir dir;
  EXPECT_EQ(write_image(dir.file("missing/out.wav")), -1);
  EXPECT_TRUE(dir.entries().empty());

  // The target is a directory: the rename fails after the data was written.
  const std::string target = dir.file("taken");
  ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
  write_file(target + "/keep", {1});
  EXPECT_EQ(write_image(target), -1);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken"});

  // No memory for the name: nothing is created.
  mem_fail_request(1);
  EXPECT_EQ(write_image(dir.file("out.wav")), -1);
  mem_fail_request(0);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"taken"});
}

TEST(OutputWriter, APlantedLinkAtTheTemporaryNameIsNotFollowed) {
  ScratchDir dir;
  const std::string victim = dir.file("victim");
  const std::string path = dir.file("out.wav");
  write_file(victim, {'k', 'e', 'e', 'p'});
  ASSERT_EQ(::symlink(victim.c_str(), temp_name_for(path).c_str()), 0);

  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(read_file(victim), (Bytes{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(read_file(path), kImage);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.wav", "victim"}));

  // A stale temporary file from an earlier run is replaced too.
  write_file(temp_name_for(path), Bytes(50, 1));
  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out.wav", "victim"}));
}

TEST(OutputWriter, EveryFailingCallLeavesTheTargetAndNoTemporary) {
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  out_fail_call(0);
  ASSERT_EQ(write_image(path), 0);
  const std::uint64_t total = out_call_count();
  ASSERT_GE(total, 6u);  // open, fdopen, write, flush, fsync, close, rename

  for (std::uint64_t k = 1; k <= total; ++k) {
    write_file(path, {'o', 'l', 'd'});
    out_fail_call(k);
    EXPECT_EQ(write_image(path), -1) << "call " << k;
    out_fail_call(0);
    EXPECT_EQ(read_file(path), (Bytes{'o', 'l', 'd'})) << "call " << k;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"}) << "call " << k;
  }
}

TEST(OutputWriter, FailingWriteOrFlushOfStandardOutputIsReported) {
  ScratchDir dir;
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  const int sink = ::open(dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(sink, 0);
  ::dup2(sink, STDOUT_FILENO);
  ::close(sink);

  out_fail_call(0);
  const int good = write_output(nullptr, kImage.data(), kImage.size());
  const std::uint64_t total = out_call_count();
  std::vector<int> failed;
  for (std::uint64_t k = 1; k <= total; ++k) {
    out_fail_call(k);
    failed.push_back(write_output(nullptr, kImage.data(), kImage.size()));
  }
  out_fail_call(0);
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);

  EXPECT_EQ(good, 0);
  EXPECT_EQ(total, 2u);  // one write, one flush
  EXPECT_EQ(failed, std::vector<int>(total, -1));
  const Bytes written = read_file(dir.file("stdout"));
  EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<long>(kImage.size())), kImage);
}

}  // namespace kdsp
