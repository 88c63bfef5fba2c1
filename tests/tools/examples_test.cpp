// Every example kernel is assembled with kdsp-as and run with kdsp against a
// synthetic FM capture; each must end as the "Expect:" line in its header
// says, and must survive a disassembly round trip.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/byte_order.h"
#include "kdsp-as/assembler.h"
#include "kdsp-dis/disassembler.h"
#include "tools/tool_process.h"

namespace {

constexpr double PI = 3.14159265358979323846;

// A tone of 800 Hz, frequency-modulated with 2.5 kHz deviation onto a
// carrier 25 kHz above the centre: what the examples tune to. 0.1 s keeps
// the runs fast.
void write_fm_capture(const std::string& path) {
  constexpr int PAIRS = 24000;
  constexpr double RATE = 240000.0;
  std::vector<std::uint8_t> bytes(8 * PAIRS);
  double phase = 0.0;
  for (int n = 0; n < PAIRS; ++n) {
    const double t = n / RATE;
    phase += 2.0 * PI * (25000.0 + 2500.0 * std::sin(2.0 * PI * 800.0 * t)) / RATE;
    const float i = static_cast<float>(0.5 * std::cos(phase));
    const float q = static_cast<float>(0.5 * std::sin(phase));
    write_le32(&bytes[8 * n], std::bit_cast<std::uint32_t>(i));
    write_le32(&bytes[8 * n + 4], std::bit_cast<std::uint32_t>(q));
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

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
  *expectation = Expectation{std::stoi(line.substr(0, comma)), comma == std::string::npos ? "" : line.substr(comma + 2)};
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
    write_text_file(kasm, source);
    const ProcessResult assembled = run_program({assembler_path(), kasm, "-o", kernel});
    ASSERT_EQ(assembled.status, 0) << assembled.err;
    expect_round_trip(read_text_file(kernel));

    const ProcessResult run = run_program({KDSP_BINARY, capture, kernel, wav});
    EXPECT_EQ(run.status, expected.status) << run.err;
    EXPECT_EQ(run.err, expected.message.empty() ? "" : expected.message + "\n");
    EXPECT_EQ(run.out, "");
    if (expected.status == 0) {
      EXPECT_EQ(read_text_file(wav).substr(0, 4), "RIFF");
    } else {
      EXPECT_FALSE(std::filesystem::exists(wav));
    }
  }

  static void expect_round_trip(const std::string& file) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    std::string listing;
    ASSERT_EQ(disassemble_kernel_file(bytes, file.size(), &listing), nullptr);
    AsmProgram program;
    std::vector<AsmDiagnostic> diagnostics;
    ASSERT_EQ(assemble_text(listing, &program, &diagnostics), 0) << listing;
    const std::vector<std::uint8_t> again = kernel_file_bytes(program);
    EXPECT_EQ(std::string(again.begin(), again.end()), file);
  }

  void SetUp() override { write_fm_capture(capture); }

  ScratchDir dir;
  std::string capture = dir.file("fm.iq");
};

TEST_F(Examples, EachEndsAsItsHeaderSays) {
  const std::filesystem::path folder = std::filesystem::path(KDSP_SOURCE_DIR) / "examples";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".kasm") continue;
    const std::string source = read_text_file(entry.path());
    Expectation expected{};
    ASSERT_TRUE(read_expectation(source, &expected)) << entry.path() << " has no Expect: line";
    expect_run(entry.path().stem(), source, expected);
    ++count;
  }
  EXPECT_GE(count, 11);
}

TEST_F(Examples, ParameterCheckTakesEveryPath) {
  const std::string source =
      read_text_file(std::string(KDSP_SOURCE_DIR) + "/examples/check_parameter.kasm");
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
