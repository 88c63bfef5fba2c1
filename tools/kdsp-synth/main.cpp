// kdsp-synth: makes a capture holding FM channels at chosen offsets.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/output_file.h"
#include "common/tool_main.h"
#include "formats/iq_capture.h"
#include "kdsp-synth/audio_source.h"
#include "kdsp-synth/capture_synthesis.h"
#include "kdsp-synth/keyed_recording.h"
#include "kdsp-synth/keyed_tones.h"
#include "kdsp-synth/reference_wav.h"
#include "kdsp-synth/resample.h"
#include "kdsp-synth/synth_options.h"
#include "radio/io/channel_width.h"
#include "radio/base/option_value.h"
#include "radio/io/sample_format.h"
#include "radio/io/sigmf_meta.h"

namespace kdsp {

namespace {

int fail(const std::string& message, Failure* failure) {
  *failure = Failure{message};
  return -1;
}

// The first channel's audio fixes the duration when none was given: a file's
// own length, else the default.
int load_audio(const AudioRequest& request, double duration_s, SourceAudio* audio, Failure* failure) {
  if (request.kind == AudioKind::AUDIO_FILE) {
    return read_audio_file(request.path, duration_s > 0.0 ? duration_s : MAX_DURATION_S, audio, failure);
  }
  *audio = make_builtin_audio(request, duration_s > 0.0 ? duration_s : DEFAULT_DURATION_S);
  return 0;
}

// Fills `*channel` with the audio converted to the pair rate.
int plan_channel(const SourceAudio& audio, std::uint64_t pair_count, double offset_hz, double deviation_hz,
                 double amplitude, ModulatedChannel* channel, Failure* failure) {
  ModulatedChannel planned;
  if (resample_to_pair_rate(audio, pair_count, &planned.audio, failure) != 0) return -1;
  planned.offset_hz = offset_hz;
  planned.deviation_hz = deviation_hz;
  planned.amplitude = amplitude;
  *channel = std::move(planned);
  return 0;
}

int write_capture(const CapturePlan& plan, const std::string& path, Failure* failure) {
  const std::vector<std::uint8_t> bytes = synthesize_capture_bytes(plan);
  if (write_output(path.c_str(), bytes.data(), bytes.size()) != 0) {
    *failure = Failure{"cannot write '" + path + "'"};
    return -1;
  }
  return 0;
}

int run(const SynthOptions& options, Failure* failure) {
  SourceAudio first_audio;
  if (load_audio(options.audio, options.duration_s, &first_audio, failure) != 0) return -1;
  double duration_s = options.duration_s > 0.0 ? options.duration_s : audio_duration_s(first_audio);
  auto pair_count = static_cast<std::uint64_t>(std::llround(duration_s * IQ_SAMPLE_RATE));
  pair_count = std::clamp<std::uint64_t>(pair_count, 1, IQ_MAX_PAIRS);

  CapturePlan plan;
  plan.pair_count = pair_count;
  plan.seed = options.seed;
  if (plan_channel(first_audio, pair_count, options.offset_hz, options.deviation_hz, FIRST_CARRIER_AMPLITUDE,
                   &plan.first, failure) != 0) {
    return -1;
  }
  if (options.add_second) {
    SourceAudio second_audio;
    if (load_audio(options.second_audio, duration_s, &second_audio, failure) != 0) return -1;
    double amplitude = FIRST_CARRIER_AMPLITUDE * std::pow(10.0, options.second_level_db / 20.0);
    if (plan_channel(second_audio, pair_count, options.second_offset_hz, options.deviation_hz, amplitude, &plan.second,
                     failure) != 0) {
      return -1;
    }
    plan.has_second = true;
  }
  if (options.add_noise) plan.noise_power = noise_power_for_cnr(FIRST_CARRIER_AMPLITUDE, options.cnr_db);

  if (!options.audio_out_path.empty() && write_reference_wav(options.audio_out_path, first_audio, failure) != 0) {
    return -1;
  }
  if (write_capture(plan, options.output_path, failure) != 0) return -1;
  return 0;
}

// "CH:START-END" with CH counted from 1.
int parse_key_span(const std::string& text, std::size_t channels, KeyedSpan* span) {
  const std::size_t colon = text.find(':');
  const std::size_t dash = text.find('-', colon == std::string::npos ? 0 : colon + 1);
  if (colon == std::string::npos || dash == std::string::npos) return -1;
  std::int64_t channel = 0;
  double start = 0.0;
  double end = 0.0;
  if (parse_integer_option(text.substr(0, colon).c_str(), 1, static_cast<std::int64_t>(channels), &channel) != 0 ||
      parse_real_option(text.substr(colon + 1, dash - colon - 1).c_str(), 0.0, MAX_KEYED_DURATION_S, &start) != 0 ||
      parse_real_option(text.substr(dash + 1).c_str(), 0.0, MAX_KEYED_DURATION_S, &end) != 0 || end <= start) {
    return -1;
  }
  *span = {static_cast<std::size_t>(channel - 1), start, end};
  return 0;
}

constexpr std::string_view SIGMF_DATA_SUFFIX = ".sigmf-data";
constexpr std::string_view SIGMF_META_SUFFIX = ".sigmf-meta";

// NAME for an output named NAME.sigmf-data, else empty.
std::string sigmf_base(const std::string& path) {
  if (path.size() <= SIGMF_DATA_SUFFIX.size() || !path.ends_with(SIGMF_DATA_SUFFIX)) return "";
  return path.substr(0, path.size() - SIGMF_DATA_SUFFIX.size());
}

// The metadata half of a keyed SigMF recording: its datatype, rate and centre.
int write_sigmf_meta(const std::string& base, const KeyedPlan& plan, const SynthOptions& options) {
  SigmfMeta meta;
  meta.format = plan.format;
  meta.sample_rate = plan.sample_rate;
  meta.has_centre = options.has_centre;
  meta.centre_hz = options.centre_hz;
  meta.datetime = options.start_time;
  const std::string text = sigmf_meta_text(meta);
  const std::string path = base + std::string(SIGMF_META_SUFFIX);
  return write_output(path.c_str(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

int run_keyed(const SynthOptions& options, Failure* failure) {
  KeyedPlan plan;
  plan.sample_rate = options.rate;
  plan.duration_s = options.duration_s > 0.0 ? options.duration_s : DEFAULT_DURATION_S;
  const std::string sigmf = sigmf_base(options.output_path);
  const std::optional<SampleFormat> format = options.format   ? options.format
                                             : !sigmf.empty() ? SampleFormat::CF32_LE
                                                              : sample_format_from_name(options.output_path);
  if (!format) {
    *failure = Failure{"cannot tell the format of '" + options.output_path + "' from its name", "give --format",
                       options.output_path};
    return -1;
  }
  plan.format = *format;
  plan.offsets_hz = options.keyed_offsets.empty() ? random_raster_offsets(static_cast<std::size_t>(options.keyed_count),
                                                                          options.raster_hz, options.rate, options.seed)
                                                  : options.keyed_offsets;
  for (double offset : plan.offsets_hz) {
    if (std::fabs(offset) > channel_reach_hz(options.rate)) {
      return fail("the keyed channel at " + std::to_string(offset) + " Hz is outside the band of the rate", failure);
    }
  }
  for (const std::string& text : options.key_spans) {
    KeyedSpan span;
    if (parse_key_span(text, plan.offsets_hz.size(), &span) != 0) {
      return fail("--key '" + text + "' is not CH:START-END with CH from 1 to " +
                      std::to_string(plan.offsets_hz.size()) + " and END after START",
                  failure);
    }
    plan.spans.push_back(span);
  }
  plan.deviation_hz = options.deviation_hz;
  plan.add_noise = options.add_noise;
  plan.cnr_db = options.cnr_db;
  plan.speech_dir = options.speech_dir;
  plan.seed = options.seed;
  plan.tones = channel_tones(options.keyed_tones, plan.offsets_hz.size(), options.seed);
  const std::vector<KeyedSpan> spans = keyed_spans(plan);
  // The recording streams to its file, which keeps its old contents until
  // the whole recording is there; the truth follows it.
  OutputStream out;
  if (open_output(options.output_path.c_str(), &out) != 0 ||
      synthesize_keyed_recording(plan, spans,
                                 [&out](std::span<const std::uint8_t> bytes) {
                                   return append_output(&out, bytes.data(), bytes.size());
                                 }) != 0 ||
      commit_output(&out) != 0) {
    return fail("cannot write '" + options.output_path + "'", failure);
  }
  if (!options.truth_path.empty()) {
    const std::string truth = keyed_truth_json(plan, spans);
    if (write_output(options.truth_path.c_str(), reinterpret_cast<const std::uint8_t*>(truth.data()), truth.size()) !=
        0) {
      return fail("cannot write '" + options.truth_path + "'", failure);
    }
  }
  if (!sigmf.empty() && write_sigmf_meta(sigmf, plan, options) != 0) {
    return fail("cannot write '" + sigmf + std::string(SIGMF_META_SUFFIX) + "'", failure);
  }
  return 0;
}

// Nothing is written before its bytes are whole (a keyed recording is
// streamed to a file that appears only once complete), so a failure, or
// memory running out, leaves the old output as it was.
int run_synth(const SynthOptions& options, Failure* failure) {
  return options.keyed ? run_keyed(options, failure) : run(options, failure);
}

constexpr ToolDefinition<SynthOptions> SYNTH_TOOL{SYNTH_HELP, add_synth_options, complete_synth_options, run_synth};

}  // namespace

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_tool(kdsp::SYNTH_TOOL, argc, argv); }
