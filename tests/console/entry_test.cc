#include "console/entry.h"

#include <gtest/gtest.h>

#include "console/console_fixture.h"

namespace zv::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class EntryTest : public ConsoleFixture {
 protected:
  int RunWith(std::initializer_list<std::string> lines) {
    Answers(lines);
    return RunConsole(std::make_unique<FakeTerminal>(FScript));
  }
};

TEST_F(EntryTest, MainScreenWithDefaults) {
  EXPECT_EQ(RunWith({"q"}), 0);
  const std::string expected =
      "\f" + std::string(22, ' ') + "Zorvane Console Client\n" + std::string(24, ' ') +
      "(Enter 'q' to exit)\n" +
      "Status\n"
      "--------\n"
      "Connection: Local (COM)\n"
      "Connected to the server: No\n"
      "Default Carrier: Unknown (3)\n"
      "Message Settings\n"
      "Priority: Normal(4); Age Limit: 120; Email Subject: Zorvane Message\n"
      "\n"
      "\n"
      "Zorvane Send >q\n";
  EXPECT_EQ(FScript.Output, expected);
}

TEST_F(EntryTest, ExitSavesTheSettings) {
  EXPECT_EQ(RunWith({"cmd", "Pager", "stat", "quit"}), 0);
  EXPECT_THAT(FScript.Output, HasSubstr("\nPager >stat\nStatus\n"));
  const std::string ini = Ini();
  EXPECT_THAT(ini, StartsWith("\xEF\xBB\xBF[ConsoleSys]\r\n"));
  EXPECT_THAT(ini, HasSubstr("CmdPrompt=Pager >\r\n"));
  EXPECT_THAT(ini, HasSubstr("MsgSubject=\"Zorvane Message\"\r\n"));
}

TEST_F(EntryTest, EndOfInputLeavesThroughTheExitPath) {
  EXPECT_EQ(RunWith({"stat"}), 0);
  EXPECT_THAT(Ini(), HasSubstr("CmdMode=1\r\n"));
  // An end of input inside a value prompt leaves the same way.
  EXPECT_EQ(RunWith({"con /s"}), 0);
}

// A script's status counts its pages, whether its input ends or it types
// the exit command.
TEST_F(EntryTest, ScriptStatusCountsThePagesHoweverTheInputEnds) {
  const struct {
    std::initializer_list<std::string> Lines;
    int Status;
  } cases[] = {
      {{"stat", "q"}, 0},              // no page
      {{"stat"}, 0},                   // no page, end of input
      {{"1,Hi", "q"}, 3},              // not connected, then the exit command
      {{"1,Hi", "exit"}, 3},           //
      {{"1,Hi"}, 3},                   // not connected, then the end of input
      {{"1,2,3,4,5,6,7", "quit"}, 3},  // refused, then the exit command
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunWith(c.Lines), c.Status) << *c.Lines.begin() << " / " << c.Lines.size();
  }
}

TEST_F(EntryTest, EscapedErrorIsReportedInOneLineAndFails) {
  std::filesystem::remove(FFolder.Path() / "Help" / "chelp_main.txt");
  EXPECT_EQ(RunWith({"help", "stat"}), 1);
  EXPECT_THAT(FScript.Output, HasSubstr("Zorvane Send >help\nEFileOpenError: Cannot open file \"" +
                                        (FFolder.Path() / "Help" / "chelp_main.txt").string() +
                                        "\". No such file or directory\n"));
  EXPECT_EQ(FScript.Input.size(), 1u);  // nothing after the error ran
  EXPECT_EQ(Ini(), "");                 // and nothing was saved
}

TEST_F(EntryTest, MissingLogsFolderEndsTheStartWithItsReport) {
  std::filesystem::remove_all(FFolder.Path() / "Logs");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RunWith({"q"}), 1);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_THAT(out, StartsWith("EFileCreateError: Cannot create file \""));
  EXPECT_THAT(out, HasSubstr("zvccLog1.txt"));
}

}  // namespace
}  // namespace zv::testing
