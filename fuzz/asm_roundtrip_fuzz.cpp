// Any image the loader accepts disassembles to a listing that assembles back
// to the very same bytes: invalid words, branch offsets outside the code,
// zero runs and ragged data tails included.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/kernel_image.h"
#include "radio/kernel/assembler.h"
#include "radio/kernel/disassembler.h"

namespace kdsp {

namespace {

[[noreturn]] void fail(const char* what, const std::string& listing) {
  std::fprintf(stderr, "round trip: %s\n--- listing ---\n%s\n", what, listing.c_str());
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  KernelHeader header{};
  if (check_kernel_file(data, size, &header) != nullptr) return 0;
  std::string listing;
  Failure failure;
  if (disassemble_kernel_file(data, size, &listing, &failure) != 0) fail("the disassembler refused a loadable image", "");

  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  if (assemble_text(listing, &program, &diagnostics) != 0) {
    const AsmDiagnostic& first = diagnostics.front();
    std::fprintf(stderr, "line %u column %u: %s\n", first.line, first.column, first.message.c_str());
    fail("the listing does not assemble", listing);
  }
  const std::vector<std::uint8_t> image = kernel_file_bytes(program);
  if (image.size() != size) fail("reassembled image has another length", listing);
  for (std::size_t i = 0; i < size; ++i) {
    if (image[i] != data[i]) {
      std::fprintf(stderr, "first differing byte at %zu: %02X, was %02X\n", i, image[i], data[i]);
      fail("reassembled image differs", listing);
    }
  }
  return 0;
}

}  // namespace kdsp
