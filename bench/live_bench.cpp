// Reading raw I/Q as it arrives on standard input from `cat FILE`, beside
// reading the same file through the fd source and through the recording
// reader kdsp-rx uses for files, in cu8 and cf32, on a 256 MiB file (--short:
// 4 MiB). Each figure is bytes per second of the file, decoded into complex
// float pairs; the file is in the page cache, so the pipe and the system
// calls are what differs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "live_bench.h"

#include "radio/io/recording.h"
#include "radio/live/fd_source.h"

extern char** environ;

namespace kdsp {

namespace {

std::size_t g_file_bytes = std::size_t{256} << 20;
constexpr std::size_t BLOCK_PAIRS = 65536;

// A file of g_file_bytes bytes of noise in the temporary folder.
std::string make_sample_file() {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr ? folder : "/tmp") + "/kdsp_live_bench_XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) std::abort();
  std::vector<std::uint8_t> block(1 << 20);
  std::uint32_t x = 1;
  for (auto& b : block) b = static_cast<std::uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  // Noise bytes as cf32 can be NaN; decoding does not look at the values.
  for (std::size_t written = 0; written < g_file_bytes; written += block.size()) {
    if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::abort();
  }
  ::close(fd);
  return name;
}

void remove_sample_file();

// The file, made on first use and removed at exit. The removal is
// registered after the name is made, so that it runs before the name is
// destroyed.
const std::string& sample_file() {
  static const std::string path = make_sample_file();
  static const bool removal_registered = std::atexit(remove_sample_file) == 0;
  (void)removal_registered;
  return path;
}

void remove_sample_file() { std::remove(sample_file().c_str()); }

// Reads `fd` to its end through the fd source; the pairs read.
std::size_t drain(int fd, SampleFormat format, LiveStop& stop, benchmark::State& state) {
  FdSourceOptions options;
  options.format = format;
  options.name = "bench";
  auto source = make_fd_source(fd, options, stop);
  std::vector<std::complex<float>> buffer(BLOCK_PAIRS);
  std::size_t pairs = 0;
  Failure error;
  for (;;) {
    const LiveRead r = source->read(buffer, &error);
    if (r.status == LiveReadStatus::END) return pairs;
    if (r.status != LiveReadStatus::PAIRS) state.SkipWithError(failure_text(error).c_str());
    if (r.status != LiveReadStatus::PAIRS) return pairs;
    benchmark::DoNotOptimize(buffer.data());
    pairs += r.pair_count;
  }
}

void BM_standard_input_from_cat(benchmark::State& state, SampleFormat format) {
  LiveStop stop;
  Failure error;
  if (open_live_stop(&stop, &error) != 0) state.SkipWithError(failure_text(error).c_str());
  for (auto _ : state) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) state.SkipWithError("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    const char* argv[] = {"cat", sample_file().c_str(), nullptr};
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "cat", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
      state.SkipWithError("cannot start cat");
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    benchmark::DoNotOptimize(drain(ends[0], format, stop, state));
    ::close(ends[0]);
    ::waitpid(pid, nullptr, 0);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_file_bytes));
}

void BM_fd_source_on_the_file(benchmark::State& state, SampleFormat format) {
  LiveStop stop;
  Failure error;
  if (open_live_stop(&stop, &error) != 0) state.SkipWithError(failure_text(error).c_str());
  for (auto _ : state) {
    const int fd = ::open(sample_file().c_str(), O_RDONLY | O_CLOEXEC);
    benchmark::DoNotOptimize(drain(fd, format, stop, state));
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_file_bytes));
}

void BM_recording_reader_on_the_file(benchmark::State& state, SampleFormat format) {
  RecordingRequest request;
  request.path = sample_file();
  request.format = format;
  request.sample_rate = 2400000;
  RecordingInfo info;
  Failure error;
  if (describe_recording(request, &info, &error) != 0) state.SkipWithError(failure_text(error).c_str());
  std::vector<std::complex<float>> buffer(BLOCK_PAIRS);
  for (auto _ : state) {
    RecordingReader reader;
    if (open_recording_reader(info, &reader, &error) != 0) state.SkipWithError(failure_text(error).c_str());
    for (std::uint64_t first = 0; first < info.pair_count; first += BLOCK_PAIRS) {
      const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(BLOCK_PAIRS, info.pair_count - first));
      if (read_recording_pairs(reader, static_cast<std::int64_t>(first), count, buffer.data(), &error) != 0) {
        state.SkipWithError(failure_text(error).c_str());
        break;
      }
      benchmark::DoNotOptimize(buffer.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_file_bytes));
}

}  // namespace

void register_live_benchmarks(bool short_run) {
  if (short_run) g_file_bytes = std::size_t{4} << 20;
  using Benchmark = void (*)(benchmark::State&, SampleFormat);
  const std::pair<const char*, Benchmark> benchmarks[] = {
      {"standard_input_from_cat", BM_standard_input_from_cat},
      {"fd_source_on_the_file", BM_fd_source_on_the_file},
      {"recording_reader_on_the_file", BM_recording_reader_on_the_file},
  };
  for (SampleFormat format : {SampleFormat::CU8, SampleFormat::CF32_LE}) {
    for (const auto& [name, function] : benchmarks) {
      const std::string full_name = std::string(name) + "/" + sample_format_name(format);
      benchmark::RegisterBenchmark(full_name.c_str(), function, format)->Unit(benchmark::kMillisecond)->UseRealTime();
    }
  }
}

}  // namespace kdsp
