#include "radio/kernel/kernel_source.h"

#include <algorithm>
#include <string_view>

#include "radio/io/regular_file.h"
#include "radio/kernel/assembler.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

namespace {

// The same bound as kdsp-as: any kernel written by hand or by a generator.
constexpr std::uint64_t MAX_KERNEL_FILE_BYTES = 64ull << 20;
constexpr const char* PLACED_OFFSET_NAME = "OFFSET_HZ";

// The built-in kernel: demodulate the channel where the front end placed it
// and emit it; kdsp run with it on a placed capture gives kdsp-rx's audio.
constexpr const char* BUILTIN_KERNEL_SOURCE =
    "        GETIQ   r2\n"
    "        LD      r4, offset(r0)\n"
    "        FMDEMOD r3, r2, r4\n"
    "        ADDI    r1, r3, 0\n"
    "        EMIT\n"
    "        HALT\n"
    ".data\n"
    "offset: .word OFFSET_HZ\n";

bool is_source(const std::string& path) { return path.size() >= 5 && path.compare(path.size() - 5, 5, ".kasm") == 0; }

int assemble(const std::string& path, std::string_view text, const std::vector<std::string>& definitions,
             std::int32_t placed_offset_hz, std::vector<std::uint8_t>* image, Failure* failure) {
  std::vector<AsmDefinition> constants{{PLACED_OFFSET_NAME, placed_offset_hz}};
  for (const std::string& definition : definitions) {
    AsmDefinition parsed;
    if (parse_asm_definition(definition, &parsed, failure) != 0) {
      prefix_failure(failure, "-D ");
      return -1;
    }
    constants.push_back(std::move(parsed));
  }
  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  if (assemble_text(text, &program, &diagnostics, constants) != 0) {
    *failure = Failure{"kernel source '" + path + "' has errors:", "", path};
    for (const AsmDiagnostic& d : diagnostics) {
      failure->cause += "\n" + path + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": " + d.message;
    }
    return -1;
  }
  *image = kernel_file_bytes(program);
  return 0;
}

}  // namespace

int load_kernel(const std::string& path, const std::vector<std::string>& definitions, std::int32_t placed_offset_hz,
                std::vector<std::uint8_t>* image, Failure* failure) {
  if (path.empty()) return assemble("the built-in kernel", BUILTIN_KERNEL_SOURCE, {}, placed_offset_hz, image, failure);
  std::vector<std::uint8_t> bytes;
  if (read_regular_file(path.c_str(), MAX_KERNEL_FILE_BYTES, &bytes) != 0) {
    *failure = Failure{"kernel '" + path + "' cannot be read (missing, unreadable, not a regular file, or too long)"};
    return -1;
  }
  if (is_source(path)) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return assemble(path, text, definitions, placed_offset_hz, image, failure);
  }
  std::string reason;
  if (check_kernel_bytes(bytes, &reason) != 0) {
    *failure = Failure{"kernel '" + path + "' is not a valid kernel image (" + reason +
                       "); a source file must end in .kasm to be assembled"};
    return -1;
  }
  *image = std::move(bytes);
  return 0;
}

}  // namespace kdsp
