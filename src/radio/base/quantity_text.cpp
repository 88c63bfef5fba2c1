#include "radio/base/quantity_text.h"

#include <cstdio>

namespace kdsp {

std::string hz_text(double hz) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f Hz", hz);
  return text;
}

std::string rate_text(double rate) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", rate);
  return text;
}

}  // namespace kdsp
