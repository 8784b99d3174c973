#include "support/custom_log.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/file_size_limit.h"
#include "support/scratch_folder.h"

namespace zv {
namespace {

using testutil::ReadBytes;
using testutil::ReadUtf16;
using testutil::Restart;
using testutil::WriteBytes;

// Items as "<number>:<action>" lines, so file contents are predictable.
class TTestLog : public TCustomLog {
 public:
  explicit TTestLog(std::string ident = "TestLog", std::string pattern = "test%d.log")
      : TCustomLog(std::move(ident), std::move(pattern)) {}

 protected:
  std::string FormatItem(std::string_view action, std::string_view, std::string_view) override {
    return std::to_string(FItemsCount) + ":" + std::string(action) + "\r\n";
  }
};

class CustomLogTest : public ::testing::Test {
 protected:
  void StartWith(const std::string& settings) {
    WriteBytes(FFolder.Settings(), settings);
    Restart();
  }
  std::filesystem::path File(int number) const { return FFolder.Log(number, "test", ".log"); }
  static void Log(TCustomLog& log, const std::string& actions) {
    for (const char action : actions) log.LogItem(std::string(1, action), "", "");
  }
  static int32_t Stored(const char* key) { return TDataAccess::ReadFromIni("TestLog", key, -99); }

  testutil::TScratchFolder FFolder;
};

TEST_F(CustomLogTest, TheRingStartsEachFileAfreshWithItemOne) {
  StartWith("[TestLog]\r\nMaxItems=3\r\nMaxFiles=2\r\n");
  TTestLog log;
  Log(log, "abc");
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:b\r\n3:c\r\n");
  Log(log, "def");
  EXPECT_EQ(ReadUtf16(File(2)), u"1:d\r\n2:e\r\n3:f\r\n");
  Log(log, "g");
  EXPECT_EQ(ReadUtf16(File(1)), u"1:g\r\n");
  EXPECT_EQ(log.LogFileName(), File(1).string());
  Restart();
  EXPECT_EQ(Stored("LogItemsCount"), 1);
  EXPECT_EQ(Stored("LogFilesCount"), 1);
  EXPECT_EQ(TDataAccess::ReadFromIni("TestLog", "LogFileName", ""), File(1).string());
}

TEST_F(CustomLogTest, ZeroLimitsAreTakenUnchecked) {
  struct Case {
    const char* settings;
    std::vector<int> files;  // the file each of the items a, b, c ends in
    std::vector<std::u16string> contents;
  };
  const Case cases[] = {
      {"[TestLog]\nMaxItems=0\nMaxFiles=3\n", {2, 3, 1}, {u"1:a\r\n", u"1:b\r\n", u"1:c\r\n"}},
      {"[TestLog]\nMaxItems=2\nMaxFiles=0\n",
       {1, 1, 1},
       {u"1:a\r\n", u"1:a\r\n2:b\r\n", u"1:c\r\n"}},
  };
  for (const Case& c : cases) {
    StartWith(c.settings);
    std::filesystem::remove_all(FFolder.Path() / "Logs");
    std::filesystem::create_directory(FFolder.Path() / "Logs");
    TTestLog log;
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      log.LogItem(std::string(1, static_cast<char>('a' + i)), "", "");
      EXPECT_EQ(ReadUtf16(File(c.files[i])), c.contents[i]) << c.settings << " item " << i;
    }
  }
}

TEST_F(CustomLogTest, ADisabledLogWritesNothingAndLeavesTheSettingsFileAlone) {
  const std::string settings = "[TestLog]\r\nLogEnabled=0\r\n; kept only while nobody saves\r\n";
  StartWith(settings);
  TTestLog log;
  Log(log, "ab");
  EXPECT_EQ(ReadBytes(File(1)), "");
  EXPECT_EQ(ReadBytes(FFolder.Settings()), settings);
}

TEST_F(CustomLogTest, ARestartCarriesOnInTheStoredFile) {
  StartWith("[TestLog]\r\nMaxItems=6\r\n");
  {
    TTestLog log;
    Log(log, "abcde");
  }
  Restart();
  TTestLog log;
  Log(log, "fg");
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:b\r\n3:c\r\n4:d\r\n5:e\r\n6:f\r\n");
  EXPECT_EQ(ReadUtf16(File(2)), u"1:g\r\n");
}

TEST_F(CustomLogTest, TheHolderOfTheLockMayStillLog) {
  TTestLog log;
  log.Lock();
  Log(log, "a");
  log.Unlock();
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n");
}

// When the next file of the ring cannot be created the item fails, nothing
// is counted or saved, and every later item tries the same file change again.
TEST_F(CustomLogTest, AFailedFileChangeIsRetriedByTheNextItem) {
  StartWith("[TestLog]\r\nMaxItems=2\r\nMaxFiles=3\r\n");
  TTestLog log;
  Log(log, "ab");
  const std::string settings = ReadBytes(FFolder.Settings());
  std::filesystem::create_directories(File(2) / "inside");

  EXPECT_THROW(Log(log, "c"), EFileCreateError);
  EXPECT_THROW(Log(log, "d"), EFileCreateError);
  EXPECT_EQ(ReadBytes(FFolder.Settings()), settings);
  log.LogLines("note\r\n");  // reopens the current file
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:b\r\nnote\r\n");

  std::filesystem::remove_all(File(2));
  Log(log, "e");
  EXPECT_EQ(ReadUtf16(File(2)), u"1:e\r\n");
  EXPECT_EQ(Stored("LogFilesCount"), 2);
  EXPECT_EQ(Stored("LogItemsCount"), 1);
}

TEST_F(CustomLogTest, CreationFailures) {
  try {
    TTestLog log("", "x%d");
    ADD_FAILURE() << "created without a section name";
  } catch (const EZVIncompleteObject& e) {
    EXPECT_STREQ(e.what(), "Cannot create log object without defaults");
  }
  EXPECT_THROW(TTestLog("TestLog", ""), EZVIncompleteObject);

  std::filesystem::create_directories(File(1) / "inside");
  EXPECT_THROW(TTestLog(), EFileOpenError);
  std::filesystem::remove_all(FFolder.Path() / "Logs");
  EXPECT_THROW(TTestLog(), EFileCreateError);
  EXPECT_FALSE(std::filesystem::exists(FFolder.Path() / "Logs"));
}

TEST_F(CustomLogTest, ResetEmptiesFileOneAndSavesTheCounters) {
  WriteBytes(File(1), "old bytes");
  StartWith("[TestLog]\r\nMaxFiles=3\r\nLogFilesCount=2\r\nLogItemsCount=1\r\nLogFileName=" +
            File(2).string() + "\r\n");
  TTestLog log;
  log.Reset();
  EXPECT_EQ(ReadBytes(File(1)), "");
  Restart();
  EXPECT_EQ(Stored("LogFilesCount"), 1);
  EXPECT_EQ(Stored("LogItemsCount"), 0);
  Log(log, "a");
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n");
}

TEST_F(CustomLogTest, ShowLogReadsBackLinesAndItems) {
  TTestLog log;
  log.LogLines("fr\xC3\xA9\r\nsecond\n");
  Log(log, "a");
  TStringList lines{"stale"};
  log.ShowLog(lines);
  EXPECT_EQ(lines, (TStringList{"fr\xC3\xA9", "second", "1:a"}));
  Log(log, "b");  // appends after the read
  EXPECT_EQ(ReadUtf16(File(1)), u"fr\u00e9\r\nsecond\n1:a\r\n2:b\r\n");
}

TEST_F(CustomLogTest, PropertiesAcceptOnlyPositiveValues) {
  TTestLog log;
  log.SetItemsPerFile(0);
  log.SetNoOfFiles(-1);
  EXPECT_EQ(log.ItemsPerFile(), 10000);
  EXPECT_EQ(log.NoOfFiles(), 10);
  log.SetItemsPerFile(1);
  log.SetNoOfFiles(2);
  Log(log, "ab");
  EXPECT_EQ(ReadUtf16(File(2)), u"1:b\r\n");
  EXPECT_EQ(log.NoOfFiles(), 2);
}

TEST_F(CustomLogTest, AnItemThatCannotBeWrittenWholeLeavesNoPartOfItself) {
  TTestLog log;
  Log(log, "a");
  const std::string before = ReadBytes(File(1));
  {
    // A full disk after four more bytes: the item is cut off mid-text.
    const testutil::TFileSizeLimit fullDisk(before.size() + 4);
    EXPECT_THROW(Log(log, "b"), EZVFileError);
  }
  EXPECT_EQ(ReadBytes(File(1)), before);
  Log(log, "c");  // space again: the next item takes the number and a line of its own
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:c\r\n");
}

}  // namespace
}  // namespace zv
