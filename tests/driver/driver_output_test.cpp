// Successful runs and where their WAV goes; failed deliveries and what they
// leave behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <random>

#include <gtest/gtest.h>

#include "support/kernel_words.h"

#include "base/memory.h"
#include "base/result_code.h"
#include "driver/driver.h"
#include "support/process.h"
#include "support/test_files.h"
#include "support/tone.h"

namespace kdsp {

namespace {

// The stage letters of a whole run's allocation requests, as the pattern
// k? o+ c? o+ s+ o o: at most one kernel-file request, the kernel's blocks,
// at most one capture-file request, the capture, the signal work, then the
// WAV image and the temporary name.
bool stages_in_run_order(const std::string& stages) {
  std::size_t i = 0;
  const auto take = [&](char letter) {
    std::size_t n = 0;
    for (; i < stages.size() && stages[i] == letter; ++i) ++n;
    return n;
  };
  if (take('k') > 1) return false;
  const std::size_t kernel_blocks = take('o');
  const std::size_t capture_file = take('c');
  if (capture_file > 1) return false;
  const std::size_t capture_blocks = capture_file == 1 ? take('o') : 0;
  // Without the letter c between them, both runs of o are one run.
  const bool loading = capture_file == 1 ? kernel_blocks >= 1 && capture_blocks >= 1 : kernel_blocks >= 2;
  if (!loading || take('s') == 0) return false;
  return take('o') == 2 && i == stages.size();
}

// 0.1 s of a +25 kHz carrier FM-modulated by a 1 kHz tone at 2.5 kHz deviation.
struct ToneRun {
  ScratchDir dir;
  std::string capture = dir.file("capture.iq");
  std::string kernel = dir.file("kernel.kdsp");
  std::string output = dir.file("out.wav");

  ToneRun() {
    write_file(capture, fm_capture_file(24000, 25000.0, 1000.0, 2500.0));
    write_file(kernel, kernel_file(words::SIX_WORD_KERNEL));
  }
  std::vector<std::string> inputs_only() const { return {"capture.iq", "kernel.kdsp"}; }
};

bool command_available(const std::string& command) {
  return std::system(("command -v " + command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string shell_output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
    ::pclose(pipe);
  }
  return out;
}

}  // namespace

TEST(DriverOutput, WavGoesToStandardOutputOrToTheFile) {
  ToneRun run;
  const ProcessResult to_stdout = run_kdsp({run.capture, run.kernel});
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_TRUE(to_stdout.err.empty());
  ASSERT_EQ(to_stdout.out.size(), 44u + 2 * 4800);

  const ProcessResult to_file = run_kdsp({run.capture, run.kernel, run.output});
  EXPECT_EQ(to_file.status, 0);
  EXPECT_TRUE(to_file.err.empty());
  EXPECT_TRUE(to_file.out.empty());
  const Bytes written = read_file(run.output);
  EXPECT_EQ(std::string(written.begin(), written.end()), to_stdout.out);
  EXPECT_EQ(run.dir.entries(), (std::vector<std::string>{"capture.iq", "kernel.kdsp", "out.wav"}));

  // The tone that was modulated is the tone that comes out.
  const std::vector<double> audio = wav_samples(written);
  EXPECT_NEAR(tone_amplitude(audio, 48000, 1000, 1200, 3600), 0.36, 0.02);

  // Writing over one of the inputs is allowed: both were read whole first.
  EXPECT_EQ(run_kdsp({run.capture, run.kernel, run.capture}).status, 0);
  EXPECT_EQ(read_file(run.capture), written);
}

TEST(DriverOutput, FailedDeliveryIsAnIoErrorAndLeavesNothing) {
  ToneRun run;
  write_file(run.output, {'o', 'l', 'd'});

  const ProcessResult missing_dir = run_kdsp({run.capture, run.kernel, run.dir.file("no/such/out.wav")});
  EXPECT_EQ(missing_dir.status, 10);
  EXPECT_EQ(missing_dir.err, "IO_ERROR\n");

  // An empty output path: the temporary file is made in the working
  // directory, the rename fails, the temporary is removed.
  ProcessOptions in_dir;
  in_dir.cwd = run.dir.path();
  const ProcessResult empty_path = run_kdsp({"capture.iq", "kernel.kdsp", ""}, in_dir);
  EXPECT_EQ(empty_path.status, 10);
  EXPECT_EQ(empty_path.err, "IO_ERROR\n");
  EXPECT_EQ(run.dir.entries(), (std::vector<std::string>{"capture.iq", "kernel.kdsp", "out.wav"}));
  EXPECT_EQ(read_file(run.output), (Bytes{'o', 'l', 'd'}));

  ProcessOptions full;
  full.stdout_path = "/dev/full";
  const ProcessResult disk_full = run_kdsp({run.capture, run.kernel}, full);
  EXPECT_EQ(disk_full.status, 10);
  EXPECT_EQ(disk_full.err, "IO_ERROR\n");

  ProcessOptions closed;
  closed.close_stdout = true;
  const ProcessResult no_stdout = run_kdsp({run.capture, run.kernel}, closed);
  EXPECT_EQ(no_stdout.status, 10);
  EXPECT_EQ(no_stdout.err, "IO_ERROR\n");
}

namespace {

// Runs the driver in this process, so that the allocation seam reaches it,
// with standard error caught in a file. Returns the status.
int run_driver_capturing_stderr(std::vector<std::string> args, const std::string& stderr_path, std::string* err) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  const int sink = ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(sink, STDERR_FILENO);
  ::close(sink);
  const int status = run_driver(static_cast<int>(args.size()), argv.data());
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  const Bytes text = read_file(stderr_path);
  *err = std::string(text.begin(), text.end());
  return status;
}

}  // namespace

TEST(DriverOutput, EveryAllocationFailureGivesItsCodeOneLineAndNoOutput) {
  // A run that loads, demodulates, shifts and emits. Failing each of its
  // allocation requests in turn must end with the code of the stage that
  // made it (kernel loading, capture loading, signal work, encoding, output),
  // one line on standard error, the old output intact and no temporary file.
  // The sanitizer build's leak checker sees any block a failure path drops.
  ScratchDir dir;
  write_file(dir.file("capture.iq"), fm_capture_file(4800, 25000.0, 1000.0, 2500.0));
  write_file(dir.file("kernel.kdsp"),
             kernel_file({0x20200000u, 0x014061A8u, 0x21324000u, 0x0160012Cu, 0x22136000u, 0x30000000u, 0xFF000000u}));
  const std::string output = dir.file("out.wav");
  const std::vector<std::string> args = {"kdsp", dir.file("capture.iq"), dir.file("kernel.kdsp"), output};
  const std::string err_path = dir.file("stderr");
  std::string err;

  mem_fail_request(0);
  ASSERT_EQ(run_driver_capturing_stderr(args, err_path, &err), 0) << err;
  const std::uint64_t total = mem_request_count();
  ASSERT_GE(total, 8u);

  std::string stages;  // one letter per request: the stage its failure points at
  for (std::uint64_t k = 1; k <= total; ++k) {
    write_file(output, {'o', 'l', 'd'});
    mem_fail_request(k);
    const auto status = static_cast<ResultCode>(run_driver_capturing_stderr(args, err_path, &err));
    mem_fail_request(0);
    EXPECT_EQ(err, std::string(result_name(status)) + "\n") << "request " << k;
    EXPECT_EQ(read_file(output), (Bytes{'o', 'l', 'd'})) << "request " << k;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"capture.iq", "kernel.kdsp", "out.wav", "stderr"}));
    switch (status) {
      case ResultCode::BAD_KERNEL: stages += 'k'; break;  // the kernel file could not be read whole
      case ResultCode::BAD_IQ: stages += 'c'; break;      // the capture file could not be read whole
      case ResultCode::BAD_PARAM: stages += 's'; break;   // a signal function ran out of memory
      case ResultCode::IO_ERROR: stages += 'o'; break;    // loading, encoding or writing ran out of memory
      default: stages += '?';
    }
  }
  // Kernel loading, capture loading, the signal work, then the WAV image and
  // the temporary name: the codes come in this order and no other.
  EXPECT_TRUE(stages_in_run_order(stages)) << stages;
}

TEST(DriverOutput, AFileSizeLimitIsAnIoErrorAndKeepsTheOldFile) {
  // Under `ulimit -f` a write past the limit raises SIGXFSZ, which by default
  // ends the process with no message. The run must fail in the ordinary way.
  ScratchDir dir;
  write_file(dir.file("capture.iq"), fm_capture_file(240000, 25000.0, 1000.0, 2500.0));  // a 96 044-byte WAV
  write_file(dir.file("kernel.kdsp"), kernel_file(words::SIX_WORD_KERNEL));
  const std::string output = dir.file("out.wav");
  write_file(output, {'o', 'l', 'd'});
  ProcessOptions limited;
  limited.file_size_limit = 32768;
  const ProcessResult to_file = run_kdsp({dir.file("capture.iq"), dir.file("kernel.kdsp"), output}, limited);
  EXPECT_EQ(to_file.signal, 0);
  EXPECT_EQ(to_file.status, 10);
  EXPECT_EQ(to_file.err, "IO_ERROR\n");
  EXPECT_EQ(read_file(output), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"capture.iq", "kernel.kdsp", "out.wav"}));

  limited.stdout_path = dir.file("stdout.wav");
  const ProcessResult to_stdout = run_kdsp({dir.file("capture.iq"), dir.file("kernel.kdsp")}, limited);
  EXPECT_EQ(to_stdout.signal, 0);
  EXPECT_EQ(to_stdout.status, 10);
  EXPECT_EQ(to_stdout.err, "IO_ERROR\n");
}

TEST(DriverOutput, KilledRunsLeaveNoTemporary) {
  // SIGKILL at random moments of 30 runs, from the start to past the end of
  // an unhindered run: afterwards the directory holds the inputs and, when
  // the run got far enough, the whole WAV; never a temporary.
  ScratchDir dir;
  write_file(dir.file("capture.iq"), fm_capture_file(240000, 25000.0, 1000.0, 2500.0));
  write_file(dir.file("kernel.kdsp"), kernel_file(words::SIX_WORD_KERNEL));
  const std::vector<std::string> args = {dir.file("capture.iq"), dir.file("kernel.kdsp"), dir.file("out.wav")};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run_kdsp(args).status, 0);
  const double run_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const Bytes whole = read_file(dir.file("out.wav"));

  std::mt19937 random(12);
  std::uniform_real_distribution<double> moment(0.0, 1.2 * run_seconds);
  int killed = 0;
  for (int run = 0; run < 30; ++run) {
    ::unlink(dir.file("out.wav").c_str());
    ProcessOptions options;
    options.kill_after_seconds = moment(random);
    const ProcessResult result = run_kdsp(args, options);
    killed += result.signal == SIGKILL;
    const std::vector<std::string> entries = dir.entries();
    const bool delivered = entries.size() == 3 && entries[2] == "out.wav";
    const std::vector<std::string> inputs = {"capture.iq", "kernel.kdsp"};
    const std::vector<std::string> with_output = {"capture.iq", "kernel.kdsp", "out.wav"};
    EXPECT_EQ(entries, delivered ? with_output : inputs)
        << "run " << run << ", killed at " << options.kill_after_seconds;
    if (delivered) {
      EXPECT_EQ(read_file(dir.file("out.wav")), whole) << "run " << run;
    }
  }
  EXPECT_GT(killed, 0);
}

TEST(DriverOutput, StreamTargetsAreWrittenThroughAndStayWhatTheyWere) {
  // /dev/stdout is a link through /proc to whatever standard output is: a
  // pipe here, written through; a regular file, written as standard output
  // (not replaced by a new file where the link was). The links are made in
  // the scratch directory, so that a regression cannot replace the system's.
  ToneRun run;
  const ProcessResult reference = run_kdsp({run.capture, run.kernel});
  ASSERT_EQ(reference.status, 0);
  const std::string to_stdout = run.dir.file("stdout");
  ASSERT_EQ(::symlink("/proc/self/fd/1", to_stdout.c_str()), 0);

  const ProcessResult through_pipe = run_kdsp({run.capture, run.kernel, to_stdout});
  EXPECT_EQ(through_pipe.status, 0);
  EXPECT_EQ(through_pipe.out, reference.out);

  ProcessOptions redirected;
  redirected.stdout_path = run.dir.file("redirected.wav");
  const ProcessResult through_file = run_kdsp({run.capture, run.kernel, to_stdout}, redirected);
  EXPECT_EQ(through_file.status, 0);
  const Bytes in_file = read_file(redirected.stdout_path);
  EXPECT_EQ(std::string(in_file.begin(), in_file.end()), reference.out);

  struct stat info {};
  ASSERT_EQ(::lstat(to_stdout.c_str(), &info), 0);
  ASSERT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";

  const std::string to_null = run.dir.file("null");
  ASSERT_EQ(::symlink("/dev/null", to_null.c_str()), 0);
  const ProcessResult through_link = run_kdsp({run.capture, run.kernel, to_null});
  EXPECT_EQ(through_link.status, 0);
  EXPECT_TRUE(through_link.err.empty());
  ASSERT_EQ(::lstat(to_null.c_str(), &info), 0);
  ASSERT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
  EXPECT_EQ(run.dir.entries(),
            (std::vector<std::string>{"capture.iq", "kernel.kdsp", "null", "redirected.wav", "stdout"}));

  // Only now, with links to them shown to be written through, the devices
  // themselves.
  const ProcessResult to_dev_null = run_kdsp({run.capture, run.kernel, "/dev/null"});
  EXPECT_EQ(to_dev_null.status, 0);
  ASSERT_EQ(::lstat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  const ProcessResult to_dev_stdout = run_kdsp({run.capture, run.kernel, "/dev/stdout"});
  EXPECT_EQ(to_dev_stdout.status, 0);
  EXPECT_EQ(to_dev_stdout.out, reference.out);
}

TEST(DriverOutput, OtherReadersAcceptTheWav) {
  ToneRun run;
  ASSERT_EQ(run_kdsp({run.capture, run.kernel, run.output}).status, 0);

  if (command_available("soxi")) {
    EXPECT_EQ(shell_output("soxi -r '" + run.output + "'"), "48000\n");
    EXPECT_EQ(shell_output("soxi -c '" + run.output + "'"), "1\n");
    EXPECT_EQ(shell_output("soxi -b '" + run.output + "'"), "16\n");
    EXPECT_EQ(shell_output("soxi -s '" + run.output + "'"), "4800\n");
    EXPECT_EQ(shell_output("soxi -e '" + run.output + "'"), "Signed Integer PCM\n");
  } else {
    ADD_FAILURE() << "soxi is not installed (scripts/install-deps.sh installs sox)";
  }

  const std::string script =
      "import sys, wave, struct\n"
      "w = wave.open(sys.argv[1], 'rb')\n"
      "frames = w.readframes(w.getnframes())\n"
      "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), w.getcomptype())\n"
      "print(sum(abs(v) for v in struct.unpack('<%dh' % w.getnframes(), frames)))\n";
  write_file(run.dir.file("read.py"), Bytes(script.begin(), script.end()));
  const std::string report = shell_output("python3 '" + run.dir.file("read.py") + "' '" + run.output + "'");
  const Bytes wav = read_file(run.output);
  long long magnitude = 0;
  for (std::size_t i = 44; i + 1 < wav.size(); i += 2) {
    magnitude += std::abs(static_cast<std::int16_t>(wav[i] | (wav[i + 1] << 8)));
  }
  EXPECT_EQ(report, "1 2 48000 4800 NONE\n" + std::to_string(magnitude) + "\n");
}

TEST(DriverOutput, RealFullDiskIsAnIoErrorAndKeepsTheOldFile) {
  // A 64 KiB file system in a private mount namespace; the 1 s run's WAV
  // (96 KB) cannot fit. Needs the rights to mount, else skipped.
  ScratchDir dir;
  write_file(dir.file("capture.iq"), fm_capture_file(240000, 25000.0, 1000.0, 2500.0));
  write_file(dir.file("kernel.kdsp"), kernel_file(words::SIX_WORD_KERNEL));
  const std::string disk = dir.file("disk");
  ASSERT_EQ(::mkdir(disk.c_str(), 0700), 0);
  const std::string script = "mount -t tmpfs -o size=64k tmpfs '" + disk +
                             "' || exit 99\n"
                             "printf old > '" +
                             disk +
                             "/out.wav'\n"
                             "'" +
                             KDSP_BINARY + "' '" + dir.file("capture.iq") + "' '" + dir.file("kernel.kdsp") + "' '" +
                             disk +
                             "/out.wav' 2>&1\n"
                             "echo \"status $?\"\n"
                             "ls -A '" +
                             disk +
                             "'\n"
                             "cat '" +
                             disk + "/out.wav'\n";
  write_file(dir.file("full.sh"), Bytes(script.begin(), script.end()));
  const std::string report = shell_output("unshare -m sh '" + dir.file("full.sh") + "' 2>/dev/null; echo \"end $?\"");
  if (report.find("end 99") != std::string::npos || report.find("status") == std::string::npos) {
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  EXPECT_EQ(report, "IO_ERROR\nstatus 10\nout.wav\noldend 0\n");
}

}  // namespace kdsp
