// Delivering the finished WAV image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/memory.h"

namespace kdsp {

// Writes `length` bytes to the file at `path`, or to standard output when
// `path` is null. 0 when every byte was delivered, else -1; prints nothing.
//
// A regular file at `path`, or a symbolic link there, is replaced whole or
// left as it was, never partially written; while the bytes are written the
// new file has no name (an O_TMPFILE file, else `path.tmp.PID[.suffix]`), so
// no temporary outlives the call, and on Linux none outlives even a killed
// process. An entry this call did not create is never removed or truncated.
// A character device or FIFO, directly or through links, is written through
// and stays what it was; a FIFO nobody reads is a failure, not a wait. A link
// to the file standard output is open on (/dev/stdout redirected to a file)
// is written as standard output. A directory, socket or block device is
// refused. Past a file-size limit the call fails instead of the process
// being killed: SIGXFSZ is set to be ignored unless a handler is installed.
int write_output(const char* path, const std::uint8_t* bytes, std::uint64_t length);

// The same delivery, with the bytes given in parts: open_output, then
// append_output for each part in order, then commit_output, which makes the
// whole file appear under its name (forced to storage first) exactly as
// write_output would. Until the commit a replaced file keeps its old
// contents; abort_output, or the owner going out of scope uncommitted, leaves
// nothing behind (a device, FIFO or standard output has had the parts
// already). Memory stays that of one part whatever the file's length.
// Where a file system cannot give an anonymous file a name, the commit
// fails and nothing is left; write_output, holding the whole image, writes it
// again under a temporary name instead.
struct OutputStream {
  enum class Kind { none, standard_output, through, anonymous, named };
  Kind kind = Kind::none;
  std::FILE* file = nullptr;
  bool absent = false;      // no target existed when it was opened
  bool failed = false;      // an append failed: the commit will fail
  MemPtr<char> names;       // one block holding the two below (replacements only)
  char* path = nullptr;     // the target
  char* scratch = nullptr;  // the temporary's name, or the target's directory
  std::size_t scratch_size = 0;

  OutputStream() = default;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;
  ~OutputStream();
};

// 0 with `*out` open (anything it held is abandoned first), or -1.
int open_output(const char* path, OutputStream* out);
// 0, or -1 (the stream is then failed: the commit fails and cleans up).
int append_output(OutputStream* out, const std::uint8_t* bytes, std::uint64_t length);
// 0 when every byte was delivered and the file is in place, else -1 with
// nothing left behind. The stream is closed either way.
int commit_output(OutputStream* out);
void abort_output(OutputStream* out);

}  // namespace kdsp
