// Kernel assembly text to a kernel image.
//
// The parser takes any text, however malformed, and never fails in any way
// but by returning diagnostics: the fuzz harness and the command-line tool
// both call assemble_text directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "radio/base/failure.h"

namespace kdsp {

// One mistake in the source, at a 1-based line and byte column.
struct AsmDiagnostic {
  std::uint32_t line;
  std::uint32_t column;
  std::string message;
};

// An assembled kernel: what the image file carries.
struct AsmProgram {
  std::vector<std::uint32_t> code;  // 1 to 4096 words
  std::vector<std::uint8_t> data;   // 0 to 1048576 bytes, loaded at address 0
  std::uint32_t entry = 0;          // word index, below code.size()
};

// Past this many diagnostics the assembler adds one "too many errors" and
// stops reporting, so that garbage input cannot flood the terminal.
inline constexpr std::size_t ASM_MAX_DIAGNOSTICS = 50;

// A constant given from outside the source (`kdsp-as -D NAME=VALUE`): the
// source uses NAME wherever it may use a number, so that one source serves a
// batch of runs that differ in a value, such as a channel's offset.
struct AsmDefinition {
  std::string name;
  std::int64_t value = 0;
};

// Reads "NAME=VALUE": NAME as a label is written (letters, digits, '_', not
// starting with a digit, not a register), VALUE a number as the source
// writes one, within 32 bits signed or unsigned. 0 with `*definition` set,
// or -1 with `*error` saying what is wrong.
int parse_asm_definition(std::string_view text, AsmDefinition* definition, Failure* failure);

// Assembles `text` with the `definitions` visible as constants. Returns 0
// with `*program` filled, or -1 with one or more diagnostics appended to
// `*diagnostics` in source order (and `*program` untouched). A label of the
// same name as a definition is an error.
int assemble_text(std::string_view text, AsmProgram* program, std::vector<AsmDiagnostic>* diagnostics,
                  std::span<const AsmDefinition> definitions = {});

// The complete kernel image file for a program: header, code words, data.
std::vector<std::uint8_t> kernel_file_bytes(const AsmProgram& program);

}  // namespace kdsp
