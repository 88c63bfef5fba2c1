// The front door of every companion program: main() is one line,
// run_tool(THE_TOOL, argc, argv), and this decides everything a user sees
// around the work itself: --help and --version, usage errors (one line and
// "Try '<program> --help'.", status 2), a failure of the work (one line
// "<program>: <cause>; <fix>", status 1), and anything thrown, such as memory
// running out or a thread that cannot be started (one line, status 1, never
// an abort).
#pragma once

#include "common/command_line.h"
#include "radio/base/failure.h"

namespace kdsp {

// A companion program: its help, its options, the checks that relate them,
// and its work.
template <class Options>
struct ToolDefinition {
  const ToolHelp& help;
  // Declares every option on `app`, each writing into `*options`.
  void (*declare)(CLI::App& app, Options* options);
  // Once parsed: checks that relate several options. 0, or -1 with a USAGE
  // failure. Null when there are none.
  int (*complete)(const CLI::App& app, Options* options, Failure* failure);
  // The work. 0, or -1 with `*failure` set; a failure with an empty cause
  // has been reported by the program itself in a form of its own (an
  // assembler's file:line:column lines).
  int (*run)(const Options& options, Failure* failure);
};

// Prints `failure` as the program's one line and gives the exit status.
int report_failure(const ToolHelp& help, const Failure& failure);

// Called inside a catch block: prints what was thrown as one line and gives
// the exit status.
int report_thrown(const ToolHelp& help) noexcept;

template <class Options>
int run_tool(const ToolDefinition<Options>& tool, int argc, char** argv) noexcept {
  try {
    CLI::App app;
    configure_tool_app(app, tool.help);
    Options options;
    tool.declare(app, &options);
    int exit_status = 0;
    if (!parse_tool_command_line(app, argc, argv, &exit_status)) return exit_status;
    Failure failure;
    if (tool.complete != nullptr && tool.complete(app, &options, &failure) != 0) {
      return report_failure(tool.help, failure);
    }
    if (tool.run(options, &failure) == 0) return 0;
    return report_failure(tool.help, failure);
  } catch (...) {
    return report_thrown(tool.help);
  }
}

}  // namespace kdsp
