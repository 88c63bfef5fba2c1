// kdsp-as: kernel assembly source to kernel image.
//
//   kdsp-as [-D NAME=VALUE ...] source.kasm -o kernel.kdsp
//
// Exit status 0 when the image was written; 1 when the source has errors
// (each printed as file:line:column: message) or a file could not be read or
// written, and then no output file exists; 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/memory.h"
#include "common/atomic_output.h"
#include "base/file_read.h"
#include "kdsp-as/assembler.h"

namespace kdsp {

namespace {

// Large enough for any kernel written by hand or by a generator; the bound
// keeps a mistaken path (a capture, say) from being read whole.
constexpr std::uint64_t MAX_SOURCE_SIZE = 64ull << 20;

struct Arguments {
  const char* source = nullptr;
  const char* output = nullptr;
  std::vector<AsmDefinition> definitions;
};

bool parse_arguments(int argc, char** argv, Arguments* args) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc && args->output == nullptr) {
      args->output = argv[++i];
    } else if (std::strncmp(argv[i], "-D", 2) == 0 && (argv[i][2] != '\0' || i + 1 < argc)) {
      const char* text = argv[i][2] != '\0' ? argv[i] + 2 : argv[++i];
      AsmDefinition definition;
      std::string error;
      if (parse_asm_definition(text, &definition, &error) != 0) {
        std::fprintf(stderr, "kdsp-as: -D %s\n", error.c_str());
        return false;
      }
      args->definitions.push_back(std::move(definition));
    } else if (argv[i][0] != '-' && args->source == nullptr) {
      args->source = argv[i];
    } else {
      return false;
    }
  }
  return args->source != nullptr && args->output != nullptr;
}

// The image appears whole at `path` or not at all.
bool write_image(const char* path, const std::vector<std::uint8_t>& bytes) {
  AtomicOutput out;
  return atomic_output_open(path, &out) == 0 && atomic_output_write(out, bytes) == 0 &&
         atomic_output_commit(out) == 0;
}

}  // namespace

int run_program(int argc, char** argv) {
  Arguments args;
  if (!parse_arguments(argc, argv, &args)) {
    std::fprintf(stderr, "usage: %s [-D NAME=VALUE ...] source.kasm -o kernel.kdsp\n", argc > 0 ? argv[0] : "kdsp-as");
    return 2;
  }
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(args.source, &raw, &length, MAX_SOURCE_SIZE) != 0) {
    std::fprintf(stderr, "%s: cannot read the source file\n", args.source);
    return 1;
  }
  const MemPtr<std::uint8_t> source(raw);

  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  const std::string_view text(reinterpret_cast<const char*>(source.get()), length);
  if (assemble_text(text, &program, &diagnostics, args.definitions) != 0) {
    for (const AsmDiagnostic& d : diagnostics) {
      std::fprintf(stderr, "%s:%u:%u: %s\n", args.source, d.line, d.column, d.message.c_str());
    }
    return 1;
  }
  if (!write_image(args.output, kernel_file_bytes(program))) {
    std::fprintf(stderr, "%s: cannot write the kernel image\n", args.output);
    return 1;
  }
  return 0;
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_program(argc, argv); }
