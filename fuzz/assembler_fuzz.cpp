// Any text as assembly source. Whatever assembles must be an image the
// loader accepts.
#include <cstdint>
#include <string_view>

#include "base/memory.h"
#include "formats/kernel_image.h"
#include "radio/kernel/assembler.h"

namespace kdsp {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (assemble_text(text, &program, &diagnostics) != 0) {
    if (diagnostics.empty()) __builtin_trap();
    return 0;
  }
  const std::vector<std::uint8_t> image = kernel_file_bytes(program);
  KernelImage kernel{};
  if (parse_kernel_image(image.data(), image.size(), &kernel) != ResultCode::OK) __builtin_trap();
  release_kernel_image(&kernel);
  return 0;
}

}  // namespace kdsp
