// Running the built programs from the tests, and scratch space for their files.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  int status;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] is the program path) with standard input closed and
// both output streams captured.
ProcessResult run_program(const std::vector<std::string>& argv);

// A fresh directory, removed with everything in it when the owner goes.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

std::string read_text_file(const std::string& path);
void write_text_file(const std::string& path, const std::string& text);
std::vector<std::string> directory_entries(const std::string& path);

inline std::string assembler_path() { return std::string(KDSP_TOOLS_DIR) + "/kdsp-as/kdsp-as"; }
inline std::string disassembler_path() { return std::string(KDSP_TOOLS_DIR) + "/kdsp-dis/kdsp-dis"; }
