#include "radio/traffic/output_folder.h"

#include <dirent.h>
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

// The first entry of `dir` (but . and ..) that `wanted` takes, or "".
template <class Wanted>
std::string first_entry(const std::string& dir, Wanted wanted) {
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return "";
  std::string found;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || !wanted(name)) continue;
    found = name;
    break;
  }
  closedir(listing);
  return found;
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
      *failure =
          Failure{"'" + path + "' is already there", "give --force to replace it, or another -O directory", path};
      return -1;
    }
  }
  // A transmission's name is known only once it has been heard; a folder
  // that already holds audio (a run stopped before its record) is refused
  // now rather than after the work, at the first name it holds.
  const std::string audio = first_entry(dir, [](const std::string& name) { return name.ends_with(".wav"); });
  if (!audio.empty()) {
    *failure = Failure{"'" + dir + "' already holds transmissions ('" + audio + "')",
                       "give --force to replace them, or another -O directory", dir};
    return -1;
  }
  return 0;
}

int check_pieces_folder(const std::string& dir, bool force, Failure* failure) {
  struct stat info {};
  if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *failure = Failure{"--keep-pieces '" + dir + "' is not a directory", "make it first, or give another", dir};
    return -1;
  }
  if (force) return 0;
  const std::string held = first_entry(dir, [](const std::string&) { return true; });
  if (!held.empty()) {
    *failure = Failure{"--keep-pieces '" + dir + "' already holds files ('" + held + "')",
                       "give an empty directory, or --force to replace what is there", dir};
    return -1;
  }
  return 0;
}

int write_transmission_record(const std::string& dir, bool csv, std::vector<TransmissionEntry> entries,
                              const std::vector<SkippedEntry>& skipped, Failure* failure) {
  sort_transmissions(&entries);
  if (write_text(dir + "/" + RECORD_JSON_NAME, transmissions_json(entries), failure) != 0) return -1;
  if (csv && write_text(dir + "/" + RECORD_CSV_NAME, transmissions_csv(entries), failure) != 0) return -1;
  return write_text(dir + "/" + SKIPPED_JSON_NAME, skipped_json(skipped), failure);
}

int make_parent_folders(const std::string& dir, const std::string& relative, Failure* failure) {
  std::string path = dir;
  for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    path = dir + "/" + relative.substr(0, slash);
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      *failure = Failure{"the folder '" + path + "' could not be made: " + std::strerror(errno), "", path};
      return -1;
    }
  }
  return 0;
}

}  // namespace kdsp
