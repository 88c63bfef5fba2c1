#include "radio/meta/name_template.h"

#include <cstdio>

namespace kdsp {

namespace {

struct TokenName {
  const char* name;
  NameToken token;
};

constexpr TokenName NAME_TOKENS[] = {
    {"freq", NameToken::FREQ},   {"freq_mhz", NameToken::FREQ_MHZ},   {"offset", NameToken::OFFSET},
    {"start", NameToken::START}, {"start_utc", NameToken::START_UTC}, {"date", NameToken::DATE},
    {"label", NameToken::LABEL}, {"tone", NameToken::TONE},           {"n", NameToken::NUMBER},
};

std::string known_tokens() {
  std::string list;
  for (const TokenName& known : NAME_TOKENS) list += (list.empty() ? "{" : ", {") + std::string(known.name) + "}";
  return list;
}

int refuse(Failure* failure, std::string text) {
  *failure = Failure{std::move(text)};
  return -1;
}

int read_token(std::string_view name, NamePiece* piece, Failure* failure) {
  for (const TokenName& known : NAME_TOKENS) {
    if (name == known.name) {
      *piece = NamePiece{known.token, {}};
      return 0;
    }
  }
  return refuse(failure,
                "unknown token {" + std::string(name) + "} in the name template; the tokens are " + known_tokens());
}

// A folder break ends a component: it must not be the first, follow another
// break or end the template, and the component it ends must not be "." or
// ".." written out.
int check_component(const std::vector<NamePiece>& pieces, std::size_t first, Failure* failure) {
  if (first == pieces.size()) return refuse(failure, "the name template has an empty folder or file name around a '/'");
  if (pieces.size() - first == 1 && pieces[first].token == NameToken::TEXT &&
      (pieces[first].text == "." || pieces[first].text == "..")) {
    return refuse(failure,
                  "the name template has a '" + pieces[first].text + "' folder: names stay inside the output folder");
  }
  return 0;
}

void append_text(std::vector<NamePiece>* pieces, char c) {
  if (pieces->empty() || pieces->back().token != NameToken::TEXT) pieces->push_back(NamePiece{});
  pieces->back().text.push_back(c);
}

// A token's value may hold anything; it never makes a folder.
std::string token_value(NameToken token, const NameFields& fields) {
  char text[48] = "";
  switch (token) {
    case NameToken::FREQ: std::snprintf(text, sizeof text, "%.0f", *fields.frequency_hz); break;
    case NameToken::FREQ_MHZ: std::snprintf(text, sizeof text, "%.6f", *fields.frequency_hz / 1e6); break;
    case NameToken::OFFSET: std::snprintf(text, sizeof text, "%+.0f", fields.offset_hz); break;
    case NameToken::START: std::snprintf(text, sizeof text, "%.3f", fields.start_s); break;
    case NameToken::START_UTC: return utc_time_file_name(*fields.start_utc);
    case NameToken::DATE: return utc_date(*fields.start_utc);
    case NameToken::LABEL: return fields.label;
    case NameToken::TONE: return tone_name(fields.tone);
    case NameToken::NUMBER: return std::to_string(fields.number);
    case NameToken::TEXT:
    case NameToken::FOLDER: break;
  }
  return text;
}

bool is_refused_byte(unsigned char c) {
  return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
         c == '>' || c == '|';
}

// Makes one folder or file name safe on every common file system.
std::string safe_component(std::string name) {
  for (char& c : name) {
    if (is_refused_byte(static_cast<unsigned char>(c))) c = '_';
  }
  const bool only_dots = name.find_first_not_of('.') == std::string::npos;  // also the empty name
  if (only_dots || name.front() == '-') name.insert(0, "_");
  if (name.size() > MAX_NAME_COMPONENT_BYTES) {
    std::size_t cut = MAX_NAME_COMPONENT_BYTES;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return name;
}

}  // namespace

int parse_name_template(std::string_view text, NameTemplate* name_template, Failure* failure) {
  if (text.empty()) return refuse(failure, "the name template is empty");
  if (text.size() > MAX_NAME_TEMPLATE_BYTES) {
    return refuse(failure, "the name template is longer than " + std::to_string(MAX_NAME_TEMPLATE_BYTES) + " bytes");
  }
  if (text.front() == '/') {
    return refuse(failure, "the name template is an absolute path: names stay inside the output folder");
  }
  std::vector<NamePiece> pieces;
  std::size_t component = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '{') {
      const std::size_t close = text.find('}', at);
      if (close == std::string_view::npos) return refuse(failure, "a '{' without its '}' in the name template");
      NamePiece piece;
      if (read_token(text.substr(at + 1, close - at - 1), &piece, failure) != 0) return -1;
      pieces.push_back(piece);
      at = close;
    } else if (text[at] == '}') {
      return refuse(failure, "a '}' without its '{' in the name template");
    } else if (text[at] == '/') {
      if (check_component(pieces, component, failure) != 0) return -1;
      pieces.push_back(NamePiece{NameToken::FOLDER, {}});
      component = pieces.size();
    } else {
      append_text(&pieces, text[at]);
    }
  }
  if (check_component(pieces, component, failure) != 0) return -1;
  name_template->pieces = std::move(pieces);
  return 0;
}

std::string default_name_template(bool has_centre, bool has_start_time) {
  return std::string(has_centre ? "{freq}" : "{offset}") + "Hz_" + (has_start_time ? "{start_utc}" : "{start}s");
}

NameNeeds name_template_needs(const NameTemplate& name_template) {
  NameNeeds needs;
  for (const NamePiece& piece : name_template.pieces) {
    needs.centre |= piece.token == NameToken::FREQ || piece.token == NameToken::FREQ_MHZ;
    needs.start_time |= piece.token == NameToken::START_UTC || piece.token == NameToken::DATE;
  }
  return needs;
}

int expand_name_template(const NameTemplate& name_template, const NameFields& fields, std::string* path,
                         Failure* failure) {
  const NameNeeds needs = name_template_needs(name_template);
  if (needs.centre && !fields.frequency_hz) {
    return refuse(failure, "{freq} and {freq_mhz} need the recording's centre frequency; {offset} does without");
  }
  if (needs.start_time && !fields.start_utc) {
    return refuse(failure, "{start_utc} and {date} need the recording's start time; {start} does without");
  }
  std::string expanded;
  std::string component;
  for (const NamePiece& piece : name_template.pieces) {
    if (piece.token == NameToken::FOLDER) {
      expanded += safe_component(std::move(component)) + "/";
      component.clear();
    } else {
      component += piece.token == NameToken::TEXT ? piece.text : token_value(piece.token, fields);
    }
  }
  *path = expanded + safe_component(std::move(component));
  return 0;
}

}  // namespace kdsp
