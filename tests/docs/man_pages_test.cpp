// The manual pages and the bash completion: each page renders cleanly, and
// every option a program's --help lists is in its page and its completion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "tools/tool_process.h"

namespace kdsp {

namespace {

const std::vector<std::string> ALL_PROGRAMS = {"kdsp", "kdsp-as", "kdsp-dis", "kdsp-scan", "kdsp-synth", "kdsp-rx"};

std::string man_source(const std::string& program) {
  return std::string(KDSP_SOURCE_DIR) + "/docs/man/" + program + ".1.scd";
}
std::string completion_file() { return std::string(KDSP_SOURCE_DIR) + "/completions/kdsp.bash"; }

ProcessResult shell(const std::string& command) { return run_process("/bin/bash", {"-c", command}); }

bool is_option_name(const std::string& word) {
  return word.size() >= 2 && word[0] == '-' && (std::isalpha(static_cast<unsigned char>(word[1])) || word[1] == '-');
}

// The option names a --help text lists: the first word of each line that
// starts with an option ("  --png FILE  ...", "  -h,--help  ...",
// "  -h, --help  ..."), not a value such as "-30 to 100".
std::vector<std::string> options_in_help(const std::string& help) {
  std::vector<std::string> options;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string word;
    bool more = true;
    while (more && words >> word && is_option_name(word)) {
      more = word.back() == ',';  // "-h," then "--help"
      std::istringstream names(word);
      for (std::string name; std::getline(names, name, ',');) {
        if (is_option_name(name)) options.push_back(name.substr(0, name.find('=')));
      }
    }
  }
  return options;
}

// Words the completion offers for `line` (the word being completed last,
// possibly empty), run in `cwd`.
std::string completions(const std::string& cwd, const std::vector<std::string>& words) {
  std::string array;
  for (const std::string& w : words) array += " '" + w + "'";
  const std::string script = "cd '" + cwd + "' && source '" + completion_file() + "' && COMP_WORDS=(" + array +
                             ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _kdsp_complete " + words[0] +
                             " && for w in \"${COMPREPLY[@]}\"; do echo \"$w\"; done | sort | tr '\\n' ' '";
  const ProcessResult r = shell(script);
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

}  // namespace

TEST(ManPages, EveryPageRendersWithoutWarnings) {
#ifndef KDSP_MAN_DIR
  GTEST_SKIP() << "configured with KDSP_BUILD_MANPAGES=OFF: no pages were made";
#else
  ASSERT_EQ(shell("command -v man").status, 0) << "man is not installed (scripts/install-deps.sh installs man-db)";
  for (const std::string& program : ALL_PROGRAMS) {
    const std::string page = std::string(KDSP_MAN_DIR) + "/" + program + ".1.gz";
    ASSERT_TRUE(file_exists(page)) << page;
    // One rendering: the text on standard output, groff's warnings on standard error.
    const ProcessResult text = shell("MANWIDTH=80 man --warnings -l '" + page + "'");
    EXPECT_EQ(text.status, 0) << program;
    EXPECT_EQ(text.err, "") << program;
    EXPECT_NE(text.out.find("NAME\n       " + program + " - "), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("EXIT STATUS"), std::string::npos) << program;
    EXPECT_NE(text.out.find("kdsp " KDSP_VERSION), std::string::npos) << program << ": version in the footer";
    EXPECT_EQ(text.out.find('@'), std::string::npos) << program << ": a placeholder left in the page";
  }
#endif
}

TEST(ManPages, EveryOptionInHelpIsInThePageAndTheCompletion) {
  const std::string completion = completion_file();
  int checked = 0;
  for (const std::string& program : ALL_PROGRAMS) {
    if (program == "kdsp") continue;  // it takes no options
    const std::string path = tool_path(program);
    if (!file_exists(path)) {
      EXPECT_EQ(program, "kdsp-rx") << "only kdsp-rx may be absent from the build";
      continue;
    }
    const ProcessResult help = run_tool(path, {"--help"});
    ASSERT_EQ(help.status, 0) << program << ": " << help.err;
    const std::vector<std::string> options = options_in_help(help.out);
    for (const char* always : {"-h", "--help", "--version"}) {
      EXPECT_NE(std::find(options.begin(), options.end(), always), options.end())
          << program << ": " << always << " not found in\n"
          << help.out;
    }
    const std::string page = read_text(man_source(program));
    ProcessResult offered = shell("source '" + completion + "' && _kdsp_options " + program);
    std::replace(offered.out.begin(), offered.out.end(), '\n', ' ');
    for (const std::string& option : options) {
      EXPECT_NE(page.find("*" + option + "*"), std::string::npos) << program << " " << option << " not in its page";
      EXPECT_NE((" " + offered.out).find(" " + option + " "), std::string::npos)
          << program << " " << option << " not completed";
    }
    ++checked;
  }
  EXPECT_GE(checked, 4);
}

TEST(BashCompletion, OffersOptionsValuesAndTheRightFiles) {
  ASSERT_EQ(shell("bash -n '" + completion_file() + "'").status, 0);
  ScratchDir dir;
  for (const char* name : {"a.iq", "b.wav", "k.kdsp", "s.kasm", "notes.txt"}) write_file(dir.file(name), {});
  ASSERT_EQ(shell("mkdir '" + dir.file("sub") + "'").status, 0);

  // kdsp: a capture, a kernel, then the WAV, each by its extension (and folders).
  EXPECT_EQ(completions(dir.path(), {"kdsp", ""}), "a.iq sub ");
  EXPECT_EQ(completions(dir.path(), {"kdsp", "a.iq", ""}), "k.kdsp sub ");
  EXPECT_EQ(completions(dir.path(), {"kdsp", "a.iq", "k.kdsp", ""}), "b.wav sub ");
  EXPECT_EQ(completions(dir.path(), {"kdsp-as", ""}), "s.kasm sub ");
  EXPECT_EQ(completions(dir.path(), {"kdsp-dis", ""}), "k.kdsp sub ");

  EXPECT_EQ(completions(dir.path(), {"kdsp-scan", "--t"}), "--threshold ");
  EXPECT_EQ(completions(dir.path(), {"kdsp-synth", "--audio", "t"}), "tone two-tone ");
  EXPECT_EQ(completions(dir.path(), {"kdsp-synth", "--seed", ""}), "");  // a number is the user's to type
  EXPECT_EQ(completions(dir.path(), {"kdsp-synth", "--audio-out", ""}), "b.wav sub ");
  EXPECT_EQ(completions(dir.path(), {"kdsp-rx", "--format", "cs"}), "cs16 cs32 cs8 ");
  // After an option that takes any file, every file is offered.
  EXPECT_EQ(completions(dir.path(), {"kdsp-as", "s.kasm", "-o", ""}), "a.iq b.wav k.kdsp notes.txt s.kasm sub ");
}

}  // namespace kdsp
