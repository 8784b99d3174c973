// The outbox as a file: what one owner committed the next one and other
// processes see, what is refused rather than replaced, and a full disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "outbox/outbox.h"
#include "outbox/sqlite_db.h"
#include "outbox_fixture.h"
#include "support/file_size_limit.h"

namespace zv {
namespace {

using testutil::kMinute;
using testutil::kT0;
using testutil::Order;
using testutil::ReadBytes;
using testutil::WriteBytes;

class OutboxFileTest : public testutil::OutboxTest {
 protected:
  // The waiting pages a reader in another process finds; -1 when it failed.
  int WaitingInAnotherProcess() {
    const pid_t child = fork();
    if (child == 0) {
      int waiting = -1;
      try {
        waiting =
            static_cast<int>(TOutbox(File(), TOutbox::TAccess::kReader).List(0).Waiting.size());
      } catch (...) {
      }
      _exit(waiting < 0 ? 255 : waiting);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
  }
  std::string Journal() {
    const TSqliteDb raw(File(), TSqliteDb::TAccess::kReadOnly, 1000);
    TSqliteStatement mode = raw.Prepare("PRAGMA journal_mode", "read");
    return mode.Step("read") ? mode.Text(0) : "";
  }
};

TEST_F(OutboxFileTest, TheNextOwnerAndReadersSeeWhatWasCommitted) {
  const std::vector<TOutboxAdded> added =
      Box().Add({Order("1", "a"), Order("2", "b"), Order("3", "c")}, kT0);
  ASSERT_TRUE(Box().MarkFramed(added[0].Page.Id, 21, kT0 + 1));
  ASSERT_TRUE(Box().MarkFramed(added[1].Page.Id, 22, kT0 + 1));
  ASSERT_TRUE(
      Box().Finish(added[1].Page.Id, TOutboxState::kResult, "Message sent", 0, "", kT0 + 2));
  EXPECT_EQ(Journal(), "wal");

  // While the owner runs: a reader here and one in another process.
  {
    TOutbox reader(File(), TOutbox::TAccess::kReader);
    const TOutboxListing listing = reader.List(10);
    ASSERT_EQ(listing.Waiting.size(), 2u);
    EXPECT_EQ(listing.Waiting[0].State, TOutboxState::kFramed);
    ASSERT_EQ(listing.Outcomes.size(), 1u);
    EXPECT_EQ(listing.Outcomes[0].Result, "Message sent");
    EXPECT_THROW(reader.Add({Order("4")}, kT0), EZVStoreError) << "a reader never writes";
  }
  EXPECT_EQ(WaitingInAnotherProcess(), 2);
  // The owner goes on writing while readers come and go.
  ASSERT_FALSE(Box().Add({Order("4")}, kT0 + 3).at(0).Duplicate);
  EXPECT_EQ(WaitingInAnotherProcess(), 3);

  Reopen();
  EXPECT_EQ(Box().Recover(), 1);
  const TOutboxPage first = Box().Get(added[0].Page.Id).value();
  EXPECT_EQ(first.Number, 21);
  EXPECT_EQ(first.Attempts, 1);
  EXPECT_EQ(first.Framed, kT0 + 1);
  EXPECT_EQ(Box().Get(added[1].Page.Id)->State, TOutboxState::kResult);
  EXPECT_TRUE(Box().Add({Order("2", "b")}, kT0 + 4).at(0).Duplicate) << "keys survive the owner";
  EXPECT_EQ(Box().Due(kT0 + 4, 10).Pages.size(), 3u);

  // With no owner at all.
  FOutbox.reset();
  EXPECT_EQ(WaitingInAnotherProcess(), 3);
}

// An owner killed between framing and a result: what it committed is there,
// and its framed page goes out again as a repeat under its number.
TEST_F(OutboxFileTest, AfterAKillTheNextOwnerCarriesOn) {
  FOutbox.reset();
  const pid_t child = fork();
  if (child == 0) {
    try {
      TOutbox owner(File());
      const std::vector<TOutboxAdded> added = owner.Add({Order("1", "k"), Order("2")}, kT0);
      (void)owner.MarkFramed(added[0].Page.Id, 41, kT0 + 1);
      kill(getpid(), SIGKILL);
    } catch (...) {
    }
    _exit(1);  // failed before the kill
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));

  Reopen();
  EXPECT_EQ(Box().Recover(), 1);
  const TOutboxDue due = Box().Due(kT0 + 2, 10);
  ASSERT_EQ(due.Pages.size(), 2u);
  EXPECT_EQ(due.Pages[0].Number, 41);
  EXPECT_EQ(Box().MarkFramed(due.Pages[0].Id, 42, kT0 + 3)->Attempts, 2);
  EXPECT_TRUE(Box().Add({Order("1", "k")}, kT0 + 4).at(0).Duplicate);
}

TEST_F(OutboxFileTest, AReaderFindsNoFileAndCreatesNone) {
  const std::string missing = (FFolder.Path() / "Settings" / "none.db").string();
  EXPECT_THROW(TOutbox(missing, TOutbox::TAccess::kReader), EZVNoFile);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

// A file that is not this program's outbox, or not one it can use, is an
// error that names the file and says why; the file is left as it was.
TEST_F(OutboxFileTest, AForeignOrDamagedFileIsRefusedAndKept) {
  FOutbox.reset();
  const std::string path = (FFolder.Path() / "Settings" / "other.db").string();
  struct TCase {
    const char* Name;
    std::string Why;  // in the error text
    void (*Make)(const std::string& path);
    TOutbox::TAccess Access = TOutbox::TAccess::kOwner;
  };
  const std::vector<TCase> table = {
      {"a text file", "not an outbox of zvcc",
       [](const std::string& p) {
         std::string text;
         for (int i = 0; i < 200; ++i) text += "LastMsgNo=" + std::to_string(i) + "\n";
         WriteBytes(p, text);
       }},
      {"another program's database", "a database of another program",
       [](const std::string& p) {
         TSqliteDb db(p, TSqliteDb::TAccess::kReadWrite, 1000);
         db.Exec("CREATE TABLE pages (id INTEGER PRIMARY KEY, text TEXT)", "make");
       }},
      {"an outbox of a later version", "version 2; this zvcc reads version 1",
       [](const std::string& p) {
         { TOutbox made(p); }
         TSqliteDb db(p, TSqliteDb::TAccess::kReadWrite, 1000);
         db.Exec("PRAGMA user_version = 2", "make");
       }},
      {"a damaged outbox", "damaged",
       [](const std::string& p) {
         {
           TOutbox made(p);
           std::vector<TOutboxOrder> batch(300, Order("555", "", 60));
           for (auto& order : batch) order.Text = std::string(300, 'x');
           made.Add(batch, kT0);
         }
         std::string bytes = ReadBytes(p);
         ASSERT_GT(bytes.size(), 40'000u);
         for (std::size_t i = 4096 * 3; i < 4096 * 6; ++i) bytes[i] = static_cast<char>(i * 7);
         WriteBytes(p, bytes);
       }},
      {"an empty file, for a reader", "holds no outbox yet",
       [](const std::string& p) { WriteBytes(p, ""); }, TOutbox::TAccess::kReader},
  };
  for (const TCase& c : table) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove(path);
    c.Make(path);
    const std::string before = ReadBytes(path);
    try {
      TOutbox refused(path, c.Access);
      ADD_FAILURE() << "opened";
    } catch (const EZVFileFormat& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find("\"" + path + "\""), std::string::npos) << text;
      EXPECT_NE(text.find(c.Why), std::string::npos) << text;
    }
    EXPECT_EQ(ReadBytes(path), before) << "the file was changed";
  }
}

// A full disk fails the batch that does not fit, and only that one: the
// pages before it are whole, in this owner and the next.
TEST_F(OutboxFileTest, AFullDiskLosesTheBatchAndNothingElse) {
  const std::vector<TOutboxAdded> earlier =
      Box().Add({Order("1", "a"), Order("2", "b"), Order("3", "c")}, kT0);
  ASSERT_TRUE(Box().MarkFramed(earlier[0].Page.Id, 5, kT0));
  std::vector<TOutboxOrder> burst(1000, Order("9"));
  for (std::size_t i = 0; i < burst.size(); ++i) {
    burst[i].Key = "burst" + std::to_string(i);
    burst[i].Text = std::string(2000, static_cast<char>('a' + i % 26));
  }
  const auto size = [](const std::string& file) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(file, ec);
    return ec ? std::uintmax_t{0} : bytes;
  };
  {
    testutil::TFileSizeLimit full(std::max(size(File()), size(File() + "-wal")) + 64 * 1024);
    EXPECT_THROW(Box().Add(burst, kT0 + 1), EZVStoreError);
  }
  const auto check = [&](TOutbox& box) {
    const TOutboxListing listing = box.List(10);
    ASSERT_EQ(listing.Waiting.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(listing.Waiting[i].Id, earlier[i].Page.Id);
      EXPECT_EQ(listing.Waiting[i].Text, earlier[i].Page.Text);
      EXPECT_EQ(listing.Waiting[i].Key, earlier[i].Page.Key);
    }
    EXPECT_EQ(listing.Waiting[0].Number, 5);
  };
  check(Box());
  Reopen();  // checks the whole file on open
  check(Box());
  // There is room again: the same burst goes in whole, none of its keys taken.
  const std::vector<TOutboxAdded> added = Box().Add(burst, kT0 + 3);
  EXPECT_TRUE(std::none_of(added.begin(), added.end(), [](const auto& a) { return a.Duplicate; }));
  EXPECT_EQ(Box().List(10).Waiting.size(), 1003u);
}

}  // namespace
}  // namespace zv
