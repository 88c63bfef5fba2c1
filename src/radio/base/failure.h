// Why a piece of work could not be done, in the words its user needs: what
// went wrong (naming the file where that helps), what to do about it, and
// the file concerned. Every function of the radio library and of the
// companion programs that can fail returns 0 or -1 and fills a Failure; the
// program's front door prints it as one line and turns its kind into the
// exit status.
#pragma once

#include <ostream>
#include <string>
#include <utility>

namespace kdsp {

enum class FailureKind {
  WORK,    // the work itself failed: status 1
  OUTPUT,  // an output could not be written (the work was done): status 1
  USAGE,   // the command line asks for something impossible: status 2
};

struct Failure {
  Failure() = default;
  explicit Failure(std::string cause_text, std::string fix_text = {}, std::string file_name = {},
                   FailureKind failure_kind = FailureKind::WORK)
      : cause(std::move(cause_text)), fix(std::move(fix_text)), file(std::move(file_name)), kind(failure_kind) {}

  std::string cause;  // "'band.cu8' holds 7 bytes, not a whole number of cu8 I/Q pairs"
  std::string fix;    // "give --format"; empty when there is nothing to do
  std::string file;   // the file concerned, as the user named it; may be empty
  FailureKind kind = FailureKind::WORK;
};

// "<cause>; <fix>", or the cause alone.
std::string failure_text(const Failure& failure);

// The text, for logs and test reports.
std::ostream& operator<<(std::ostream& out, const Failure& failure);

// Puts `context` before the cause ("piece 2 of 3 (...): ").
void prefix_failure(Failure* failure, const std::string& context);

}  // namespace kdsp
