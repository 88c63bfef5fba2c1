// The companion programs as a user runs them: arguments, messages, exit
// statuses and what they leave on disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/tool_process.h"

namespace kdsp {

namespace {

std::string assembler_path() { return tool_path("kdsp-as"); }
std::string disassembler_path() { return tool_path("kdsp-dis"); }

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
  EXPECT_EQ(run_program({assembler_path(), "x.kasm", "-o", dir.file("a"), "-o", dir.file("b")}).status, 2);
  EXPECT_EQ(run_program({assembler_path(), "x.kasm", "-o", ""}).status, 2);
  const ProcessResult missing = run_program({assembler_path(), dir.file("none.kasm"), "-o", dir.file("k.kdsp")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UNDER_ADDRESS_SANITIZER = true;
#else
constexpr bool UNDER_ADDRESS_SANITIZER = false;
#endif

// A generated source of two million labels needs about 90 MB for its symbols;
// with the address space held to 64 MB the assembler runs out part way
// through and must say so, not abort, and leave the old image alone.
TEST(AssemblerProgram, RunningOutOfMemoryFailsCleanlyAndKeepsTheOldImage) {
  if (UNDER_ADDRESS_SANITIZER) GTEST_SKIP() << "an address-space limit cannot hold under AddressSanitizer";
  ScratchDir dir;
  std::string source = "HALT\n";
  char label[32];
  for (int i = 0; i < 2000000; ++i) {
    std::snprintf(label, sizeof label, "L%07d:\n", i);
    source += label;
  }
  write_text(dir.file("labels.kasm"), source);
  write_text(dir.file("old.kdsp"), "previous image");
  const ProcessResult r = run_process("/bin/bash", {"-c", "ulimit -v 65536 && exec \"$0\" \"$@\"", assembler_path(),
                                                    dir.file("labels.kasm"), "-o", dir.file("old.kdsp")});
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "kdsp-as: out of memory while assembling '" + dir.file("labels.kasm") + "'\n");
  EXPECT_EQ(read_text(dir.file("old.kdsp")), "previous image");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"labels.kasm", "old.kdsp"}));
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
  EXPECT_EQ(short_file.status, 1);
  EXPECT_EQ(short_file.err, "BAD_KERNEL: file shorter than the 32-byte header\n");
  EXPECT_EQ(short_file.out, "");
  const ProcessResult missing = run_program({disassembler_path(), dir.file("none.kdsp")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("BAD_KERNEL: ", 0), 0u);
  // A usage error is told apart from a refused kernel.
  const ProcessResult no_arguments = run_program({disassembler_path()});
  EXPECT_EQ(no_arguments.status, 2);
  EXPECT_EQ(no_arguments.err.find("BAD_KERNEL"), std::string::npos);
  EXPECT_EQ(run_program({disassembler_path(), dir.file("short.kdsp"), dir.file("short.kdsp")}).status, 2);
}

// A listing or report lost on its way (standard output on a full disk) is a
// failure, never a success.
TEST(ToolPrograms, AFullStandardOutputIsAFailure) {
  ScratchDir dir;
  write_text(dir.file("k.kasm"), GOOD_SOURCE);
  ASSERT_EQ(run_program({assembler_path(), dir.file("k.kasm"), "-o", dir.file("k.kdsp")}).status, 0);
  ProcessOptions to_full_disk;
  to_full_disk.stdout_path = "/dev/full";
  const ProcessResult listing = run_process(disassembler_path(), {dir.file("k.kdsp")}, to_full_disk);
  EXPECT_EQ(listing.status, 1);
  EXPECT_EQ(listing.err, "kdsp-dis: cannot write the listing\n");

  ASSERT_EQ(run_process(tool_path("kdsp-synth"), {"--duration", "0.1", dir.file("c.iq")}).status, 0);
  const ProcessResult report = run_process(tool_path("kdsp-scan"), {dir.file("c.iq")}, to_full_disk);
  EXPECT_EQ(report.status, 1);
  EXPECT_EQ(report.err, "kdsp-scan: cannot write the report\n");
}

// Every companion answers --help, --version and a usage error the same way.
TEST(ToolPrograms, AnswerHelpVersionAndUsageErrorsAlike) {
  struct Companion {
    const char* name;
    std::vector<std::string> valid_arguments;  // a complete command line, to which an unknown option is added
  };
  const Companion companions[] = {
      {"kdsp-as", {"k.kasm", "-o", "k.kdsp"}},
      {"kdsp-dis", {"k.kdsp"}},
      {"kdsp-scan", {"c.iq"}},
      {"kdsp-synth", {"c.iq"}},
  };
  for (const Companion& companion : companions) {
    SCOPED_TRACE(companion.name);
    const std::string program = tool_path(companion.name);
    const std::string hint = std::string("Try '") + companion.name + " --help'.\n";

    for (const char* help : {"--help", "-h"}) {
      const ProcessResult r = run_program({program, help});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out.rfind(std::string("usage: ") + companion.name + " ", 0), 0u) << r.out;
      EXPECT_NE(r.out.find("Exit status"), std::string::npos);
      EXPECT_EQ(r.err, "");
    }

    const ProcessResult version = run_program({program, "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string(companion.name) + " " + KDSP_VERSION + "\n");
    EXPECT_EQ(version.err, "");

    ScratchDir dir;
    std::vector<std::string> unknown = {program, "--no-such-option"};
    for (const std::string& argument : companion.valid_arguments) unknown.push_back(dir.file(argument));
    const std::vector<std::vector<std::string>> usage_errors = {unknown, {program}};
    for (const std::vector<std::string>& line : usage_errors) {
      const ProcessResult r = run_program(line);
      EXPECT_EQ(r.status, 2) << line.size();
      EXPECT_EQ(r.out, "");
      // One line saying what is wrong, then the hint.
      const std::size_t first_line_end = r.err.find('\n');
      ASSERT_NE(first_line_end, std::string::npos) << r.err;
      EXPECT_EQ(r.err.rfind(std::string(companion.name) + ": ", 0), 0u) << r.err;
      EXPECT_EQ(r.err.substr(first_line_end + 1), hint) << r.err;
    }
    EXPECT_NE(run_program(unknown).err.find("'--no-such-option'"), std::string::npos);
    EXPECT_TRUE(dir.entries().empty());
  }
}

}  // namespace

}  // namespace kdsp
