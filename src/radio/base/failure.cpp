#include "radio/base/failure.h"

namespace kdsp {

std::string failure_text(const Failure& failure) {
  return failure.fix.empty() ? failure.cause : failure.cause + "; " + failure.fix;
}

std::ostream& operator<<(std::ostream& out, const Failure& failure) { return out << failure_text(failure); }

void prefix_failure(Failure* failure, const std::string& context) { failure->cause = context + failure->cause; }

}  // namespace kdsp
