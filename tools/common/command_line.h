// The command line of every companion program, on one library (CLI11), so
// that all of them answer alike: --help (or -h) prints the usage on standard
// output and exits 0; --version prints "<program> <project version>" and
// exits 0; a usage error prints one line and the hint "Try '<program>
// --help'." on standard error and exits 2.
//
// Values are read as strings and checked with option_value.h's strict
// parsers, never CLI11's own conversions: a typo must not become a number
// (and a decimal must round the same way strtod rounds it).
//
// CLI11 reports through exceptions; they are thrown and caught inside this
// module, and none reaches the caller.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace kdsp {

inline constexpr int EXIT_TOOL_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

// What a companion says about itself in --help.
struct ToolHelp {
  const char* program;      // "kdsp-as": also the name in messages and --version
  const char* synopsis;     // "SOURCE.kasm -o KERNEL.kdsp", after "usage: <program> "
  const char* description;  // paragraphs between the usage line and the options
  const char* footer;       // after the options: exit statuses, notes
};

// "<program> <project version>": what --version prints, for a companion
// that reads its own command line.
std::string tool_version_line(const char* program);

// Sets `app` up as the companion described by `help`: the help layout,
// -h/--help, --version, and the last value winning when a value option is
// given more than once (an option may override this one by one).
void configure_tool_app(CLI::App& app, const ToolHelp& help);

// Parses the command line. True when the program should run, with every
// option applied. False when it should stop: the help or the version was
// printed on standard output (`*exit_status` 0), or a usage error on standard
// error (`*exit_status` EXIT_USAGE).
bool parse_tool_command_line(CLI::App& app, int argc, char** argv, int* exit_status);

// A usage error found after parsing, such as two options that exclude each
// other: printed as a parse error is. Returns EXIT_USAGE.
int report_usage_error(const CLI::App& app, const std::string& message);

// Turns one option value into the program's setting: an empty string on
// success, else what a valid value looks like ("Hz from -100000 to 100000"),
// the value being left unapplied.
using ApplyValue = std::function<std::string(const std::string& text)>;

// An option (`name` such as "--offset", or a positional name such as
// "output") whose value goes through `apply`; a refused value is the usage
// error "<name>: bad value '<text>': expected <what apply said>".
CLI::Option* add_checked_option(CLI::App& app, const std::string& name, ApplyValue apply);

// Value options read with the strict parsers of option_value.h.
CLI::Option* add_real_option(CLI::App& app, const std::string& name, double* value, double min_value, double max_value,
                             const std::string& expected);
CLI::Option* add_integer_option(CLI::App& app, const std::string& name, std::int64_t* value, std::int64_t min_value,
                                std::int64_t max_value, const std::string& expected);
CLI::Option* add_unsigned_option(CLI::App& app, const std::string& name, std::uint64_t* value);
// A file name: any text but the empty one.
CLI::Option* add_path_option(CLI::App& app, const std::string& name, std::string* value);

}  // namespace kdsp
