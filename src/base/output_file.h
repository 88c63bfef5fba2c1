// Delivering the finished WAV image.
#pragma once

#include <cstdint>

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

}  // namespace kdsp
