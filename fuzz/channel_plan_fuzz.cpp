// Any bytes as a channel plan. A plan that is read is written back as a
// plain plan and read again: both readings must name the same channels.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "radio/meta/channel_plan.h"

namespace kdsp {

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string plain_plan(const ChannelPlan& plan) {
  std::string text = "frequency,label,tone\r\n";
  char frequency[40];
  for (const ChannelRow& row : plan.rows) {
    std::snprintf(frequency, sizeof frequency, "%.17g", row.frequency_hz);
    text += std::string(frequency) + "," + quoted(row.label) + "," + tone_name(row.tone) + "\r\n";
  }
  return text;
}

void check_rows(const ChannelPlan& plan) {
  if (plan.rows.empty()) __builtin_trap();
  int line = 0;
  for (const ChannelRow& row : plan.rows) {
    if (!(row.frequency_hz >= 1.0 && row.frequency_hz <= MAX_CHANNEL_HZ)) __builtin_trap();
    if (row.label.size() > MAX_CHANNEL_LABEL_BYTES || row.line <= line) __builtin_trap();
    for (char c : row.label) {
      if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
    }
    line = row.line;
  }
}

void check_written_back(const ChannelPlan& plan) {
  for (const ChannelRow& row : plan.rows) {
    if (row.label.empty()) return;  // a plain plan needs labels; CHIRP's may be empty
  }
  ChannelPlan again;
  Failure error;
  if (parse_channel_plan(plain_plan(plan), "again.csv", &again, &error) != 0) __builtin_trap();
  if (again.rows.size() != plan.rows.size()) __builtin_trap();
  for (std::size_t i = 0; i < plan.rows.size(); ++i) {
    const ChannelRow& a = plan.rows[i];
    const ChannelRow& b = again.rows[i];
    if (a.frequency_hz != b.frequency_hz || a.label != b.label || !(a.tone == b.tone)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ChannelPlan plan;
  Failure error;
  if (parse_channel_plan(text, "fuzz.csv", &plan, &error) != 0) {
    if (!error.cause.starts_with("fuzz.csv:")) __builtin_trap();
    return 0;
  }
  check_rows(plan);
  check_written_back(plan);
  return 0;
}

}  // namespace kdsp
