#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "base/memory.h"
#include "driver/output.h"
#include "support/test_files.h"

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
