// A JSON file the programs write, read back; a document that does not parse
// reads as JSON's "discarded" value, which compares unequal to anything.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "support/test_files.h"

namespace kdsp {

inline nlohmann::json read_json(const std::string& path) {
  const Bytes bytes = read_file(path);
  return nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
}

}  // namespace kdsp
