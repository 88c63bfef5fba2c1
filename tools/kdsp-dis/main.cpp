// kdsp-dis: kernel image to assembly text on standard output.
//
//   kdsp-dis kernel.kdsp
//
// Exit status 0 with the listing; 2 (the status kdsp gives the same file)
// with "BAD_KERNEL: reason" on standard error when the file is not a kernel
// image the loader accepts; 1 for a usage error or a failed write.
#include <cstdio>

#include "formats/kernel_image.h"
#include "base/memory.h"
#include "base/file_read.h"
#include "base/result_code.h"
#include "kdsp-dis/disassembler.h"

namespace kdsp {

int run_program(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s kernel.kdsp\n", argc > 0 ? argv[0] : "kdsp-dis");
    return 1;
  }
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(argv[1], &raw, &length, KERNEL_MAX_FILE_SIZE) != 0) {
    std::fprintf(stderr, "%s: cannot read the file, or it is larger than any kernel image\n",
                 result_name(ResultCode::BAD_KERNEL));
    return exit_status(ResultCode::BAD_KERNEL);
  }
  const MemPtr<std::uint8_t> file(raw);
  std::string listing;
  if (const char* reason = disassemble_kernel_file(file.get(), length, &listing)) {
    std::fprintf(stderr, "%s: %s\n", result_name(ResultCode::BAD_KERNEL), reason);
    return exit_status(ResultCode::BAD_KERNEL);
  }
  const bool written = std::fwrite(listing.data(), 1, listing.size(), stdout) == listing.size();
  return written && std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_program(argc, argv); }
