#include "support/helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/program_folder.h"
#include "support/exceptions.h"

namespace zv {
namespace {

using List = std::vector<std::string>;

TEST(HelpersTest, AppFilePathIsBesideTheProgramWhateverTheCurrentDirectory) {
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path("/");
  const std::string path = AppFilePath("Logs", "x.txt");
  std::filesystem::current_path(old);
  EXPECT_EQ(path, platform::ProgramFolder() + "/Logs/x.txt");
  EXPECT_EQ(AppSubFolder("Help/"), platform::ProgramFolder() + "/Help/");
}

TEST(HelpersTest, AnotherHomeHoldsSettingsAndLogsButNotHelp) {
  platform::SetHomeFolder("/srv/zv home");
  const std::string settings = AppFilePath("Settings", "zvcc.ini");
  const std::string logs = AppSubFolder("Logs");
  const std::string help = AppFilePath("Help", "chelp_main.txt");
  platform::SetHomeFolder("");
  EXPECT_EQ(settings, "/srv/zv home/Settings/zvcc.ini");
  EXPECT_EQ(logs, "/srv/zv home/Logs/");
  EXPECT_EQ(help, platform::ProgramFolder() + "/Help/chelp_main.txt");
  EXPECT_EQ(AppSubFolder("Settings"), platform::ProgramFolder() + "/Settings/");
}

TEST(HelpersTest, EscapeAndUnescape) {
  EXPECT_EQ(EscapeText("a\"b\r\nc"), "\"a\"\"b\\nc\"");
  EXPECT_EQ(UnescapeText(EscapeText("a\"b\r\nc")), "a\"b\r\nc");
  EXPECT_EQ(EscapeText(""), "\"\"");
  EXPECT_EQ(UnescapeText("\"\""), "");
  EXPECT_EQ(UnescapeText("plain\\ntext"), "plain\r\ntext");
  // Quoted text at the start wins; what follows the closing quote is dropped.
  EXPECT_EQ(UnescapeText("\"ab\"cd\""), "ab");
  // Unclosed quote, not ending in a quote: taken unchanged.
  EXPECT_EQ(UnescapeText("\"abc"), "\"abc");
  EXPECT_EQ(UnescapeText("\"\"x"), "\"\"x");
  EXPECT_EQ(UnquoteText("\"a\\nb\""), "a\\nb");
}

TEST(HelpersTest, SplitToArray) {
  struct Case {
    const char* text;
    const char* separators;
    List items;
  };
  const Case cases[] = {
      {"a,,b", ",", {"a", "", "b"}},
      {"a,", ",", {"a", ""}},
      {"", ",", {}},
      {"   ", ",;", {""}},
      {"one two", ",;", {"one two"}},
      {"one two", " ", {"one", "two"}},
      {"555 , Hello there ,9", ",;", {"555 ", "Hello there ", "9"}},
      {"555,\"Hello, world\"", ",;", {"555", "Hello, world"}},
      {"\"a,b\"", ",;", {"a,b"}},
      {"\"ab\"cd,e", ",", {"ab", "cd", "e"}},
      {"\"say \"\"hi\"\"\"", ",", {"say \"hi\""}},
      {"\"open, end", ",", {"open, end"}},
      {"q;", ",;", {"q", ""}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitToArray(c.text, c.separators), c.items) << c.text;
}

TEST(HelpersTest, ExtractField) {
  EXPECT_EQ(ExtractField("1,Pager,x", 1, ","), "1");
  EXPECT_EQ(ExtractField("1,Pager,x", 3, ","), "x");
  EXPECT_EQ(ExtractField("1,Pager", 3, ","), "");
  EXPECT_EQ(ExtractField("a,", 2, ","), "");
  // Text after a closing quote replaces the quoted text within the same item.
  EXPECT_EQ(ExtractField("\"ab\"cd,e", 1, ","), "cd");
  EXPECT_EQ(ExtractField("\"ab\"cd,e", 2, ","), "e");
}

TEST(HelpersTest, SplitAndJoinDelimited) {
  EXPECT_EQ(SplitDelimited("a,,b", ','), (List{"a", "", "b"}));
  EXPECT_EQ(SplitDelimited(" a ,b,", ','), (List{" a ", "b", ""}));
  EXPECT_EQ(SplitDelimited("", ','), List{});
  EXPECT_EQ(SplitDelimited("\"x,y\"z,w", ','), (List{"x,y", "z", "w"}));
  EXPECT_EQ(SplitDelimited("1,\"a,b\"", ','), (List{"1", "a,b"}));
  const char rs = '\x1E';
  EXPECT_EQ(JoinDelimited({"a", "b\"c", ""}, rs), "a\x1E\"b\"\"c\"\x1E");
  EXPECT_EQ(JoinDelimited({}, rs), "");
  EXPECT_EQ(JoinDelimited({""}, ','), "\"\"");
  EXPECT_EQ(JoinDelimited({"x y", "a,b"}, ','), "x y,\"a,b\"");
  const List round{"plain", "with,comma", "with \"quote\"", "", "tail"};
  EXPECT_EQ(SplitDelimited(JoinDelimited(round, ','), ','), round);
}

TEST(HelpersTest, HexNumbersAndDates) {
  EXPECT_EQ(HexToInt("1F"), 31);
  EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
  EXPECT_THROW(HexToInt(""), EConversionError);
  EXPECT_THROW(HexToInt("G1"), EConversionError);
  const TDateTime d{2025, 12, 8, 10, 15, 2, 0};
  EXPECT_EQ(HexToDateTime("7E9C080A0F02"), d);
  EXPECT_EQ(HexToDateTime("7e9c080a0f02ZZ"), d);
  EXPECT_EQ(DateTimeToHex(TDateTime{2025, 12, 8, 10, 15, 2, 999}), "7E9C080A0F02");
  for (const char* bad : {"7E9C080A0F", "7E9D080A0F02", "7E9C3F0A0F02", "", "7E9C08XX0F02"}) {
    try {
      HexToDateTime(bad);
      ADD_FAILURE() << bad;
    } catch (const EZVTcpConnection& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Error in date/time format: ", 0), 0u) << e.what();
    }
  }
}

TEST(HelpersTest, Predicates) {
  EXPECT_TRUE(IsZeroText("000000000000"));
  EXPECT_TRUE(IsZeroText(""));
  EXPECT_TRUE(IsZeroText("  0 "));
  EXPECT_FALSE(IsZeroText("0001"));
  EXPECT_TRUE(IsDottedQuadAddress("192.168.0.1"));
  EXPECT_TRUE(IsDottedQuadAddress("10.0.0.1"));
  for (const char* bad :
       {"256.1.1.1", "1.2.3", "1.2.3.4.", "", "300.1.1.1", "10.0.0", "a.b.c.d", "1.2.3.-1"}) {
    EXPECT_FALSE(IsDottedQuadAddress(bad)) << bad;
  }
  EXPECT_EQ(Capitalize("hELLO wORLD"), "Hello world");
  EXPECT_EQ(Capitalize(""), "");
  std::string list;
  AppendItem(list, "1 - Pager", ", ");
  AppendItem(list, "2 - SMS", ", ");
  EXPECT_EQ(list, "1 - Pager, 2 - SMS");
  EXPECT_EQ(ListWithItem("", "x", ";"), "x");
}

TEST(HelpersTest, IncrementIdWrapsAndNeverRepeatsAcrossThreads) {
  std::atomic<int32_t> counter{2147483646};
  EXPECT_EQ(IncrementId(counter), 1);
  EXPECT_EQ(counter.load(), 1);
  counter = 0;
  constexpr int kPerThread = 10000;
  std::vector<int32_t> seen[2];
  {
    std::jthread a([&] {
      for (int k = 0; k < kPerThread; ++k) seen[0].push_back(IncrementId(counter));
    });
    std::jthread b([&] {
      for (int k = 0; k < kPerThread; ++k) seen[1].push_back(IncrementId(counter));
    });
  }
  std::vector<int32_t> all(seen[0]);
  all.insert(all.end(), seen[1].begin(), seen[1].end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  EXPECT_EQ(counter.load(), 2 * kPerThread);
}

TEST(HelpersTest, SocketErrorTexts) {
  EXPECT_EQ(SocketErrorText(10060), "The connection timed out: the server did not answer");
  EXPECT_EQ(SocketErrorText(11001), "Wrong host address");
  EXPECT_EQ(SocketErrorText(10061), "Wrong port number or the server is not running");
  EXPECT_EQ(SocketErrorText(0), "Unknown connection error");
}

TEST(HelpersTest, DebugText) {
  EXPECT_EQ(DebugText("\x02LOGIN\x1D"
                      "abc\x03"),
            "02 \"LOGIN\" 1D \"abc\" 03 ");
  EXPECT_EQ(DebugText(""), "");
  EXPECT_EQ(DebugText("\x0E  say \"x\""), "\"say \"\"x\"\"\"");
  EXPECT_EQ(DebugText("a\r\n"), "\"a\" 0D 0A ");
}

}  // namespace
}  // namespace zv
