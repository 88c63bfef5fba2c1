// Live sample sources: streams of I/Q pairs that have no end known in
// advance, read in order as they arrive. Raw bytes on standard input (or any
// descriptor), an rtl_tcp server, or any receiver SoapySDR drives. Each
// source is opened from a request, read into the caller's buffer as complex
// float pairs at full scale about 1, asked to stop from another thread or a
// signal handler through a LiveStop, and closed by destroying it.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "radio/io/sample_format.h"
#include "radio/live/live_stop.h"

#include "radio/base/failure.h"

namespace kdsp {

enum class LiveSourceKind { STANDARD_INPUT, RTL_TCP, SOAPY };

// What the user asked for. Settings a source cannot apply are refused at
// open, never silently ignored.
struct LiveSourceRequest {
  LiveSourceKind kind = LiveSourceKind::STANDARD_INPUT;
  // rtl_tcp: "HOST:PORT" ("[::1]:1234" for an IPv6 address); SoapySDR: the
  // device arguments ("driver=rtlsdr,serial=00000001"); standard input: "".
  std::string address;
  SampleFormat format = SampleFormat::CU8;  // standard input only: rtl_tcp is cu8, SoapySDR delivers cf32
  double sample_rate = 0.0;                 // pairs per second; the caller's to know on standard input
  std::optional<double> centre_hz;          // unset: the receiver stays where it is
  std::optional<double> gain_db;            // unset: automatic gain
  std::optional<double> ppm;                // frequency correction; unset: the receiver's own
  std::string antenna;                      // SoapySDR only; empty: the device's default
  // The longest wait for a connection, for the rtl_tcp greeting, and
  // between samples from a network or device source; standard input waits
  // for its writer as long as it takes.
  int timeout_ms = 10000;
};

// What the source turned out to be, once open.
struct LiveSourceInfo {
  double sample_rate = 0.0;  // as the receiver applied it (SoapySDR) or as asked
  std::optional<double> centre_hz;
  std::string description;  // "rtl_tcp 127.0.0.1:1234 (tuner R820T, 29 gains)", for the user
};

enum class LiveReadStatus {
  PAIRS,    // `pair_count` pairs (at least one) are at the front of the buffer
  END,      // the stream ended: the writer, server or device finished
  STOPPED,  // the LiveStop was requested
  FAILED,   // the error message says why; the source is of no further use
};

struct LiveRead {
  LiveReadStatus status = LiveReadStatus::FAILED;
  std::size_t pair_count = 0;
  // Pairs the source knows went missing just before these, so that the
  // caller can move its clock on; `loss_unknown` when some did and the
  // source cannot say how many.
  std::uint64_t lost_before = 0;
  bool loss_unknown = false;
};

// Every gap since the source was opened.
struct LiveLosses {
  std::uint64_t gap_count = 0;          // overflows, dropped blocks
  std::uint64_t pair_count = 0;         // pairs lost in the gaps whose size is known
  std::uint64_t unknown_gap_count = 0;  // gaps of unknown size
};

class LiveSource {
 public:
  virtual ~LiveSource() = default;
  // Blocks until at least one pair arrives, the stream ends, the stop is
  // requested or the source fails; then fills the front of `out`. `*error`
  // is set on FAILED only.
  virtual LiveRead read(std::span<std::complex<float>> out, Failure* failure) = 0;
  virtual LiveLosses losses() const = 0;
  const LiveSourceInfo& info() const { return info_; }

 protected:
  LiveSourceInfo info_;
};

// Opens the source of `request`; `stop` must outlive it. 0 with `*source`
// set, or -1 with `*error` naming the source, the cause and the fix. A stop
// requested while it connects fails the open (live_stop_requested tells).
int open_live_source(const LiveSourceRequest& request, LiveStop& stop, std::unique_ptr<LiveSource>* source,
                     Failure* failure);

// "2400000", "145.5", "-0.5": a setting as messages print it.
std::string live_number_text(double value);

// True when `name` is written as a live source rather than a file: "-",
// "rtl_tcp://HOST:PORT" or "soapy:ARGS".
bool is_live_source_name(std::string_view name);

// Sets the kind and address of `*request` from such a name; its settings are
// left as they are. 0, or -1 with `*error` saying what is wrong.
int parse_live_source_name(std::string_view name, LiveSourceRequest* request, Failure* failure);

}  // namespace kdsp
