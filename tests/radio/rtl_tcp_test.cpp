// rtl_tcp: the protocol's bytes, a client against the in-process server on
// 127.0.0.1, and peers that are no rtl_tcp server or misbehave.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "radio/live/owned_fd.h"
#include "radio/live/rtl_tcp.h"
#include "radio/live/rtl_tcp_server.h"

namespace kdsp {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Pairs = std::vector<std::complex<float>>;

const HostPort LOOPBACK_ANY_PORT{"127.0.0.1", 0};

LiveSourceRequest request_for(std::uint16_t port) {
  LiveSourceRequest request;
  request.kind = LiveSourceKind::RTL_TCP;
  request.address = "127.0.0.1:" + std::to_string(port);
  request.sample_rate = 240000;
  request.timeout_ms = 5000;
  return request;
}

Bytes noise_bytes(std::size_t count) {
  Bytes bytes(count);
  std::uint32_t x = 12345;
  for (auto& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return bytes;
}

// The in-process server in a thread of its own, serving `bytes` in pieces
// of at most `piece` bytes (odd sizes split pairs).
struct ServerThread {
  ServerThread(const Bytes& bytes, std::size_t piece, const RtlTcpServeOptions& options) : bytes_(bytes) {
    Failure error;
    EXPECT_EQ(open_live_stop(&stop, &error), 0) << error;
    EXPECT_EQ(open_rtl_tcp_server(LOOPBACK_ANY_PORT, &server, &error), 0) << error;
    thread = std::thread([this, piece, options] {
      auto producer = [this, piece](std::span<std::uint8_t> out) {
        const std::size_t n = std::min({piece, out.size(), bytes_.size() - sent_});
        std::memcpy(out.data(), bytes_.data() + sent_, n);
        sent_ += n;
        return n;
      };
      auto log = [this](const RtlTcpCommand& command) {
        std::lock_guard<std::mutex> hold(lock);
        commands.push_back(command);
      };
      status = serve_rtl_tcp_client(server, options, producer, log, stop, &end, &error_text);
    });
  }
  ~ServerThread() { finish(); }
  void finish() {
    if (thread.joinable()) thread.join();
  }
  std::vector<RtlTcpCommand> logged() {
    std::lock_guard<std::mutex> hold(lock);
    return commands;
  }

  LiveStop stop;
  RtlTcpServer server;
  std::thread thread;
  std::mutex lock;
  std::vector<RtlTcpCommand> commands;
  int status = -2;
  RtlTcpServeEnd end = RtlTcpServeEnd::STOPPED;
  Failure error_text;

 private:
  const Bytes& bytes_;
  std::size_t sent_ = 0;
};

// A peer on 127.0.0.1 that takes one connection and does `act` with it.
struct FakePeer {
  explicit FakePeer(std::function<void(int fd)> act) {
    Failure error;
    int fd = -1;
    EXPECT_EQ(listen_tcp(LOOPBACK_ANY_PORT, &fd, &port, &error), 0) << error;
    listener.reset(fd);
    thread = std::thread([this, act] {
      OwnedFd client(::accept(listener.get(), nullptr, nullptr));
      if (client.get() >= 0) act(client.get());
    });
  }
  ~FakePeer() { thread.join(); }
  OwnedFd listener;
  std::uint16_t port = 0;
  std::thread thread;
};

void send_all(int fd, const void* bytes, std::size_t count) {
  ASSERT_EQ(::send(fd, bytes, count, MSG_NOSIGNAL), static_cast<ssize_t>(count));
}

// Waits for the client to hang up, so that the peer's bytes are all read first.
void wait_for_hang_up(int fd) {
  std::uint8_t sink[256];
  while (::recv(fd, sink, sizeof sink, 0) > 0) {}
}

struct RtlTcp : ::testing::Test {
  void SetUp() override {
    Failure error;
    ASSERT_EQ(open_live_stop(&stop, &error), 0) << error;
  }
  LiveStop stop;
};

LiveReadStatus read_all(LiveSource& source, Pairs* pairs, Failure* error) {
  Pairs buffer(1000);
  for (;;) {
    const LiveRead r = source.read(buffer, error);
    if (r.status != LiveReadStatus::PAIRS) return r.status;
    pairs->insert(pairs->end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.pair_count));
  }
}

TEST(RtlTcpProtocol, GreetingAndCommandsHaveTheBytesRtlTcpSends) {
  const auto greeting = format_rtl_tcp_greeting({5, 29});
  const Bytes expected_greeting = {'R', 'T', 'L', '0', 0, 0, 0, 5, 0, 0, 0, 29};
  EXPECT_EQ(Bytes(greeting.begin(), greeting.end()), expected_greeting);
  RtlTcpGreeting parsed;
  Failure error;
  ASSERT_EQ(parse_rtl_tcp_greeting(greeting, &parsed, &error), 0);
  EXPECT_EQ(parsed.tuner_type, 5u);
  EXPECT_EQ(parsed.gain_count, 29u);
  EXPECT_STREQ(rtl_tcp_tuner_name(parsed.tuner_type), "R820T");
  EXPECT_STREQ(rtl_tcp_tuner_name(99), "unknown");

  const auto frequency = encode_rtl_tcp_command({0x01, 145500000});
  EXPECT_EQ(Bytes(frequency.begin(), frequency.end()), (Bytes{0x01, 0x08, 0xac, 0x27, 0x60}));
  // Negative values travel in two's complement, as the server's int reads them.
  const RtlTcpCommand correction{0x05, static_cast<std::uint32_t>(-3)};
  const auto bytes = encode_rtl_tcp_command(correction);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), (Bytes{0x05, 0xff, 0xff, 0xff, 0xfd}));
  EXPECT_EQ(decode_rtl_tcp_command(bytes), correction);
  EXPECT_EQ(describe_rtl_tcp_command(correction), "set frequency correction -3");
  EXPECT_EQ(describe_rtl_tcp_command({0x42, 7}), "command 0x42 7");
}

TEST(RtlTcpProtocol, AGreetingFromAnotherServerIsRefusedWithWhatItSaid) {
  const char ssh[] = "SSH-2.0-Open";
  RtlTcpGreeting greeting{1, 2};
  Failure error;
  EXPECT_EQ(parse_rtl_tcp_greeting({reinterpret_cast<const std::uint8_t*>(ssh), 12}, &greeting, &error), -1);
  EXPECT_EQ(failure_text(error), "the peer is not an rtl_tcp server: it greeted with 'SSH-2.0-Open' instead of 'RTL0'");
  const Bytes binary = {'R', 'T', 'L', '1', 0, 0, 0, 5, 0, 0, 0, 29};
  EXPECT_EQ(parse_rtl_tcp_greeting(binary, &greeting, &error), -1);
  EXPECT_NE(failure_text(error).find("52 54 4c 31 00 00 00 05"), std::string::npos) << error;
  EXPECT_EQ(parse_rtl_tcp_greeting(std::span(binary).first(11), &greeting, &error), -1);
  EXPECT_EQ(greeting.tuner_type, 1u);  // untouched
}

TEST(RtlTcpProtocol, SettingsBecomeCommandsInRtlTcpsOrderOrAreRefused) {
  LiveSourceRequest request;
  request.sample_rate = 2400000;
  request.centre_hz = 145.5e6;
  request.gain_db = 49.6;
  request.ppm = -3;
  std::vector<RtlTcpCommand> commands;
  Failure error;
  ASSERT_EQ(rtl_tcp_setup_commands(request, &commands, &error), 0) << error;
  const std::vector<RtlTcpCommand> expected = {
      {0x05, static_cast<std::uint32_t>(-3)}, {0x02, 2400000}, {0x01, 145500000}, {0x03, 1}, {0x04, 496}};
  EXPECT_EQ(commands, expected);
  // No gain: automatic; no centre or ppm: the server keeps its own.
  request.gain_db.reset();
  request.centre_hz.reset();
  request.ppm.reset();
  ASSERT_EQ(rtl_tcp_setup_commands(request, &commands, &error), 0);
  EXPECT_EQ(commands, (std::vector<RtlTcpCommand>{{0x02, 2400000}, {0x03, 0}}));

  const struct {
    std::function<void(LiveSourceRequest&)> change;
    const char* message;
  } refused[] = {
      {[](LiveSourceRequest& r) { r.ppm = 1.5; }, "whole ppm"},
      {[](LiveSourceRequest& r) { r.sample_rate = 2400000.5; }, "whole number of pairs per second"},
      {[](LiveSourceRequest& r) { r.sample_rate = 0; }, "needs a sample rate"},
      {[](LiveSourceRequest& r) { r.centre_hz = 5e9; }, "tunes from 0 to 4294967295 Hz, not 5000000000"},
      {[](LiveSourceRequest& r) { r.gain_db = 1e9; }, "gain from -100 to 100 dB"},
  };
  for (const auto& c : refused) {
    LiveSourceRequest bad = request;
    c.change(bad);
    commands = {{0x42, 1}};
    EXPECT_EQ(rtl_tcp_setup_commands(bad, &commands, &error), -1) << c.message;
    EXPECT_NE(failure_text(error).find(c.message), std::string::npos) << error;
    EXPECT_EQ(commands.size(), 1u);  // untouched
  }
}

TEST(RtlTcpProtocol, HostAndPortAreReadStrictly) {
  HostPort address;
  Failure error;
  ASSERT_EQ(parse_host_port("[::1]:1234", false, &address, &error), 0);
  EXPECT_EQ(address.host, "::1");
  EXPECT_EQ(host_port_text(address), "[::1]:1234");
  ASSERT_EQ(parse_host_port("radio.local:65535", false, &address, &error), 0);
  EXPECT_EQ(address.port, 65535);
  EXPECT_EQ(parse_host_port("127.0.0.1:0", true, &address, &error), 0);
  for (const char* text : {"127.0.0.1", "127.0.0.1:", ":1234", "127.0.0.1:65536", "127.0.0.1:0", "::1:1234",
                           "127.0.0.1:12a", "127.0.0.1:+12", "[::1]1234"}) {
    EXPECT_EQ(parse_host_port(text, false, &address, &error), -1) << text;
  }
}

TEST_F(RtlTcp, ClientSetsTheServerUpAndReadsEveryByteTheProducerGave) {
  const Bytes bytes = noise_bytes(200001);  // odd: the last pair is never whole
  RtlTcpServeOptions options;
  options.speed = 0;  // as fast as the client reads
  options.greeting = {6, 15};
  ServerThread server(bytes, 333, options);
  LiveSourceRequest request = request_for(server.server.port);
  request.centre_hz = 446.00625e6;
  request.gain_db = 28.0;
  request.ppm = 12;
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_rtl_tcp_source(request, stop, &source, &error), 0) << error;
  EXPECT_EQ(source->info().description,
            "rtl_tcp 127.0.0.1:" + std::to_string(server.server.port) + " (tuner R828D, 15 gains)");
  EXPECT_EQ(source->info().sample_rate, 240000);
  Pairs pairs;
  EXPECT_EQ(read_all(*source, &pairs, &error), LiveReadStatus::END) << error;
  source.reset();
  server.finish();
  EXPECT_EQ(server.status, 0) << server.error_text;
  EXPECT_EQ(server.end, RtlTcpServeEnd::PRODUCER_ENDED);

  Pairs expected(bytes.size() / 2);
  decode_pairs(SampleFormat::CU8, bytes.data(), expected.size(), expected.data());
  EXPECT_EQ(pairs, expected);
  const std::vector<RtlTcpCommand> commands = {{0x05, 12}, {0x02, 240000}, {0x01, 446006250}, {0x03, 1}, {0x04, 280}};
  EXPECT_EQ(server.logged(), commands);
}

TEST_F(RtlTcp, ServerKeepsTheReceiversPaceAtSpeedOne) {
  // 0.3 s of signal at 100 000 pairs/s.
  const Bytes bytes = noise_bytes(2 * 30000);
  RtlTcpServeOptions options;
  options.sample_rate = 100000;
  ServerThread server(bytes, bytes.size(), options);
  std::unique_ptr<LiveSource> source;
  Failure error;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(open_rtl_tcp_source(request_for(server.server.port), stop, &source, &error), 0) << error;
  Pairs pairs;
  EXPECT_EQ(read_all(*source, &pairs, &error), LiveReadStatus::END) << error;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(pairs.size(), 30000u);
  // Never ahead of the receiver it stands for (a busy machine can only
  // make it later).
  EXPECT_GE(seconds, 0.29);
}

TEST_F(RtlTcp, ServerReportsAClientThatLeavesEarly) {
  const Bytes bytes = noise_bytes(1 << 24);
  RtlTcpServeOptions options;
  options.speed = 0;
  ServerThread server(bytes, 4096, options);
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_rtl_tcp_source(request_for(server.server.port), stop, &source, &error), 0) << error;
  Pairs buffer(100);
  ASSERT_EQ(source->read(buffer, &error).status, LiveReadStatus::PAIRS);
  source.reset();
  server.finish();
  EXPECT_EQ(server.status, 0) << server.error_text;
  EXPECT_EQ(server.end, RtlTcpServeEnd::CLIENT_LEFT);
}

TEST_F(RtlTcp, APeerThatIsNotRtlTcpIsRefusedWithWhatItSaid) {
  FakePeer peer([](int fd) {
    const char banner[] = "SSH-2.0-OpenSSH_9.2p1\r\n";
    send_all(fd, banner, sizeof banner - 1);
    wait_for_hang_up(fd);
  });
  std::unique_ptr<LiveSource> source;
  Failure error;
  EXPECT_EQ(open_rtl_tcp_source(request_for(peer.port), stop, &source, &error), -1);
  EXPECT_EQ(failure_text(error), "rtl_tcp 127.0.0.1:" + std::to_string(peer.port) +
                       ": the peer is not an rtl_tcp server: it greeted with 'SSH-2.0-Open' instead of 'RTL0'");
  EXPECT_EQ(source, nullptr);
}

TEST_F(RtlTcp, APeerThatClosesMidGreetingIsRefused) {
  FakePeer peer([](int fd) { send_all(fd, "RTL0\0\0", 6); });
  std::unique_ptr<LiveSource> source;
  Failure error;
  EXPECT_EQ(open_rtl_tcp_source(request_for(peer.port), stop, &source, &error), -1);
  EXPECT_NE(failure_text(error).find("closed the connection after 6 of the 12 bytes of its greeting"), std::string::npos) << error;
}

TEST_F(RtlTcp, APeerThatSaysNothingTimesOutOrIsLeftOnAStop) {
  {
    FakePeer peer(wait_for_hang_up);
    LiveSourceRequest request = request_for(peer.port);
    request.timeout_ms = 200;
    std::unique_ptr<LiveSource> source;
    Failure error;
    EXPECT_EQ(open_rtl_tcp_source(request, stop, &source, &error), -1);
    EXPECT_NE(failure_text(error).find("no rtl_tcp greeting within 0.2 s (0 of its 12 bytes came)"), std::string::npos) << error;
  }
  FakePeer peer(wait_for_hang_up);
  LiveSourceRequest request = request_for(peer.port);
  request.timeout_ms = 60000;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    request_live_stop(stop);
  });
  std::unique_ptr<LiveSource> source;
  Failure error;
  EXPECT_EQ(open_rtl_tcp_source(request, stop, &source, &error), -1);
  stopper.join();
  EXPECT_TRUE(live_stop_requested(stop));
  EXPECT_NE(failure_text(error).find("stopped while waiting for the greeting"), std::string::npos) << error;
}

TEST_F(RtlTcp, AServerThatStopsSendingTimesOutAndAStopEndsTheWaitSooner) {
  const auto greeting = format_rtl_tcp_greeting({5, 29});
  for (const bool stop_it : {false, true}) {
    LiveStop own_stop;
    Failure error;
    ASSERT_EQ(open_live_stop(&own_stop, &error), 0);
    FakePeer peer([&](int fd) {
      send_all(fd, greeting.data(), greeting.size());
      send_all(fd, "\x80\x80\x80", 3);  // a pair and a half, then silence
      wait_for_hang_up(fd);
    });
    LiveSourceRequest request = request_for(peer.port);
    request.timeout_ms = stop_it ? 60000 : 300;
    std::unique_ptr<LiveSource> source;
    ASSERT_EQ(open_rtl_tcp_source(request, own_stop, &source, &error), 0) << error;
    Pairs buffer(10);
    ASSERT_EQ(source->read(buffer, &error).status, LiveReadStatus::PAIRS);
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (stop_it) request_live_stop(own_stop);
    });
    const LiveRead r = source->read(buffer, &error);
    stopper.join();
    if (stop_it) {
      EXPECT_EQ(r.status, LiveReadStatus::STOPPED);
    } else {
      EXPECT_EQ(r.status, LiveReadStatus::FAILED);
      EXPECT_NE(failure_text(error).find(": no samples for 0.3 s"), std::string::npos) << error;
    }
    source.reset();  // the peer sees the hang-up
  }
}

TEST_F(RtlTcp, NoServerOnThePortFailsAtOnce) {
  std::uint16_t port = 0;
  {
    int fd = -1;
    Failure error;
    ASSERT_EQ(listen_tcp(LOOPBACK_ANY_PORT, &fd, &port, &error), 0);
    ::close(fd);  // the port is free again, and nothing listens on it
  }
  std::unique_ptr<LiveSource> source;
  Failure error;
  EXPECT_EQ(open_rtl_tcp_source(request_for(port), stop, &source, &error), -1);
  EXPECT_EQ(failure_text(error), "rtl_tcp: cannot connect to 127.0.0.1:" + std::to_string(port) + ": Connection refused");
}

TEST_F(RtlTcp, ServerWaitingForAClientStopsOnRequest) {
  RtlTcpServer server;
  Failure error;
  ASSERT_EQ(open_rtl_tcp_server(LOOPBACK_ANY_PORT, &server, &error), 0) << error;
  EXPECT_NE(server.port, 0);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    request_live_stop(stop);
  });
  RtlTcpServeEnd end = RtlTcpServeEnd::PRODUCER_ENDED;
  const auto nothing = [](std::span<std::uint8_t>) { return std::size_t{0}; };
  EXPECT_EQ(serve_rtl_tcp_client(
                server, {}, nothing, [](const RtlTcpCommand&) {}, stop, &end, &error),
            0);
  stopper.join();
  EXPECT_EQ(end, RtlTcpServeEnd::STOPPED);
}

}  // namespace
}  // namespace kdsp
