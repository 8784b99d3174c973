#include "support/data_access.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "support/exceptions.h"
#include "support/file_size_limit.h"
#include "support/scratch_folder.h"

namespace zv {
namespace {

using testutil::ReadBytes;
using testutil::Restart;
using testutil::WriteBytes;
using DA = TDataAccess;
using ::testing::EndsWith;
using ::testing::StartsWith;

class DataAccessTest : public ::testing::Test {
 protected:
  // Puts `text` in the settings file and re-reads it, as a start would.
  void StartWith(const std::string& text) {
    WriteBytes(FFolder.Settings(), text);
    Restart();
  }

  testutil::TScratchFolder FFolder;
};

// A literal default must choose the text read, never the Boolean one.
static_assert(std::is_same_v<decltype(DA::ReadFromIni("S", "K", "text")), std::string>);
static_assert(std::is_same_v<decltype(DA::ReadFromIni("S", "K", true)), bool>);
static_assert(std::is_same_v<decltype(DA::ReadFromIni("S", "K", 1)), int32_t>);
static_assert(std::is_same_v<decltype(DA::ReadFromIni("S", "K", 1u)), uint32_t>);

TEST_F(DataAccessTest, WithoutAFileEveryReadGivesItsDefaultAndNothingIsCreated) {
  EXPECT_EQ(DA::ReadFromIni("ConsoleSys", "ServerPort", 6022), 6022);
  EXPECT_EQ(DA::ReadFromIni("ConsoleSys", "ServerIP", "127.0.0.1"), "127.0.0.1");
  EXPECT_TRUE(DA::ReadFromIni("ConsoleSys", "Flag", true));
  EXPECT_FALSE(DA::ReadFromIni("ConsoleSys", "Flag", false));
  EXPECT_EQ(DA::IniFilePath(), FFolder.Settings().string());
  EXPECT_FALSE(std::filesystem::exists(FFolder.Settings()));
}

TEST_F(DataAccessTest, StoredValuesAreReadByTheIntegerRule) {
  StartWith(
      "[S]\r\nhex=0x1F\r\ndollar=$1F\r\nbare=1F\r\nneg=-5\r\nempty=\r\n"
      "two=2\r\nword=true\r\nzero=0\r\nall=$FFFFFFFF\r\n");
  struct Case {
    const char* key;
    int32_t expected;
  };
  for (const Case& c : {Case{"hex", 31}, Case{"dollar", 31}, Case{"bare", 77}, Case{"neg", -5},
                        Case{"empty", 77}, Case{"missing", 77}, Case{"all", -1}}) {
    EXPECT_EQ(DA::ReadFromIni("S", c.key, 77), c.expected) << c.key;
  }
  EXPECT_EQ(DA::ReadFromIni("S", "all", 7u), 0xFFFFFFFFu);
  EXPECT_TRUE(DA::ReadFromIni("S", "two", false));
  EXPECT_FALSE(DA::ReadFromIni("S", "zero", true));
  EXPECT_TRUE(DA::ReadFromIni("S", "word", true));
  EXPECT_FALSE(DA::ReadFromIni("S", "word", false));
  EXPECT_EQ(DA::ReadFromIni("S", "empty", "dflt"), "dflt");
  EXPECT_EQ(DA::ReadFromIni("S", "bare", "dflt"), "1F");
}

TEST_F(DataAccessTest, SaveKeepsTheFilesSectionCaseAndWritesTheExactLayout) {
  StartWith(
      "\xEF\xBB\xBF; comment\r\n[consolesys]\r\n  serverport = 10 \r\n"
      "; inner comment\r\nnot a pair\r\n");
  EXPECT_EQ(DA::ReadFromIni("ConsoleSys", "ServerPort", 0), 10);
  DA::WriteToIni("ConsoleSys", "ServerPort", 11);
  DA::WriteToIni("Other", "Flag", true);
  DA::WriteToIni("Other", "Neg", -7);
  DA::SaveIni();
  EXPECT_EQ(ReadBytes(FFolder.Settings()),
            "\xEF\xBB\xBF[consolesys]\r\nServerPort=11\r\nnot a pair\r\n\r\n"
            "[Other]\r\nFlag=1\r\nNeg=-7\r\n\r\n");
  EXPECT_FALSE(std::filesystem::exists(FFolder.Settings().string() + ".tmp"));
}

TEST_F(DataAccessTest, TextIsSavedUnchangedButTrimmedAndCutAtLineBreaksOnRestart) {
  DA::WriteToIni("S", "Padded", "  a b  ");
  DA::WriteToIni("S", "Multi", std::string("one\r\ntwo"));
  DA::SaveIni();
  EXPECT_EQ(DA::ReadFromIni("S", "Padded", ""), "  a b  ");
  EXPECT_EQ(ReadBytes(FFolder.Settings()),
            "\xEF\xBB\xBF[S]\r\nPadded=  a b  \r\nMulti=one\r\ntwo\r\n\r\n");
  Restart();
  EXPECT_EQ(DA::ReadFromIni("S", "Padded", ""), "a b");
  EXPECT_EQ(DA::ReadFromIni("S", "Multi", ""), "one");
  EXPECT_EQ(DA::ReadFromIni("S", "two", "none"), "none");
}

TEST_F(DataAccessTest, UnsignedValuesKeepTheirBitsAndDatesRoundTrip) {
  DA::WriteToIni("S", "Big", 4294967295u);
  DA::WriteToIni("S", "Half", 2147483648u);
  const TDateTime afternoon{2025, 12, 8, 22, 15, 2};
  const TDateTime midnight{2025, 1, 31};
  DA::WriteToIni("S", "When", afternoon);
  DA::WriteToIni("S", "Day", midnight);
  DA::SaveIni();
  Restart();
  EXPECT_EQ(DA::ReadFromIni("S", "Big", 0), -1);
  EXPECT_EQ(DA::ReadFromIni("S", "Half", ""), "-2147483648");
  EXPECT_EQ(DA::ReadFromIni("S", "Half", 0u), 2147483648u);
  EXPECT_EQ(DA::ReadFromIni("S", "Day", ""), "31/01/2025");
  EXPECT_EQ(DA::ReadFromIni("S", "Day", TDateTime{}), midnight);
  EXPECT_EQ(DA::ReadFromIni("S", "When", TDateTime{}), afternoon);

  StartWith("[S]\nPm=8/12/2025 7:05 PM\nBad=31/02/2025\nWord=today\nTail=1/1/2000 1:02:03 x\n");
  EXPECT_EQ(DA::ReadFromIni("S", "Pm", TDateTime{}), (TDateTime{2025, 12, 8, 19, 5, 0}));
  for (const char* key : {"Bad", "Word", "Tail", "Missing"}) {
    EXPECT_EQ(DA::ReadFromIni("S", key, midnight), midnight) << key;
  }
}

TEST_F(DataAccessTest, AFailedSaveKeepsTheOldFileAndTheValuesInMemory) {
  DA::WriteToIni("S", "K", 1);
  DA::SaveIni();
  const std::string saved = ReadBytes(FFolder.Settings());
  DA::WriteToIni("S", "K", 2);
  DA::WriteToIni("S", "Bulk", std::string(4096, 'x'));
  {
    const testutil::TFileSizeLimit fullDisk(1024);
    try {
      DA::SaveIni();
      ADD_FAILURE() << "SaveIni succeeded";
    } catch (const EFileCreateError& e) {
      // The error names the file that could not be written: the temporary one.
      EXPECT_THAT(e.what(), StartsWith("Cannot create file \"" + DA::IniFilePath() + ".tmp-"));
      EXPECT_THAT(e.what(), EndsWith("\". File too large"));
    }
  }
  EXPECT_EQ(ReadBytes(FFolder.Settings()), saved);
  EXPECT_EQ(DA::ReadFromIni("S", "K", 0), 2);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FFolder.Path() / "Settings"),
                          std::filesystem::directory_iterator()),
            1)
      << "a temporary file was left";

  DA::SaveIni();
  Restart();
  EXPECT_EQ(DA::ReadFromIni("S", "K", 0), 2);

  std::filesystem::remove_all(FFolder.Path() / "Settings");
  EXPECT_THROW(DA::SaveIni(), EFileCreateError);
}

TEST_F(DataAccessTest, SectionOperations) {
  StartWith("[A]\na=1\nb=2\nc=3\n[B]\nx=1\n");
  DA::DeleteKeys("a", {"A", "c", "missing"});
  DA::RemoveSection("b");
  DA::WriteSectionValues("C", {"p=1", "no pair", "q==2"});
  DA::WriteSectionValues("D", {"m", "n"}, {"1", "2"});
  DA::WriteSectionValues("E", {"m", "n"}, {"1"});
  DA::SaveIni();
  EXPECT_EQ(ReadBytes(FFolder.Settings()),
            "\xEF\xBB\xBF[A]\r\nb=2\r\n\r\n[C]\r\np=1\r\nq==2\r\n\r\n[D]\r\nm=1\r\nn=2\r\n\r\n");

  const TIniStore other = TIniStore::FromText("[X]\nk=v\ne=\n");
  EXPECT_EQ(DA::ReadStringFromIni(other, "x", "K", "d"), "v");
  EXPECT_EQ(DA::ReadStringFromIni(other, "x", "e", "d"), "d");
}

TEST_F(DataAccessTest, MixedValuesAreWrittenAndReadByTheirKind) {
  DA::WriteToIniSec("M", {"b", "i", "l", "t", "d"},
                    {true, int32_t{-3}, int64_t{0x100000005}, std::string("txt"), 1.5});
  DA::WriteToIniSec("N", {"only"}, {});
  EXPECT_EQ(DA::ReadFromIni("M", "l", 0), 5);
  EXPECT_EQ(DA::ReadFromIni("M", "d", "none"), "none");
  EXPECT_EQ(DA::ReadFromIni("N", "only", "none"), "none");

  std::vector<TIniValue> values{std::string("stale")};
  DA::ReadFromIniSec("M", {"b", "i", "l", "t", "d", "x"}, values,
                     {false, int32_t{0}, int64_t{9}, std::string(), 0.0, int64_t{0x700000008}});
  const std::vector<TIniValue> expected{true,        int32_t{-3}, int32_t{5}, std::string("txt"),
                                        TIniValue{}, int32_t{8}};
  EXPECT_EQ(values, expected);

  std::vector<TIniValue> untouched{int32_t{1}};
  DA::ReadFromIniSec("M", {"b", "i"}, untouched, {false});
  EXPECT_EQ(untouched, std::vector<TIniValue>{int32_t{1}});
}

TEST_F(DataAccessTest, ConcurrentWritesAndSavesLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 60;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string section = "T" + std::to_string(t);
      for (int k = 0; k < kKeys; ++k) {
        DA::WriteToIni(section, "K" + std::to_string(k), t * 1000 + k);
        EXPECT_EQ(DA::ReadFromIni(section, "K" + std::to_string(k), -1), t * 1000 + k);
        if (k % 10 == 9) DA::SaveIni();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  Restart();
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      ASSERT_EQ(DA::ReadFromIni("T" + std::to_string(t), "K" + std::to_string(k), -1),
                t * 1000 + k);
    }
  }
}

// A save that stays stuck in writing makes a second SaveIni give up after its
// 200 ms and hand over: the stuck save writes the file once more, with the
// second caller's change.
TEST_F(DataAccessTest, ASaveThatCannotWaitHandsItsChangesToTheRunningSave) {
  std::mutex mutex;
  std::condition_variable cv;
  bool stuck = false;
  bool release = false;
  std::vector<std::string> written;
  DA::SetWriterForTesting([&](const std::string&, std::string_view content) {
    std::unique_lock lock(mutex);
    written.emplace_back(content);
    if (written.size() == 1) {
      stuck = true;
      cv.notify_all();
      cv.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
    }
  });
  DA::WriteToIni("S", "First", 1);
  std::thread first([] { DA::SaveIni(); });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return stuck; }));
  }

  DA::WriteToIni("S", "Second", 2);
  const auto start = std::chrono::steady_clock::now();
  DA::SaveIni();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  first.join();
  DA::SetWriterForTesting({});

  ASSERT_EQ(written.size(), 2u);
  EXPECT_NE(written[0].find("First=1"), std::string::npos);
  EXPECT_EQ(written[0].find("Second="), std::string::npos);
  EXPECT_NE(written[1].find("Second=2"), std::string::npos);
}

}  // namespace
}  // namespace zv
