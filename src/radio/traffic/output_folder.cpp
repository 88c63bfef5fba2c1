#include "radio/traffic/output_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <span>

#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

int write_text(const std::string& path, const std::string& text, Failure* failure) {
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (write_output_file(path.c_str(), bytes) == 0) return 0;
  *failure = Failure{"'" + path + "' could not be written"};
  return -1;
}

}  // namespace

bool path_exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

int prepare_output_folder(const std::string& dir, bool force, bool csv, Failure* failure) {
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0) {
    if (mkdir(dir.c_str(), 0777) != 0) {
      *failure = Failure{"the directory '" + dir + "' could not be made: " + std::strerror(errno)};
      return -1;
    }
  } else if (!S_ISDIR(info.st_mode)) {
    *failure = Failure{"'" + dir + "' is not a directory; give -O a directory"};
    return -1;
  }
  if (force) return 0;
  for (const char* name : {RECORD_JSON_NAME, RECORD_CSV_NAME}) {
    const std::string path = dir + "/" + name;
    if ((name == std::string(RECORD_JSON_NAME) || csv) && path_exists(path)) {
      *failure = Failure{"'" + path + "' is already there; give --force to replace it, or another -O directory"};
      return -1;
    }
  }
  return 0;
}

int write_transmission_record(const std::string& dir, bool csv, std::vector<TransmissionEntry> entries,
                              Failure* failure) {
  sort_transmissions(&entries);
  if (write_text(dir + "/" + RECORD_JSON_NAME, transmissions_json(entries), failure) != 0) return -1;
  if (!csv) return 0;
  return write_text(dir + "/" + RECORD_CSV_NAME, transmissions_csv(entries), failure);
}

}  // namespace kdsp
