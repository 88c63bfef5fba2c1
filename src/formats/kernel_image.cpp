#include "formats/kernel_image.h"

#include <cstring>

#include "base/byte_order.h"
#include "base/file_read.h"
#include "base/memory.h"
#include "base/result_code.h"

namespace kdsp {

namespace {

KernelHeader parse_header(const std::uint8_t* bytes) {
  KernelHeader header{};
  header.magic = read_le32(bytes + 0);
  header.version = read_le16(bytes + 4);
  header.header_size = read_le16(bytes + 6);
  header.code_count = read_le32(bytes + 8);
  header.data_size = read_le32(bytes + 12);
  header.entry = read_le32(bytes + 16);
  header.reserved[0] = read_le32(bytes + 20);
  header.reserved[1] = read_le32(bytes + 24);
  header.reserved[2] = read_le32(bytes + 28);
  return header;
}

}  // namespace

const char* check_kernel_file(const std::uint8_t* bytes, std::uint64_t length, KernelHeader* header) {
  if (length < KERNEL_HEADER_SIZE) return "file shorter than the 32-byte header";
  const KernelHeader h = parse_header(bytes);
  if (h.magic != KERNEL_MAGIC) return "bad magic (expected \"KDSP\")";
  if (h.version != KERNEL_VERSION) return "unsupported version (expected 1)";
  if (h.header_size != KERNEL_HEADER_SIZE) return "header size is not 32";
  if (h.code_count - 1u > KERNEL_MAX_WORDS - 1u) return "code_count outside 1..4096";
  if (h.data_size > DATA_MEMORY_SIZE) return "data_size above 1048576";
  if (h.entry >= h.code_count) return "entry not below code_count";
  for (std::uint32_t word : h.reserved) {
    if (word != 0) return "nonzero reserved header word";
  }
  const std::uint64_t expected = std::uint64_t{KERNEL_HEADER_SIZE} + 4ull * h.code_count + h.data_size;
  if (length != expected) return "file length does not match header";
  *header = h;
  return nullptr;
}

void write_kernel_header(const KernelHeader& header, std::uint8_t* out) {
  write_le32(out + 0, header.magic);
  write_le16(out + 4, header.version);
  write_le16(out + 6, header.header_size);
  write_le32(out + 8, header.code_count);
  write_le32(out + 12, header.data_size);
  write_le32(out + 16, header.entry);
  write_le32(out + 20, header.reserved[0]);
  write_le32(out + 24, header.reserved[1]);
  write_le32(out + 28, header.reserved[2]);
}

ResultCode parse_kernel_image(const std::uint8_t* bytes, std::uint64_t length, KernelImage* image) {
  KernelHeader header{};
  if (check_kernel_file(bytes, length, &header) != nullptr) return ResultCode::BAD_KERNEL;

  // Both blocks are requested before either is tested, so that running out of
  // memory is always IO_ERROR and never depends on which block failed.
  MemPtr<std::uint32_t> code(static_cast<std::uint32_t*>(mem_alloc(4ull * header.code_count)));
  MemPtr<std::uint8_t> memory(static_cast<std::uint8_t*>(mem_alloc_zeroed(DATA_MEMORY_SIZE, 1)));
  if (!code || !memory) return ResultCode::IO_ERROR;

  const std::uint8_t* words = bytes + KERNEL_HEADER_SIZE;
  for (std::uint32_t i = 0; i < header.code_count; ++i) code.get()[i] = read_le32(words + 4ull * i);
  if (header.data_size > 0) std::memcpy(memory.get(), words + 4ull * header.code_count, header.data_size);

  image->code = code.release();
  image->memory = memory.release();
  image->code_count = header.code_count;
  image->entry = header.entry;
  image->data_size = header.data_size;
  return ResultCode::OK;
}

ResultCode load_kernel_image(const char* path, KernelImage* image) {
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(path, &raw, &length, KERNEL_MAX_FILE_SIZE) != 0) return ResultCode::BAD_KERNEL;
  const MemPtr<std::uint8_t> file(raw);
  return parse_kernel_image(file.get(), length, image);
}

void release_kernel_image(KernelImage* image) {
  mem_release(image->code);
  mem_release(image->memory);
  image->code = nullptr;
  image->memory = nullptr;
}

}  // namespace kdsp
