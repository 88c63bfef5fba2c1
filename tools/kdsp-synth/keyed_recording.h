// Recordings of several channels keyed on and off, as a scanner hears a
// band: channels on a raster, each carrying real speech (Debian's
// codec2-examples) while keyed, at given or random times, in noise, at any
// rate and in the raw formats receivers write; and the truth, every
// transmission with its channel and times, to check a receiver against.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "radio/io/sample_format.h"
#include "radio/meta/tone_table.h"

namespace kdsp {

struct KeyedSpan {
  std::size_t channel = 0;  // index into the channel offsets
  double start_s = 0.0;
  double end_s = 0.0;
};

struct KeyedPlan {
  double sample_rate = 240000.0;
  double duration_s = 0.0;
  SampleFormat format = SampleFormat::CF32_LE;
  std::vector<double> offsets_hz;
  std::vector<KeyedSpan> spans;  // empty: keyed at random
  double deviation_hz = 5000.0;
  double cnr_db = 30.0;
  bool add_noise = false;
  std::string speech_dir;
  std::uint64_t seed = 1;
  std::vector<Tone> tones;  // each channel's sub-audible tone; empty: none
};

inline constexpr const char* DEFAULT_SPEECH_DIR = "/usr/share/codec2/raw";
// Random keying: a channel stays off, then on, for a time drawn between
// these bounds, from the start to the end.
inline constexpr double RANDOM_OFF_MIN_S = 1.5;
inline constexpr double RANDOM_OFF_MAX_S = 6.0;
inline constexpr double RANDOM_ON_MIN_S = 1.0;
inline constexpr double RANDOM_ON_MAX_S = 8.0;
inline constexpr double MAX_KEYED_DURATION_S = 3600.0;
inline constexpr std::size_t MAX_KEYED_CHANNELS = 64;

// `count` offsets on the raster, drawn from the slots inside the band
// (none within a slot of 0 Hz), lowest first.
std::vector<double> random_raster_offsets(std::size_t count, double raster_hz, double sample_rate, std::uint64_t seed);

// The random keying of every channel when `plan.spans` is empty, else
// those spans; in order of start.
std::vector<KeyedSpan> keyed_spans(const KeyedPlan& plan);

// Receives the next bytes of the recording. 0, or -1 to stop.
using KeyedBytesSink = std::function<int(std::span<const std::uint8_t> bytes)>;

// Makes the recording in `plan.format` block by block, handing each block's
// bytes to `write` in order, so that memory stays that of one block at any
// length. 0, or -1 as soon as `write` fails.
int synthesize_keyed_recording(const KeyedPlan& plan, const std::vector<KeyedSpan>& spans, const KeyedBytesSink& write);

// The truth as JSON: an array of {offset_hz, start_s, end_s, speech}, and
// with tones ctcss_hz and dcs, each null but for the one keying the channel.
std::string keyed_truth_json(const KeyedPlan& plan, const std::vector<KeyedSpan>& spans);

}  // namespace kdsp
