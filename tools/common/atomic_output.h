// An output file that appears whole or not at all: the bytes go to a
// temporary file beside the target, are forced to storage, and only then take
// the target's name in one rename. A failure or an early return removes the
// temporary file and leaves any existing target as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kdsp {

// Owner of one temporary output file. Until committed, destroying it closes
// and removes the temporary file.
struct AtomicOutput {
  std::string target_path;
  std::string temp_path;
  int fd = -1;
  bool committed = false;

  AtomicOutput() = default;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();
};

// Creates the temporary file for `target_path` ("<target>.tmp.<pid>").
// 0 on success, else the errno value of the failure with `out` unchanged.
int atomic_output_open(const char* target_path, AtomicOutput* out);

// Appends `bytes`. 0 on success, else an errno value (the caller then abandons).
int atomic_output_write(AtomicOutput& out, std::span<const std::uint8_t> bytes);

// Forces the data to storage, closes, and renames onto the target. 0 on
// success, else an errno value with the temporary file removed.
int atomic_output_commit(AtomicOutput& out);

// Closes and removes the temporary file; does nothing once committed.
void atomic_output_abandon(AtomicOutput& out);

}  // namespace kdsp
