#include "common/command_line.h"

#include "common/tool_main.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "radio/base/option_value.h"

namespace kdsp {

namespace {

constexpr std::size_t HELP_COLUMN_WIDTH = 28;

// The usage line first, as Unix programs print it, then the description, the
// options and the footer.
class ToolFormatter : public CLI::Formatter {
 public:
  explicit ToolFormatter(std::string usage_line) : usage_line_(std::move(usage_line)) {
    column_width(HELP_COLUMN_WIDTH);
  }

  std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override {
    std::string text = usage_line_ + "\n";
    if (!app->get_description().empty()) text += "\n" + app->get_description() + "\n";
    text += make_positionals(app);
    text += make_groups(app, mode);
    if (!app->get_footer().empty()) text += "\n" + app->get_footer() + "\n";
    return text;
  }

 private:
  std::string usage_line_;
};

// CLI11's messages are one line already; a value quoted in one could still
// hold a line break, and the error must stay one line.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// The arguments nothing took, in the order given, when there are any: an
// unknown option explains more than the missing argument that may follow
// from it ("--outptu k.kdsp" leaves -o missing).
std::string unexpected_or(const CLI::App& app, const std::string& message) {
  const std::vector<std::string> extra = app.remaining();
  if (extra.empty()) return message;
  std::string text = extra.size() == 1 ? "unexpected argument:" : "unexpected arguments:";
  for (const std::string& argument : extra) text += " '" + argument + "'";
  return text;
}

}  // namespace

std::string tool_version_line(const char* program) { return std::string(program) + " " + KDSP_VERSION; }

void configure_tool_app(CLI::App& app, const ToolHelp& help) {
  app.name(help.program);
  app.description(help.description);
  app.footer(help.footer);
  app.formatter(std::make_shared<ToolFormatter>(std::string("usage: ") + help.program + " " + help.synopsis));
  app.set_help_flag("-h,--help", "show this text and exit");
  app.set_version_flag("--version", tool_version_line(help.program), "show the program's name and version and exit");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

bool parse_tool_command_line(CLI::App& app, int argc, char** argv, int* exit_status) {
  try {
    app.parse(argc, argv);
    return true;
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    *exit_status = 0;
  } catch (const CLI::CallForVersion& version) {
    std::printf("%s\n", version.what());
    *exit_status = 0;
  } catch (const CLI::RequiredError& error) {
    *exit_status = report_usage_error(app, unexpected_or(app, error.what()));
  } catch (const CLI::ExtrasError& error) {
    *exit_status = report_usage_error(app, unexpected_or(app, error.what()));
  } catch (const CLI::ParseError& error) {
    *exit_status = report_usage_error(app, error.what());
  }
  return false;
}

int report_failure(const ToolHelp& help, const Failure& failure) {
  if (failure.kind == FailureKind::USAGE) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", help.program, one_line(failure_text(failure)).c_str(),
                 help.program);
    return EXIT_USAGE;
  }
  if (!failure.cause.empty()) std::fprintf(stderr, "%s: %s\n", help.program, failure_text(failure).c_str());
  return EXIT_TOOL_FAILED;
}

int report_thrown(const ToolHelp& help) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: out of memory\n", help.program);
  } catch (const std::system_error& error) {
    std::fprintf(stderr, "%s: a system resource ran out (%s)\n", help.program, error.code().message().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", help.program, error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", help.program);
  }
  return EXIT_TOOL_FAILED;
}

int report_usage_error(const CLI::App& app, const std::string& message) {
  const std::string& program = app.get_name();
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), one_line(message).c_str(), program.c_str());
  return EXIT_USAGE;
}

CLI::Option* add_checked_option(CLI::App& app, const std::string& name, ApplyValue apply) {
  return app.add_option_function<std::string>(name, [name, apply = std::move(apply)](const std::string& text) {
    const std::string expected = apply(text);
    if (!expected.empty()) throw CLI::ValidationError(name, "bad value '" + text + "': expected " + expected);
  });
}

CLI::Option* add_real_option(CLI::App& app, const std::string& name, double* value, double min_value, double max_value,
                             const std::string& expected) {
  return add_checked_option(app, name, [=](const std::string& text) {
    return parse_real_option(text.c_str(), min_value, max_value, value) == 0 ? std::string() : expected;
  });
}

CLI::Option* add_integer_option(CLI::App& app, const std::string& name, std::int64_t* value, std::int64_t min_value,
                                std::int64_t max_value, const std::string& expected) {
  return add_checked_option(app, name, [=](const std::string& text) {
    return parse_integer_option(text.c_str(), min_value, max_value, value) == 0 ? std::string() : expected;
  });
}

CLI::Option* add_unsigned_option(CLI::App& app, const std::string& name, std::uint64_t* value) {
  return add_checked_option(app, name, [=](const std::string& text) {
    return parse_unsigned_option(text.c_str(), value) == 0 ? std::string() : std::string("an unsigned 64-bit integer");
  });
}

CLI::Option* add_path_option(CLI::App& app, const std::string& name, std::string* value) {
  return add_checked_option(app, name, [=](const std::string& text) {
    if (text.empty()) return std::string("a file name");
    *value = text;
    return std::string();
  });
}

}  // namespace kdsp
