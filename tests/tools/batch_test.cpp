// Many captures through one kernel with GNU parallel, as the README shows.
#include <gtest/gtest.h>

#include "support/kernel_words.h"

#include <sys/stat.h>

#include <map>
#include <sstream>

#include "tools/loopback_ssh_server.h"
#include "tools/tool_process.h"

namespace kdsp {

namespace {

// One line of parallel's joblog: the host that ran the job and its status.
struct JobRecord {
  std::string host;
  int status = -1;
  bool operator==(const JobRecord&) const = default;
};

// The joblog's lines keyed by the command's capture name.
std::map<std::string, JobRecord> job_records(const std::string& joblog) {
  std::map<std::string, JobRecord> records;
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
    records[command.substr(start, iq - start)] = JobRecord{fields[1], std::stoi(fields[6])};
  }
  return records;
}

std::map<std::string, int> exit_values(const std::string& joblog) {
  std::map<std::string, int> values;
  for (const auto& [name, record] : job_records(joblog)) values[name] = record.status;
  return values;
}

void require_parallel() {
  if (run_process("/bin/sh", {"-c", "command -v parallel"}).status != 0) {
    GTEST_FAIL() << "GNU parallel is not installed (scripts/install-deps.sh installs it)";
  }
}

// Captures of a short tone channel, one per name, in `folder`.
void synthesize_captures(const std::string& folder, const std::vector<std::string>& names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string offset_hz = std::to_string(20000 + 2500 * static_cast<int>(i));
    const ToolRun synth = run_tool(tool_path("kdsp-synth"),
                                   {"--audio", "tone:800", "--offset", offset_hz, "--seed", std::to_string(i + 1),
                                    "--duration", "0.2", folder + "/" + names[i] + ".iq"});
    ASSERT_EQ(synth.status, 0) << synth.err;
  }
}

}  // namespace

TEST(BatchRun, ParallelRunsEveryCaptureAndCollectsEveryStatus) {
  require_parallel();
  ScratchDir dir;
  const std::string captures = dir.file("captures");
  const std::string voices = dir.file("voices");
  ASSERT_EQ(::mkdir(captures.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(voices.c_str(), 0700), 0);
  for (const char* name : {"a", "b", "c"}) {
    const ToolRun synth = run_tool(tool_path("kdsp-synth"), {"--audio", "tone:800", "--offset", "25000", "--duration",
                                                             "0.2", captures + "/" + name + ".iq"});
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

  const std::map<std::string, int> statuses = exit_values(read_text(dir.file("jobs.log")));
  EXPECT_EQ(statuses, (std::map<std::string, int>{{"a", 0}, {"b", 0}, {"broken", 6}, {"c", 0}}));
  for (const char* name : {"a", "b", "c"}) {
    const Bytes wav = read_file(voices + "/" + name + ".wav");
    EXPECT_EQ(wav.size(), 44u + 2 * 9600) << name;
  }
  EXPECT_FALSE(file_exists(voices + "/broken.wav"));
}

TEST(BatchRun, ParallelAcrossTwoMachinesOverSsh) {
  // The README's form across machines, for real: this machine (':') and a
  // second host, an OpenSSH server of the test's own on 127.0.0.1 with
  // throwaway keys. The second host reaches the same file system, so kdsp
  // is "installed" there at the same path.
  require_parallel();
  const std::string missing = missing_ssh_programs();
  ASSERT_EQ(missing, "");
  ScratchDir dir;
  const std::string server_folder = dir.file("sshd");
  ASSERT_EQ(::mkdir(server_folder.c_str(), 0700), 0);
  LoopbackSshServer server(server_folder);
  if (!server.failure().empty()) GTEST_SKIP() << "no second host: " << server.failure();

  const std::string work = dir.file("work");
  const std::string captures = work + "/captures";
  ASSERT_EQ(::mkdir(work.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(captures.c_str(), 0700), 0);
  const std::vector<std::string> names = {"a", "b", "c", "d"};
  synthesize_captures(captures, names);
  write_file(captures + "/broken.iq", Bytes(12, 0));  // not whole pairs
  write_file(work + "/kernel.kdsp", kernel_file(words::SIX_WORD_KERNEL));

  // parallel reaches the second host with the ssh command it is given;
  // everything after it is the README's command line.
  const std::string command = "cd '" + work + "' && PARALLEL_SSH='" + server.ssh_command() +
                              "' parallel --sshlogin 1/:,1/" + LoopbackSshServer::HOST +
                              " --basefile kernel.kdsp --transferfile {} --return {/.}.wav --cleanup"
                              " --joblog jobs.log '" +
                              KDSP_BINARY + "' {} kernel.kdsp {/.}.wav ::: captures/*.iq";
  const ProcessResult batch = run_process("/bin/sh", {"-c", command});
  EXPECT_EQ(batch.status, 1) << batch.err;  // the one failed job
  EXPECT_EQ(batch.err, "BAD_IQ\n");

  const std::map<std::string, JobRecord> records = job_records(read_text(work + "/jobs.log"));
  ASSERT_EQ(records.size(), names.size() + 1) << read_text(work + "/jobs.log");
  EXPECT_EQ(records.at("broken").status, 6);
  int on_second_host = 0;
  for (const auto& [name, record] : records) {
    EXPECT_TRUE(record.host == ":" || record.host == LoopbackSshServer::HOST) << name << " ran on " << record.host;
    on_second_host += record.host == LoopbackSshServer::HOST;
  }
  // Both hosts start a job at once, so the second one cannot have idled.
  EXPECT_GE(on_second_host, 1);

  // Each WAV that came back is the one a local run writes, byte for byte.
  for (const std::string& name : names) {
    EXPECT_EQ(records.at(name).status, 0) << name;
    const std::string local = dir.file(name + ".wav");
    ASSERT_EQ(run_kdsp({captures + "/" + name + ".iq", work + "/kernel.kdsp", local}).status, 0);
    const Bytes returned = read_file(work + "/" + name + ".wav");
    EXPECT_EQ(returned.size(), 44u + 2 * 9600) << name;
    EXPECT_TRUE(returned == read_file(local)) << name << " from " << records.at(name).host;
  }
  EXPECT_FALSE(file_exists(work + "/broken.wav"));
}

}  // namespace kdsp
