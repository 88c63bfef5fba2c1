// Replacing a file: whole or not at all, under no name until it is complete,
// and never at the cost of a file this writer did not create.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "base/memory.h"
#include "base/output_calls.h"
#include "base/output_file.h"
#include "support/test_files.h"

namespace kdsp {

namespace {

const Bytes IMAGE = {'R', 'I', 'F', 'F', 1, 2, 3, 4, 5};
const Bytes OLD = {'o', 'l', 'd'};
const Bytes OTHER = {'o', 't', 'h', 'e', 'r'};

std::string temp_name_for(const std::string& path) {
  return path + ".tmp." + std::to_string(static_cast<long>(::getpid()));
}

int write_image(const std::string& path) { return write_output(path.c_str(), IMAGE.data(), IMAGE.size()); }

bool anonymous_files_work(const ScratchDir& dir) {
  const int fd = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Puts the target back as each case starts: the old bytes, or nothing.
void reset_target(const std::string& path, bool existing) {
  if (existing) {
    write_file(path, OLD);
  } else {
    ::unlink(path.c_str());
  }
}

std::vector<std::string> names_after(bool target_there) {
  return target_there ? std::vector<std::string>{"out.wav"} : std::vector<std::string>{};
}

// Turns the simulated file system without anonymous files off again, whatever
// way the test ends.
struct AnonymousFilesRefused {
  explicit AnonymousFilesRefused(bool refused) { out_refuse_anonymous_files(refused); }
  ~AnonymousFilesRefused() { out_refuse_anonymous_files(false); }
};

}  // namespace

TEST(OutputWriter, WritesANewFileOrReplacesAnOldOneWhole) {
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(read_file(path), IMAGE);

  write_file(path, Bytes(1000, 0xEE));
  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(read_file(path), IMAGE);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"});

  // The same where the file system has no anonymous files.
  AnonymousFilesRefused refused(true);
  ::unlink(path.c_str());
  ASSERT_EQ(write_image(path), 0);
  write_file(path, Bytes(1000, 0xEE));
  ASSERT_EQ(write_image(path), 0);
  EXPECT_EQ(read_file(path), IMAGE);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"});
}

TEST(OutputWriter, FailuresLeaveNoTemporaryAndTheTargetUnchanged) {
  ScratchDir dir;
  EXPECT_EQ(write_image(dir.file("missing/out.wav")), -1);
  EXPECT_TRUE(dir.entries().empty());

  // The target is a directory: refused before anything is created.
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

TEST(OutputWriter, WhatHoldsTheTemporaryNameIsNeverTouched) {
  // A link planted under the predictable temporary name is not followed, and
  // a file there (a stale one, or another run's with the same PID) is not
  // removed: the writer takes another name.
  ScratchDir dir;
  const std::string victim = dir.file("victim");
  const std::string path = dir.file("out.wav");
  const std::string temp = temp_name_for(path);
  write_file(victim, {'k', 'e', 'e', 'p'});
  const std::vector<std::string> all = {"out.wav", "out.wav.tmp." + std::to_string(::getpid()), "victim"};

  for (const bool refused : {false, true}) {
    AnonymousFilesRefused simulated(refused);
    write_file(path, OLD);
    ASSERT_EQ(::symlink(victim.c_str(), temp.c_str()), 0);
    ASSERT_EQ(write_image(path), 0) << refused;
    EXPECT_EQ(read_file(path), IMAGE);
    EXPECT_EQ(read_file(victim), (Bytes{'k', 'e', 'e', 'p'}));
    char target[4096] = {};
    ASSERT_GT(::readlink(temp.c_str(), target, sizeof target - 1), 0) << "the planted link is gone";
    EXPECT_EQ(std::string(target), victim);
    EXPECT_EQ(dir.entries(), all);
    ::unlink(temp.c_str());

    write_file(temp, OTHER);
    ASSERT_EQ(write_image(path), 0) << refused;
    EXPECT_EQ(read_file(path), IMAGE);
    EXPECT_EQ(read_file(temp), OTHER);
    EXPECT_EQ(dir.entries(), all);
    ::unlink(temp.c_str());
  }
}

namespace {

std::string second_writer_path;
int second_writer_result = 1;

void run_second_writer() {
  second_writer_result = write_output(second_writer_path.c_str(), OTHER.data(), OTHER.size());
}

}  // namespace

TEST(OutputWriter, ASecondWriterWithTheSameNamesCannotSpoilTheFirst) {
  // Two runs with the same PID (containers on a shared volume) try the same
  // temporary names. The second runs whole just before the k-th call of the
  // first: both succeed, the first's image is what stays, nothing is left.
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  second_writer_path = path;
  for (const bool refused : {false, true}) {
    AnonymousFilesRefused simulated(refused);
    reset_target(path, true);
    out_fail_call(0);
    ASSERT_EQ(write_image(path), 0);
    const std::uint64_t total = out_call_count();

    for (std::uint64_t k = 1; k <= total; ++k) {
      reset_target(path, true);
      second_writer_result = 1;
      out_fail_call(0);
      out_before_call(k, run_second_writer);
      EXPECT_EQ(write_image(path), 0) << "refused " << refused << ", call " << k;
      EXPECT_EQ(second_writer_result, 0) << "refused " << refused << ", call " << k;
      EXPECT_EQ(read_file(path), IMAGE) << "refused " << refused << ", call " << k;
      EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"}) << "refused " << refused << ", call " << k;
    }
  }
  out_fail_call(0);
}

TEST(OutputWriter, EveryFailingCallLeavesTheTargetAndNoTemporary) {
  // Both ways of writing (anonymous file; named temporary where the file
  // system has no anonymous files), with and without an old target.
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  const bool anonymous = anonymous_files_work(dir);
  for (const bool refused : {false, true}) {
    for (const bool existing : {true, false}) {
      AnonymousFilesRefused simulated(refused);
      reset_target(path, existing);
      out_fail_call(0);
      ASSERT_EQ(write_image(path), 0);
      const std::uint64_t total = out_call_count();
      // lstat, [O_TMPFILE refused,] open, fdopen, write, flush, fsync,
      // [link,] close, rename: the anonymous file needs no rename when there
      // was no target, it is linked in its place.
      if (anonymous || refused) {
        EXPECT_EQ(total, refused || existing ? 9u : 8u);
      }

      for (std::uint64_t k = 1; k <= total; ++k) {
        reset_target(path, existing);
        out_fail_call(k);
        EXPECT_EQ(write_image(path), -1) << "refused " << refused << ", existing " << existing << ", call " << k;
        out_fail_call(0);
        if (existing) {
          EXPECT_EQ(read_file(path), OLD) << "call " << k;
        }
        EXPECT_EQ(dir.entries(), names_after(existing))
            << "refused " << refused << ", existing " << existing << ", call " << k;
      }
    }
  }
}

TEST(OutputWriter, AnyErrorOfAnyCallGivesTheOldTargetOrTheNewWhole) {
  // Whatever error a call meets, the target ends old or whole-new and nothing
  // is left. Where anonymous files cannot be made (EOPNOTSUPP) or linked
  // (ENOENT without /proc, EPERM, EXDEV), the named temporary takes over.
  ScratchDir dir;
  if (!anonymous_files_work(dir)) GTEST_SKIP() << "no anonymous files on " << dir.path();
  const std::string path = dir.file("out.wav");
  const struct {
    int error;
    const char* outcomes;  // per call: lstat open fdopen write flush fsync link close rename
  } cases[] = {
      {ENOENT, "0-----0--"},      // an absent target is assumed; the link finds one and takes a temporary name
      {EOPNOTSUPP, "-0----0--"},  // no anonymous file, or no linking it: the named temporary
      {EPERM, "------0--"},      {EXDEV, "------0--"},  {EEXIST, "------0--"},  // a name clash: the next name
      {EFBIG, "---------"},      {ENOSPC, "---------"},
  };
  for (const auto& c : cases) {
    std::string outcomes;
    for (std::uint64_t k = 1; k <= 9; ++k) {
      reset_target(path, true);
      out_fail_call(k, c.error);
      const int result = write_image(path);
      out_fail_call(0);
      outcomes += result == 0 ? '0' : '-';
      EXPECT_EQ(read_file(path), result == 0 ? IMAGE : OLD) << std::strerror(c.error) << ", call " << k;
      EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"}) << std::strerror(c.error) << ", call " << k;
    }
    EXPECT_EQ(outcomes, c.outcomes) << std::strerror(c.error);
  }
}

namespace {

void kill_self() { ::raise(SIGKILL); }

// Forks a child that writes the image to `path` and is killed by SIGKILL
// just before its k-th wrapped call. False if it was not killed.
bool killed_before_call(const std::string& path, std::uint64_t k) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    out_fail_call(0);
    out_before_call(k, kill_self);
    write_image(path);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace

TEST(OutputWriter, AKilledWriterLeavesNoTemporary) {
  // SIGKILL before each call in turn. The file has no name while it is
  // written; with no old target it is linked under the target's name, so no
  // other name ever exists. Replacing a target, a temporary name exists only
  // between the link and the rename (the last two calls).
  ScratchDir dir;
  if (!anonymous_files_work(dir)) GTEST_SKIP() << "no anonymous files on " << dir.path();
  const std::string path = dir.file("out.wav");
  for (const bool existing : {true, false}) {
    reset_target(path, existing);
    out_fail_call(0);
    ASSERT_EQ(write_image(path), 0);
    const std::uint64_t total = out_call_count();
    for (std::uint64_t k = 1; k <= total; ++k) {
      reset_target(path, existing);
      ASSERT_TRUE(killed_before_call(path, k)) << "call " << k;
      if (existing) {
        EXPECT_EQ(read_file(path), OLD) << "call " << k;
        if (k + 2 <= total) {
          EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"}) << "call " << k;
        }
        for (const std::string& name : dir.entries()) {
          if (name != "out.wav") ::unlink(dir.file(name).c_str());  // the temporary of the last two calls
        }
      } else if (!dir.entries().empty()) {
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.wav"}) << "call " << k;
        EXPECT_EQ(read_file(path), IMAGE) << "call " << k;
      }
    }
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
  const int good = write_output(nullptr, IMAGE.data(), IMAGE.size());
  const std::uint64_t total = out_call_count();
  std::vector<int> failed;
  for (std::uint64_t k = 1; k <= total; ++k) {
    out_fail_call(k);
    failed.push_back(write_output(nullptr, IMAGE.data(), IMAGE.size()));
  }
  out_fail_call(0);
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);

  EXPECT_EQ(good, 0);
  EXPECT_EQ(total, 2u);  // one write, one flush
  EXPECT_EQ(failed, std::vector<int>(total, -1));
  const Bytes written = read_file(dir.file("stdout"));
  EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<long>(IMAGE.size())), IMAGE);
}

}  // namespace kdsp

namespace kdsp {

namespace {

// IMAGE in three parts through the streaming form; the file's entries are
// checked between the parts by `between`, when given.
int stream_image(const std::string& path, void (*between)(const std::string&) = nullptr) {
  OutputStream out;
  if (open_output(path.c_str(), &out) != 0) return -1;
  for (const auto& [first, count] : {std::pair<std::size_t, std::size_t>{0, 4}, {4, 0}, {4, 5}}) {
    if (append_output(&out, IMAGE.data() + first, count) != 0) return -1;
    if (between != nullptr) between(path);
  }
  return commit_output(&out);
}

}  // namespace

TEST(OutputStream, PartsAppearOnlyAtTheCommitAsOneWholeFile) {
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  for (const bool refused : {false, true}) {
    AnonymousFilesRefused simulated(refused);
    for (const bool existing : {true, false}) {
      SCOPED_TRACE(std::string(refused ? "named" : "anonymous") + (existing ? ", replacing" : ", new"));
      reset_target(path, existing);
      static bool old_target;
      old_target = existing;
      // Until the commit the target is as it was.
      ASSERT_EQ(stream_image(path,
                             [](const std::string& p) {
                               if (old_target) {
                                 EXPECT_EQ(read_file(p), OLD);
                               } else {
                                 EXPECT_NE(::access(p.c_str(), F_OK), 0);
                               }
                             }),
                0);
      EXPECT_EQ(read_file(path), IMAGE);
      EXPECT_EQ(dir.entries(), names_after(true));

      // Abandoned, by abort or by the owner's end: nothing left, target kept.
      reset_target(path, existing);
      {
        OutputStream out;
        ASSERT_EQ(open_output(path.c_str(), &out), 0);
        ASSERT_EQ(append_output(&out, IMAGE.data(), IMAGE.size()), 0);
      }
      OutputStream aborted;
      ASSERT_EQ(open_output(path.c_str(), &aborted), 0);
      ASSERT_EQ(append_output(&aborted, IMAGE.data(), IMAGE.size()), 0);
      abort_output(&aborted);
      EXPECT_EQ(commit_output(&aborted), -1);
      EXPECT_EQ(dir.entries(), names_after(existing));
      if (existing) {
        EXPECT_EQ(read_file(path), OLD);
      }
    }
  }
}

TEST(OutputStream, EveryFailingCallLeavesTheTargetAndNoTemporary) {
  // As for the whole-image writer, with the failure met at the open, at any
  // of the appends or at the commit; after a failed append nothing later
  // may put a partial file in place.
  ScratchDir dir;
  const std::string path = dir.file("out.wav");
  for (const bool refused : {false, true}) {
    for (const bool existing : {true, false}) {
      AnonymousFilesRefused simulated(refused);
      reset_target(path, existing);
      out_fail_call(0);
      ASSERT_EQ(stream_image(path), 0);
      const std::uint64_t total = out_call_count();
      for (std::uint64_t k = 1; k <= total; ++k) {
        for (const int error : {EIO, ENOSPC}) {
          reset_target(path, existing);
          out_fail_call(k, error);
          EXPECT_EQ(stream_image(path), -1) << "refused " << refused << ", existing " << existing << ", call " << k;
          out_fail_call(0);
          if (existing) {
            EXPECT_EQ(read_file(path), OLD) << "call " << k;
          }
          EXPECT_EQ(dir.entries(), names_after(existing))
              << "refused " << refused << ", existing " << existing << ", call " << k;
        }
      }
    }
  }
}

TEST(OutputStream, StandardOutputAndDevicesTakeThePartsAsTheyCome) {
  ScratchDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  OutputStream out;
  ASSERT_EQ(open_output(fifo.c_str(), &out), 0);
  ASSERT_EQ(append_output(&out, IMAGE.data(), 4), 0);
  ASSERT_EQ(append_output(&out, IMAGE.data() + 4, IMAGE.size() - 4), 0);
  ASSERT_EQ(commit_output(&out), 0);
  Bytes got(IMAGE.size() + 1);
  EXPECT_EQ(::read(reader, got.data(), got.size()), static_cast<ssize_t>(IMAGE.size()));
  got.resize(IMAGE.size());
  EXPECT_EQ(got, IMAGE);
  ::close(reader);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"pipe"}));

  // A failing flush of standard output fails the commit.
  OutputStream standard;
  ASSERT_EQ(open_output(nullptr, &standard), 0);
  ASSERT_EQ(append_output(&standard, IMAGE.data(), 0), 0);
  out_fail_call(1);
  EXPECT_EQ(commit_output(&standard), -1);
  out_fail_call(0);
}

}  // namespace kdsp
