#include "radio/io/sigmf_meta.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>

#include "radio/io/channel_width.h"

namespace kdsp {

namespace {

using Json = nlohmann::json;

// A number field that must be finite and positive when present.
// A number field, when present, must be finite and within [low, high];
// a refusal names the field and what it may be.
int number_within(const Json& object, const char* key, double low, double high, const char* expected, double* value,
                  bool* present, Failure* failure) {
  if (!object.contains(key)) return 0;
  const Json& field = object[key];
  if (!field.is_number() || !std::isfinite(field.get<double>()) || field.get<double>() < low ||
      field.get<double>() > high) {
    *failure = Failure{std::string(key) + " is " + field.dump() + ", not " + expected};
    return -1;
  }
  *value = field.get<double>();
  if (present != nullptr) *present = true;
  return 0;
}

int read_global(const Json& global, SigmfMeta* meta, Failure* failure) {
  if (!global.is_object()) {
    *failure = Failure{"it has no \"global\" object"};
    return -1;
  }
  if (!global.contains("core:datatype") || !global["core:datatype"].is_string()) {
    *failure = Failure{"it gives no core:datatype"};
    return -1;
  }
  const std::string datatype = global["core:datatype"].get<std::string>();
  if (parse_sigmf_datatype(datatype, &meta->format) != 0) {
    *failure = Failure{"its datatype \"" + datatype +
                       "\" is not supported (kdsp reads complex cu8, ci8, ci16_le and cf32_le)"};
    return -1;
  }
  if (global.contains("core:num_channels") &&
      !(global["core:num_channels"].is_number_integer() && global["core:num_channels"].get<long long>() == 1)) {
    *failure = Failure{"it holds " + global["core:num_channels"].dump() + " channels; kdsp reads one"};
    return -1;
  }
  return number_within(global, "core:sample_rate", MIN_SAMPLE_RATE, MAX_SAMPLE_RATE,
                       "a rate from 1000 to 1e9 pairs per second", &meta->sample_rate, nullptr, failure);
}

int read_first_capture(const Json& document, SigmfMeta* meta, Failure* failure) {
  if (!document.contains("captures")) return 0;
  const Json& captures = document["captures"];
  if (!captures.is_array() || captures.empty() || !captures[0].is_object()) return 0;
  const Json& first = captures[0];
  if (number_within(first, "core:frequency", -MAX_FREQUENCY_HZ, MAX_FREQUENCY_HZ, "a frequency within 1e12 Hz of 0",
                    &meta->centre_hz, &meta->has_centre, failure) != 0) {
    return -1;
  }
  if (first.contains("core:sample_start")) {
    const Json& start = first["core:sample_start"];
    if (!start.is_number_unsigned() && !(start.is_number_integer() && start.get<long long>() >= 0)) {
      *failure = Failure{"core:sample_start is " + start.dump() + ", not a sample index"};
      return -1;
    }
    meta->sample_start = start.get<std::uint64_t>();
  }
  if (!first.contains("core:datetime")) return 0;
  const Json& datetime = first["core:datetime"];
  UtcTime instant;
  if (!datetime.is_string() || parse_utc_time(datetime.get<std::string>(), &instant, failure) != 0) {
    *failure = Failure{"core:datetime is " + datetime.dump() + ", not a time such as \"2026-12-09T05:08:13Z\""};
    return -1;
  }
  meta->datetime = instant;
  return 0;
}

}  // namespace

int parse_sigmf_meta(std::string_view json_text, SigmfMeta* meta, Failure* failure) {
  Json document = Json::parse(json_text.begin(), json_text.end(), nullptr, false);
  if (document.is_discarded() || !document.is_object()) {
    *failure = Failure{"it is not a JSON object"};
    return -1;
  }
  SigmfMeta parsed;
  if (read_global(document.contains("global") ? document["global"] : Json(), &parsed, failure) != 0) return -1;
  if (read_first_capture(document, &parsed, failure) != 0) return -1;
  *meta = parsed;
  return 0;
}

std::string sigmf_meta_text(const SigmfMeta& meta) {
  nlohmann::ordered_json text;
  text["global"]["core:datatype"] = sigmf_datatype_name(meta.format);
  text["global"]["core:sample_rate"] = meta.sample_rate;
  text["global"]["core:num_channels"] = 1;
  text["global"]["core:version"] = "1.0.0";
  nlohmann::ordered_json capture;
  capture["core:sample_start"] = meta.sample_start;
  if (meta.has_centre) capture["core:frequency"] = meta.centre_hz;
  if (meta.datetime) capture["core:datetime"] = utc_time_rfc3339(*meta.datetime);
  text["captures"] = nlohmann::ordered_json::array({capture});
  text["annotations"] = nlohmann::ordered_json::array();
  return text.dump(2) + "\n";
}

}  // namespace kdsp
