#include "radio/meta/recording_names.h"

#include <cstdint>

namespace kdsp {

namespace {

// A pattern is literal text with fields in braces:
//   {Y} four-digit year; {M} {D} {h} {m} {s} two-digit month, day, hour,
//   minute, second; {hz} the centre in Hz; {khz} the centre in kHz; {rate}
//   the sample rate in samples per second (numbers of 1 to 12 digits).
struct NamePattern {
  const char* recorder;
  const char* pattern;
  NameTimeBase time_base;
  const char* sample_format;
};

constexpr NamePattern RECORDING_NAME_PATTERNS[] = {
    // gqrx's I/Q recorder names the file from
    //   QDateTime::currentDateTimeUtc().toString("%1/gqrx_yyyyMMdd_hhmmss_%2_%3_fc.'raw'")
    // with the RF centre and the input rate after decimation, both in Hz, and
    // writes gr_complex samples: float32 I, Q (little-endian on the machines
    // it runs on). Source: gqrx, src/applications/gqrx/mainwindow.cpp,
    // MainWindow::startIqRecording. UTC.
    {"gqrx", "gqrx_{Y}{M}{D}_{h}{m}{s}_{hz}_{rate}_fc.raw", NameTimeBase::UTC, "cf32"},
    // SDR++'s recorder in baseband mode fills its default name template
    //   "$t_$f_$h-$m-$s_$d-$M-$y"
    // with $t "baseband", $f the centre as "%.0lfHz" and the clock fields
    // from localtime(); versions before the template wrote the same name
    // with sprintf("%.0lfHz_%02d-%02d-%02d_%02d-%02d-%02d.wav"). A WAV file,
    // whose header gives rate and sample type. Source: SDRPlusPlus,
    // misc_modules/recorder/src/main.cpp, RecorderModule() and genFileName().
    // LOCAL time.
    {"SDR++", "baseband_{hz}Hz_{h}-{m}-{s}_{D}-{M}-{Y}.wav", NameTimeBase::LOCAL, ""},
    // SDR#'s baseband recorder writes "SDRSharp_<yyyyMMdd>_<HHmmss>Z_<centre>Hz_IQ.wav",
    // older versions the centre in kHz; the Z marks UTC. SDR# is closed
    // source: the form is the one its recordings carry in published sample
    // sets (e.g. "SDRSharp_20170830_073907Z_145825000Hz_IQ.wav") and the one
    // SDRangel's WAV reader takes apart (sdrbase/dsp/wavfilerecord.cpp,
    // WavFileRecord::getCenterFrequency and getStartTime, Hz and kHz). A WAV
    // file. UTC.
    {"SDR#", "SDRSharp_{Y}{M}{D}_{h}{m}{s}Z_{hz}Hz_IQ.wav", NameTimeBase::UTC, ""},
    {"SDR#", "SDRSharp_{Y}{M}{D}_{h}{m}{s}Z_{khz}kHz_IQ.wav", NameTimeBase::UTC, ""},
};

constexpr int MAX_NUMBER_DIGITS = 12;

// Reads `count` digits, or with count 0 a number of 1 to 12 digits.
bool take_number(std::string_view name, std::size_t* at, int count, std::uint64_t* value) {
  std::uint64_t parsed = 0;
  int digits = 0;
  while (*at < name.size() && name[*at] >= '0' && name[*at] <= '9' &&
         digits < (count > 0 ? count : MAX_NUMBER_DIGITS)) {
    parsed = parsed * 10 + static_cast<std::uint64_t>(name[(*at)++] - '0');
    ++digits;
  }
  if (digits == 0 || (count > 0 && digits != count)) return false;
  if (count == 0 && *at < name.size() && name[*at] >= '0' && name[*at] <= '9') return false;
  *value = parsed;
  return true;
}

// Fills the field named `field` (the text inside the braces) from the name.
bool take_field(std::string_view field, std::string_view name, std::size_t* at, RecordingName* out) {
  struct ClockField {
    const char* name;
    int digits;
    int CivilTime::*member;
  };
  static constexpr ClockField CLOCK_FIELDS[] = {
      {"Y", 4, &CivilTime::year}, {"M", 2, &CivilTime::month},  {"D", 2, &CivilTime::day},
      {"h", 2, &CivilTime::hour}, {"m", 2, &CivilTime::minute}, {"s", 2, &CivilTime::second},
  };
  std::uint64_t value = 0;
  for (const ClockField& clock : CLOCK_FIELDS) {
    if (field != clock.name) continue;
    if (!take_number(name, at, clock.digits, &value)) return false;
    out->start.*clock.member = static_cast<int>(value);
    return true;
  }
  if (!take_number(name, at, 0, &value)) return false;
  if (field == "hz") out->centre_hz = static_cast<double>(value);
  if (field == "khz") out->centre_hz = static_cast<double>(value) * 1000.0;
  if (field == "rate") out->sample_rate = static_cast<double>(value);
  return true;
}

bool match_pattern(const NamePattern& pattern, std::string_view name, RecordingName* out) {
  const std::string_view text = pattern.pattern;
  std::size_t at = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      const std::size_t close = text.find('}', i);
      if (!take_field(text.substr(i + 1, close - i - 1), name, &at, out)) return false;
      i = close;
    } else if (at >= name.size() || name[at++] != text[i]) {
      return false;
    }
  }
  return at == name.size();
}

}  // namespace

int parse_recording_name(std::string_view file_name, RecordingName* name) {
  const std::size_t slash = file_name.rfind('/');
  const std::string_view base = slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
  for (const NamePattern& pattern : RECORDING_NAME_PATTERNS) {
    RecordingName parsed;
    parsed.recorder = pattern.recorder;
    parsed.time_base = pattern.time_base;
    parsed.sample_format = pattern.sample_format;
    UtcTime unused;
    if (!match_pattern(pattern, base, &parsed) || utc_time_from_civil(parsed.start, &unused) != 0) continue;
    if (parsed.sample_rate && *parsed.sample_rate <= 0.0) continue;
    *name = parsed;
    return 0;
  }
  return -1;
}

}  // namespace kdsp
