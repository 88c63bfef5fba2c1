#include "radio/meta/csv_records.h"

namespace kdsp {

namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

struct CsvText {
  std::string_view text;
  const CsvLimits* limits = nullptr;
  std::size_t at = 0;
  int line = 1;

  bool done() const { return at >= text.size(); }
  char peek() const { return done() ? '\0' : text[at]; }
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\n' || c == '\r'; }

int fail(CsvFault* fault, int line, std::string what) {
  *fault = CsvFault{line, std::move(what)};
  return -1;
}

// Consumes "\r\n", "\n" or "\r" and counts the line.
void take_line_end(CsvText* in) {
  if (in->peek() == '\r') ++in->at;
  if (in->peek() == '\n') ++in->at;
  ++in->line;
}

void skip_blanks(CsvText* in) {
  while (!in->done() && is_blank(in->peek())) ++in->at;
}

int append_byte(CsvText* in, char c, std::string* field, CsvFault* fault) {
  if (c == '\0') return fail(fault, in->line, "a NUL byte: this is not a text file");
  if (field->size() >= in->limits->max_field_bytes) {
    return fail(fault, in->line, "a field longer than " + std::to_string(in->limits->max_field_bytes) + " bytes");
  }
  field->push_back(c);
  return 0;
}

int read_quoted(CsvText* in, std::string* field, CsvFault* fault) {
  const int first_line = in->line;
  ++in->at;  // the opening quote
  for (;;) {
    if (in->done()) return fail(fault, first_line, "a quoted field that never ends");
    const char c = in->peek();
    if (c == '"' && in->at + 1 < in->text.size() && in->text[in->at + 1] == '"') {
      in->at += 2;
      if (append_byte(in, '"', field, fault) != 0) return -1;
    } else if (c == '"') {
      ++in->at;
      break;
    } else if (is_line_end(c)) {
      take_line_end(in);
      if (append_byte(in, '\n', field, fault) != 0) return -1;
    } else {
      ++in->at;
      if (append_byte(in, c, field, fault) != 0) return -1;
    }
  }
  skip_blanks(in);
  if (!in->done() && in->peek() != ',' && !is_line_end(in->peek())) {
    return fail(fault, in->line, "text after the closing quote of a field");
  }
  return 0;
}

int read_unquoted(CsvText* in, std::string* field, CsvFault* fault) {
  while (!in->done() && in->peek() != ',' && !is_line_end(in->peek())) {
    const char c = in->text[in->at++];
    if (c == '"') {
      return fail(fault, in->line, "a quote inside an unquoted field (quote the whole field and double the quote)");
    }
    if (append_byte(in, c, field, fault) != 0) return -1;
  }
  while (!field->empty() && is_blank(field->back())) field->pop_back();
  return 0;
}

int read_record(CsvText* in, CsvRecord* record, CsvFault* fault) {
  record->line = in->line;
  for (;;) {
    skip_blanks(in);
    std::string field;
    const int read = in->peek() == '"' ? read_quoted(in, &field, fault) : read_unquoted(in, &field, fault);
    if (read != 0) return -1;
    if (record->fields.size() >= in->limits->max_fields) {
      return fail(fault, record->line, "more than " + std::to_string(in->limits->max_fields) + " fields");
    }
    record->fields.push_back(std::move(field));
    if (in->peek() != ',') break;
    ++in->at;
  }
  if (!in->done()) take_line_end(in);
  return 0;
}

}  // namespace

int split_csv_records(std::string_view text, const CsvLimits& limits, std::vector<CsvRecord>* records,
                      CsvFault* fault) {
  CsvText in{text, &limits};
  if (text.starts_with(UTF8_BOM)) in.at = UTF8_BOM.size();
  std::vector<CsvRecord> read;
  while (!in.done()) {
    if (is_line_end(in.peek())) {
      take_line_end(&in);
      continue;
    }
    if (read.size() >= limits.max_records) {
      return fail(fault, in.line, "more than " + std::to_string(limits.max_records) + " rows");
    }
    CsvRecord record;
    if (read_record(&in, &record, fault) != 0) return -1;
    read.push_back(std::move(record));
  }
  *records = std::move(read);
  return 0;
}

}  // namespace kdsp
