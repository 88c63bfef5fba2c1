// The tool as a user runs it: arguments, messages, exit statuses and the
// files a run leaves behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/kernel_words.h"
#include "support/process.h"
#include "support/test_files.h"

namespace kdsp {

using namespace words;

namespace {

constexpr const char* USAGE_TAIL = " capture.iq kernel.kdsp [output.wav]\n";

struct CliFixture {
  ScratchDir dir;
  std::string capture = dir.file("capture.iq");
  std::string kernel = dir.file("kernel.kdsp");
  std::string output = dir.file("out.wav");

  CliFixture(const std::vector<std::uint32_t>& code) {
    write_file(capture, capture_file(std::vector<float>(64, 0.25f)));
    write_file(kernel, kernel_file(code));
  }
};

}  // namespace

TEST(DriverCli, WrongArgumentCountPrintsUsageAndOpensNothing) {
  const std::vector<std::vector<std::string>> wrong = {{}, {"a"}, {"a", "b", "c", "d"}};
  for (const auto& args : wrong) {
    const ProcessResult r = run_kdsp(args);
    EXPECT_EQ(r.status, 11);
    EXPECT_EQ(r.err, std::string("usage: ") + KDSP_BINARY + USAGE_TAIL);
    EXPECT_TRUE(r.out.empty());
  }
  // Started with no argument 0 at all: a name is still printed.
  ProcessOptions bare;
  bare.no_argv0 = true;
  const ProcessResult r = run_kdsp({}, bare);
  EXPECT_EQ(r.status, 11);
  EXPECT_EQ(r.err, std::string("usage: kdsp") + USAGE_TAIL);
}

TEST(DriverCli, KernelIsLoadedBeforeTheCapture) {
  ScratchDir dir;
  const ProcessResult both_missing = run_kdsp({dir.file("none.iq"), dir.file("none.kdsp")});
  EXPECT_EQ(both_missing.status, 2);
  EXPECT_EQ(both_missing.err, "BAD_KERNEL\n");

  write_file(dir.file("k.kdsp"), kernel_file({halt()}));
  const ProcessResult capture_missing = run_kdsp({dir.file("none.iq"), dir.file("k.kdsp")});
  EXPECT_EQ(capture_missing.status, 6);
  EXPECT_EQ(capture_missing.err, "BAD_IQ\n");

  // Not regular files: refused at once, never waited on.
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(run_kdsp({dir.file("fifo"), dir.file("k.kdsp")}).err, "BAD_IQ\n");
  EXPECT_EQ(run_kdsp({dir.file("none.iq"), dir.file("fifo")}).err, "BAD_KERNEL\n");
  EXPECT_EQ(run_kdsp({dir.file("none.iq"), dir.path()}).err, "BAD_KERNEL\n");
}

TEST(DriverCli, EachFailureIsOneLineAndItsStatus) {
  struct Case {
    std::vector<std::uint32_t> code;
    int status;
    const char* line;
  };
  const Case cases[] = {
      {{halt()}, 9, "NO_OUTPUT\n"},
      {{nop()}, 3, "BAD_OPCODE\n"},
      {{jmp(-1)}, 7, "STEP_LIMIT\n"},
      {{ld(2, -4, 0), halt()}, 4, "BAD_ADDRESS\n"},
      {{emit(), halt()}, 5, "BAD_HANDLE\n"},
      {{li(1, 256), exit_()}, 11, "BAD_PARAM\n"},
      // A kernel's own code is reported as its own, even when it matches a name.
      {{li(1, 7), exit_()}, 7, "VM_EXIT code=7\n"},
      {{li(1, 2), exit_()}, 2, "VM_EXIT code=2\n"},
      {{li(1, 255), exit_()}, 255, "VM_EXIT code=255\n"},
      {{li(1, 1), exit_()}, 1, "VM_EXIT code=1\n"},
  };
  for (const Case& c : cases) {
    CliFixture f(c.code);
    write_file(f.output, {'o', 'l', 'd'});
    const ProcessResult r = run_kdsp({f.capture, f.kernel, f.output});
    EXPECT_EQ(r.status, c.status) << c.line;
    EXPECT_EQ(r.err, c.line);
    EXPECT_TRUE(r.out.empty());
    // A failed run leaves an existing output untouched and nothing else.
    EXPECT_EQ(read_file(f.output), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(f.dir.entries(), (std::vector<std::string>{"capture.iq", "kernel.kdsp", "out.wav"}));
  }
}

TEST(DriverCli, FailedRunToStandardOutputWritesNothingThere) {
  CliFixture f({li(1, 3), exit_()});
  const ProcessResult r = run_kdsp({f.capture, f.kernel});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "VM_EXIT code=3\n");
  EXPECT_TRUE(r.out.empty());
}

}  // namespace kdsp
