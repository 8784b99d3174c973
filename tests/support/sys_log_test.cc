#include "support/sys_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "support/data_access.h"
#include "support/helpers.h"
#include "support/scratch_folder.h"
#include "support/text.h"

namespace zv {
namespace {

using testutil::ReadBytes;
using testutil::ReadUtf16;
using testutil::Restart;

// Lines ended by CR LF; the text must end with one.
TStringList SplitLines(const std::string& text) {
  TStringList lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

std::u16string Widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

class SysLogTest : public ::testing::Test {
 protected:
  testutil::TScratchFolder FFolder;
};

TEST_F(SysLogTest, TheFirstItemIsNumberOneAndAllSixKeysAreSaved) {
  TSysLog log;
  log.LogItem("Start", "first", "");
  EXPECT_EQ(ReadUtf16(FFolder.Log(1)).rfind(u"Log Item: 1 (", 0), 0u);
  EXPECT_EQ(ReadBytes(FFolder.Settings()),
            "\xEF\xBB\xBF[SysLog]\r\nLogItemsCount=1\r\n"
            "LogFilesCount=1\r\nLogFileName=zvccLog1.txt"
            "\r\nMaxFiles=10\r\nMaxItems=10000\r\n"
            "LogEnabled=1\r\n\r\n");
}

// The action is written unchanged, the description trimmed; the text is
// UTF-16 little-endian without a byte-order mark, with CR LF line ends.
TEST_F(SysLogTest, OneItemByteForByte) {
  TSysLog log;
  const TDateTime before = TDateTime::Now();
  log.LogItem("  Act \xC3\xA9 ", " \r\n desc \xF0\x9F\x98\x80 \t\r\n", "\x02LOGIN\x1D");
  const TDateTime after = TDateTime::Now();

  const std::string bytes = ReadBytes(FFolder.Log(1));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("L\0", 2));
  const std::u16string text = ReadUtf16(FFolder.Log(1));
  const std::size_t open = text.find(u'(');
  const std::size_t close = text.find(u')');
  ASSERT_LT(open, close);
  const std::u16string stamp = text.substr(open + 1, close - open - 1);
  EXPECT_TRUE(stamp == Widen(LocalDateTimeText(before)) || stamp == Widen(LocalDateTimeText(after)))
      << Utf16ToUtf8(stamp);
  const std::u16string expected = u"Log Item: 1 (" + stamp + u")\r\n  Act \u00e9 \r\n" +
                                  u"Description: desc \U0001F600\r\nDebug Info: " +
                                  Widen(DebugText("\x02LOGIN\x1D")) + u"\r\n\r\n";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(bytes.size(), expected.size() * 2);
  EXPECT_NE(bytes.find(std::string("\x3D\xD8\x00\xDE", 4)), std::string::npos);
}

TEST_F(SysLogTest, TheDebugLineFollowsTheDebugMode) {
  TSysLog log;
  log.LogItem("A", "with", "");
  log.SetDebugMode(false);
  log.LogItem("B", "without", "raw");
  const std::string text = Utf16ToUtf8(ReadUtf16(FFolder.Log(1)));
  EXPECT_NE(text.find("\r\nDescription: with\r\nDebug Info: \r\n\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nDescription: without\r\n\r\n"), std::string::npos);
  EXPECT_EQ(text.find("raw"), std::string::npos);
}

TEST_F(SysLogTest, ItemsFromSeveralThreadsNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kItems = 25;
  TSysLog log;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kItems; ++i) {
        log.LogItem("T" + std::to_string(t), "item " + std::to_string(i), "\x02raw\x03");
      }
    });
  }
  for (auto& thread : threads) thread.join();

  // Every block between empty lines must be one whole item, numbered in turn.
  const std::string text = Utf16ToUtf8(ReadUtf16(FFolder.Log(1)));
  const TStringList lines = SplitLines(text);
  ASSERT_EQ(lines.size(), std::size_t{5} * kThreads * kItems);
  for (std::size_t i = 0; i < lines.size(); i += 5) {
    const std::string number = std::to_string(i / 5 + 1);
    EXPECT_EQ(lines[i].rfind("Log Item: " + number + " (", 0), 0u) << lines[i];
    EXPECT_EQ(lines[i].back(), ')') << lines[i];
    EXPECT_EQ(lines[i + 1].size(), 2u) << lines[i + 1];
    EXPECT_EQ(lines[i + 2].rfind("Description: item ", 0), 0u) << lines[i + 2];
    EXPECT_EQ(lines[i + 3], "Debug Info: " + DebugText("\x02raw\x03"));
    EXPECT_EQ(lines[i + 4], "");
  }
  log.Save();
  Restart();
  EXPECT_EQ(TDataAccess::ReadFromIni("SysLog", "LogItemsCount", 0), kThreads * kItems);
}

// A process killed between writing an item and saving the counters: the file
// is ahead of the stored count, and numbering must not repeat a number.
TEST_F(SysLogTest, NumberingCarriesOnAfterTheLargerOfTheStoredCountAndTheFile) {
  const struct {
    int stored;
    const char16_t* next;
  } cases[] = {{1, u"Log Item: 4 ("}, {7, u"Log Item: 8 ("}};
  for (const auto& c : cases) {
    std::filesystem::remove(FFolder.Log(1));
    {
      TSysLog log;
      for (const char* action : {"a", "b", "c"}) log.LogItem(action, "Log Item: 99", "");
    }
    TDataAccess::WriteToIni("SysLog", "LogItemsCount", c.stored);
    TDataAccess::SaveIni();
    Restart();
    TSysLog log;
    log.LogItem("d", "", "");
    const std::u16string text = ReadUtf16(FFolder.Log(1));
    EXPECT_NE(text.find(c.next), std::u16string::npos) << c.stored;
    EXPECT_EQ(text.find(u"Log Item: 2 ("), text.rfind(u"Log Item: 2 (")) << c.stored;
  }
}

}  // namespace
}  // namespace zv
