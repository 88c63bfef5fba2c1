// The user's channel list: the channels of a band with their labels and the
// sub-audible tone each carries, read from CSV so that transmissions can be
// named by channel. Two forms, told apart by their header row:
//
//  - plain: a header "frequency,label[,tone]" (any order, any case, other
//    columns ignored); frequency in Hz or with a k, M or G suffix ("145.5M",
//    "12.5k"), tone as parse_tone reads it, empty for none;
//  - CHIRP's CSV export: "Location,Name,Frequency,Duplex,Offset,Tone,
//    rToneFreq,cToneFreq,DtcsCode,DtcsPolarity,RxDtcsCode,CrossMode,Mode,..."
//    with the frequency in MHz (chirp/drivers/generic_csv.py, the CSV_FORMAT
//    and to_csv of chirp/chirp_common.py).
//
// For a CHIRP row the tone is the one the radio programmed from that row
// needs to open its squelch, the receive half of chirp_common's
// split_tone_encode: that is what a receiver of the channel hears on the
// channel's own frequency. So "Tone" (a tone sent only, mostly to open a
// repeater on its input frequency, with carrier squelch on receive), "" and
// the reverse modes TSQL-R and DTCS-R (squelch that closes on the tone) give
// no tone; TSQL gives cToneFreq; DTCS gives DtcsCode with the receive
// polarity (DtcsPolarity's second letter, R for inverted); Cross gives the
// part of CrossMode after "->": cToneFreq for Tone, RxDtcsCode for DTCS,
// none when empty. As CHIRP does, a file with only one of rToneFreq and
// cToneFreq uses it for both; one without RxDtcsCode (older CHIRP) uses
// DtcsCode; one without CrossMode reads Cross as CHIRP's default Tone->Tone.
//
// Every row must be sound, or the whole plan is refused with the file, the
// line and the field: "plan.csv:7: Frequency 'abc' is not a frequency".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "radio/meta/tone_table.h"

#include "radio/base/failure.h"

namespace kdsp {

enum class ChannelPlanFormat { PLAIN, CHIRP };

struct ChannelRow {
  double frequency_hz = 0.0;
  std::string label;  // valid UTF-8 without control characters; may be empty in a CHIRP export
  Tone tone;          // NONE when the channel carries none
  int line = 0;       // where the row stands in the file
};

struct ChannelPlan {
  ChannelPlanFormat format = ChannelPlanFormat::PLAIN;
  std::vector<ChannelRow> rows;  // in file order
};

// A real plan is a few kilobytes; the limits only keep a hostile file cheap.
inline constexpr std::size_t MAX_CHANNEL_PLAN_BYTES = 1 << 20;
inline constexpr std::size_t MAX_CHANNEL_PLAN_ROWS = 10000;  // the header and comment rows included
inline constexpr std::size_t MAX_CHANNEL_PLAN_COLUMNS = 64;
inline constexpr std::size_t MAX_CHANNEL_PLAN_FIELD_BYTES = 1024;
inline constexpr std::size_t MAX_CHANNEL_LABEL_BYTES = 128;
inline constexpr double MAX_CHANNEL_HZ = 1e12;

// Reads the CSV `text` of the file `file_name` (named in messages). Rows on
// one frequency with different tones are different channels and all kept;
// a row equal to an earlier one in frequency, label and tone is dropped.
// Blank rows and rows whose first field starts with '#' are skipped. 0 with
// `*plan` filled, or -1 with `*error` as "FILE:LINE: what".
int parse_channel_plan(std::string_view text, std::string_view file_name, ChannelPlan* plan, Failure* failure);

}  // namespace kdsp
