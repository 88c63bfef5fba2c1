#include "radio/live/soapy_source.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <stdexcept>
#include <vector>

namespace kdsp {

namespace {

constexpr std::size_t CHANNEL = 0;
// How long one readStream call may block: the longest a stop waits to be
// seen, since SoapySDR has no way to wake a blocked read.
constexpr long READ_TIMEOUT_US = 100000;

struct DeviceRelease {
  void operator()(SoapySDR::Device* device) const noexcept {
    try {
      SoapySDR::Device::unmake(device);
    } catch (...) {
      // A device that fails to close is gone all the same.
    }
  }
};
using DeviceOwner = std::unique_ptr<SoapySDR::Device, DeviceRelease>;

// A setting the device cannot take, worded to follow the device's name.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "none" : text;
}

class SoapySource final : public LiveSource {
 public:
  SoapySource(DeviceOwner device, const std::string& name, int stall_timeout_ms, LiveStop& stop)
      : device_(std::move(device)), name_(name), stall_timeout_ms_(stall_timeout_ms), stop_(stop) {}
  ~SoapySource() override;
  SoapySource(const SoapySource&) = delete;
  SoapySource& operator=(const SoapySource&) = delete;

  // Each throws a Refusal, or whatever the driver throws.
  void configure(const LiveSourceRequest& request);
  void start();

  LiveRead read(std::span<std::complex<float>> out, Failure* failure) override;
  LiveLosses losses() const override { return losses_; }

 private:
  void set_antenna(const std::string& antenna);
  void set_gain(const std::optional<double>& gain_db);
  void account_gap(int flags, long long time_ns, LiveRead* result);
  LiveRead fail(const std::string& cause, Failure* failure);

  DeviceOwner device_;
  std::string name_;
  int stall_timeout_ms_;
  LiveStop& stop_;
  SoapySDR::Stream* stream_ = nullptr;
  bool active_ = false;
  bool ended_ = false;
  LiveLosses losses_;
  std::uint64_t overflows_pending_ = 0;  // seen since the last pairs
  bool next_time_known_ = false;
  long long next_time_ns_ = 0;  // time stamp the next pair should carry
};

SoapySource::~SoapySource() {
  try {
    if (active_) device_->deactivateStream(stream_);
    if (stream_ != nullptr) device_->closeStream(stream_);
  } catch (...) {
    // The device is released next whatever its stream said.
  }
}

void SoapySource::set_antenna(const std::string& antenna) {
  if (antenna.empty()) return;
  const std::vector<std::string> antennas = device_->listAntennas(SOAPY_SDR_RX, CHANNEL);
  if (std::find(antennas.begin(), antennas.end(), antenna) == antennas.end()) {
    throw Refusal("has no antenna '" + antenna + "' (it has: " + joined(antennas) + ")");
  }
  device_->setAntenna(SOAPY_SDR_RX, CHANNEL, antenna);
}

void SoapySource::set_gain(const std::optional<double>& gain_db) {
  const bool has_mode = device_->hasGainMode(SOAPY_SDR_RX, CHANNEL);
  if (!gain_db) {
    if (!has_mode) throw Refusal("has no automatic gain; give a gain in dB");
    device_->setGainMode(SOAPY_SDR_RX, CHANNEL, true);
    return;
  }
  const SoapySDR::Range range = device_->getGainRange(SOAPY_SDR_RX, CHANNEL);
  if (*gain_db < range.minimum() || *gain_db > range.maximum()) {
    throw Refusal("takes a gain from " + live_number_text(range.minimum()) + " to " +
                  live_number_text(range.maximum()) + " dB, not " + live_number_text(*gain_db));
  }
  if (has_mode) device_->setGainMode(SOAPY_SDR_RX, CHANNEL, false);
  device_->setGain(SOAPY_SDR_RX, CHANNEL, *gain_db);
}

void SoapySource::configure(const LiveSourceRequest& request) {
  if (!(request.sample_rate > 0.0)) throw Refusal("needs a sample rate (--rate)");
  set_antenna(request.antenna);
  device_->setSampleRate(SOAPY_SDR_RX, CHANNEL, request.sample_rate);
  if (request.ppm) {
    if (!device_->hasFrequencyCorrection(SOAPY_SDR_RX, CHANNEL)) {
      throw Refusal("cannot correct its frequency; leave out the ppm");
    }
    device_->setFrequencyCorrection(SOAPY_SDR_RX, CHANNEL, *request.ppm);
  }
  if (request.centre_hz) device_->setFrequency(SOAPY_SDR_RX, CHANNEL, *request.centre_hz);
  set_gain(request.gain_db);
  // What the device made of the request: a rate it cannot reach exactly is
  // rounded by the driver, and the caller's clock must run at the real one.
  info_.sample_rate = device_->getSampleRate(SOAPY_SDR_RX, CHANNEL);
  if (!(info_.sample_rate > 0.0)) throw Refusal("reports no sample rate");
  info_.centre_hz = device_->getFrequency(SOAPY_SDR_RX, CHANNEL);
  info_.description = name_ + " (" + device_->getDriverKey() + " " + device_->getHardwareKey() + ", " +
                      live_number_text(info_.sample_rate) + " pairs/s)";
}

void SoapySource::start() {
  stream_ = device_->setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32, {CHANNEL});
  if (stream_ == nullptr) throw Refusal("gave no stream");
  const int status = device_->activateStream(stream_);
  if (status != 0) throw Refusal(std::string("cannot start streaming: ") + SoapySDR::errToStr(status));
  active_ = true;
}

LiveRead SoapySource::fail(const std::string& cause, Failure* failure) {
  *failure = Failure{name_ + ": " + cause};
  return {LiveReadStatus::FAILED};
}

// Gives the overflows seen since the last pairs to `result`: sized by the
// jump in time stamps when this read and the last both carry one.
void SoapySource::account_gap(int flags, long long time_ns, LiveRead* result) {
  const bool has_time = (flags & SOAPY_SDR_HAS_TIME) != 0;
  if (overflows_pending_ > 0) {
    losses_.gap_count += overflows_pending_;
    if (has_time && next_time_known_) {
      const double missing = std::nearbyint(static_cast<double>(time_ns - next_time_ns_) * info_.sample_rate / 1e9);
      result->lost_before = missing > 0.0 ? static_cast<std::uint64_t>(missing) : 0;
      losses_.pair_count += result->lost_before;
    } else {
      result->loss_unknown = true;
      losses_.unknown_gap_count += overflows_pending_;
    }
    overflows_pending_ = 0;
  }
  next_time_known_ = has_time;
  const double span_ns = static_cast<double>(result->pair_count) * 1e9 / info_.sample_rate;
  if (has_time) next_time_ns_ = time_ns + static_cast<long long>(std::nearbyint(span_ns));
}

LiveRead SoapySource::read(std::span<std::complex<float>> out, Failure* failure) {
  if (out.empty()) return fail("read into an empty buffer", failure);
  const auto deadline = LiveClock::now() + std::chrono::milliseconds(stall_timeout_ms_);
  while (!ended_) {
    if (live_stop_requested(stop_)) return {LiveReadStatus::STOPPED};
    void* buffers[] = {out.data()};
    int flags = 0;
    long long time_ns = 0;
    int got = 0;
    try {
      got = device_->readStream(stream_, buffers, out.size(), flags, time_ns, READ_TIMEOUT_US);
    } catch (const std::exception& e) {
      return fail(std::string("cannot read: ") + e.what(), failure);
    }
    if (got == SOAPY_SDR_OVERFLOW) {
      ++overflows_pending_;
      continue;
    }
    if (got < 0 && got != SOAPY_SDR_TIMEOUT)
      return fail(std::string("cannot read: ") + SoapySDR::errToStr(got), failure);
    // A driver ends a stream that has an end (a file, a finite burst) with
    // END_BURST; a receiver never does.
    if (got >= 0 && (flags & SOAPY_SDR_END_BURST) != 0) ended_ = true;
    if (got > 0) {
      LiveRead result{LiveReadStatus::PAIRS, static_cast<std::size_t>(got)};
      account_gap(flags, time_ns, &result);
      return result;
    }
    if (!ended_ && stall_timeout_ms_ >= 0 && ms_until(deadline) == 0) {
      return fail("no samples for " + timeout_text(stall_timeout_ms_), failure);
    }
  }
  return {LiveReadStatus::END};
}

}  // namespace

int open_soapy_source(const LiveSourceRequest& request, LiveStop& stop, std::unique_ptr<LiveSource>* source,
                      Failure* failure) {
  const std::string name = "SoapySDR '" + request.address + "'";
  std::unique_ptr<SoapySource> opened;
  try {
    DeviceOwner device(SoapySDR::Device::make(request.address));
    opened = std::make_unique<SoapySource>(std::move(device), name, request.timeout_ms, stop);
  } catch (const std::exception& e) {
    *failure = Failure{name + ": no such device (" + e.what() +
                       "); SoapySDRUtil --find lists the devices SoapySDR sees, and each kind needs its module "
                       "(soapysdr-module-rtlsdr for driver=rtlsdr)"};
    return -1;
  }
  try {
    opened->configure(request);
    opened->start();
  } catch (const Refusal& e) {
    *failure = Failure{name + " " + e.what()};
    return -1;
  } catch (const std::exception& e) {
    *failure = Failure{name + ": " + e.what()};
    return -1;
  }
  *source = std::move(opened);
  return 0;
}

}  // namespace kdsp
