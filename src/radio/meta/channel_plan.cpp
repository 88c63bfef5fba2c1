#include "radio/meta/channel_plan.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <tuple>

#include "radio/base/option_value.h"
#include "radio/meta/csv_records.h"

namespace kdsp {

namespace {

enum Column {
  FREQUENCY,
  LABEL,
  TONE,           // plain: the tone itself
  TONE_MODE,      // CHIRP's "Tone": which tone fields apply
  R_TONE,         // CHIRP: the CTCSS tone sent
  C_TONE,         // CHIRP: the CTCSS tone squelched on
  DTCS_CODE,      // CHIRP: the DCS code (sent, and received in DTCS mode)
  DTCS_POLARITY,  // CHIRP: transmit and receive polarity, N or R each
  RX_DTCS_CODE,   // CHIRP: the DCS code received in a Cross mode
  CROSS_MODE,     // CHIRP: "transmit->receive"
  COLUMN_COUNT
};

struct ColumnName {
  Column column;
  const char* plain;  // nullptr: no such column in the plain form
  const char* chirp;
};

// In Column order.
constexpr ColumnName COLUMN_NAMES[] = {
    {FREQUENCY, "frequency", "Frequency"},
    {LABEL, "label", "Name"},
    {TONE, "tone", nullptr},
    {TONE_MODE, nullptr, "Tone"},
    {R_TONE, nullptr, "rToneFreq"},
    {C_TONE, nullptr, "cToneFreq"},
    {DTCS_CODE, nullptr, "DtcsCode"},
    {DTCS_POLARITY, nullptr, "DtcsPolarity"},
    {RX_DTCS_CODE, nullptr, "RxDtcsCode"},
    {CROSS_MODE, nullptr, "CrossMode"},
};

static_assert(std::size(COLUMN_NAMES) == COLUMN_COUNT);

// What opens a CHIRP channel's squelch on receive.
enum class ReceiveSquelch { CARRIER, C_TONE, DTCS, CROSS };

struct ChirpToneMode {
  const char* name;
  ReceiveSquelch squelch;
};

// chirp_common.TONE_MODES, with the receive half of split_tone_encode; the
// reverse modes close on their tone and so expect none.
constexpr ChirpToneMode CHIRP_TONE_MODES[] = {
    {"", ReceiveSquelch::CARRIER},    {"Tone", ReceiveSquelch::CARRIER},   {"TSQL", ReceiveSquelch::C_TONE},
    {"DTCS", ReceiveSquelch::DTCS},   {"TSQL-R", ReceiveSquelch::CARRIER}, {"DTCS-R", ReceiveSquelch::CARRIER},
    {"Cross", ReceiveSquelch::CROSS},
};

// chirp_common.CROSS_MODES, "transmit->receive".
constexpr std::string_view CHIRP_CROSS_MODES[] = {"Tone->Tone", "DTCS->", "->DTCS",     "Tone->DTCS",
                                                  "DTCS->Tone", "->Tone", "DTCS->DTCS", "Tone->"};

// CHIRP's Memory default, used when a file has a Cross row but no CrossMode.
constexpr std::string_view CHIRP_DEFAULT_CROSS_MODE = "Tone->Tone";

// The longest field value a message repeats.
constexpr std::size_t SHOWN_VALUE_BYTES = 40;

struct PlanHeader {
  ChannelPlanFormat format = ChannelPlanFormat::PLAIN;
  std::array<int, COLUMN_COUNT> at{};  // field index, -1 when the file has no such column
  std::vector<std::string> names;      // as the file spells them
};

int refuse(std::string* why, std::string text) {
  *why = std::move(text);
  return -1;
}

int refuse(Failure* failure, std::string text) {
  *failure = Failure{std::move(text)};
  return -1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view field(const PlanHeader& header, const CsvRecord& record, Column column) {
  const int at = header.at[column];
  if (at < 0 || static_cast<std::size_t>(at) >= record.fields.size()) return {};
  return record.fields[static_cast<std::size_t>(at)];
}

// A value as a message may repeat it: short, and with no control character
// that could move a terminal's cursor.
std::string shown(std::string_view value) {
  std::string text;
  for (char c : value.substr(0, SHOWN_VALUE_BYTES)) {
    text.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c);
  }
  if (value.size() > SHOWN_VALUE_BYTES) text += "...";
  return text;
}

std::string fault(const PlanHeader& header, Column column, std::string_view value, std::string_view what) {
  return header.names[static_cast<std::size_t>(header.at[column])] + " '" + shown(value) + "' " + std::string(what);
}

bool is_skipped(const CsvRecord& record) {
  if (!record.fields.empty() && record.fields[0].starts_with('#')) return true;
  for (const std::string& text : record.fields) {
    if (!text.empty()) return false;
  }
  return true;
}

int read_header(const CsvRecord& record, PlanHeader* header) {
  // CHIRP's own test (generic_csv.py, match_model) is a file that starts
  // with "Location,"; a plain plan may have a location column of its own,
  // but then has a label column too.
  bool has_label = false;
  for (const std::string& name : record.fields) has_label |= same_name(name, "label");
  const bool chirp = !record.fields.empty() && same_name(record.fields[0], "Location") && !has_label;
  header->format = chirp ? ChannelPlanFormat::CHIRP : ChannelPlanFormat::PLAIN;
  header->names = record.fields;
  header->at.fill(-1);
  for (const ColumnName& name : COLUMN_NAMES) {
    const char* wanted = chirp ? name.chirp : name.plain;
    for (std::size_t i = 0; wanted != nullptr && i < record.fields.size() && header->at[name.column] < 0; ++i) {
      if (same_name(record.fields[i], wanted)) header->at[name.column] = static_cast<int>(i);
    }
  }
  return header->at[FREQUENCY] >= 0 && (chirp || header->at[LABEL] >= 0) ? 0 : -1;
}

// Labels end up in JSON records and file names: the JSON writer refuses
// text that is not UTF-8, and a terminal obeys control characters. The C
// library's converter is the UTF-8 check: converting UTF-8 to itself stops
// at the first malformed, overlong or surrogate sequence.
struct IconvClose {
  void operator()(void* converter) const { iconv_close(static_cast<iconv_t>(converter)); }
};

bool is_utf8(std::string_view text) {
  iconv_t converter = iconv_open("UTF-8", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  const std::unique_ptr<void, IconvClose> owner(converter);
  std::string input(text);
  std::string output(text.size(), '\0');
  char* in_at = input.data();
  char* out_at = output.data();
  std::size_t in_left = input.size();
  std::size_t out_left = output.size();
  return iconv(converter, &in_at, &in_left, &out_at, &out_left) != static_cast<std::size_t>(-1) && in_left == 0;
}

bool has_control_character(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (byte < 0x20 || byte == 0x7F || c1) return true;
  }
  return false;
}

int read_label(const PlanHeader& header, const CsvRecord& record, ChannelRow* row, std::string* why) {
  if (header.at[LABEL] < 0) return 0;
  const std::string_view text = field(header, record, LABEL);
  if (header.format == ChannelPlanFormat::PLAIN && text.empty()) {
    return refuse(why, fault(header, LABEL, text, "is empty"));
  }
  if (text.size() > MAX_CHANNEL_LABEL_BYTES) {
    return refuse(why,
                  fault(header, LABEL, text, "is longer than " + std::to_string(MAX_CHANNEL_LABEL_BYTES) + " bytes"));
  }
  if (!is_utf8(text)) return refuse(why, fault(header, LABEL, text, "is not UTF-8 text"));
  if (has_control_character(text)) return refuse(why, fault(header, LABEL, text, "holds a control character"));
  row->label = text;
  return 0;
}

// CHIRP writes MHz with six decimals ("146.520000"); its parse_freq also
// reads "146.52 MHz" and "146520 kHz". The number goes through the strict
// option parser with its multiplier, so that it rounds as written.
int chirp_frequency(std::string_view text, double* hz) {
  std::string number(text);
  const char* multiplier = "M";
  if (number.ends_with(" MHz")) number.resize(number.size() - 4);
  if (number.ends_with(" kHz")) {
    number.resize(number.size() - 4);
    multiplier = "k";
  }
  if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos) return -1;
  return parse_frequency_option((number + multiplier).c_str(), 1.0, MAX_CHANNEL_HZ, hz);
}

int read_frequency(const PlanHeader& header, const CsvRecord& record, ChannelRow* row, std::string* why) {
  const std::string_view text = field(header, record, FREQUENCY);
  const int parsed = header.format == ChannelPlanFormat::CHIRP
                         ? chirp_frequency(text, &row->frequency_hz)
                         : parse_frequency_option(std::string(text).c_str(), 1.0, MAX_CHANNEL_HZ, &row->frequency_hz);
  if (parsed != 0) return refuse(why, fault(header, FREQUENCY, text, "is not a frequency"));
  return 0;
}

int missing_column(const PlanHeader& header, const CsvRecord& record, Column column, std::string* why) {
  return refuse(
      why, "Tone '" + shown(field(header, record, TONE_MODE)) + "' needs a " + COLUMN_NAMES[column].chirp + " column");
}

int read_ctcss(const PlanHeader& header, const CsvRecord& record, Column column, Tone* tone, std::string* why) {
  if (header.at[column] < 0) return missing_column(header, record, column, why);
  const std::string_view text = field(header, record, column);
  if (parse_tone(text, tone) != 0 || tone->kind != ToneKind::CTCSS) {
    return refuse(why, fault(header, column, text, "is not a standard CTCSS tone"));
  }
  return 0;
}

int read_dcs(const PlanHeader& header, const CsvRecord& record, Column column, Tone* tone, std::string* why) {
  if (header.at[column] < 0) return missing_column(header, record, column, why);
  const std::string_view polarity = header.at[DTCS_POLARITY] < 0 ? "NN" : field(header, record, DTCS_POLARITY);
  if (polarity.size() != 2 || polarity.find_first_not_of("NR") != std::string_view::npos) {
    return refuse(why, fault(header, DTCS_POLARITY, polarity, "is not a DTCS polarity (NN, NR, RN or RR)"));
  }
  // CHIRP writes codes as three digits ("023"); older files may drop the
  // leading zeros.
  const std::string_view code = field(header, record, column);
  const bool digits = !code.empty() && code.size() <= 3 && code.find_first_not_of("0123456789") == std::string::npos;
  const std::string name = "D" + std::string(3 - std::min<std::size_t>(code.size(), 3), '0') + std::string(code) +
                           (polarity[1] == 'R' ? "I" : "N");
  if (!digits || parse_tone(name, tone) != 0) {
    return refuse(why, fault(header, column, code, "is not a standard DCS code"));
  }
  return 0;
}

// The receive half of a CrossMode value, "" for carrier squelch.
int cross_receive(const PlanHeader& header, const CsvRecord& record, std::string_view* receive, std::string* why) {
  const std::string_view mode =
      header.at[CROSS_MODE] < 0 ? CHIRP_DEFAULT_CROSS_MODE : field(header, record, CROSS_MODE);
  for (std::string_view known : CHIRP_CROSS_MODES) {
    if (mode == known) {
      *receive = mode.substr(mode.find("->") + 2);
      return 0;
    }
  }
  return refuse(why, fault(header, CROSS_MODE, mode, "is not a CHIRP cross mode"));
}

int read_chirp_tone(const PlanHeader& header, const CsvRecord& record, ChannelRow* row, std::string* why) {
  const std::string_view mode = field(header, record, TONE_MODE);
  const ChirpToneMode* found = nullptr;
  for (const ChirpToneMode& known : CHIRP_TONE_MODES) {
    if (mode == known.name) found = &known;
  }
  if (found == nullptr) return refuse(why, fault(header, TONE_MODE, mode, "is not a CHIRP tone mode"));
  // As CHIRP's _clean_tmode: a file with one of the two tone columns uses it
  // for both.
  const Column c_tone = header.at[C_TONE] < 0 && header.at[R_TONE] >= 0 ? R_TONE : C_TONE;
  const Column rx_dtcs = header.at[RX_DTCS_CODE] < 0 ? DTCS_CODE : RX_DTCS_CODE;
  row->tone = Tone{};
  switch (found->squelch) {
    case ReceiveSquelch::CARRIER: return 0;
    case ReceiveSquelch::C_TONE: return read_ctcss(header, record, c_tone, &row->tone, why);
    case ReceiveSquelch::DTCS: return read_dcs(header, record, DTCS_CODE, &row->tone, why);
    case ReceiveSquelch::CROSS: break;
  }
  std::string_view receive;
  if (cross_receive(header, record, &receive, why) != 0) return -1;
  if (receive == "Tone") return read_ctcss(header, record, c_tone, &row->tone, why);
  if (receive == "DTCS") return read_dcs(header, record, rx_dtcs, &row->tone, why);
  return 0;
}

int read_plain_tone(const PlanHeader& header, const CsvRecord& record, ChannelRow* row, std::string* why) {
  const std::string_view text = field(header, record, TONE);
  row->tone = Tone{};
  if (text.empty() || parse_tone(text, &row->tone) == 0) return 0;
  return refuse(why, fault(header, TONE, text, "is not a standard CTCSS tone or DCS code"));
}

int read_row(const PlanHeader& header, const CsvRecord& record, ChannelRow* row, std::string* why) {
  row->line = record.line;
  if (read_frequency(header, record, row, why) != 0 || read_label(header, record, row, why) != 0) return -1;
  return header.format == ChannelPlanFormat::CHIRP ? read_chirp_tone(header, record, row, why)
                                                   : read_plain_tone(header, record, row, why);
}

std::string located(std::string_view file_name, int line, std::string_view what) {
  return std::string(file_name) + ":" + std::to_string(line) + ": " + std::string(what);
}

int read_records(std::string_view text, std::string_view file_name, std::vector<CsvRecord>* records, Failure* failure) {
  if (text.size() > MAX_CHANNEL_PLAN_BYTES) {
    *failure = Failure{std::string(file_name) + ": " + std::to_string(text.size()) +
                       " bytes is more than a channel plan (" + std::to_string(MAX_CHANNEL_PLAN_BYTES) + " at most)"};
    return -1;
  }
  const CsvLimits limits{MAX_CHANNEL_PLAN_ROWS, MAX_CHANNEL_PLAN_COLUMNS, MAX_CHANNEL_PLAN_FIELD_BYTES};
  CsvFault csv_fault;
  if (split_csv_records(text, limits, records, &csv_fault) != 0) {
    *failure = Failure{located(file_name, csv_fault.line, csv_fault.what)};
    return -1;
  }
  return 0;
}

}  // namespace

int parse_channel_plan(std::string_view text, std::string_view file_name, ChannelPlan* plan, Failure* failure) {
  std::vector<CsvRecord> records;
  if (read_records(text, file_name, &records, failure) != 0) return -1;
  std::size_t next = 0;
  while (next < records.size() && is_skipped(records[next])) ++next;
  if (next == records.size()) return refuse(failure, std::string(file_name) + ": no header row and no channels");
  PlanHeader header;
  if (read_header(records[next], &header) != 0) {
    *failure = Failure{
        located(file_name, records[next].line,
                "the header names neither frequency,label[,tone] nor a CHIRP export's Location,Name,Frequency")};
    return -1;
  }
  ChannelPlan parsed{header.format, {}};
  std::set<std::tuple<double, std::string, std::string>> seen;
  for (++next; next < records.size(); ++next) {
    if (is_skipped(records[next])) continue;
    ChannelRow row;
    std::string why;
    if (read_row(header, records[next], &row, &why) != 0) return refuse(failure, located(file_name, row.line, why));
    if (seen.emplace(row.frequency_hz, row.label, tone_name(row.tone)).second) parsed.rows.push_back(std::move(row));
  }
  if (parsed.rows.empty()) return refuse(failure, std::string(file_name) + ": no channels after the header");
  *plan = std::move(parsed);
  return 0;
}

}  // namespace kdsp
