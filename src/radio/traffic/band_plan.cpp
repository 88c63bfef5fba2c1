#include "radio/traffic/band_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "radio/base/quantity_text.h"
#include "radio/chain/capture_filter.h"
#include "radio/chain/front_end.h"
#include "radio/io/channel_width.h"
#include "radio/io/regular_file.h"
#include "radio/kernel/kernel_source.h"
#include "radio/meta/channel_plan.h"
#include "radio/meta/dcs_words.h"
#include "radio/spectrum/channel_survey.h"
#include "radio/traffic/output_folder.h"

namespace kdsp {

namespace {

// --channels as offsets: a value beyond half the rate is an absolute frequency.
int listed_offsets(const std::vector<double>& values, const RecordingInfo& recording, std::vector<double>* offsets,
                   Failure* failure) {
  for (double value : values) {
    double offset = value;
    if (std::fabs(value) > recording.sample_rate / 2.0) {
      if (!recording.centre_hz) {
        *failure = Failure{"--channels " + hz_text(value) + " is a frequency, and the centre of '" + recording.path +
                           "' is not known; add --center HZ, or give offsets"};
        return -1;
      }
      offset = value - *recording.centre_hz;
    }
    if (std::fabs(offset) > channel_reach_hz(recording.sample_rate)) {
      *failure =
          Failure{"the channel at offset " + hz_text(offset) + " is outside the band of '" + recording.path + "' (" +
                  recording.description + ": offsets from " + hz_text(-channel_reach_hz(recording.sample_rate)) +
                  " to " + hz_text(channel_reach_hz(recording.sample_rate)) + "); choose channels inside it"};
      return -1;
    }
    // Channels are placed to the hertz: two that are the same after
    // rounding are one channel, with one name for its files.
    offset = std::round(offset);
    if (std::find(offsets->begin(), offsets->end(), offset) == offsets->end()) offsets->push_back(offset);
  }
  return 0;
}

// Found channels moved onto the raster (of absolute frequencies when the
// centre is known), each raster step once.
std::vector<double> snapped_offsets(const std::vector<double>& offsets, const RecordingInfo& recording,
                                    double raster_hz) {
  std::vector<double> snapped;
  const double centre = recording.centre_hz.value_or(0.0);
  for (double offset : offsets) {
    const double on_raster = std::round((centre + offset) / raster_hz) * raster_hz - centre;
    if (std::fabs(on_raster) > channel_reach_hz(recording.sample_rate)) continue;
    if (std::none_of(snapped.begin(), snapped.end(), [&](double other) { return std::fabs(other - on_raster) < 1.0; }))
      snapped.push_back(on_raster);
  }
  std::sort(snapped.begin(), snapped.end());
  return snapped;
}

// The band the squelch reads of each channel: half the gap to the nearest
// neighbour, at most half of a 25 kHz channel.
double measured_half_width_hz(const std::vector<double>& offsets, double raster_hz) {
  double half = CHANNEL_HALF_WIDTH_HZ;
  if (raster_hz > 0.0) half = std::min(half, raster_hz / 2.0);
  for (std::size_t i = 1; i < offsets.size(); ++i) half = std::min(half, (offsets[i] - offsets[i - 1]) / 2.0);
  return std::max(half, 2500.0);
}

// The width each channel's captures are filtered to before the core: the
// --bandwidth asked for, else the band the squelch reads when a neighbour
// lies closer than the voice chain's own filter reaches; 0 for none.
double capture_filter_width_hz(double asked_width_hz, double half_width_hz) {
  const double width = asked_width_hz > 0.0 ? asked_width_hz : 2.0 * half_width_hz;
  return width < CHANNEL_WIDTH_HZ ? width : 0.0;
}

// The user's channel list: its rows grouped by channel (rows on one
// frequency with different tones are one channel the tones tell apart).
int planned_channels(const std::string& path, const RecordingInfo& recording, std::vector<double>* offsets,
                     std::vector<std::vector<ChannelLabel>>* labels, Failure* failure) {
  std::vector<std::uint8_t> bytes;
  if (read_regular_file(path.c_str(), MAX_CHANNEL_PLAN_BYTES, &bytes) != 0) {
    *failure = Failure{"the channel plan '" + path + "' cannot be read (missing, unreadable, not a regular file, or " +
                           "larger than " + std::to_string(MAX_CHANNEL_PLAN_BYTES) + " bytes)",
                       "", path};
    return -1;
  }
  ChannelPlan plan;
  if (parse_channel_plan(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path, &plan,
                         failure) != 0) {
    failure->file = path;
    return -1;
  }
  std::vector<double> values;
  for (const ChannelRow& row : plan.rows) values.push_back(row.frequency_hz);
  if (listed_offsets(values, recording, offsets, failure) != 0) {
    prefix_failure(failure, "the channel plan '" + path + "': ");
    return -1;
  }
  labels->assign(offsets->size(), {});
  for (std::size_t r = 0; r < plan.rows.size(); ++r) {
    double offset = values[r];
    if (std::fabs(offset) > recording.sample_rate / 2.0) offset -= recording.centre_hz.value_or(0.0);
    const auto at = std::find(offsets->begin(), offsets->end(), std::round(offset));
    std::vector<ChannelLabel>& rows = (*labels)[static_cast<std::size_t>(at - offsets->begin())];
    const ChannelLabel label{plan.rows[r].label, plan.rows[r].tone};
    const bool known =
        std::any_of(rows.begin(), rows.end(), [&](const ChannelLabel& other) { return other.tone == label.tone; });
    if (!known) rows.push_back(label);
  }
  return 0;
}

int choose_channels(const BandRequest& request, const RecordingInfo& recording, std::vector<double>* offsets,
                    std::vector<std::vector<ChannelLabel>>* labels, bool* silent, Failure* failure) {
  if (!request.plan_path.empty()) return planned_channels(request.plan_path, recording, offsets, labels, failure);
  if (!request.channel_values.empty()) return listed_offsets(request.channel_values, recording, offsets, failure);
  std::vector<SurveyedChannel> found;
  if (survey_channels(recording, channel_reach_hz(recording.sample_rate), &found, failure, silent) != 0) return -1;
  for (const SurveyedChannel& channel : found) offsets->push_back(std::round(channel.offset_hz));
  if (request.raster_hz > 0.0) *offsets = snapped_offsets(*offsets, recording, request.raster_hz);
  return 0;
}

// Each channel's kernel, made before any work so that a mistake in a kernel
// source stops the run at once.
int load_kernels(const BandRequest& request, const ChannelizerPlan& split,
                 std::vector<std::vector<std::uint8_t>>* kernels, Failure* failure) {
  for (const ChannelPlacement& channel : split.channels) {
    kernels->emplace_back();
    if (load_kernel(request.kernel_path, request.definitions, channel.placed_offset_hz, &kernels->back(), failure) != 0)
      return -1;
  }
  return 0;
}

// The names the transmissions' files take, checked against what the
// recording tells before any work.
int plan_names(const BandRequest& request, const RecordingInfo& recording, NameTemplate* names, Failure* failure) {
  const std::string text = request.name_template.empty() ? default_name_template(recording.centre_hz.has_value(),
                                                                                 recording.start_time.has_value())
                                                         : request.name_template;
  if (parse_name_template(text, names, failure) != 0) {
    prefix_failure(failure, "--name: ");
    failure->kind = FailureKind::USAGE;
    return -1;
  }
  const NameNeeds needs = name_template_needs(*names);
  if (needs.centre && !recording.centre_hz) {
    *failure = Failure{"--name uses the channel's frequency, and the centre of '" + recording.path + "' is not known",
                       "add --center HZ, or name by {offset}", recording.path};
    return -1;
  }
  if (needs.start_time && !recording.start_time) {
    *failure = Failure{"--name uses the time of day, and '" + recording.path + "' does not say when it began",
                       "add --start-time, or name by {start}", recording.path};
    return -1;
  }
  return 0;
}

}  // namespace

bool label_for(const BandPlan& plan, std::size_t channel, const Tone& tone, std::string* label) {
  if (plan.labels.empty() || plan.labels[channel].empty()) return true;
  const std::vector<ChannelLabel>& rows = plan.labels[channel];
  for (const ChannelLabel& row : rows) {
    if (row.tone.kind != ToneKind::NONE &&
        (row.tone == tone || (tone.kind == ToneKind::DCS && row.tone == dcs_alias(tone)))) {
      *label = row.label;
      return true;
    }
  }
  for (const ChannelLabel& row : rows) {
    if (row.tone.kind == ToneKind::NONE) {
      *label = row.label;
      return true;
    }
  }
  return false;
}

int plan_band(const BandRequest& request, BandPlan* plan, Failure* failure) {
  BandPlan made;
  made.request = request;
  if (describe_recording(request.recording, &made.recording, failure) != 0) return -1;
  if (plan_names(request, made.recording, &made.names, failure) != 0) return -1;
  if (parse_name_template(default_name_template(made.recording.centre_hz.has_value(), false), &made.piece_names,
                          failure) != 0) {
    return -1;
  }
  if (prepare_output_folder(request.output_dir, request.force, request.csv, failure) != 0) return -1;
  if (!request.pieces_dir.empty() && check_pieces_folder(request.pieces_dir, request.force, failure) != 0) return -1;
  if (choose_channels(request, made.recording, &made.offsets_hz, &made.labels, &made.silent, failure) != 0) return -1;
  made.half_width_hz = measured_half_width_hz(made.offsets_hz, request.raster_hz);
  made.filter_width_hz = capture_filter_width_hz(request.channel_width_hz, made.half_width_hz);
  made.split =
      plan_channelizer(made.recording.sample_rate, made.recording.pair_count, made.offsets_hz, made.half_width_hz);
  if (load_kernels(request, made.split, &made.kernels, failure) != 0) return -1;
  for (const ChannelPlacement& channel : made.split.channels) {
    made.filters.push_back(made.filter_width_hz > 0.0
                               ? channel_filter_taps(made.filter_width_hz, channel.placed_offset_hz)
                               : std::vector<std::complex<float>>{});
  }
  *plan = std::move(made);
  return 0;
}

std::optional<double> channel_frequency(const BandPlan& plan, std::size_t channel) {
  if (!plan.recording.centre_hz) return std::nullopt;
  return *plan.recording.centre_hz + plan.split.channels[channel].offset_hz;
}

std::string band_channels_text(const BandPlan& plan) {
  const std::vector<double>& offsets = plan.offsets_hz;
  std::string list;
  for (std::size_t c = 0; c < offsets.size(); ++c) {
    list += list.empty() ? " " : ", ";
    list +=
        plan.recording.centre_hz ? hz_text(*plan.recording.centre_hz + offsets[c]) : "offset " + hz_text(offsets[c]);
    if (c < plan.labels.size() && plan.labels[c].size() == 1 && !plan.labels[c][0].label.empty()) {
      list += " (" + plan.labels[c][0].label + ")";
    }
  }
  if (plan.filter_width_hz > 0.0 && !offsets.empty()) list += "; each filtered to " + hz_text(plan.filter_width_hz);
  std::string text = std::to_string(offsets.size()) + " channel" + (offsets.size() == 1 ? "" : "s") +
                     (offsets.empty() ? (plan.silent ? " found: no signal in the recording (every pair the same: "
                                                       "zeros, a constant or a clipped receiver)"
                                                     : " found")
                                      : ":" + list);
  if (!plan.recording.name_said.empty()) text += "; " + plan.recording.name_said;
  if (plan.recording.start_time) {
    text += "; recording began " + utc_time_rfc3339(*plan.recording.start_time) + " (from " +
            plan.recording.start_source + ")";
  }
  return text;
}

}  // namespace kdsp
