// kdsp-dis: kernel image to assembly text on standard output.
//
//   kdsp-dis kernel.kdsp
//
// Exit status 0 with the listing; 1 with "BAD_KERNEL: reason" on standard
// error when the file is not a kernel image kdsp would accept (or cannot be
// read), and 1 too when the listing cannot be written; 2 for a usage error.
#include <cstdio>
#include <string>

#include "base/file_read.h"
#include "base/memory.h"
#include "base/output_file.h"
#include "base/result_code.h"
#include "common/command_line.h"
#include "formats/kernel_image.h"
#include "radio/kernel/disassembler.h"

namespace kdsp {

namespace {

constexpr ToolHelp DIS_HELP{
    "kdsp-dis",
    "KERNEL.kdsp",
    "Prints a kernel image as kdsp-as source on standard output; assembling\n"
    "the listing gives back the image byte for byte.",
    "Exit status: 0 the listing was written; 1 the file is not a kernel image\n"
    "that kdsp accepts (\"BAD_KERNEL: reason\" on standard error) or the listing\n"
    "cannot be written; 2 a usage error.",
};

int refuse_kernel(const char* reason) {
  std::fprintf(stderr, "%s: %s\n", result_name(ResultCode::BAD_KERNEL), reason);
  return EXIT_TOOL_FAILED;
}

int disassemble_file(const std::string& path) {
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(path.c_str(), &raw, &length, KERNEL_MAX_FILE_SIZE) != 0) {
    return refuse_kernel("cannot read the file, or it is larger than any kernel image");
  }
  const MemPtr<std::uint8_t> file(raw);
  std::string listing;
  if (const char* reason = disassemble_kernel_file(file.get(), length, &listing)) return refuse_kernel(reason);
  if (write_output(nullptr, reinterpret_cast<const std::uint8_t*>(listing.data()), listing.size()) != 0) {
    std::fprintf(stderr, "kdsp-dis: cannot write the listing\n");
    return EXIT_TOOL_FAILED;
  }
  return 0;
}

}  // namespace

int run_program(int argc, char** argv) {
  CLI::App app;
  configure_tool_app(app, DIS_HELP);
  std::string kernel_path;
  add_path_option(app, "KERNEL.kdsp", &kernel_path)->required()->type_name("")->description("the kernel image to list");
  int exit_status = 0;
  if (!parse_tool_command_line(app, argc, argv, &exit_status)) return exit_status;
  return disassemble_file(kernel_path);  // running out of memory is caught by run_tool_main
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool_main("kdsp-dis", kdsp::run_program, argc, argv); }
