// Every example kernel is assembled with kdsp-as and run with kdsp against a
// synthetic FM capture; each must end as the "Expect:" line in its header
// says, and must survive a disassembly round trip.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "radio/kernel/assembler.h"
#include "radio/kernel/disassembler.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

struct Expectation {
  int status;
  std::string message;  // the stderr line without its newline; empty for success
};

// Reads "; Expect: exit status N" or "; Expect: exit status N, MESSAGE".
bool read_expectation(const std::string& source, Expectation* expectation) {
  const std::string marker = "; Expect: exit status ";
  const std::size_t at = source.find(marker);
  if (at == std::string::npos) return false;
  const std::string line = source.substr(at + marker.size(), source.find('\n', at) - at - marker.size());
  const std::size_t comma = line.find(", ");
  *expectation =
      Expectation{std::stoi(line.substr(0, comma)), comma == std::string::npos ? "" : line.substr(comma + 2)};
  return true;
}

class Examples : public ::testing::Test {
 protected:
  // Assembles `source` under `name`, runs kdsp and checks the outcome.
  void expect_run(const std::string& name, const std::string& source, const Expectation& expected) {
    SCOPED_TRACE(name);
    const std::string kasm = dir.file(name + ".kasm");
    const std::string kernel = dir.file(name + ".kdsp");
    const std::string wav = dir.file(name + ".wav");
    write_file(kasm, Bytes(source.begin(), source.end()));
    const ProcessResult assembled = run_tool(tool_path("kdsp-as"), {kasm, "-o", kernel});
    ASSERT_EQ(assembled.status, 0) << assembled.err;
    expect_round_trip(read_file(kernel));

    const ProcessResult run = run_kdsp({capture, kernel, wav});
    EXPECT_EQ(run.status, expected.status) << run.err;
    EXPECT_EQ(run.err, expected.message.empty() ? "" : expected.message + "\n");
    EXPECT_EQ(run.out, "");
    if (expected.status == 0) {
      const Bytes out = read_file(wav);
      EXPECT_EQ(std::string(out.begin(), out.begin() + std::min<std::size_t>(4, out.size())), "RIFF");
    } else {
      EXPECT_FALSE(file_exists(wav));
    }
  }

  static void expect_round_trip(const Bytes& file) {
    std::string listing;
    Failure failure;
    ASSERT_EQ(disassemble_kernel_file(file.data(), file.size(), &listing, &failure), 0) << failure.cause;
    AsmProgram program;
    std::vector<AsmDiagnostic> diagnostics;
    ASSERT_EQ(assemble_text(listing, &program, &diagnostics), 0) << listing;
    EXPECT_TRUE(kernel_file_bytes(program) == file);
  }

  // A 800 Hz tone with 2.5 kHz deviation on a carrier 25 kHz above the
  // centre, where the examples tune; 0.1 s keeps the runs fast.
  void SetUp() override { write_file(capture, fm_capture_file(24000, 25000.0, 800.0, 2500.0)); }

  ScratchDir dir;
  std::string capture = dir.file("fm.iq");
};

TEST_F(Examples, EachEndsAsItsHeaderSays) {
  const std::filesystem::path folder = std::filesystem::path(KDSP_SOURCE_DIR) / "examples";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".kasm") continue;
    const Bytes bytes = read_file(entry.path());
    const std::string source(bytes.begin(), bytes.end());
    Expectation expected{};
    ASSERT_TRUE(read_expectation(source, &expected)) << entry.path() << " has no Expect: line";
    expect_run(entry.path().stem(), source, expected);
    ++count;
  }
  EXPECT_GE(count, 11);
}

TEST_F(Examples, ParameterCheckTakesEveryPath) {
  const Bytes bytes = read_file(std::string(KDSP_SOURCE_DIR) + "/examples/check_parameter.kasm");
  const std::string source(bytes.begin(), bytes.end());
  const std::string shipped = ".word   75000";
  ASSERT_NE(source.find(shipped), std::string::npos);
  auto with_offset = [&](const char* offset) {
    std::string text = source;
    text.replace(text.find(shipped), shipped.size(), std::string(".word   ") + offset);
    return text;
  };
  expect_run("in_band", with_offset("25000"), Expectation{0, ""});
  expect_run("too_low", with_offset("-50001"), Expectation{21, "VM_EXIT code=21"});
  expect_run("upper_edge", with_offset("50001"), Expectation{20, "VM_EXIT code=20"});
}

}  // namespace

}  // namespace kdsp
