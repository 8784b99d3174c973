#include "support/data_access.h"

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

#include "scratch_folder.h"
#include "support/exceptions.h"

namespace zv {
namespace {

using testutil::ReadBytes;
using testutil::Restart;
using testutil::WriteBytes;
using DA = TDataAccess;

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

  // A non-empty directory where the temporary file must go defeats even root.
  const auto blocker = FFolder.Settings().string() + ".tmp";
  std::filesystem::create_directories(blocker + "/inside");
  try {
    DA::SaveIni();
    ADD_FAILURE() << "SaveIni succeeded";
  } catch (const EFileCreateError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + DA::IniFilePath() + "\". ", 0),
              0u)
        << e.what();
  }
  EXPECT_EQ(ReadBytes(FFolder.Settings()), saved);
  EXPECT_EQ(DA::ReadFromIni("S", "K", 0), 2);

  std::filesystem::remove_all(blocker);
  DA::SaveIni();
  Restart();
  EXPECT_EQ(DA::ReadFromIni("S", "K", 0), 2);

  std::filesystem::remove_all(FFolder.Path() / "Settings");
  EXPECT_THROW(DA::SaveIni(), EFileCreateError);
  EXPECT_FALSE(std::filesystem::exists(FFolder.Path() / "Settings"));
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
// second caller's change. A FIFO at the temporary file's place keeps the
// first save stuck until the test drains it.
TEST_F(DataAccessTest, ASaveThatCannotWaitHandsItsChangesToTheRunningSave) {
  const std::string fifo = FFolder.Settings().string() + ".tmp";
  if (std::system(("mkfifo '" + fifo + "'").c_str()) != 0) GTEST_SKIP() << "no mkfifo";
  DA::WriteToIni("S", "Bulk", std::string(1 << 20, 'x'));  // more than a pipe holds
  DA::WriteToIni("S", "First", 1);
  std::thread first([] { DA::SaveIni(); });

  // Should the save never open the FIFO, this unblocks the test's open.
  std::mutex mutex;
  std::condition_variable cv;
  bool opened = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return opened; })) {
      if (std::FILE* f = std::fopen(fifo.c_str(), "r+b")) std::fclose(f);
    }
  });
  std::FILE* reader = std::fopen(fifo.c_str(), "rb");  // returns once the save writes
  {
    std::lock_guard lock(mutex);
    opened = true;
  }
  cv.notify_all();
  watchdog.join();
  ASSERT_NE(reader, nullptr);

  DA::WriteToIni("S", "Second", 2);
  const auto start = std::chrono::steady_clock::now();
  DA::SaveIni();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));

  std::string drained;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, reader)) > 0) drained.append(buffer, n);
  std::fclose(reader);
  first.join();

  EXPECT_NE(drained.find("First=1"), std::string::npos);
  EXPECT_EQ(drained.find("Second="), std::string::npos);
  ASSERT_TRUE(std::filesystem::is_regular_file(FFolder.Settings()));
  Restart();
  EXPECT_EQ(DA::ReadFromIni("S", "Second", 0), 2);
  EXPECT_EQ(DA::ReadFromIni("S", "Bulk", "").size(), std::size_t{1} << 20);
}

}  // namespace
}  // namespace zv
