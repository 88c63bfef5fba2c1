#include "support/test_files.h"

#include <dirent.h>
#include <unistd.h>

#include <sys/stat.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "base/numbers.h"

namespace kdsp {

namespace {

void put_le32(Bytes& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void remove_tree(const std::string& path) {
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string child = path + "/" + name;
      struct stat info {};
      if (::lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        remove_tree(child);
      } else {
        ::unlink(child.c_str());
      }
    }
    ::closedir(dir);
  }
  ::rmdir(path.c_str());
}

}  // namespace

ScratchDir::ScratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/kdsp-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

ScratchDir::~ScratchDir() { remove_tree(path_); }

std::vector<std::string> ScratchDir::entries() const {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path_.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_text(const std::string& path, const std::string& text) { write_file(path, Bytes(text.begin(), text.end())); }

std::string read_text(const std::string& path) {
  const Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

bool file_exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

Bytes kernel_file(const std::vector<std::uint32_t>& words, const Bytes& data, std::uint32_t entry) {
  Bytes out = {'K', 'D', 'S', 'P', 1, 0, 32, 0};
  put_le32(out, static_cast<std::uint32_t>(words.size()));
  put_le32(out, static_cast<std::uint32_t>(data.size()));
  put_le32(out, entry);
  for (int i = 0; i < 3; ++i) put_le32(out, 0);
  for (std::uint32_t w : words) put_le32(out, w);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes capture_file(const std::vector<float>& values) {
  Bytes out;
  out.reserve(values.size() * 4);
  for (float v : values) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    put_le32(out, bits);
  }
  return out;
}

Bytes fm_capture_file(std::uint64_t pair_count, double carrier_hz, double audio_hz, double deviation_hz) {
  constexpr double PAIR_RATE = 240000.0;
  std::vector<float> values;
  values.reserve(2 * pair_count);
  for (std::uint64_t n = 0; n < pair_count; ++n) {
    const double t = static_cast<double>(n) / PAIR_RATE;
    double phase = TWO_PI * carrier_hz * t;
    if (audio_hz > 0) phase += deviation_hz / audio_hz * std::sin(TWO_PI * audio_hz * t);
    values.push_back(static_cast<float>(0.5 * std::cos(phase)));
    values.push_back(static_cast<float>(0.5 * std::sin(phase)));
  }
  return capture_file(values);
}

}  // namespace kdsp
