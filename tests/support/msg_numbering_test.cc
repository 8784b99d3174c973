#include "support/msg_numbering.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/data_access.h"
#include "support/file_size_limit.h"
#include "support/scratch_folder.h"

namespace zv {
namespace {

using testutil::Restart;

constexpr int32_t kBlock = TMsgNumbering::kBlockSize;

class MsgNumberingTest : public ::testing::Test {
 protected:
  static void Store(int32_t last) {
    TDataAccess::WriteToIni("ConsoleSys", "LastMsgNo", last);
    TDataAccess::SaveIni();
  }
  static int32_t Stored() { return TDataAccess::ReadFromIni("ConsoleSys", "LastMsgNo", -1); }
  // The clean exit of a process: the true last number, saved.
  static void ExitSave(TMsgNumbering& numbering) {
    numbering.PrepareExitSave();
    TDataAccess::SaveIni();
  }

  testutil::TScratchFolder FFolder;
};

// Killed after any number of draws, the next run never repeats a number and
// skips at most one block; a clean exit skips none. Across the wrap too.
TEST_F(MsgNumberingTest, NoNumberRepeatsAfterAKillAndNoneIsSkippedAfterACleanExit) {
  for (const int32_t start : {0, TMsgNumbering::kLastNumber - 40}) {
    for (const int draws : {1, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock}) {
      for (const bool clean : {false, true}) {
        Store(start);
        Restart();
        std::vector<int32_t> drawn;
        {
          TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
          numbering.Load();
          for (int i = 0; i < draws; ++i) drawn.push_back(numbering.Next());
          if (clean) ExitSave(numbering);
        }
        Restart();
        TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
        numbering.Load();
        const int32_t next = numbering.Next();
        const int64_t expected = int64_t{drawn.back()} % TMsgNumbering::kLastNumber + 1;
        const auto context = std::to_string(start) + "/" + std::to_string(draws) + "/" +
                             (clean ? "clean" : "killed");
        EXPECT_EQ(std::count(drawn.begin(), drawn.end(), next), 0) << context;
        const int64_t gap =
            (next - expected + TMsgNumbering::kLastNumber) % TMsgNumbering::kLastNumber;
        EXPECT_EQ(gap == 0, clean || draws % kBlock == 0) << context;
        EXPECT_LE(gap, kBlock) << context;
      }
    }
  }
}

// A long batch reserves ever larger blocks, so it rewrites the file seldom;
// a kill still skips at most one (the largest) block.
TEST_F(MsgNumberingTest, ALongBatchReservesLargerBlocksUpToTheLimit) {
  constexpr int kDraws = 5000;
  {
    TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
    numbering.Load();
    for (int i = 1; i <= kDraws; ++i) ASSERT_EQ(numbering.Next(), i);
  }
  Restart();
  const int32_t stored = Stored();
  EXPECT_GT(stored - kDraws, kBlock);
  EXPECT_LE(stored - kDraws, TMsgNumbering::kMaxBlockSize);
}

// Another process reserves beyond this one's block: this one's next block
// starts after it, and its clean exit does not lower the file.
TEST_F(MsgNumberingTest, AnotherProcessesReservationIsNeverLoweredOrReused) {
  TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
  numbering.Load();
  EXPECT_EQ(numbering.Next(), 1);
  // As another process would save under the lock: the file says 100.
  testutil::WriteBytes(FFolder.Settings(), "[ConsoleSys]\r\nLastMsgNo=100\r\n");
  for (int32_t expected = 2; expected <= kBlock; ++expected) EXPECT_EQ(numbering.Next(), expected);
  EXPECT_EQ(numbering.Next(), 101);
  testutil::WriteBytes(FFolder.Settings(), "[ConsoleSys]\r\nLastMsgNo=500\r\n");
  ExitSave(numbering);
  Restart();
  EXPECT_EQ(Stored(), 500);
}

// Two real processes on one folder draw at once: no number is drawn twice.
TEST_F(MsgNumberingTest, TwoProcessesNeverDrawTheSameNumber) {
  constexpr int kDraws = 5 * kBlock + 3;
  TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
  numbering.Load();
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    for (int i = 0; i < kDraws; ++i) {
      const int32_t n = numbering.Next();
      if (write(fds[1], &n, sizeof n) != sizeof n) _exit(2);
    }
    ExitSave(numbering);
    _exit(0);
  }
  close(fds[1]);
  std::set<int32_t> seen;
  for (int i = 0; i < kDraws; ++i) EXPECT_TRUE(seen.insert(numbering.Next()).second);
  int32_t n = 0;
  int fromChild = 0;
  while (read(fds[0], &n, sizeof n) == sizeof n) {
    ++fromChild;
    EXPECT_TRUE(seen.insert(n).second) << n;
  }
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(fromChild, kDraws);
  ExitSave(numbering);
  Restart();
  EXPECT_GE(Stored(), *seen.rbegin());
}

TEST_F(MsgNumberingTest, ThreadsNeverDrawTheSameNumber) {
  constexpr int kThreads = 4;
  constexpr int kDraws = 200;
  TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
  numbering.Load();
  std::vector<std::vector<int32_t>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (auto& mine : drawn) {
    threads.emplace_back([&numbering, &mine] {
      for (int i = 0; i < kDraws; ++i) mine.push_back(numbering.Next());
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<int32_t> all;
  for (const auto& mine : drawn) all.insert(mine.begin(), mine.end());
  EXPECT_EQ(all.size(), std::size_t{kThreads} * kDraws);
  EXPECT_GE(Stored(), *all.rbegin());
}

// A full disk: numbering goes on in memory, with one warning; the file stays
// whole with its last saved block, and a later save catches up.
TEST_F(MsgNumberingTest, ABlockThatCannotBeSavedCostsOneWarningNotTheNumbers) {
  Store(0);
  TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
  std::vector<std::string> warnings;
  numbering.SetWarningSink([&warnings](const std::string& line) { warnings.push_back(line); });
  numbering.Load();
  numbering.Next();
  const std::string before = testutil::ReadBytes(FFolder.Settings());
  {
    const testutil::TFileSizeLimit fullDisk(4);
    for (int32_t expected = 2; expected <= 3 * kBlock; ++expected) {
      ASSERT_EQ(numbering.Next(), expected);
    }
  }
  EXPECT_EQ(testutil::ReadBytes(FFolder.Settings()), before);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].rfind("Message numbers could not be saved (Cannot ", 0), 0u) << warnings[0];
  numbering.Next();  // a new block, saved again
  Restart();
  EXPECT_EQ(Stored(), 4 * kBlock);
}


// Blocks reserved while the disk is full (the run: a file at 576 while
// numbers up to 1504 went out). Once the disk has room again, the first save
// of any kind records them, and the exit save the true last number, so only a
// kill before any save succeeds can repeat a number.
TEST_F(MsgNumberingTest, NumbersDrawnWhileSavesFailReachTheFileWithTheNextSave) {
  enum class TAfter { kExitSave, kDrawThenKill, kOtherSaveThenKill };
  const struct {
    TAfter after;
    int32_t atLeast;  // the stored value must not be below it
  } cases[] = {{TAfter::kExitSave, 1504},
               {TAfter::kDrawThenKill, 1505},
               {TAfter::kOtherSaveThenKill, 1504}};
  for (const auto& c : cases) {
    Store(0);
    Restart();
    {
      TMsgNumbering numbering("ConsoleSys", "LastMsgNo");
      numbering.Load();
      for (int32_t i = 1; i <= 576; ++i) ASSERT_EQ(numbering.Next(), i);
      ASSERT_EQ(Stored(), 576);
      {
        const testutil::TFileSizeLimit fullDisk(4);
        for (int32_t i = 577; i <= 1504; ++i) ASSERT_EQ(numbering.Next(), i);
      }
      switch (c.after) {
        case TAfter::kExitSave:
          ExitSave(numbering);
          break;
        case TAfter::kDrawThenKill:
          EXPECT_EQ(numbering.Next(), 1505);
          break;
        case TAfter::kOtherSaveThenKill:
          TDataAccess::SaveIni();
          break;
      }
    }
    Restart();
    const int32_t stored = Stored();
    EXPECT_GE(stored, c.atLeast) << static_cast<int>(c.after);
    if (c.after == TAfter::kExitSave) {
      EXPECT_EQ(stored, 1504);
    }
  }
}

}  // namespace
}  // namespace zv
