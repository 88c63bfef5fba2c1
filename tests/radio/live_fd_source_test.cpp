// Raw samples on standard input: a pipe written in pieces that split pairs,
// a writer that stops mid-pair, signals and stops while a read waits.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "radio/live/fd_source.h"
#include "radio/live/live_source.h"

namespace kdsp {
namespace {

using Pairs = std::vector<std::complex<float>>;

struct Pipe {
  int ends[2] = {-1, -1};
  Pipe() { EXPECT_EQ(::pipe(ends), 0); }
  ~Pipe() {
    close_writer();
    if (ends[0] >= 0) ::close(ends[0]);
  }
  void close_writer() {
    if (ends[1] >= 0) ::close(ends[1]);
    ends[1] = -1;
  }
};

std::vector<std::uint8_t> counting_bytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

Pairs decoded(SampleFormat format, const std::vector<std::uint8_t>& bytes) {
  Pairs pairs(bytes.size() / pair_bytes(format));
  decode_pairs(format, bytes.data(), pairs.size(), pairs.data());
  return pairs;
}

// Writes `bytes` in pieces of 1, 2, 3 ... 13 bytes, with a pause now and
// then so that the reader meets an empty pipe mid-pair.
void write_in_odd_pieces(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t at = 0;
  for (std::size_t piece = 1; at < bytes.size(); piece = piece % 13 + 1) {
    const std::size_t n = std::min(piece, bytes.size() - at);
    ASSERT_EQ(::write(fd, bytes.data() + at, n), static_cast<ssize_t>(n));
    at += n;
    if (piece == 13) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// Reads until the source ends (or fails), with a buffer of `buffer_pairs`.
LiveReadStatus read_all(LiveSource& source, std::size_t buffer_pairs, Pairs* pairs, Failure* error) {
  Pairs buffer(buffer_pairs);
  for (;;) {
    const LiveRead r = source.read(buffer, error);
    if (r.status != LiveReadStatus::PAIRS) return r.status;
    EXPECT_GT(r.pair_count, 0u);
    EXPECT_LE(r.pair_count, buffer_pairs);
    pairs->insert(pairs->end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.pair_count));
  }
}

FdSourceOptions options_for(SampleFormat format) {
  FdSourceOptions options;
  options.format = format;
  options.name = "standard input";
  return options;
}

struct LiveStopFixture : ::testing::Test {
  void SetUp() override {
    Failure error;
    ASSERT_EQ(open_live_stop(&stop, &error), 0) << error;
  }
  LiveStop stop;
};

using LiveFdSource = LiveStopFixture;

TEST_F(LiveFdSource, PairsSplitAcrossWritesArriveWholeAndInOrderInEveryFormat) {
  for (SampleFormat format : {SampleFormat::CU8, SampleFormat::CS8, SampleFormat::CS16_LE, SampleFormat::CF32_LE}) {
    SCOPED_TRACE(sample_format_name(format));
    // Floats made of counting bytes may be NaN; their bits are compared.
    const std::vector<std::uint8_t> bytes = counting_bytes(pair_bytes(format) * 5003);
    Pipe pipe;
    std::thread writer([&] {
      write_in_odd_pieces(pipe.ends[1], bytes);
      pipe.close_writer();
    });
    auto source = make_fd_source(pipe.ends[0], options_for(format), stop);
    Pairs pairs;
    Failure error;
    // A buffer of 3 pairs: reads end in every place of a pair.
    EXPECT_EQ(read_all(*source, 3, &pairs, &error), LiveReadStatus::END) << error;
    writer.join();
    const Pairs expected = decoded(format, bytes);
    ASSERT_EQ(pairs.size(), expected.size());
    EXPECT_EQ(std::memcmp(pairs.data(), expected.data(), pairs.size() * sizeof pairs[0]), 0);
  }
}

TEST_F(LiveFdSource, AWriterThatStopsMidPairEndsTheStreamAfterTheLastWholePair) {
  Pipe pipe;
  const std::vector<std::uint8_t> bytes = counting_bytes(4 * 10 + 3);
  ASSERT_EQ(::write(pipe.ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  pipe.close_writer();
  auto source = make_fd_source(pipe.ends[0], options_for(SampleFormat::CS16_LE), stop);
  Pairs pairs;
  Failure error;
  EXPECT_EQ(read_all(*source, 64, &pairs, &error), LiveReadStatus::END);
  EXPECT_EQ(pairs.size(), 10u);
  // The end stays the end.
  Pairs buffer(4);
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::END);
  EXPECT_EQ(source->losses().gap_count, 0u);
}

TEST_F(LiveFdSource, AnEmptyPipeEndsAtOnce) {
  Pipe pipe;
  pipe.close_writer();
  auto source = make_fd_source(pipe.ends[0], options_for(SampleFormat::CU8), stop);
  Pairs buffer(8);
  Failure error;
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::END);
}

extern "C" void ignore_signal(int) {}

// Ctrl-Z and resize signals land on the reader while it waits: the read
// goes on and the bytes that come next are not lost.
TEST_F(LiveFdSource, ASignalWithoutTheStopDoesNotEndTheRead) {
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = ignore_signal;  // no SA_RESTART: the wait sees EINTR
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  Pipe pipe;
  auto source = make_fd_source(pipe.ends[0], options_for(SampleFormat::CU8), stop);
  const pthread_t reader = ::pthread_self();
  std::thread writer([&] {
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ::pthread_kill(reader, SIGUSR1);
    }
    const std::uint8_t pair[2] = {255, 0};
    ASSERT_EQ(::write(pipe.ends[1], pair, 1), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::pthread_kill(reader, SIGUSR1);
    ASSERT_EQ(::write(pipe.ends[1], pair + 1, 1), 1);
  });
  Pairs buffer(4);
  Failure error;
  const LiveRead r = source->read(buffer, &error);
  writer.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  ASSERT_EQ(r.status, LiveReadStatus::PAIRS) << error;
  EXPECT_EQ(r.pair_count, 1u);
  EXPECT_GT(buffer[0].real(), 0.99f);
  EXPECT_LT(buffer[0].imag(), -0.99f);
}

TEST_F(LiveFdSource, AStopFromAnotherThreadEndsAWaitingRead) {
  Pipe pipe;  // its writer never writes
  auto source = make_fd_source(pipe.ends[0], options_for(SampleFormat::CU8), stop);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    request_live_stop(stop);
  });
  Pairs buffer(16);
  Failure error;
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::STOPPED);
  stopper.join();
  // Every later read stops at once too.
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::STOPPED);
}

LiveStop* g_interrupt_stop = nullptr;
extern "C" void stop_on_signal(int) { request_live_stop(*g_interrupt_stop); }

// Ctrl-C as the receiver will take it: a handler that requests the stop,
// run on the very thread that waits.
TEST_F(LiveFdSource, AStopRequestedFromASignalHandlerEndsAWaitingRead) {
  g_interrupt_stop = &stop;
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = stop_on_signal;
  action.sa_flags = SA_RESTART;  // the wait must end even when the call is restarted
  ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
  Pipe pipe;
  auto source = make_fd_source(pipe.ends[0], options_for(SampleFormat::CS8), stop);
  const pthread_t reader = ::pthread_self();
  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::pthread_kill(reader, SIGUSR2);
  });
  Pairs buffer(16);
  Failure error;
  const LiveReadStatus status = source->read(buffer, &error).status;
  interrupter.join();
  ::sigaction(SIGUSR2, &previous, nullptr);
  EXPECT_EQ(status, LiveReadStatus::STOPPED);
}

TEST_F(LiveFdSource, AStallLongerThanTheTimeoutFailsWithTheSourceNamed) {
  Pipe pipe;
  FdSourceOptions options = options_for(SampleFormat::CU8);
  options.stall_timeout_ms = 100;
  auto source = make_fd_source(pipe.ends[0], options, stop);
  Pairs buffer(16);
  Failure error;
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::FAILED);
  EXPECT_EQ(failure_text(error), "standard input: no samples for 0.1 s");
}

TEST(LiveSourceNames, DashRtlTcpAndSoapyAreLiveAndKeepTheSettingsGiven) {
  LiveSourceRequest request;
  request.sample_rate = 240000;
  Failure error;
  ASSERT_EQ(parse_live_source_name("rtl_tcp://127.0.0.1:1234", &request, &error), 0);
  EXPECT_EQ(request.kind, LiveSourceKind::RTL_TCP);
  EXPECT_EQ(request.address, "127.0.0.1:1234");
  EXPECT_EQ(request.sample_rate, 240000);
  ASSERT_EQ(parse_live_source_name("soapy:driver=rtlsdr,serial=1", &request, &error), 0);
  EXPECT_EQ(request.kind, LiveSourceKind::SOAPY);
  EXPECT_EQ(request.address, "driver=rtlsdr,serial=1");
  ASSERT_EQ(parse_live_source_name("-", &request, &error), 0);
  EXPECT_EQ(request.kind, LiveSourceKind::STANDARD_INPUT);
  EXPECT_TRUE(request.address.empty());
  for (const char* file : {"capture.cu8", "rtl_tcp:127.0.0.1:1234", "--", "./-", "soapy"}) {
    EXPECT_FALSE(is_live_source_name(file)) << file;
    EXPECT_EQ(parse_live_source_name(file, &request, &error), -1) << file;
  }
  EXPECT_EQ(parse_live_source_name("rtl_tcp://", &request, &error), -1);
  EXPECT_NE(failure_text(error).find("rtl_tcp://HOST:PORT"), std::string::npos);
}

TEST_F(LiveFdSource, StandardInputRefusesReceiverSettingsItCannotApply) {
  LiveSourceRequest request;
  request.sample_rate = 240000;
  std::unique_ptr<LiveSource> source;
  Failure error;
  request.gain_db = 30.0;
  EXPECT_EQ(open_live_source(request, stop, &source, &error), -1);
  EXPECT_NE(failure_text(error).find("a gain must be set on the program that writes them"), std::string::npos) << error;
  request.gain_db.reset();
  request.ppm = 2.0;
  EXPECT_EQ(open_live_source(request, stop, &source, &error), -1);
  request.ppm.reset();
  request.sample_rate = 0.0;
  EXPECT_EQ(open_live_source(request, stop, &source, &error), -1);
  EXPECT_EQ(failure_text(error), "standard input needs its sample rate (--rate)");
  EXPECT_EQ(source, nullptr);
  request.sample_rate = 240000;
  ASSERT_EQ(open_live_source(request, stop, &source, &error), 0) << error;
  EXPECT_EQ(source->info().description, "standard input, cu8 at 240000 pairs/s");
}

}  // namespace
}  // namespace kdsp
