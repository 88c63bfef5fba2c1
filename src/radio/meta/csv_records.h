// Comma-separated records as spreadsheets, CHIRP and people write them
// (RFC 4180): quoted fields with "" for a quote and line ends inside, CRLF,
// LF or CR line ends, a UTF-8 byte order mark, blank lines, spaces around
// fields. Each record keeps the line it starts on, for messages; limits on
// records, fields and field length keep a hostile file from costing more
// than its size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kdsp {

struct CsvRecord {
  std::vector<std::string> fields;  // unquoted, spaces around unquoted text trimmed
  int line = 0;                     // 1-based line the record starts on
};

struct CsvLimits {
  std::size_t max_records = 0;
  std::size_t max_fields = 0;       // per record
  std::size_t max_field_bytes = 0;  // per field, after unquoting
};

// Where and why a text is not CSV.
struct CsvFault {
  int line = 0;
  std::string what;
};

// Splits `text` into records, blank lines left out. 0 with `*records`
// filled, or -1 with `*fault` naming the line: a NUL byte, a quote inside an
// unquoted field, text after a closing quote, a quoted field that never
// ends, or a limit passed.
int split_csv_records(std::string_view text, const CsvLimits& limits, std::vector<CsvRecord>* records, CsvFault* fault);

}  // namespace kdsp
