// kdsp-as: kernel assembly source to kernel image.
//
//   kdsp-as [-D NAME=VALUE ...] source.kasm -o kernel.kdsp
//
// Exit status 0 when the image was written; 1 when the source has errors
// (each printed as file:line:column: message), a file could not be read or
// written, or memory ran out, and then the output file is left as it was; 2
// for a usage error.
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_read.h"
#include "base/memory.h"
#include "base/output_file.h"
#include "common/tool_main.h"
#include "radio/io/regular_file.h"
#include "radio/kernel/assembler.h"

namespace kdsp {

namespace {

// Large enough for any kernel written by hand or by a generator; the bound
// keeps a mistaken path (a capture, say) from being read whole.
constexpr std::uint64_t MAX_SOURCE_SIZE = 64ull << 20;

constexpr ToolHelp AS_HELP{
    "kdsp-as",
    "[-D NAME=VALUE ...] SOURCE.kasm -o KERNEL.kdsp",
    "Assembles kernel source text into a kernel image for kdsp. Errors are\n"
    "printed as file:line:column: message. -D gives the source a constant it\n"
    "may use wherever a number may stand.",
    "Exit status: 0 the image was written; 1 the source has errors, a file\n"
    "cannot be read or written, or memory ran out (the output file is then left\n"
    "as it was); 2 a usage error.",
};

struct Arguments {
  std::string source;
  std::string output;
  std::vector<std::string> definition_texts;  // -D NAME=VALUE, in order
  std::vector<AsmDefinition> definitions;
};

void declare_arguments(CLI::App& app, Arguments* args) {
  add_path_option(app, "SOURCE.kasm", &args->source)->required()->type_name("")->description("the kernel source");
  add_path_option(app, "-o", &args->output)
      ->required()
      ->type_name("KERNEL.kdsp")
      ->description("the kernel image to write")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  app.add_option("-D", args->definition_texts)
      ->type_name("NAME=VALUE")
      ->description("a constant for the source, a number within 32 bits (repeatable)")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

int complete_arguments(const CLI::App&, Arguments* args, Failure* failure) {
  for (const std::string& text : args->definition_texts) {
    AsmDefinition definition;
    if (parse_asm_definition(text, &definition, failure) != 0) {
      prefix_failure(failure, "-D: ");
      failure->kind = FailureKind::USAGE;
      return -1;
    }
    args->definitions.push_back(std::move(definition));
  }
  return 0;
}

// The assembler's own forms of failure: one line per error in the source
// (file:line:column: message), or the file that could not be read or
// written; they are printed here, and the failure returned has no cause.
int said(const std::string& line, Failure* failure) {
  std::fprintf(stderr, "%s\n", line.c_str());
  *failure = Failure{};
  return -1;
}

int assemble_file(const Arguments& args, Failure* failure) {
  if (same_file(args.output, args.source)) {
    return said(args.output + ": the kernel image would replace the source; give another -o", failure);
  }
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(args.source.c_str(), &raw, &length, MAX_SOURCE_SIZE) != 0) {
    return said(args.source + ": cannot read the source file", failure);
  }
  const MemPtr<std::uint8_t> source(raw);

  AsmProgram program;
  std::vector<AsmDiagnostic> diagnostics;
  const std::string_view text(reinterpret_cast<const char*>(source.get()), length);
  if (assemble_text(text, &program, &diagnostics, args.definitions) != 0) {
    for (const AsmDiagnostic& d : diagnostics) {
      std::fprintf(stderr, "%s:%u:%u: %s\n", args.source.c_str(), d.line, d.column, d.message.c_str());
    }
    *failure = Failure{};
    return -1;
  }
  // The image appears whole at the output path or not at all.
  const std::vector<std::uint8_t> image = kernel_file_bytes(program);
  if (write_output(args.output.c_str(), image.data(), image.size()) != 0) {
    return said(args.output + ": cannot write the kernel image", failure);
  }
  return 0;
}

int run(const Arguments& args, Failure* failure) {
  try {
    return assemble_file(args, failure);
  } catch (const std::bad_alloc&) {
    // Nothing has been written yet: the output file is as it was.
    *failure = Failure{"out of memory while assembling '" + args.source + "'"};
    return -1;
  }
}

constexpr ToolDefinition<Arguments> AS_TOOL{AS_HELP, declare_arguments, complete_arguments, run};

}  // namespace

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool(kdsp::AS_TOOL, argc, argv); }
