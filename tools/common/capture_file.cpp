#include "common/capture_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/limits.h"

namespace {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

constexpr std::size_t READ_CHUNK_BYTES = 1 << 16;

float decode_float32_le(const std::uint8_t* bytes) {
  std::uint32_t bits = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                       static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool is_finite_bits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return (bits & 0x7FFFFFFFu) <= 0x7F7FFFFFu;
}

// Length of an open file in bytes, or -1 when it cannot be positioned.
long file_length(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  long length = std::ftell(file);
  if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return length;
}

}  // namespace

const char* capture_read_message(int result) {
  switch (result) {
    case CAPTURE_OK: return "ok";
    case CAPTURE_UNREADABLE: return "cannot be read";
    case CAPTURE_BAD_LENGTH: return "is not a whole number of 8-byte I/Q pairs between 1 and 7200000 pairs";
    case CAPTURE_NOT_FINITE: return "holds a value that is not a finite number";
    default: return "unknown failure";
  }
}

void encode_float32_le(std::span<const float> values, std::uint8_t* bytes) {
  for (float value : values) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bytes[0] = static_cast<std::uint8_t>(bits);
    bytes[1] = static_cast<std::uint8_t>(bits >> 8);
    bytes[2] = static_cast<std::uint8_t>(bits >> 16);
    bytes[3] = static_cast<std::uint8_t>(bits >> 24);
    bytes += 4;
  }
}

int read_capture_file(const char* path, std::vector<float>* values) {
  FilePtr file(std::fopen(path, "rb"));
  if (!file) return CAPTURE_UNREADABLE;
  long length = file_length(file.get());
  if (length < 0) return CAPTURE_UNREADABLE;
  auto byte_count = static_cast<std::uint64_t>(length);
  if (byte_count == 0 || byte_count > IQ_MAX_FILE_SIZE || byte_count % IQ_PAIR_BYTES != 0) {
    return CAPTURE_BAD_LENGTH;
  }

  std::vector<float> decoded(byte_count / 4);
  std::vector<std::uint8_t> chunk(READ_CHUNK_BYTES);
  std::size_t next_value = 0;
  while (next_value < decoded.size()) {
    std::size_t want_bytes = std::min(READ_CHUNK_BYTES, (decoded.size() - next_value) * 4);
    if (std::fread(chunk.data(), 1, want_bytes, file.get()) != want_bytes) return CAPTURE_UNREADABLE;
    for (std::size_t offset = 0; offset < want_bytes; offset += 4) {
      float value = decode_float32_le(chunk.data() + offset);
      if (!is_finite_bits(value)) return CAPTURE_NOT_FINITE;
      decoded[next_value++] = value;
    }
  }
  *values = std::move(decoded);
  return CAPTURE_OK;
}
