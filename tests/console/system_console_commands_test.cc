#include <gtest/gtest.h>

#include "carriers/carriers_console.h"
#include "console/console_fixture.h"

namespace zv::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class CommandsTest : public ConsoleFixture {};

constexpr const char* kStatusTitle = "Status\n--------\n";
constexpr const char* kHelpMain = "Zorvane Console Client - Help\n";

TEST_F(CommandsTest, LineModes) {
  TZVSystemConsole& c = Console();
  EXPECT_EQ(c.CheckMode(""), TCmdMode::cmSet);
  EXPECT_EQ(c.CheckMode("   "), TCmdMode::cmSet);
  EXPECT_EQ(c.CheckMode("abc,"), TCmdMode::cmMsg);
  EXPECT_EQ(c.CheckMode("q;"), TCmdMode::cmMsg);
  EXPECT_EQ(c.CheckMode("help, me"), TCmdMode::cmMsg);
  EXPECT_EQ(c.CheckMode("\"a, quoted; text\""), TCmdMode::cmSet);
}

TEST_F(CommandsTest, ExitWords) {
  for (const char* line : {"q", "quit", "Query", "exit now", "EXIT"}) {
    Run(line);
    EXPECT_FALSE(FLastResult) << line;
  }
  for (const char* line : {" q", "q;", "ex"}) {
    Run(line);
    EXPECT_TRUE(FLastResult) << line;
  }
}

// Each line and something it must print; the first matching group decides.
TEST_F(CommandsTest, Routing) {
  struct Case {
    const char* line;
    const char* expected;
  };
  const Case cases[] = {
      {"stat", kStatusTitle},
      {"status", kStatusTitle},
      {"help", kHelpMain},
      {"?", kHelpMain},
      {"manual", kHelpMain},
      {"mainframe", "Zorvane Console Client\n"},
      {"HOME", "(Enter 'q' to exit)\n"},
      {"con /a", "Available Connections:\n"},
      {"con /c", "Current Connection:\n"},
      {"con /h", "Zorvane Console Client - Connection help\n"},
      {"con -?", "Zorvane Console Client - Connection help\n"},
      {"car /a", "Available Carriers:\n"},
      {"car -a -c", "Current Default Carrier\n"},
      {"car abc/cde", "Current Default Carrier\n"},
      {"car /help", "Zorvane Console Client - Carrier help\n"},
      {"msg /a", "Available Message Priorities:\n"},
      {"msg /c", "Current Message Settings:\n"},
      {"msg /?", "Zorvane Console Client - Message help\n"},
      {"con",
       "Improper usage of the \"con\" command\n"
       "con [/a][-a][/c][-c][/s][-s][/help][-help][/?][-?]\n"
       "For more type: con /help\n\n"},
      {"con /x", "Improper usage of the \"con\" command\n"},
      {"carriers", "Improper usage of the \"car\" command\n"},
      {"msg", "For more type: msg /help\n"},
      {"message", "Unknow command \"message\"\nEnter: help - to see available commands\n"},
      {"hello", "Unknow command \"hello\"\n"},
      {" q", "Unknow command \" q\"\n"},
      {"", "Unknow command \"\"\nEnter: help - to see available commands\n"},
      {"offline", ""},
      {"stop", ""},
  };
  for (const Case& c : cases) {
    const std::string out = Run(c.line);
    EXPECT_TRUE(FLastResult) << c.line;
    if (*c.expected == '\0') {
      EXPECT_EQ(out, "") << c.line;
    } else {
      EXPECT_THAT(out, HasSubstr(c.expected)) << c.line;
    }
  }
}

TEST_F(CommandsTest, ClearWritesNothingButTheClear) {
  for (const char* line : {"cls", "clr", "clearly"}) EXPECT_EQ(Run(line), "\f") << line;
}

TEST_F(CommandsTest, MissingHelpFileRaisesWithoutClearing) {
  std::filesystem::remove(FFolder.Path() / "Help" / "chelp_main.txt");
  Console();
  FScript.Output.clear();
  try {
    Console().ReadCmdLine("help");
    FAIL() << "no error";
  } catch (const EFileOpenError& e) {
    EXPECT_THAT(e.what(), StartsWith("Cannot open file \"" + (FFolder.Path() / "Help").string() +
                                     "/chelp_main.txt\". "));
  }
  EXPECT_EQ(FScript.Output, "");
}

TEST_F(CommandsTest, HelpFileEncodings) {
  const auto help = FFolder.Path() / "Help" / "chelp_carrier.txt";
  {
    std::ofstream out(help, std::ios::binary);
    out << "caf\xE9\r\nline two\rthree\n";  // 8-bit code page, mixed line ends
  }
  EXPECT_EQ(Run("car /h"), "\fcafé\nline two\nthree\n\n");
  {
    std::ofstream out(help, std::ios::binary);
    out.write(
        "\xFF\xFE"
        "A\0\xE9\0\n\0",
        8);  // UTF-16 little-endian with its mark
  }
  EXPECT_EQ(Run("car /h"), "\fAé\n\n");
  {
    std::ofstream out(help, std::ios::binary);
    out << "\xEF\xBB\xBF"
           "€uro";
  }
  EXPECT_EQ(Run("car /h"), "\f€uro\n\n");
}

TEST_F(CommandsTest, PromptDefaultComesBackWithoutAQuestion) {
  Run("cmd", {"Pager"});
  EXPECT_EQ(Console().CmdPrompt(), "Pager >");
  const std::string out = Run("prompt -C");
  EXPECT_EQ(out, "");
  EXPECT_EQ(Console().CmdPrompt(), "Zorvane Send >");
  EXPECT_THAT(Ini(), HasSubstr("CmdPrompt=Zorvane Send >\r\n"));
}

// Texts read from files reach the screen with their control characters shown,
// never obeyed: a carrier setup file, a help file and the settings file.
TEST_F(CommandsTest, TextsFromFilesCannotSendTheTerminalEscapes) {
  const std::string hostile = "\x1b]0;owned\x07\x1b[2J";
  const std::string shown = "^[]0;owned^G^[[2J";
  std::ofstream(FFolder.Path() / "Settings" / "ZVCarriers.ccr", std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<carriers><carrier><carrierId>3</carrierId>"
         "<carrierName>\"" +
             hostile +
             "\"</carrierName><msgLength>80</msgLength>"
             "<carrierType>1</carrierType><carrierTypeStr>\"T\x1b[5m\"</carrierTypeStr>"
             "<addressType>1</addressType><addressTypeStr>\"p\xc2\x9b\"</addressTypeStr>"
             "<carrierInfo>\"\"</carrierInfo></carrier></carriers>\n";
  std::ofstream(FFolder.Path() / "Help" / "chelp_main.txt", std::ios::binary)
      << "\xEF\xBB\xBFhelp " << hostile << "\r\n";
  std::ofstream(FFolder.Settings(), std::ios::binary)
      << "[ConsoleSys]\r\nCmdPrompt=P\x1b[2J>\r\nMsgSubject=S" << hostile
      << "\r\nConnectionId=2\r\nServerIP=h" << hostile << "\r\n";
  TDataAccess::ReloadForTesting();

  const std::string out = Run("car /a") + Run("stat") + Run("help") + Run("msg /c") + Run("con /c");
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_THAT(out, HasSubstr("  3            " + shown + "  T^[[5m         pM-^["));
  EXPECT_THAT(out, HasSubstr("Default Carrier: " + shown + " (3)"));
  EXPECT_THAT(out, HasSubstr("Email Subject: S" + shown));
  EXPECT_THAT(out, HasSubstr("Server IP: h" + shown));
  EXPECT_THAT(out, HasSubstr("help " + shown + "\n"));
  EXPECT_EQ(Console().CmdPrompt(), "P^[[2J>");
  EXPECT_THAT(Run("car /s", {"0"}), HasSubstr("Current carrier Id: 3 - T^[[5m (pM-^[)"));
}

// Texts longer than their column go on below, in the same column: the next
// column never starts right after a name ("SMS Gateway, EuropeSMS Gateway").
TEST_F(CommandsTest, LongCarrierTextsStayInTheirColumns) {
  auto carrier = [](const char* id, const char* name, const char* type, const char* address) {
    return std::string("<carrier><carrierId>") + id + "</carrierId><carrierName>\"" + name +
           "\"</carrierName><msgLength>160</msgLength><carrierType>2</carrierType>"
           "<carrierTypeStr>\"" + type + "\"</carrierTypeStr><addressType>2</addressType>"
           "<addressTypeStr>\"" + address + "\"</addressTypeStr><carrierInfo>\"\"</carrierInfo>"
           "</carrier>";
  };
  std::ofstream(FFolder.Path() / "Settings" / "ZVCarriers.ccr", std::ios::binary)
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<carriers>" +
             carrier("3", "SMS Gateway, Europe", "SMS Gateway", "phone number") +
             carrier("4", "Paging terminal for the north wing", "TAP Modem", "pager id") +
             carrier("5", "Pager", "A-very-long-type-name", "pager id") + "</carriers>\n";
  Console().Carriers().LoadFromFile();
  const std::string out = Run("car /a");
  EXPECT_THAT(out, HasSubstr("\n"
                             "  3            SMS Gateway,       SMS Gateway    phone number   \n"
                             "               Europe\n"
                             "  4            Paging terminal    TAP Modem      pager id       \n"
                             "               for the north wing\n"
                             "  5            Pager              A-very-long-ty pager id       \n"
                             "                                  pe-name\n"
                             "-----"))
      << out;
}

}  // namespace
}  // namespace zv::testing
