// SoapySDR devices, through a test driver registered in this program: it
// plays a short synthetic recording, drops a block with an overflow, and
// ends; other modes stall, fail or refuse.
#include <gtest/gtest.h>
#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Registry.hpp>

#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

#include "radio/live/soapy_source.h"

namespace kdsp {
namespace {

constexpr std::size_t RECORDING_PAIRS = 3000;
constexpr std::size_t BLOCK_PAIRS = 1000;
constexpr std::size_t DROPPED_FIRST = 1000;  // the overflow loses pairs 1000 .. 1249
constexpr std::size_t DROPPED_PAIRS = 250;
constexpr long long FIRST_TIME_NS = 5'000'000'000;

std::complex<float> recording_pair(std::size_t n) {
  const double phase = 0.01 * static_cast<double>(n);
  return {static_cast<float>(0.5 * std::cos(phase)), static_cast<float>(0.5 * std::sin(phase))};
}

// What the driver was told, and what is still open: kept past the device's
// end so that the tests can look.
struct DriverRecord {
  double rate = 0.0;
  double centre_hz = 0.0;
  double gain_db = -1.0;
  bool automatic_gain = false;
  double ppm = 0.0;
  std::string antenna;
  int devices_alive = 0;
  int streams_open = 0;
  int streams_active = 0;
};
DriverRecord g_driver;

// Modes, from the device arguments: "timed" (time stamps on every block),
// "untimed", "stall" (never a sample), "unplug" (readStream throws),
// "broken" (the factory throws).
class TestDevice : public SoapySDR::Device {
 public:
  explicit TestDevice(const SoapySDR::Kwargs& args) : mode_(args.count("mode") ? args.at("mode") : "timed") {
    ++g_driver.devices_alive;
  }
  ~TestDevice() override { --g_driver.devices_alive; }

  std::string getDriverKey() const override { return "kdsp_test"; }
  std::string getHardwareKey() const override { return "player"; }
  std::vector<std::string> listAntennas(int, std::size_t) const override { return {"RX", "TX/RX"}; }
  void setAntenna(int, std::size_t, const std::string& name) override { g_driver.antenna = name; }
  bool hasGainMode(int, std::size_t) const override { return true; }
  void setGainMode(int, std::size_t, bool automatic) override { g_driver.automatic_gain = automatic; }
  void setGain(int, std::size_t, double value) override { g_driver.gain_db = value; }
  SoapySDR::Range getGainRange(int, std::size_t) const override { return {0.0, 49.6}; }
  bool hasFrequencyCorrection(int, std::size_t) const override { return true; }
  void setFrequencyCorrection(int, std::size_t, double value) override { g_driver.ppm = value; }
  void setFrequency(int, std::size_t, double value, const SoapySDR::Kwargs&) override { g_driver.centre_hz = value; }
  double getFrequency(int, std::size_t) const override { return g_driver.centre_hz; }
  // Like a real converter, it reaches whole kHz only.
  void setSampleRate(int, std::size_t, double rate) override { g_driver.rate = std::round(rate / 1000.0) * 1000.0; }
  double getSampleRate(int, std::size_t) const override { return g_driver.rate; }

  SoapySDR::Stream* setupStream(int direction, const std::string& format, const std::vector<std::size_t>&,
                                const SoapySDR::Kwargs&) override {
    if (direction != SOAPY_SDR_RX || format != SOAPY_SDR_CF32) throw std::runtime_error("RX CF32 only");
    ++g_driver.streams_open;
    return reinterpret_cast<SoapySDR::Stream*>(this);
  }
  void closeStream(SoapySDR::Stream*) override { --g_driver.streams_open; }
  int activateStream(SoapySDR::Stream*, int, long long, std::size_t) override {
    ++g_driver.streams_active;
    return 0;
  }
  int deactivateStream(SoapySDR::Stream*, int, long long) override {
    --g_driver.streams_active;
    return 0;
  }
  int readStream(SoapySDR::Stream*, void* const* buffers, std::size_t count, int& flags, long long& time_ns,
                 long timeout_us) override {
    flags = 0;
    if (mode_ == "stall") {
      std::this_thread::sleep_for(std::chrono::microseconds(timeout_us));
      return SOAPY_SDR_TIMEOUT;
    }
    if (mode_ == "unplug") throw std::runtime_error("device unplugged");
    if (next_ == DROPPED_FIRST && !overflowed_) {
      overflowed_ = true;
      next_ += DROPPED_PAIRS;
      return SOAPY_SDR_OVERFLOW;
    }
    const std::size_t block_end = std::min(RECORDING_PAIRS, (next_ / BLOCK_PAIRS + 1) * BLOCK_PAIRS);
    const std::size_t n = std::min(count, block_end - next_);
    auto* out = static_cast<std::complex<float>*>(buffers[0]);
    for (std::size_t i = 0; i < n; ++i) out[i] = recording_pair(next_ + i);
    if (mode_ == "timed") {
      flags |= SOAPY_SDR_HAS_TIME;
      time_ns = FIRST_TIME_NS + static_cast<long long>(std::llround(static_cast<double>(next_) * 1e9 / g_driver.rate));
    }
    next_ += n;
    if (next_ == RECORDING_PAIRS) flags |= SOAPY_SDR_END_BURST;
    return static_cast<int>(n);
  }

 private:
  std::string mode_;
  std::size_t next_ = 0;
  bool overflowed_ = false;
};

SoapySDR::KwargsList find_test_devices(const SoapySDR::Kwargs& args) {
  if (args.count("driver") == 0 || args.at("driver") != "kdsp_test") return {};
  return {args};
}

SoapySDR::Device* make_test_device(const SoapySDR::Kwargs& args) {
  if (args.count("mode") && args.at("mode") == "broken") throw std::runtime_error("cannot open USB device");
  return new TestDevice(args);
}

const SoapySDR::Registry TEST_DRIVER("kdsp_test", &find_test_devices, &make_test_device, SOAPY_SDR_ABI_VERSION);

struct SoapySource : ::testing::Test {
  void SetUp() override {
    g_driver = {};
    Failure error;
    ASSERT_EQ(open_live_stop(&stop, &error), 0) << error;
    request.kind = LiveSourceKind::SOAPY;
    request.address = "driver=kdsp_test,mode=timed";
    request.sample_rate = 240000;
    request.timeout_ms = 5000;
  }
  // Whatever happened, the device and its stream are released.
  void TearDown() override {
    EXPECT_EQ(g_driver.devices_alive, 0);
    EXPECT_EQ(g_driver.streams_open, 0);
    EXPECT_EQ(g_driver.streams_active, 0);
  }
  LiveStop stop;
  LiveSourceRequest request;
};

struct Played {
  std::vector<std::complex<float>> pairs;
  std::vector<LiveRead> reads;
  LiveReadStatus last = LiveReadStatus::FAILED;
  Failure error;
};

Played play(LiveSource& source, std::size_t buffer_pairs) {
  Played played;
  std::vector<std::complex<float>> buffer(buffer_pairs);
  for (;;) {
    const LiveRead r = source.read(buffer, &played.error);
    played.last = r.status;
    if (r.status != LiveReadStatus::PAIRS) return played;
    played.reads.push_back(r);
    played.pairs.insert(played.pairs.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(r.pair_count));
  }
}

TEST_F(SoapySource, DeliversTheRecordingSizesTheOverflowFromTimeStampsAndEnds) {
  request.centre_hz = 162.55e6;
  request.gain_db = 20.7;
  request.ppm = -1.5;
  request.antenna = "TX/RX";
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_soapy_source(request, stop, &source, &error), 0) << error;
  EXPECT_EQ(g_driver.centre_hz, 162.55e6);
  EXPECT_EQ(g_driver.gain_db, 20.7);
  EXPECT_FALSE(g_driver.automatic_gain);
  EXPECT_EQ(g_driver.ppm, -1.5);
  EXPECT_EQ(g_driver.antenna, "TX/RX");
  EXPECT_EQ(g_driver.streams_active, 1);
  EXPECT_EQ(source->info().sample_rate, 240000);
  EXPECT_EQ(source->info().description, "SoapySDR 'driver=kdsp_test,mode=timed' (kdsp_test player, 240000 pairs/s)");

  const Played played = play(*source, 700);
  EXPECT_EQ(played.last, LiveReadStatus::END) << played.error;
  ASSERT_EQ(played.pairs.size(), RECORDING_PAIRS - DROPPED_PAIRS);
  for (std::size_t i = 0; i < played.pairs.size(); ++i) {
    const std::size_t n = i < DROPPED_FIRST ? i : i + DROPPED_PAIRS;
    ASSERT_EQ(played.pairs[i], recording_pair(n)) << i;
  }
  // The gap is reported once, on the first pairs after it.
  std::uint64_t lost = 0;
  std::size_t before_gap = 0;
  for (const LiveRead& r : played.reads) {
    if (r.lost_before > 0) {
      EXPECT_EQ(before_gap, DROPPED_FIRST);
    }
    lost += r.lost_before;
    before_gap += r.pair_count;
    EXPECT_FALSE(r.loss_unknown);
  }
  EXPECT_EQ(lost, DROPPED_PAIRS);
  const LiveLosses losses = source->losses();
  EXPECT_EQ(losses.gap_count, 1u);
  EXPECT_EQ(losses.pair_count, DROPPED_PAIRS);
  EXPECT_EQ(losses.unknown_gap_count, 0u);
  std::vector<std::complex<float>> buffer(8);
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::END);
}

TEST_F(SoapySource, WithoutTimeStampsAnOverflowIsAGapOfUnknownSize) {
  request.address = "driver=kdsp_test,mode=untimed";
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_soapy_source(request, stop, &source, &error), 0) << error;
  EXPECT_TRUE(g_driver.automatic_gain);  // no gain asked for
  const Played played = play(*source, 4096);
  EXPECT_EQ(played.last, LiveReadStatus::END) << played.error;
  EXPECT_EQ(played.pairs.size(), RECORDING_PAIRS - DROPPED_PAIRS);
  ASSERT_EQ(played.reads.size(), 3u);
  EXPECT_TRUE(played.reads[1].loss_unknown);
  EXPECT_EQ(played.reads[1].lost_before, 0u);
  EXPECT_EQ(source->losses().gap_count, 1u);
  EXPECT_EQ(source->losses().unknown_gap_count, 1u);
  EXPECT_EQ(source->losses().pair_count, 0u);
}

TEST_F(SoapySource, TheRateIsTheOneTheDeviceApplied) {
  request.sample_rate = 250000.4;
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_soapy_source(request, stop, &source, &error), 0) << error;
  EXPECT_EQ(source->info().sample_rate, 250000);
}

TEST_F(SoapySource, ASilentDeviceTimesOutAndAStopEndsTheWaitSooner) {
  request.address = "driver=kdsp_test,mode=stall";
  request.timeout_ms = 300;
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_soapy_source(request, stop, &source, &error), 0) << error;
  std::vector<std::complex<float>> buffer(64);
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::FAILED);
  EXPECT_EQ(failure_text(error), "SoapySDR 'driver=kdsp_test,mode=stall': no samples for 0.3 s");

  request.timeout_ms = 60000;
  ASSERT_EQ(open_soapy_source(request, stop, &source, &error), 0) << error;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    request_live_stop(stop);
  });
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::STOPPED);
  stopper.join();
}

TEST_F(SoapySource, WhatTheDriverThrowsBecomesAnErrorAndTheDeviceIsReleased) {
  request.address = "driver=kdsp_test,mode=unplug";
  std::unique_ptr<LiveSource> source;
  Failure error;
  ASSERT_EQ(open_soapy_source(request, stop, &source, &error), 0) << error;
  std::vector<std::complex<float>> buffer(64);
  EXPECT_EQ(source->read(buffer, &error).status, LiveReadStatus::FAILED);
  EXPECT_EQ(failure_text(error), "SoapySDR 'driver=kdsp_test,mode=unplug': cannot read: device unplugged");
  source.reset();

  request.address = "driver=kdsp_test,mode=broken";
  EXPECT_EQ(open_soapy_source(request, stop, &source, &error), -1);
  EXPECT_NE(failure_text(error).find("no such device (cannot open USB device)"), std::string::npos) << error;
  request.address = "driver=no_such_driver";
  EXPECT_EQ(open_soapy_source(request, stop, &source, &error), -1);
  EXPECT_NE(failure_text(error).find("SoapySDRUtil --find"), std::string::npos) << error;
  EXPECT_EQ(source, nullptr);
}

TEST_F(SoapySource, SettingsTheDeviceCannotTakeAreRefusedBeforeStreaming) {
  const struct {
    std::function<void(LiveSourceRequest&)> change;
    const char* message;
  } refused[] = {
      {[](LiveSourceRequest& r) { r.antenna = "LNAW"; }, "has no antenna 'LNAW' (it has: RX, TX/RX)"},
      {[](LiveSourceRequest& r) { r.gain_db = 60; }, "takes a gain from 0 to 49.6 dB, not 60"},
      {[](LiveSourceRequest& r) { r.sample_rate = 0; }, "needs a sample rate (--rate)"},
  };
  for (const auto& c : refused) {
    LiveSourceRequest bad = request;
    c.change(bad);
    std::unique_ptr<LiveSource> source;
    Failure error;
    EXPECT_EQ(open_soapy_source(bad, stop, &source, &error), -1);
    EXPECT_EQ(failure_text(error), std::string("SoapySDR 'driver=kdsp_test,mode=timed' ") + c.message);
    EXPECT_EQ(g_driver.devices_alive, 0) << c.message;
    EXPECT_EQ(g_driver.streams_active, 0);
  }
}

}  // namespace
}  // namespace kdsp
