// The two programs as a user runs them: arguments, messages, exit statuses
// and what they leave on disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/tool_process.h"

namespace kdsp {

namespace {

std::string assembler_path() { return tool_path("kdsp-as"); }
std::string disassembler_path() { return tool_path("kdsp-dis"); }

void write_text(const std::string& path, const std::string& text) { write_file(path, Bytes(text.begin(), text.end())); }
std::string read_text(const std::string& path) {
  const Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

ProcessResult run_program(const std::vector<std::string>& argv) {
  return run_process(argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()));
}

const char* const GOOD_SOURCE = "start: GETIQ r2\n  HALT\n.data\n.word 25000\n";

TEST(AssemblerProgram, WritesTheImageAndNothingElse) {
  ScratchDir dir;
  write_text(dir.file("k.kasm"), GOOD_SOURCE);
  const ProcessResult r = run_program({assembler_path(), dir.file("k.kasm"), "-o", dir.file("k.kdsp")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_text(dir.file("k.kdsp")).size(), 32u + 8u + 4u);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"k.kasm", "k.kdsp"}));  // no temporary left
}

TEST(AssemblerProgram, ReportsErrorsAsFileLineColumnAndWritesNothing) {
  ScratchDir dir;
  const std::string source = dir.file("bad.kasm");
  write_text(source, "  NOP\n  LI r1, 0x100000\n  JMP nowhere\n");
  write_text(dir.file("old.kdsp"), "previous image");
  const ProcessResult r = run_program({assembler_path(), source, "-o", dir.file("old.kdsp")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, source + ":2:10: value 1048576 does not fit in an unsigned 20-bit immediate (0..1048575)\n" +
                       source + ":3:7: undefined label 'nowhere'\n");
  EXPECT_EQ(read_text(dir.file("old.kdsp")), "previous image");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"bad.kasm", "old.kdsp"}));
}

TEST(AssemblerProgram, FailsCleanlyWhenTheOutputCannotBeWritten) {
  ScratchDir dir;
  write_text(dir.file("k.kasm"), GOOD_SOURCE);
  const ProcessResult missing_dir = run_program({assembler_path(), dir.file("k.kasm"), "-o", dir.file("no/k.kdsp")});
  EXPECT_EQ(missing_dir.status, 1);
  EXPECT_NE(missing_dir.err.find("cannot write"), std::string::npos);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"k.kasm"});
}

TEST(AssemblerProgram, RefusesBadArgumentsAndMissingSources) {
  ScratchDir dir;
  EXPECT_EQ(run_program({assembler_path()}).status, 2);
  EXPECT_EQ(run_program({assembler_path(), "x.kasm"}).status, 2);
  EXPECT_EQ(run_program({assembler_path(), "x.kasm", "-o"}).status, 2);
  const ProcessResult missing = run_program({assembler_path(), dir.file("none.kasm"), "-o", dir.file("k.kdsp")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}

TEST(DisassemblerProgram, ListsAValidImage) {
  ScratchDir dir;
  write_text(dir.file("k.kasm"), GOOD_SOURCE);
  ASSERT_EQ(run_program({assembler_path(), dir.file("k.kasm"), "-o", dir.file("k.kdsp")}).status, 0);
  const ProcessResult r = run_program({disassembler_path(), dir.file("k.kdsp")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("GETIQ   r2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(".word   0x000061A8"), std::string::npos) << r.out;
}

TEST(DisassemblerProgram, GivesTheLoadersVerdictOnABadImage) {
  ScratchDir dir;
  write_text(dir.file("short.kdsp"), "KDSP");
  const ProcessResult short_file = run_program({disassembler_path(), dir.file("short.kdsp")});
  EXPECT_EQ(short_file.status, 2);
  EXPECT_EQ(short_file.err, "BAD_KERNEL: file shorter than the 32-byte header\n");
  EXPECT_EQ(short_file.out, "");
  const ProcessResult missing = run_program({disassembler_path(), dir.file("none.kdsp")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.rfind("BAD_KERNEL: ", 0), 0u);
  EXPECT_EQ(run_program({disassembler_path()}).status, 1);
}

}  // namespace

}  // namespace kdsp
