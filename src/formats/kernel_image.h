// The kernel image file and its loaded form.
//
// File layout (little-endian):
//   0  "KDSP"        magic
//   4  u16 version   1
//   6  u16 header    32
//   8  u32 code_count  1..4096
//  12  u32 data_size   0..1048576
//  16  u32 entry       < code_count
//  20  u32 x3 reserved 0
//  32  code_count instruction words, then data_size bytes of data
// and nothing after the data.
#pragma once

#include <cstdint>

#include "base/result_code.h"

namespace kdsp {

inline constexpr std::uint32_t KERNEL_MAGIC = 0x5053444Bu;  // "KDSP" read as little-endian u32
inline constexpr std::uint16_t KERNEL_VERSION = 1;
inline constexpr std::uint32_t KERNEL_HEADER_SIZE = 32;
inline constexpr std::uint32_t KERNEL_MAX_WORDS = 4096;
inline constexpr std::uint32_t DATA_MEMORY_SIZE = 1048576;  // 1 MiB of kernel data memory
// The largest valid image; a longer file is refused before it is read.
inline constexpr std::uint64_t KERNEL_MAX_FILE_SIZE = KERNEL_HEADER_SIZE + 4ull * KERNEL_MAX_WORDS + DATA_MEMORY_SIZE;

struct KernelImage {
  std::uint32_t* code;  // code_count words, from mem_alloc
  std::uint64_t code_count;
  std::uint32_t entry;
  std::uint8_t* memory;     // DATA_MEMORY_SIZE bytes, data section at 0, rest zero
  std::uint32_t data_size;  // bytes of the data section the file carried
};

// The header fields, as read from a file.
struct KernelHeader {
  std::uint32_t magic;
  std::uint16_t version;
  std::uint16_t header_size;
  std::uint32_t code_count;
  std::uint32_t data_size;
  std::uint32_t entry;
  std::uint32_t reserved[3];
};

// Checks a whole kernel file in memory, in the loader's order. Returns null
// when it is a valid image (and fills `*header`), else a short reason such as
// "bad magic" or "file length does not match header".
const char* check_kernel_file(const std::uint8_t* bytes, std::uint64_t length, KernelHeader* header);

// Writes `header` in the file's layout into the first KERNEL_HEADER_SIZE
// bytes of `out`: the inverse of the header parse in check_kernel_file, kept
// beside it so that the layout lives in one place.
void write_kernel_header(const KernelHeader& header, std::uint8_t* out);

// Validates a kernel file already in memory and builds `*image` from it:
// OK, BAD_KERNEL or IO_ERROR as load_kernel_image.
ResultCode parse_kernel_image(const std::uint8_t* bytes, std::uint64_t length, KernelImage* image);

// Loads and validates the kernel at `path` into `*image`, whose pointers are
// null: OK with the image filled, BAD_KERNEL for an unreadable or invalid file,
// IO_ERROR when memory runs out (pointers null again in both cases).
ResultCode load_kernel_image(const char* path, KernelImage* image);

// Releases the code and memory blocks and nulls the pointers.
void release_kernel_image(KernelImage* image);

}  // namespace kdsp
