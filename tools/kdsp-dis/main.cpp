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
#include "common/tool_main.h"
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

// A file kdsp would refuse is said as kdsp says it: BAD_KERNEL and the
// loader's reason.
int refuse_kernel(const std::string& reason, Failure* failure) {
  std::fprintf(stderr, "%s: %s\n", result_name(ResultCode::BAD_KERNEL), reason.c_str());
  *failure = Failure{};
  return -1;
}

void declare_path(CLI::App& app, std::string* kernel_path) {
  add_path_option(app, "KERNEL.kdsp", kernel_path)->required()->type_name("")->description("the kernel image to list");
}

int disassemble_file(const std::string& path, Failure* failure) {
  std::uint8_t* raw = nullptr;
  std::uint64_t length = 0;
  if (read_whole_file(path.c_str(), &raw, &length, KERNEL_MAX_FILE_SIZE) != 0) {
    return refuse_kernel("cannot read the file, or it is larger than any kernel image", failure);
  }
  const MemPtr<std::uint8_t> file(raw);
  std::string listing;
  if (disassemble_kernel_file(file.get(), length, &listing, failure) != 0) return refuse_kernel(failure->cause, failure);
  if (write_output(nullptr, reinterpret_cast<const std::uint8_t*>(listing.data()), listing.size()) != 0) {
    *failure = Failure{"cannot write the listing"};
    return -1;
  }
  return 0;
}

constexpr ToolDefinition<std::string> DIS_TOOL{DIS_HELP, declare_path, nullptr, disassemble_file};

}  // namespace

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool(kdsp::DIS_TOOL, argc, argv); }
