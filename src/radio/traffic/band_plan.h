// What kdsp-rx --all will do, decided before any work: the recording, the
// channels (listed, or found and put on a raster), the band the squelch reads
// of each, the filter each capture gets, the split of the band, and the
// kernel every channel runs. Every refusal that can be known before the work
// is made here.
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/chain/after_demod.h"
#include "radio/chain/channelizer.h"
#include "radio/io/recording.h"
#include "radio/meta/name_template.h"
#include "radio/meta/tone_table.h"

namespace kdsp {

// Noise alone stays far below this (a window of noise measures below -5 dB);
// FM voice is readable from about 10 dB.
inline constexpr double DEFAULT_ALL_SQUELCH_DB = 6.0;

// What the user asked for.
struct BandRequest {
  RecordingRequest recording;
  std::vector<double> channel_values;  // offsets, or absolute frequencies; empty: find them
  std::string plan_path;               // --plan: a channel list (labels, tones); empty: none
  double raster_hz = 0.0;              // 0: none
  double channel_width_hz = 0.0;       // --bandwidth; 0: narrowed to the gap only where needed
  std::string kernel_path;             // empty: the built-in kernel
  std::vector<std::string> definitions;
  double squelch_db = DEFAULT_ALL_SQUELCH_DB;
  AfterDemod after;
  std::string output_dir;
  std::string pieces_dir;  // empty: pieces are not kept
  bool force = false;
  bool csv = false;
  std::vector<Tone> tones;      // --tone: keep only transmissions with one of these; empty: all
  std::string name_template;    // --name; empty: the default
  double min_duration_s = 0.5;  // shorter transmissions are dropped
  double max_duration_s = 0.0;  // longer ones are cut; 0: never
  unsigned threads = 1;
};

// One row of the user's plan on a channel: its label and the tone its
// users key it with (NONE: any).
struct ChannelLabel {
  std::string label;
  Tone tone;
};

struct BandPlan {
  BandRequest request;
  RecordingInfo recording;
  std::vector<double> offsets_hz;  // the channels, lowest first as chosen
  bool silent = false;             // channels were looked for and the recording held no signal at all
  double half_width_hz = 0.0;      // the band the squelch reads either side of a channel
  double filter_width_hz = 0.0;    // 0: captures go to the core unfiltered
  ChannelizerPlan split;
  std::vector<std::vector<std::uint8_t>> kernels;         // by channel
  std::vector<std::vector<std::complex<float>>> filters;  // by channel; empty: none
  std::vector<std::vector<ChannelLabel>> labels;          // by channel, from the plan; empty: none
  NameTemplate names;
  NameTemplate piece_names;  // of the pieces --keep-pieces keeps
};

// Describes the recording, prepares the output folder, chooses the channels
// and plans the split. 0 with
// `*plan` filled, or -1 with `*error` naming the cause and the fix.
int plan_band(const BandRequest& request, BandPlan* plan, Failure* failure);

// The label a transmission on `channel` heard with `tone` takes: the plan
// row with that tone, else one with no tone; false when the channel has
// rows and none takes it (the transmission is not the plan's).
bool label_for(const BandPlan& plan, std::size_t channel, const Tone& tone, std::string* label);

// The frequency of channel `channel`, when the recording's centre is known.
std::optional<double> channel_frequency(const BandPlan& plan, std::size_t channel);

// "4 channels: 144650000 Hz, ...; each filtered to 12500 Hz", for the user.
std::string band_channels_text(const BandPlan& plan);

}  // namespace kdsp
