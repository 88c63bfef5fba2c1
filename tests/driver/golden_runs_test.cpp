// The recorded complete runs under tests/data/golden: each folder holds the
// inputs, the arguments, and the exact status, standard error and WAV bytes a
// run must give. Each runs in a scratch copy, so its output is created fresh.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/test_files.h"

namespace kdsp {

namespace {

namespace fs = std::filesystem;

const fs::path GOLDEN_DIR = fs::path(KDSP_SOURCE_DIR) / "tests" / "data" / "golden";
constexpr char EXPECTED_PREFIX[] = "expected-";

std::vector<std::string> golden_run_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(GOLDEN_DIR)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// How two WAV images differ, in words a reader can act on: the count of
// differing 16-bit samples after the 44-byte header and the largest gap.
std::string describe_wav_difference(const Bytes& got, const Bytes& want) {
  std::ostringstream text;
  text << got.size() << " bytes, expected " << want.size();
  constexpr std::size_t HEADER = 44;
  if (got.size() != want.size() || got.size() < HEADER) return text.str();
  std::size_t differing = 0;
  int largest = 0;
  for (std::size_t i = HEADER; i + 1 < got.size(); i += 2) {
    const auto sample = [](const Bytes& b, std::size_t at) {
      return static_cast<int>(static_cast<std::int16_t>(b[at] | (b[at + 1] << 8)));
    };
    const int gap = std::abs(sample(got, i) - sample(want, i));
    if (gap != 0) ++differing;
    largest = std::max(largest, gap);
  }
  if (!std::equal(got.begin(), got.begin() + HEADER, want.begin())) text << "; headers differ";
  text << "; " << differing << " samples differ, largest by " << largest << " LSB";
  return text.str();
}

class GoldenRun : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenRun, GivesTheRecordedStatusMessageAndBytes) {
  const fs::path source = GOLDEN_DIR / GetParam();
  ScratchDir scratch;
  for (const auto& entry : fs::directory_iterator(source)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(EXPECTED_PREFIX, 0) != 0 && name != "args") fs::copy_file(entry.path(), scratch.file(name));
  }

  const std::string expected_stdout_path = (source / "expected-stdout.wav").string();
  const bool wav_on_stdout = file_exists(expected_stdout_path);
  ProcessOptions options;
  options.cwd = scratch.path();
  if (wav_on_stdout) options.stdout_path = scratch.file("stdout.wav");
  const ProcessResult result = run_kdsp(lines_of(read_text((source / "args").string())), options);

  EXPECT_EQ(result.status, std::stoi(read_text((source / "expected-status").string())));
  EXPECT_EQ(result.err, read_text((source / "expected-stderr").string()));
  if (wav_on_stdout) {
    const Bytes got = read_file(scratch.file("stdout.wav"));
    const Bytes want = read_file(expected_stdout_path);
    EXPECT_TRUE(got == want) << "standard output: " << describe_wav_difference(got, want);
  }
  for (const auto& entry : fs::directory_iterator(source)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(EXPECTED_PREFIX, 0) != 0 || name == "expected-status" || name == "expected-stderr" ||
        name == "expected-stdout.wav") {
      continue;
    }
    const std::string output = name.substr(sizeof(EXPECTED_PREFIX) - 1);
    ASSERT_TRUE(file_exists(scratch.file(output))) << output << " was not written";
    const Bytes got = read_file(scratch.file(output));
    const Bytes want = read_file(entry.path().string());
    EXPECT_TRUE(got == want) << output << ": " << describe_wav_difference(got, want);
  }
}

INSTANTIATE_TEST_SUITE_P(Recorded, GoldenRun, ::testing::ValuesIn(golden_run_names()),
                         [](const ::testing::TestParamInfo<std::string>& run) {
                           std::string name = run.param;
                           std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return name;
                         });

}  // namespace

}  // namespace kdsp
