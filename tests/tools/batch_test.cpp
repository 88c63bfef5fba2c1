// Many captures through one kernel with GNU parallel, as the README shows.
#include <gtest/gtest.h>

#include "support/kernel_words.h"

#include <sys/stat.h>

#include <map>
#include <sstream>

#include "tools/tool_process.h"

namespace kdsp {

namespace {

// The Exitval column of each joblog line, keyed by the command's capture.
std::map<std::string, int> exit_values(const std::string& joblog) {
  std::map<std::string, int> values;
  std::istringstream lines(joblog);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream columns(line);
    for (std::string field; std::getline(columns, field, '\t');) fields.push_back(field);
    if (fields.size() < 9) continue;
    const std::string& command = fields[8];
    const std::size_t iq = command.find(".iq");
    const std::size_t start = command.rfind('/', iq) + 1;
    values[command.substr(start, iq - start)] = std::stoi(fields[6]);
  }
  return values;
}

}  // namespace

TEST(BatchRun, ParallelRunsEveryCaptureAndCollectsEveryStatus) {
  if (run_process("/bin/sh", {"-c", "command -v parallel"}).status != 0) {
    GTEST_FAIL() << "GNU parallel is not installed (scripts/install-deps.sh installs it)";
  }
  ScratchDir dir;
  const std::string captures = dir.file("captures");
  const std::string voices = dir.file("voices");
  ASSERT_EQ(::mkdir(captures.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(voices.c_str(), 0700), 0);
  for (const char* name : {"a", "b", "c"}) {
    const ToolRun synth = run_tool(tool_path("kdsp-synth"), {"--audio", "tone:800", "--offset", "25000",
                                                             "--duration", "0.2", captures + "/" + name + ".iq"});
    ASSERT_EQ(synth.status, 0) << synth.err;
  }
  write_file(captures + "/broken.iq", Bytes(12, 0));  // not whole pairs
  write_file(dir.file("kernel.kdsp"), kernel_file(words::SIX_WORD_KERNEL));

  // The README's one-machine form.
  const std::string command = "cd '" + dir.path() + "' && parallel -j 2 --joblog jobs.log '" + KDSP_BINARY +
                              "' {} kernel.kdsp voices/{/.}.wav ::: captures/*.iq";
  const ProcessResult batch = run_process("/bin/sh", {"-c", command});
  EXPECT_EQ(batch.status, 1);  // parallel's status: the number of failed jobs
  EXPECT_EQ(batch.err, "BAD_IQ\n");

  const Bytes joblog = read_file(dir.file("jobs.log"));
  const std::map<std::string, int> statuses = exit_values(std::string(joblog.begin(), joblog.end()));
  EXPECT_EQ(statuses, (std::map<std::string, int>{{"a", 0}, {"b", 0}, {"broken", 6}, {"c", 0}}));
  for (const char* name : {"a", "b", "c"}) {
    const Bytes wav = read_file(voices + "/" + name + ".wav");
    EXPECT_EQ(wav.size(), 44u + 2 * 9600) << name;
  }
  EXPECT_FALSE(file_exists(voices + "/broken.wav"));
}

}  // namespace kdsp
