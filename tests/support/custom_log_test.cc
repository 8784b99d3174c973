#include "support/custom_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

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
      : TCustomLog(std::move(ident), std::move(pattern)) {
    ResumeNumbering("");                            // an item's line starts with its number
    FRetryInterval = std::chrono::milliseconds(0);  // retry at the next item
  }
  void SetRetryInterval(std::chrono::milliseconds interval) { FRetryInterval = interval; }

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
  // Collects the log's warnings.
  static std::vector<std::string>& Warnings(TCustomLog& log) {
    static std::vector<std::string> lines;
    lines.clear();
    log.SetWarningSink([](const std::string& line) { lines.push_back(line); });
    return lines;
  }

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
  // The change of file is saved before the new file's first item, and the
  // file by its name in Logs/.
  Restart();
  EXPECT_EQ(Stored("LogItemsCount"), 0);
  EXPECT_EQ(Stored("LogFilesCount"), 1);
  EXPECT_EQ(TDataAccess::ReadFromIni("TestLog", "LogFileName", ""), "test1.log");
}

// Only a change of file and the passing of kCounterSaveMs save the counters.
TEST_F(CustomLogTest, ItemsDoNotRewriteTheSettingsFileEachTime) {
  int saves = 0;
  TDataAccess::SetWriterForTesting([&saves](const std::string&, std::string_view) { ++saves; });
  const auto start = std::chrono::steady_clock::now();
  {
    TTestLog log;
    Log(log, std::string(300, 'x'));
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  TDataAccess::SetWriterForTesting(nullptr);
  const auto periods = elapsed / std::chrono::milliseconds(TCustomLog::kCounterSaveMs);
  EXPECT_GE(saves, 1);
  EXPECT_LE(saves, 1 + periods);
}

// A stored path outside this home's Logs/ (an older version's absolute path,
// a moved or copied folder) keeps only its file name; saves write the name.
TEST_F(CustomLogTest, TheStoredFileIsAlwaysTakenInsideLogs) {
  const struct {
    std::string stored;
    int file;
  } cases[] = {
      {"/opt/elsewhere/Logs/test3.log", 3},
      {"../../outside/test2.log", 2},
      {"test2.log", 2},
      {"/", 1},
      {"..", 1},
  };
  for (const auto& c : cases) {
    StartWith("[TestLog]\r\nLogFileName=" + c.stored + "\r\n");
    TTestLog log;
    EXPECT_EQ(log.LogFileName(), File(c.file).string()) << c.stored;
    log.Save();
    Restart();
    EXPECT_EQ(TDataAccess::ReadFromIni("TestLog", "LogFileName", ""),
              File(c.file).filename().string());
  }
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

// A restart (after a kill too, the counters unsaved) carries on in the stored
// file; one right after a change of file never empties the new file again.
TEST_F(CustomLogTest, ARestartCarriesOnInTheStoredFile) {
  const struct {
    const char* maxItems;
    const char* before;
    const char* after;
    std::u16string file1;
    std::u16string file2;
  } cases[] = {
      {"6", "abcde", "fg", u"1:a\r\n2:b\r\n3:c\r\n4:d\r\n5:e\r\n6:f\r\n", u"1:g\r\n"},
      {"2", "abc", "d", u"1:a\r\n2:b\r\n", u"1:c\r\n2:d\r\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(File(1));
    std::filesystem::remove(File(2));
    StartWith(std::string("[TestLog]\r\nMaxFiles=3\r\nMaxItems=") + c.maxItems + "\r\n");
    {
      TTestLog log;
      Log(log, c.before);
    }
    Restart();
    TTestLog log;
    Log(log, c.after);
    EXPECT_EQ(ReadUtf16(File(1)), c.file1) << c.before;
    EXPECT_EQ(ReadUtf16(File(2)), c.file2) << c.before;
  }
}

TEST_F(CustomLogTest, TheHolderOfTheLockMayStillLog) {
  TTestLog log;
  log.Lock();
  Log(log, "a");
  log.Unlock();
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n");
}

// When the next file of the ring cannot be created the item is lost, nothing
// is counted or saved, and every later item tries the same file change again;
// the operator hears once that logging stopped and once that it resumed.
TEST_F(CustomLogTest, AFailedFileChangeStopsLoggingUntilTheNextItemSucceeds) {
  StartWith("[TestLog]\r\nMaxItems=2\r\nMaxFiles=3\r\n");
  TTestLog log;
  auto& warnings = Warnings(log);
  Log(log, "ab");
  log.Save();
  const std::string settings = ReadBytes(FFolder.Settings());
  std::filesystem::create_directories(File(2) / "inside");

  Log(log, "cd");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("Logging stopped: Cannot create file \"" + File(2).string(), 0), 0u)
      << warnings[0];
  EXPECT_EQ(ReadBytes(FFolder.Settings()), settings);
  log.LogLines("note\r\n");  // reopens the current file
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:b\r\nnote\r\n");

  std::filesystem::remove_all(File(2));
  Log(log, "e");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[1],
            "Logging resumed in \"" + File(2).string() + "\"; 2 items were not logged.");
  EXPECT_EQ(ReadUtf16(File(2)), u"1:e\r\n");
  EXPECT_EQ(Stored("LogFilesCount"), 2);
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
  auto& warnings = Warnings(log);
  Log(log, "a");
  const std::string before = ReadBytes(File(1));
  {
    // A full disk after four more bytes: the item is cut off mid-text.
    const testutil::TFileSizeLimit fullDisk(before.size() + 4);
    Log(log, "bb");
  }
  EXPECT_EQ(ReadBytes(File(1)), before);
  Log(log, "c");  // space again: the next item takes the number and a line of its own
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:c\r\n");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("Logging stopped: Cannot write file"), std::string::npos);
  EXPECT_NE(warnings[1].find("; 2 items were not logged."), std::string::npos);
}

// On a nearly full disk a short item may fit where a long one did not: a
// stopped log waits out its retry interval instead of flapping per item.
TEST_F(CustomLogTest, AStoppedLogTriesAgainOnlyAfterItsRetryInterval) {
  TTestLog log;
  log.SetRetryInterval(std::chrono::hours(1));
  auto& warnings = Warnings(log);
  Log(log, "a");
  const std::string before = ReadBytes(File(1));
  {
    const testutil::TFileSizeLimit nearlyFull(before.size() + 12);
    log.LogItem("long enough not to fit", "", "");
    Log(log, "bc");  // would fit, but the interval has not passed
  }
  EXPECT_EQ(ReadBytes(File(1)), before);
  ASSERT_EQ(warnings.size(), 1u);
  log.SetRetryInterval(std::chrono::milliseconds(0));
  Log(log, "d");
  EXPECT_EQ(ReadUtf16(File(1)), u"1:a\r\n2:d\r\n");
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[1].find("; 3 items were not logged."), std::string::npos) << warnings[1];
}

// Two logs on one ring stand for two processes of one home (a console and a
// `zvcc send` run): whoever writes, each item follows the last one in the
// file, and a change of file made by one is followed by the other, never made
// again (which would empty the file the first one started).
TEST_F(CustomLogTest, LogsSharingTheRingNumberAfterEachOther) {
  const struct {
    const char* order;  // which log writes each item: A or B
    std::u16string file1;
    std::u16string file2;
  } cases[] = {
      {"AABBBA", u"1:A\r\n2:A\r\n3:B\r\n4:B\r\n", u"1:B\r\n2:A\r\n"},
      {"ABABAB", u"1:A\r\n2:B\r\n3:A\r\n4:B\r\n", u"1:A\r\n2:B\r\n"},
      {"BAAAAA", u"1:B\r\n2:A\r\n3:A\r\n4:A\r\n", u"1:A\r\n2:A\r\n"},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(File(1));
    std::filesystem::remove(File(2));
    StartWith("[TestLog]\r\nMaxFiles=3\r\nMaxItems=4\r\n");
    TTestLog a;
    TTestLog b;
    for (const char* who = c.order; *who != 0; ++who) Log(*who == 'A' ? a : b, std::string(1, *who));
    EXPECT_EQ(ReadUtf16(File(1)), c.file1) << c.order;
    EXPECT_EQ(ReadUtf16(File(2)), c.file2) << c.order;
    EXPECT_EQ(a.LogFileName(), File(2).string()) << c.order;
  }
}

// A save of one process's counters never moves them back behind what another
// one saved, and the next run carries on from what the file holds, also when
// an older version numbered items twice.
TEST_F(CustomLogTest, SavedCountersNeverMoveBackAndARunCarriesOnFromTheFile) {
  StartWith("[TestLog]\r\nMaxItems=100\r\n");
  {
    TTestLog console;
    Log(console, "ccc");
    console.Save();
    {
      TTestLog send;
      Log(send, std::string(10, 's'));
      send.Save();
    }
    // The console's exit save, its counters unchanged since item 3.
    console.StoreSettings();
    TDataAccess::SaveIni();
  }
  Restart();
  EXPECT_EQ(Stored("LogItemsCount"), 13);

  // Items 1 to 3, then 2 to 4 again: six items; the stored count says 4.
  WriteBytes(File(1), std::string("1\0:\0a\0\r\0\n\0", 10) + std::string("2\0:\0a\0\r\0\n\0", 10) +
                          std::string("3\0:\0a\0\r\0\n\0", 10) + std::string("2\0:\0b\0\r\0\n\0", 10) +
                          std::string("3\0:\0b\0\r\0\n\0", 10) + std::string("4\0:\0b\0\r\0\n\0", 10));
  StartWith("[TestLog]\r\nMaxItems=100\r\nLogItemsCount=4\r\nLogFileName=test1.log\r\n");
  TTestLog next;
  Log(next, "n");
  EXPECT_EQ(ReadUtf16(File(1)).substr(30), u"7:n\r\n");
}

}  // namespace
}  // namespace zv
