// Raw interleaved I/Q bytes of one sample format from a descriptor: standard
// input fed by a pipe, or the stream of an rtl_tcp connection. Reads take
// whatever has arrived, keep the bytes of a pair split across two reads for
// the next one, and report the end when the writer closes.
#pragma once

#include <memory>
#include <string>

#include "radio/live/live_source.h"

namespace kdsp {

struct FdSourceOptions {
  SampleFormat format = SampleFormat::CU8;
  bool owns_fd = false;       // closed with the source (a socket), or left to its owner (standard input)
  int stall_timeout_ms = -1;  // longest wait for the next bytes; -1: no limit
  std::string name;           // "standard input", "rtl_tcp 127.0.0.1:1234": for messages
  LiveSourceInfo info;
};

// A source reading `fd`. Never fails: a descriptor that cannot be read says
// so at the first read.
std::unique_ptr<LiveSource> make_fd_source(int fd, const FdSourceOptions& options, LiveStop& stop);

}  // namespace kdsp
