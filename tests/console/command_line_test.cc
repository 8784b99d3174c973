#include "console/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace zv {
namespace {

using ::testing::HasSubstr;

TEST(CommandLineTest, ParsesOptionsAndRefusesTheRest) {
  struct Case {
    std::vector<std::string> Args;
    TCommandAction Action;
    std::string Home;
    std::string Error;
  };
  using A = TCommandAction;
  const Case cases[] = {
      {{}, A::kRun, "", ""},
      {{"--home", "/srv/zv"}, A::kRun, "/srv/zv", ""},
      {{"--home=rel/dir"}, A::kRun, "rel/dir", ""},
      {{"--home", "a", "--home", "b"}, A::kRun, "b", ""},
      // A folder whose name looks like an option is still the folder.
      {{"--home", "--help"}, A::kRun, "--help", ""},
      {{"--help"}, A::kHelp, "", ""},
      {{"--version", "--bogus"}, A::kVersion, "", ""},
      {{"--home", "x", "--help"}, A::kHelp, "", ""},
      {{"--home"}, A::kUsageError, "", "option '--home' needs a folder"},
      {{"--home="}, A::kUsageError, "", "option '--home' needs a folder"},
      {{"--home", ""}, A::kUsageError, "", "option '--home' needs a folder"},
      {{"-h"}, A::kUsageError, "", "unknown option '-h'"},
      {{"--helpme"}, A::kUsageError, "", "unknown option '--helpme'"},
      {{"--homes=x"}, A::kUsageError, "", "unknown option '--homes=x'"},
      {{"--bogus", "--help"}, A::kUsageError, "", "unknown option '--bogus'"},
      {{"555,Hello"}, A::kUsageError, "", "unexpected argument '555,Hello'"},
      {{"-"}, A::kUsageError, "", "unexpected argument '-'"},
  };
  for (const Case& c : cases) {
    const TCommandLine line = ParseCommandLine(c.Args);
    const std::string what = ::testing::PrintToString(c.Args);
    EXPECT_EQ(line.Action, c.Action) << what;
    if (c.Action == A::kRun) {
      EXPECT_EQ(line.Home, c.Home) << what;
    }
    EXPECT_EQ(line.Error, c.Error) << what;
  }
}

TEST(CommandLineTest, HelpNamesEveryOptionVariableAndStatus) {
  const std::string help = UsageText();
  for (const char* item :
       {"--home DIR", "--help", "--version", "ZVCC_HOME", "XDG_STATE_HOME", "~/.local/state/zvcc",
        "ZVCC_LOCAL_BUS", "DBUS_SESSION_BUS_ADDRESS", "Settings/zvcc.ini", "Help/",
        "Exit status: 0", "1 when", "2 for", "3 at the end", "128+N"}) {
    EXPECT_THAT(help, HasSubstr(item));
  }
  EXPECT_EQ(help.back(), '\n');
  EXPECT_THAT(VersionText(), ::testing::MatchesRegex("zvcc [0-9]+\\.[0-9]+(\\.[0-9]+)*\n"));
}

}  // namespace
}  // namespace zv
