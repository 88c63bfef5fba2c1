// Running a built program as a separate process and collecting what it did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kdsp {

struct ProcessResult {
  int status = -1;  // exit status, or -1 when it did not exit normally
  int signal = 0;   // the signal that ended it, if any
  std::string out;  // standard output, whole
  std::string err;  // standard error, whole
};

struct ProcessOptions {
  std::string cwd;                    // empty: the test's own directory
  std::string stdout_path;            // non-empty: standard output goes to this file instead
  bool close_stdout = false;          // start the program with standard output closed
  bool no_argv0 = false;              // start it with an empty argument vector
  std::uint64_t file_size_limit = 0;  // bytes; non-zero: the program runs under this RLIMIT_FSIZE
  double kill_after_seconds = 0;      // positive: SIGKILL the program after this long, if still running
};

// Runs `program` with `args` (argument 0 is `program` itself).
ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options = {});

// The kdsp binary under test.
ProcessResult run_kdsp(const std::vector<std::string>& args, const ProcessOptions& options = {});

}  // namespace kdsp
