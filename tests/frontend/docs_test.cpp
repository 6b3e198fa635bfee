// The manual page and the bash completion made at build time list every
// option of the usage text, and the completion completes them.
#include <gtest/gtest.h>

#include <sstream>

#include "frontend/usage.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> usage_option_names() {
  std::istringstream in(varn::usage_text("vt"));
  std::vector<std::string> names;
  std::string line;
  while (std::getline(in, line)) {
    const size_t p = line.find_first_not_of(' ');
    if (p != std::string::npos && line[p] == '-') names.push_back(line.substr(p, line.find(' ', p) - p));
  }
  return names;
}

std::string roff_escaped(const std::string& name) {
  std::string out;
  for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

}  // namespace

TEST(Docs, ManPageAndCompletionListEveryUsageOption) {
  const std::string man = testsupport::read_text(VARN_TEST_MAN_PAGE);
  const std::string completion = testsupport::read_text(VARN_TEST_COMPLETION);
  const auto names = usage_option_names();
  ASSERT_EQ(names.size(), 35u);
  for (const std::string& name : names) {
    EXPECT_NE(man.find("\\fB" + roff_escaped(name) + "\\fR"), std::string::npos) << name;
    EXPECT_NE(completion.find(" " + name + " "), std::string::npos) << name;
  }
  for (const char* section : {".SH NAME", ".SH SYNOPSIS", ".SH DESCRIPTION", ".SH OPTIONS", ".SH EXIT STATUS",
                              ".SH ENVIRONMENT", "SOURCE_DATE_EPOCH", ".SH FILES", ".delivery.txt", ".cue",
                              ".SH EXAMPLES"})
    EXPECT_NE(man.find(section), std::string::npos) << section;
}

TEST(Docs, CompletionCompletesOptionsAndValues) {
  const std::string script = std::string("source ") + VARN_TEST_COMPLETION +
                             "; try() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _varntessel;"
                             " echo \"${COMPREPLY[*]}\"; }; try varntessel --dst-t; try varntessel --album x;"
                             " try varntessel --ver";
  const auto r = testsupport::run_program("bash", {"-c", script});
  EXPECT_EQ(r.out, "--dst-threads\n\n--verify --version\n");
}
