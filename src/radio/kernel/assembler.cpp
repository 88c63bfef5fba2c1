#include "radio/kernel/assembler.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <optional>

#include "base/byte_order.h"
#include "formats/kernel_image.h"
#include "vm/isa.h"
#include "vm/vm_state.h"

namespace kdsp {

namespace {

// ---------------------------------------------------------------- characters
// Own ASCII tests: the <cctype> ones are undefined for negative chars, and
// arbitrary bytes reach the parser.

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_name_start(char c) { return is_letter(c) || c == '_' || c == '.'; }
bool is_name_char(char c) { return is_name_start(c) || is_digit(c); }
char to_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int hex_value(char c) {
  if (is_digit(c)) return c - '0';
  const char u = to_upper(c);
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

// A piece of one source line and the 1-based column of its first byte.
struct Span {
  std::string_view text;
  std::uint32_t column;
};

Span trim(Span s) {
  std::size_t first = 0;
  while (first < s.text.size() && is_blank(s.text[first])) ++first;
  std::size_t last = s.text.size();
  while (last > first && is_blank(s.text[last - 1])) --last;
  return Span{s.text.substr(first, last - first), s.column + static_cast<std::uint32_t>(first)};
}

Span subspan(Span s, std::size_t from, std::size_t count = std::string_view::npos) {
  return Span{s.text.substr(from, count), s.column + static_cast<std::uint32_t>(from)};
}

std::size_t name_length(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && is_name_char(text[n])) ++n;
  return n;
}

// Quoted for messages, cut short so that a long garbage token stays readable.
std::string quoted(std::string_view text) {
  constexpr std::size_t MAX_SHOWN = 40;
  if (text.size() <= MAX_SHOWN) return "'" + std::string(text) + "'";
  return "'" + std::string(text.substr(0, MAX_SHOWN)) + "...'";
}

// ------------------------------------------------------------------ numbers

constexpr std::int64_t WORD_MIN = -2147483648LL;
constexpr std::int64_t WORD_MAX = 4294967295LL;  // a .word or LI32 value may be written signed or unsigned

// Parses a whole decimal or 0x-hex number with an optional sign. Magnitudes
// above 32 bits are refused here, so later arithmetic never overflows.
std::optional<std::int64_t> parse_number(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t magnitude = 0;
  for (char c : text) {
    const int digit = base == 16 ? hex_value(c) : (is_digit(c) ? c - '0' : -1);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > WORD_MAX) return std::nullopt;
  }
  return negative ? -magnitude : magnitude;
}

bool looks_numeric(std::string_view text) {
  return !text.empty() && (is_digit(text[0]) || text[0] == '-' || text[0] == '+');
}

// -------------------------------------------------------- program structure

// CONSTANT: a definition from outside the source, a plain value.
enum class Section { TEXT, DATA, CONSTANT };

struct Symbol {
  std::int64_t value;  // word index in the code, byte address in the data
  std::uint32_t line;
  Section section;
};

// Labels by name. A generated source may hold millions of labels, so each
// costs little, about 40 bytes: its name is a view into the source text
// (which outlives the assembly), its entry sits in a deque (never copied as
// it grows), and an open-addressing table of entry numbers finds it.
struct SymbolEntry {
  std::string_view name;
  Symbol symbol;
};

struct SymbolTable {
  std::deque<SymbolEntry> entries;
  std::vector<std::uint32_t> slots;  // 1 + an entry's index, 0 when free; a power-of-two count, at most half used
};

constexpr std::size_t MIN_SYMBOL_SLOTS = 64;

std::size_t name_hash(std::string_view name) { return std::hash<std::string_view>{}(name); }

void place_entry(std::vector<std::uint32_t>& slots, std::size_t hash, std::uint32_t slot) {
  const std::size_t mask = slots.size() - 1;
  std::size_t i = hash & mask;
  while (slots[i] != 0) i = (i + 1) & mask;
  slots[i] = slot;
}

const Symbol* find_symbol(const SymbolTable& table, std::string_view name) {
  if (table.slots.empty()) return nullptr;
  const std::size_t mask = table.slots.size() - 1;
  for (std::size_t i = name_hash(name) & mask; table.slots[i] != 0; i = (i + 1) & mask) {
    const SymbolEntry& entry = table.entries[table.slots[i] - 1];
    if (entry.name == name) return &entry.symbol;
  }
  return nullptr;
}

// Adds a name that is not in the table yet. A label takes at least two bytes
// of source ("a:"), so the entry numbers fit 32 bits for any source below 8 GB.
void add_symbol(SymbolTable& table, std::string_view name, const Symbol& symbol) {
  if (2 * (table.entries.size() + 1) > table.slots.size()) {
    std::vector<std::uint32_t> slots(std::max(MIN_SYMBOL_SLOTS, 2 * table.slots.size()), 0);
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
      place_entry(slots, name_hash(table.entries[i].name), static_cast<std::uint32_t>(i + 1));
    }
    table.slots = std::move(slots);
  }
  table.entries.push_back(SymbolEntry{name, symbol});
  place_entry(table.slots, name_hash(name), static_cast<std::uint32_t>(table.entries.size()));
}

// A number, a label, or a label plus or minus a number.
struct ValueExpr {
  std::string label;  // empty for a plain number
  std::int64_t addend = 0;
};

enum class OperandKind { REGISTER, VALUE, MEMORY };

struct Operand {
  OperandKind kind;
  std::uint8_t reg = 0;  // the register, or the base of MEMORY
  ValueExpr value;       // the value, or the offset of MEMORY
  std::uint32_t column;
};

enum class StatementKind {
  INSTRUCTION,    // one word from the instruction set
  LOAD_CONSTANT,  // LI32: LUI + ADDI
  CODE_WORDS,     // .word in the code: raw instruction words
  DATA_WORDS,     // .word in the data
  DATA_BYTES,     // .byte
  ENTRY,          // .entry
};

struct Statement {
  StatementKind kind;
  const InstructionInfo* info;  // INSTRUCTION only
  std::vector<Operand> operands;
  std::uint32_t line;
  std::uint32_t column;   // of the mnemonic or directive
  std::uint32_t address;  // first code word or data byte
};

struct Assembly {
  std::vector<AsmDiagnostic> diagnostics;
  SymbolTable symbols;
  std::vector<Statement> statements;
  Section section = Section::TEXT;
  std::uint64_t code_words = 0;
  std::uint64_t data_bytes = 0;
  bool code_overflow = false;
  bool data_overflow = false;
  std::uint32_t entry_line = 0;  // 0: no .entry yet
  std::vector<std::uint32_t> code;
  std::vector<std::uint8_t> data;
};

void report(Assembly& as, std::uint32_t line, std::uint32_t column, std::string message) {
  if (as.diagnostics.size() > ASM_MAX_DIAGNOSTICS) return;
  if (as.diagnostics.size() == ASM_MAX_DIAGNOSTICS) message = "too many errors; giving up";
  as.diagnostics.push_back(AsmDiagnostic{line, column, std::move(message)});
}

// ------------------------------------------------------------ operand forms

// LI32 is no row of the instruction set: it assembles to LUI then ADDI.
constexpr const char* LOAD_CONSTANT_MNEMONIC = "LI32";

struct FormSyntax {
  std::vector<OperandKind> kinds;
  const char* shape;  // for operand count messages
};

FormSyntax form_syntax(OperandForm form) {
  using K = OperandKind;
  switch (form) {
    case OperandForm::NONE: return {{}, "no operands"};
    case OperandForm::RD_IMM20: return {{K::REGISTER, K::VALUE}, "rd, imm20"};
    case OperandForm::RD_RA_IMM16: return {{K::REGISTER, K::REGISTER, K::VALUE}, "rd, ra, imm16"};
    case OperandForm::RD_MEM: return {{K::REGISTER, K::MEMORY}, "rd, imm16(ra)"};
    case OperandForm::RD_RA_RB: return {{K::REGISTER, K::REGISTER, K::REGISTER}, "rd, ra, rb"};
    case OperandForm::RD_RA_SHIFT: return {{K::REGISTER, K::REGISTER, K::VALUE}, "rd, ra, count"};
    case OperandForm::RD_BRANCH: return {{K::REGISTER, K::VALUE}, "rd, target"};
    case OperandForm::BRANCH: return {{K::VALUE}, "target"};
    case OperandForm::RD: return {{K::REGISTER}, "rd"};
  }
  return {{}, "no operands"};
}

// --------------------------------------------------------- operand parsing

// "r0".."r15" (either case). Returns false when the text is not shaped like a
// register at all; a register-shaped name beyond r15 is reported and taken.
bool parse_register(Assembly& as, std::uint32_t line, Span s, std::uint8_t* reg, bool* ok) {
  const std::string_view t = s.text;
  if (t.size() < 2 || (t[0] != 'r' && t[0] != 'R')) return false;
  std::uint32_t number = 0;
  for (char c : t.substr(1)) {
    if (!is_digit(c)) return false;
    number = std::min<std::uint32_t>(number * 10 + static_cast<std::uint32_t>(c - '0'), 1000);
  }
  if (number >= REGISTER_COUNT) {
    report(as, line, s.column, "register " + quoted(t) + " out of range (r0..r15)");
    *ok = false;
    return true;
  }
  *reg = static_cast<std::uint8_t>(number);
  *ok = true;
  return true;
}

bool is_register_name(std::string_view text) {
  if (text.size() < 2 || (text[0] != 'r' && text[0] != 'R')) return false;
  return std::all_of(text.begin() + 1, text.end(), is_digit);
}

// A number, or a label optionally followed by + or - and a number.
bool parse_value(Assembly& as, std::uint32_t line, Span s, ValueExpr* value) {
  if (looks_numeric(s.text)) {
    const std::optional<std::int64_t> number = parse_number(s.text);
    if (!number) {
      report(as, line, s.column, "bad number " + quoted(s.text) + " (decimal or 0x-hex, at most 32 bits)");
      return false;
    }
    *value = ValueExpr{"", *number};
    return true;
  }
  if (s.text.empty() || !is_name_start(s.text[0])) {
    report(as, line, s.column, "expected a number or a label, found " + quoted(s.text));
    return false;
  }
  const std::size_t length = name_length(s.text);
  ValueExpr result{std::string(s.text.substr(0, length)), 0};
  const Span rest = trim(subspan(s, length));
  if (!rest.text.empty()) {
    const std::optional<std::int64_t> addend =
        (rest.text[0] == '+' || rest.text[0] == '-') ? parse_number(trim(subspan(rest, 1)).text) : std::nullopt;
    if (!addend) {
      report(as, line, rest.column, "expected '+ number' or '- number' after a label, found " + quoted(rest.text));
      return false;
    }
    result.addend = rest.text[0] == '-' ? -*addend : *addend;
  }
  *value = std::move(result);
  return true;
}

bool parse_operand(Assembly& as, std::uint32_t line, Span s, Operand* operand) {
  operand->column = s.column;
  if (!s.text.empty() && s.text.back() == ')') {
    const std::size_t open = s.text.rfind('(');
    if (open == std::string_view::npos) {
      report(as, line, s.column, "unbalanced ')' in " + quoted(s.text));
      return false;
    }
    operand->kind = OperandKind::MEMORY;
    const Span base = trim(subspan(s, open + 1, s.text.size() - open - 2));
    bool ok = false;
    if (!parse_register(as, line, base, &operand->reg, &ok)) {
      report(as, line, base.column, "expected a base register in imm16(ra), found " + quoted(base.text));
      return false;
    }
    if (!ok) return false;
    const Span offset = trim(subspan(s, 0, open));
    if (offset.text.empty()) return true;  // "(ra)" is "0(ra)"
    return parse_value(as, line, offset, &operand->value);
  }
  bool ok = false;
  if (parse_register(as, line, s, &operand->reg, &ok)) {
    operand->kind = OperandKind::REGISTER;
    return ok;
  }
  operand->kind = OperandKind::VALUE;
  return parse_value(as, line, s, &operand->value);
}

const char* kind_expectation(OperandKind kind) {
  switch (kind) {
    case OperandKind::REGISTER: return "expected a register (r0..r15), found ";
    case OperandKind::VALUE: return "expected a number or a label, found ";
    case OperandKind::MEMORY: return "expected imm16(ra), found ";
  }
  return "unexpected operand ";
}

// Splits at commas; an empty piece is an error of its own.
std::vector<Span> split_operands(Assembly& as, std::uint32_t line, Span rest, bool* ok) {
  std::vector<Span> pieces;
  *ok = true;
  if (trim(rest).text.empty()) return pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = rest.text.find(',', start);
    const Span piece =
        trim(subspan(rest, start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (piece.text.empty()) {
      report(as, line, piece.column, "empty operand");
      *ok = false;
    }
    pieces.push_back(piece);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return pieces;
}

// Parses the operands and checks their number and kinds against `kinds`
// (an empty `kinds` with any_count accepts one or more values).
bool parse_operands(Assembly& as, std::uint32_t line, const char* name, std::uint32_t name_column, Span rest,
                    const std::vector<OperandKind>& kinds, const char* shape, bool any_count,
                    std::vector<Operand>* operands) {
  bool ok = true;
  const std::vector<Span> pieces = split_operands(as, line, rest, &ok);
  if (!ok) return false;
  if (any_count ? pieces.empty() : pieces.size() != kinds.size()) {
    report(as, line, name_column,
           std::string(name) + " takes " + (any_count ? "one or more values" : std::string(shape)) + ", got " +
               std::to_string(pieces.size()) + (pieces.size() == 1 ? " operand" : " operands"));
    return false;
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    Operand operand{};
    if (!parse_operand(as, line, pieces[i], &operand)) {
      ok = false;
      continue;
    }
    const OperandKind wanted = any_count ? OperandKind::VALUE : kinds[i];
    if (operand.kind != wanted) {
      report(as, line, pieces[i].column, kind_expectation(wanted) + quoted(pieces[i].text));
      ok = false;
      continue;
    }
    operands->push_back(std::move(operand));
  }
  return ok;
}

// ------------------------------------------------------------------ pass 1

void define_label(Assembly& as, std::uint32_t line, Span name) {
  if (name.text[0] == '.') {
    report(as, line, name.column, "a label cannot start with '.': " + quoted(name.text));
    return;
  }
  if (is_register_name(name.text)) {
    report(as, line, name.column, "a register name cannot be a label: " + quoted(name.text));
    return;
  }
  if (const Symbol* first = find_symbol(as.symbols, name.text)) {
    if (first->section == Section::CONSTANT) {
      report(as, line, name.column, "label " + quoted(name.text) + " is also given as a constant with -D");
      return;
    }
    report(as, line, name.column,
           "duplicate label " + quoted(name.text) + " (first defined on line " + std::to_string(first->line) + ")");
    return;
  }
  const bool text = as.section == Section::TEXT;
  const std::int64_t value = static_cast<std::int64_t>(text ? as.code_words : as.data_bytes);
  add_symbol(as.symbols, name.text, Symbol{value, line, as.section});
}

// Reserves `count` code words or data bytes for a statement; false (reported
// once per section) when that goes past the limit, and the statement is not
// kept: the image cannot be written anyway.
bool reserve(Assembly& as, std::uint32_t line, std::uint32_t column, std::uint64_t count, std::uint32_t* address) {
  if (as.section == Section::TEXT) {
    *address = static_cast<std::uint32_t>(std::min<std::uint64_t>(as.code_words, KERNEL_MAX_WORDS));
    as.code_words += count;
    if (as.code_words <= KERNEL_MAX_WORDS) return true;
    if (!as.code_overflow) report(as, line, column, "more than 4096 instruction words");
    as.code_overflow = true;
    return false;
  }
  *address = static_cast<std::uint32_t>(std::min<std::uint64_t>(as.data_bytes, DATA_MEMORY_SIZE));
  as.data_bytes += count;
  if (as.data_bytes <= DATA_MEMORY_SIZE) return true;
  if (!as.data_overflow) report(as, line, column, "data section larger than 1048576 bytes");
  as.data_overflow = true;
  return false;
}

// Operands of a statement that failed to parse still take their room, so
// that the labels after it keep their addresses and no false errors follow.
std::uint64_t piece_count(Span rest) {
  if (trim(rest).text.empty()) return 0;
  return static_cast<std::uint64_t>(std::count(rest.text.begin(), rest.text.end(), ',')) + 1;
}

void keep(Assembly& as, Statement statement, std::uint64_t size, bool parsed) {
  if (!reserve(as, statement.line, statement.column, size, &statement.address)) return;
  if (parsed) as.statements.push_back(std::move(statement));
}

void parse_instruction(Assembly& as, std::uint32_t line, Span head, Span rest) {
  std::string mnemonic;
  for (char c : head.text.substr(0, 16)) mnemonic.push_back(to_upper(c));
  if (as.section != Section::TEXT) {
    report(as, line, head.column, "instruction " + quoted(head.text) + " in the data section (use .text first)");
    return;
  }
  Statement statement{StatementKind::INSTRUCTION, find_mnemonic(mnemonic.c_str()), {}, line, head.column, 0};
  FormSyntax syntax;
  std::uint64_t size = 1;
  if (statement.info != nullptr) {
    syntax = form_syntax(statement.info->form);
  } else if (mnemonic == LOAD_CONSTANT_MNEMONIC) {
    statement.kind = StatementKind::LOAD_CONSTANT;
    syntax = {{OperandKind::REGISTER, OperandKind::VALUE}, "rd, imm32"};
    size = 2;
  } else {
    report(as, line, head.column, "unknown mnemonic " + quoted(head.text));
    keep(as, std::move(statement), size, false);
    return;
  }
  const bool parsed = parse_operands(as, line, mnemonic.c_str(), head.column, rest, syntax.kinds, syntax.shape, false,
                                     &statement.operands);
  keep(as, std::move(statement), size, parsed);
}

bool require_no_operands(Assembly& as, std::uint32_t line, Span head, Span rest) {
  const Span extra = trim(rest);
  if (extra.text.empty()) return true;
  report(as, line, extra.column, std::string(head.text) + " takes no operands");
  return false;
}

bool require_data_section(Assembly& as, std::uint32_t line, Span head) {
  if (as.section == Section::DATA) return true;
  report(as, line, head.column, std::string(head.text) + " belongs in the data section (use .data first)");
  return false;
}

void parse_space(Assembly& as, std::uint32_t line, Span head, Span rest) {
  std::vector<Operand> operands;
  const bool parsed =
      parse_operands(as, line, ".space", head.column, rest, {OperandKind::VALUE}, "a byte count", false, &operands);
  if (!parsed) return;
  const ValueExpr& count = operands[0].value;
  if (!count.label.empty() || count.addend < 0) {
    report(as, line, operands[0].column, ".space takes a byte count (a number, 0 or more)");
    return;
  }
  std::uint32_t address = 0;
  reserve(as, line, head.column, static_cast<std::uint64_t>(count.addend), &address);  // the room stays zero
}

void parse_entry(Assembly& as, std::uint32_t line, Span head, Span rest) {
  if (as.entry_line != 0) {
    report(as, line, head.column, "duplicate .entry (first on line " + std::to_string(as.entry_line) + ")");
    return;
  }
  as.entry_line = line;
  Statement statement{StatementKind::ENTRY, nullptr, {}, line, head.column, 0};
  if (parse_operands(as, line, ".entry", head.column, rest, {OperandKind::VALUE}, "a code label or word index", false,
                     &statement.operands)) {
    as.statements.push_back(std::move(statement));
  }
}

void parse_directive(Assembly& as, std::uint32_t line, Span head, Span rest) {
  const std::string_view name = head.text;
  if (name == ".text" || name == ".data") {
    if (require_no_operands(as, line, head, rest)) as.section = name == ".text" ? Section::TEXT : Section::DATA;
  } else if (name == ".entry") {
    parse_entry(as, line, head, rest);
  } else if (name == ".word") {
    const bool text = as.section == Section::TEXT;
    Statement statement{
        text ? StatementKind::CODE_WORDS : StatementKind::DATA_WORDS, nullptr, {}, line, head.column, 0};
    const bool parsed = parse_operands(as, line, ".word", head.column, rest, {}, "", true, &statement.operands);
    keep(as, std::move(statement), piece_count(rest) * (text ? 1u : 4u), parsed);
  } else if (name == ".byte") {
    if (!require_data_section(as, line, head)) return;
    Statement statement{StatementKind::DATA_BYTES, nullptr, {}, line, head.column, 0};
    const bool parsed = parse_operands(as, line, ".byte", head.column, rest, {}, "", true, &statement.operands);
    keep(as, std::move(statement), piece_count(rest), parsed);
  } else if (name == ".space") {
    if (require_data_section(as, line, head)) parse_space(as, line, head, rest);
  } else {
    report(as, line, head.column, "unknown directive " + quoted(name));
  }
}

void assemble_line(Assembly& as, std::uint32_t line, Span s) {
  const std::size_t comment = s.text.find_first_of(";#");
  s = trim(subspan(s, 0, comment));
  while (!s.text.empty()) {
    if (!is_name_start(s.text[0])) {
      report(as, line, s.column, "expected a label, an instruction or a directive, found " + quoted(s.text));
      return;
    }
    const std::size_t length = name_length(s.text);
    const Span name = subspan(s, 0, length);
    const Span after = trim(subspan(s, length));
    if (!after.text.empty() && after.text[0] == ':') {
      define_label(as, line, name);
      s = trim(subspan(after, 1));
      continue;
    }
    const Span rest = subspan(s, length);
    if (name.text[0] == '.') {
      parse_directive(as, line, name, rest);
    } else {
      parse_instruction(as, line, name, rest);
    }
    return;
  }
}

// ------------------------------------------------------------------ pass 2

struct FieldRange {
  std::int64_t low;
  std::int64_t high;
  const char* description;
};

constexpr FieldRange SIGNED16{-32768, 32767, "a signed 16-bit immediate (-32768..32767)"};
constexpr FieldRange UNSIGNED20{0, 0xFFFFF, "an unsigned 20-bit immediate (0..1048575)"};
constexpr FieldRange SHIFT_COUNT{0, 31, "a shift count (0..31)"};
constexpr FieldRange WORD32{WORD_MIN, WORD_MAX, "32 bits (-2147483648..4294967295)"};
constexpr FieldRange BYTE8{-128, 255, "a byte (-128..255)"};

// The value of an operand; a label's section comes back through `section`
// (left alone for a plain number).
bool resolve(Assembly& as, std::uint32_t line, const Operand& operand, std::int64_t* value,
             std::optional<Section>* section = nullptr) {
  const ValueExpr& expr = operand.value;
  if (expr.label.empty()) {
    *value = expr.addend;
    return true;
  }
  const Symbol* found = find_symbol(as.symbols, expr.label);
  if (found == nullptr) {
    report(as, line, operand.column, "undefined label " + quoted(expr.label));
    return false;
  }
  *value = found->value + expr.addend;
  if (section != nullptr) *section = found->section;
  return true;
}

bool resolve_in(Assembly& as, std::uint32_t line, const Operand& operand, const FieldRange& range,
                std::int64_t* value) {
  if (!resolve(as, line, operand, value)) return false;
  if (*value >= range.low && *value <= range.high) return true;
  report(as, line, operand.column,
         "value " + std::to_string(*value) + " does not fit in " + std::string(range.description));
  return false;
}

// The word offset of a branch: from a label, target - (pc + 1), the target
// inside the code; from a plain number, that number as the offset itself.
bool branch_offset(Assembly& as, const Statement& st, const Operand& operand, std::int64_t* offset) {
  if (operand.value.label.empty()) return resolve_in(as, st.line, operand, SIGNED16, offset);
  std::int64_t target = 0;
  std::optional<Section> section;
  if (!resolve(as, st.line, operand, &target, &section)) return false;
  if (section != Section::TEXT) {
    report(as, st.line, operand.column, "branch target " + quoted(operand.value.label) + " is not a code label");
    return false;
  }
  if (target < 0 || target >= static_cast<std::int64_t>(as.code_words)) {
    report(as, st.line, operand.column,
           "branch target word " + std::to_string(target) + " lies outside the code (words 0.." +
               std::to_string(as.code_words - 1) + ")");
    return false;
  }
  *offset = target - (static_cast<std::int64_t>(st.address) + 1);
  return true;
}

std::uint16_t low16(std::int64_t value) { return static_cast<std::uint16_t>(value & 0xFFFF); }

bool encode_instruction(Assembly& as, const Statement& st, std::uint32_t* word) {
  const InstructionInfo& info = *st.info;
  const std::vector<Operand>& ops = st.operands;
  const std::uint8_t op = info.opcode;
  std::int64_t value = 0;
  switch (info.form) {
    case OperandForm::NONE: *word = encode_word(op, 0, 0, 0) | info.fixed_value; return true;
    case OperandForm::RD_IMM20:
      if (!resolve_in(as, st.line, ops[1], UNSIGNED20, &value)) return false;
      *word = encode_word(op, ops[0].reg, static_cast<std::uint32_t>(value >> 16), low16(value));
      return true;
    case OperandForm::RD_RA_IMM16:
    case OperandForm::RD_RA_SHIFT: {
      const FieldRange& range = info.form == OperandForm::RD_RA_SHIFT ? SHIFT_COUNT : SIGNED16;
      if (!resolve_in(as, st.line, ops[2], range, &value)) return false;
      *word = encode_word(op, ops[0].reg, ops[1].reg, low16(value));
      return true;
    }
    case OperandForm::RD_MEM:
      if (!resolve_in(as, st.line, ops[1], SIGNED16, &value)) return false;
      *word = encode_word(op, ops[0].reg, ops[1].reg, low16(value));
      return true;
    case OperandForm::RD_RA_RB:
      *word = encode_word(op, ops[0].reg, ops[1].reg, std::uint32_t{ops[2].reg} << 12);
      return true;
    case OperandForm::RD_BRANCH:
    case OperandForm::BRANCH: {
      // The target is the last operand; JMP has no register and keeps rd 0.
      if (!branch_offset(as, st, ops.back(), &value)) return false;
      const std::uint32_t rd = info.form == OperandForm::RD_BRANCH ? ops[0].reg : 0;
      *word = encode_word(op, rd, 0, low16(value));
      return true;
    }
    case OperandForm::RD: *word = encode_word(op, ops[0].reg, 0, 0); return true;
  }
  return false;
}

// LI32 rd, v: LUI rd, v >> 12 then ADDI rd, rd, v & 0xFFF. The low part is
// taken as twelve bits, 0..4095, which the signed 16-bit ADDI immediate holds
// without sign extension, so the high part never needs a carry correction.
void encode_load_constant(Assembly& as, const Statement& st) {
  std::int64_t value = 0;
  if (!resolve_in(as, st.line, st.operands[1], WORD32, &value)) return;
  const std::uint32_t bits = static_cast<std::uint32_t>(value);
  const std::uint32_t high = bits >> 12;
  const std::uint8_t rd = st.operands[0].reg;
  as.code[st.address] = encode_word(OP_LUI, rd, high >> 16, high & 0xFFFFu);
  as.code[st.address + 1] = encode_word(OP_ADDI, rd, rd, bits & 0xFFFu);
}

void encode_values(Assembly& as, const Statement& st) {
  const FieldRange& range = st.kind == StatementKind::DATA_BYTES ? BYTE8 : WORD32;
  std::uint32_t address = st.address;
  for (const Operand& operand : st.operands) {
    std::int64_t value = 0;
    const bool ok = resolve_in(as, st.line, operand, range, &value);
    const std::uint32_t bits = ok ? static_cast<std::uint32_t>(value) : 0;
    switch (st.kind) {
      case StatementKind::CODE_WORDS:
        as.code[address] = bits;
        address += 1;
        break;
      case StatementKind::DATA_WORDS:
        write_le32(&as.data[address], bits);
        address += 4;
        break;
      default:
        as.data[address] = static_cast<std::uint8_t>(bits);
        address += 1;
        break;
    }
  }
}

void resolve_entry(Assembly& as, const Statement& st) {
  std::int64_t entry = 0;
  std::optional<Section> section;
  if (!resolve(as, st.line, st.operands[0], &entry, &section)) return;
  if (section == Section::DATA) {
    report(as, st.line, st.operands[0].column, ".entry names a data label");
  } else if (entry < 0 || entry >= static_cast<std::int64_t>(as.code_words)) {
    report(
        as, st.line, st.operands[0].column,
        "entry word " + std::to_string(entry) + " lies outside the code (" + std::to_string(as.code_words) + " words)");
  }
}

void encode_statement(Assembly& as, const Statement& st) {
  switch (st.kind) {
    case StatementKind::INSTRUCTION: {
      std::uint32_t word = 0;
      if (encode_instruction(as, st, &word)) as.code[st.address] = word;
      return;
    }
    case StatementKind::LOAD_CONSTANT: encode_load_constant(as, st); return;
    case StatementKind::ENTRY: resolve_entry(as, st); return;
    default: encode_values(as, st); return;
  }
}

std::uint32_t entry_word(Assembly& as) {
  for (const Statement& st : as.statements) {
    if (st.kind != StatementKind::ENTRY) continue;
    std::int64_t entry = 0;
    return resolve(as, st.line, st.operands[0], &entry) ? static_cast<std::uint32_t>(entry) : 0;
  }
  return 0;
}

bool by_position(const AsmDiagnostic& a, const AsmDiagnostic& b) {
  return a.line != b.line ? a.line < b.line : a.column < b.column;
}

}  // namespace

int parse_asm_definition(std::string_view text, AsmDefinition* definition, Failure* failure) {
  const std::size_t equals = text.find('=');
  const std::string_view name = text.substr(0, equals);
  if (equals == std::string_view::npos || name.empty() || name_length(name) != name.size() || name[0] == '.' ||
      is_digit(name[0]) || is_register_name(name)) {
    *failure = Failure{"expected NAME=VALUE with NAME written as a label, found " + quoted(text)};
    return -1;
  }
  const std::optional<std::int64_t> value = parse_number(text.substr(equals + 1));
  if (!value || *value < WORD_MIN || *value > WORD_MAX) {
    *failure = Failure{"the value of " + quoted(name) + " must be a number within 32 bits, found " +
                       quoted(text.substr(equals + 1))};
    return -1;
  }
  definition->name = std::string(name);
  definition->value = *value;
  return 0;
}

int assemble_text(std::string_view text, AsmProgram* program, std::vector<AsmDiagnostic>* diagnostics,
                  std::span<const AsmDefinition> definitions) {
  Assembly as;
  // A later definition of the same name wins, as on a compiler's command
  // line: taken from the last, each name once. The names stay in the
  // caller's definitions, which outlive the assembly as the source does.
  for (auto definition = definitions.rbegin(); definition != definitions.rend(); ++definition) {
    if (find_symbol(as.symbols, definition->name) != nullptr) continue;
    add_symbol(as.symbols, definition->name, Symbol{definition->value, 0, Section::CONSTANT});
  }
  std::uint32_t line = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    line = line == UINT32_MAX ? line : line + 1;
    assemble_line(as, line, Span{text.substr(start, end - start), 1});
    start = end + 1;
  }
  // Said only on its own: after other errors it is mostly their echo (an
  // instruction put in the data section, say).
  if (as.code_words == 0 && as.diagnostics.empty()) {
    report(as, 1, 1, "no instructions: a kernel needs at least one code word");
  }

  as.code.assign(std::min<std::uint64_t>(as.code_words, KERNEL_MAX_WORDS), 0);
  as.data.assign(std::min<std::uint64_t>(as.data_bytes, DATA_MEMORY_SIZE), 0);
  for (const Statement& st : as.statements) encode_statement(as, st);

  if (!as.diagnostics.empty()) {
    const std::size_t sorted = std::min(as.diagnostics.size(), ASM_MAX_DIAGNOSTICS);  // "too many" stays last
    std::stable_sort(as.diagnostics.begin(), as.diagnostics.begin() + static_cast<std::ptrdiff_t>(sorted), by_position);
    diagnostics->insert(diagnostics->end(), as.diagnostics.begin(), as.diagnostics.end());
    return -1;
  }
  program->entry = entry_word(as);
  program->code = std::move(as.code);
  program->data = std::move(as.data);
  return 0;
}

std::vector<std::uint8_t> kernel_file_bytes(const AsmProgram& program) {
  const std::uint32_t code_count = static_cast<std::uint32_t>(program.code.size());
  const std::uint32_t data_size = static_cast<std::uint32_t>(program.data.size());
  const KernelHeader header{KERNEL_MAGIC, KERNEL_VERSION, static_cast<std::uint16_t>(KERNEL_HEADER_SIZE),
                            code_count,   data_size,      program.entry,
                            {0, 0, 0}};
  std::vector<std::uint8_t> bytes(KERNEL_HEADER_SIZE + 4ull * code_count + data_size);
  write_kernel_header(header, bytes.data());
  std::uint8_t* out = bytes.data() + KERNEL_HEADER_SIZE;
  for (std::uint32_t word : program.code) {
    write_le32(out, word);
    out += 4;
  }
  std::copy(program.data.begin(), program.data.end(), out);
  return bytes;
}

}  // namespace kdsp
