#include "owner/owner_core.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zv {
namespace {

// The link as the core sees it: ready or not, the pages handed over, and the
// numbers it draws.
class FakeLink final : public TOwnerLink {
 public:
  bool Ready() const override { return FReady; }
  bool MayStart() const override { return !FReady && !FStarting; }
  void Start() override {
    ++FStarts;
    FStarting = true;
  }
  int32_t NextNumber() override { return FNext++; }
  std::optional<TRefusal> Send(const TOutboxPage& page, int32_t number) override {
    if (FRefuseNext) {
      auto r = *FRefuseNext;
      FRefuseNext.reset();
      return r;
    }
    FSent.push_back({number, page.Address, page.Attempts});
    return std::nullopt;
  }
  void Log(const std::string& action, const std::string& text) override {
    FLog.push_back(action + ": " + text);
  }

  struct Sent {
    int32_t Number;
    std::string Address;
    int32_t Attempts;
  };
  bool FReady = false;
  bool FStarting = false;
  int FStarts = 0;
  int32_t FNext = 100;
  std::optional<TRefusal> FRefuseNext;
  std::vector<Sent> FSent;
  std::vector<std::string> FLog;
};

class OwnerCoreTest : public testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() /
           ("zvcc-owner-core-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FDir);
    std::filesystem::create_directories(FDir);
    Reopen();
  }
  void TearDown() override {
    FCore.reset();
    FOutbox.reset();
    std::filesystem::remove_all(FDir);
  }
  // A new owner on the same outbox, as after a kill.
  void Reopen() {
    FCore.reset();
    FOutbox.reset();
    FOutbox = std::make_unique<TOutbox>((FDir / "outbox.db").string());
    FLink = FakeLink{};
    FCore = std::make_unique<TOwnerCore>(*FOutbox, FLink, TOwnerKind::kAgent, 42);
    FCore->Open(FNow, TOutbox::kRetentionMs);
  }

  TOwnerCore::TClientId Client() {
    const auto id = FCore->Connected();
    FCore->Received(id, TOwnerHello{}, FNow);
    return id;
  }
  void Page(TOwnerCore::TClientId client, int64_t seq, const std::string& address,
            const std::string& key = {}) {
    TOwnerPage page;
    page.Seq = seq;
    page.Address = address;
    page.Text = "Disk full";
    page.Key = key;
    FCore->Received(client, page, FNow);
  }
  // Every reply to `client` since the last call, decoded.
  std::vector<TOwnerReply> Replies(TOwnerCore::TClientId client) {
    for (auto& out : FCore->TakeOutput()) FOut[out.Client].push_back(out.Line);
    std::vector<TOwnerReply> replies;
    for (const std::string& line : FOut[client]) {
      auto read = DecodeOwnerReplyLine(std::string_view(line).substr(0, line.size() - 1));
      EXPECT_TRUE(read.Message.has_value()) << read.Error;
      if (read.Message) replies.push_back(*read.Message);
    }
    FOut[client].clear();
    return replies;
  }
  template <class T>
  std::vector<T> Only(const std::vector<TOwnerReply>& replies) {
    std::vector<T> out;
    for (const auto& r : replies) {
      if (const T* t = std::get_if<T>(&r)) out.push_back(*t);
    }
    return out;
  }

  std::filesystem::path FDir;
  int64_t FNow = 1'700'000'000'000;
  std::unique_ptr<TOutbox> FOutbox;
  FakeLink FLink;
  std::unique_ptr<TOwnerCore> FCore;
  std::map<TOwnerCore::TClientId, std::vector<std::string>> FOut;
};

TEST_F(OwnerCoreTest, PagesWaitWhileTheLinkIsDownAndGoOutInOrderWhenReady) {
  const auto c = Client();
  Page(c, 1, "555");
  Page(c, 2, "556");
  FCore->Commit(FNow);
  auto replies = Replies(c);
  ASSERT_EQ(Only<TOwnerAccepted>(replies).size(), 2U);
  EXPECT_TRUE(FLink.FSent.empty());

  FCore->Tick(FNow);  // the link is down: started, once
  FCore->Tick(FNow + 10);
  EXPECT_EQ(FLink.FStarts, 1);

  FLink.FReady = true;
  FLink.FStarting = false;
  FCore->LinkReady(FNow);
  ASSERT_EQ(FLink.FSent.size(), 2U);
  EXPECT_EQ(FLink.FSent[0].Address, "555");
  EXPECT_EQ(FLink.FSent[1].Address, "556");
  // A link may tell its readiness twice (TCP/IP does): the pages on it stay.
  FCore->LinkReady(FNow);
  EXPECT_EQ(FLink.FSent.size(), 2U);

  FCore->PageEnded(FLink.FSent[1].Number, TOutboxState::kResult, "accepted", 0, "", false, FNow);
  const auto outcomes = Only<TOwnerOutcome>(Replies(c));
  ASSERT_EQ(outcomes.size(), 1U);
  EXPECT_EQ(outcomes[0].Seq, 2);
  EXPECT_EQ(outcomes[0].Outcome, TOwnerPageOutcome::kResult);
  EXPECT_EQ(outcomes[0].Number, FLink.FSent[1].Number);
  EXPECT_EQ(outcomes[0].Attempts, 1);
}

TEST_F(OwnerCoreTest, ABurstFromManyClientsIsOneCommit) {
  std::vector<TOwnerCore::TClientId> clients;
  for (int i = 0; i < 20; ++i) {
    clients.push_back(Client());
    Page(clients.back(), 1, std::to_string(500 + i));
  }
  const int64_t before = FOutbox->Commits();
  FCore->Commit(FNow);
  EXPECT_EQ(FOutbox->Commits() - before, 1);
  for (const auto c : clients) EXPECT_EQ(Only<TOwnerAccepted>(Replies(c)).size(), 1U);
}

TEST_F(OwnerCoreTest, ARetryWithTheSameKeyWaitsForTheFirstPageAndPagesOnce) {
  FLink.FReady = true;
  const auto first = Client();
  Page(first, 1, "555", "db1/disk");
  FCore->Commit(FNow);
  const auto retry = Client();
  Page(retry, 7, "555", "db1/disk");
  FCore->Commit(FNow);
  ASSERT_EQ(FLink.FSent.size(), 1U);
  const auto accepted = Only<TOwnerAccepted>(Replies(retry));
  ASSERT_EQ(accepted.size(), 1U);
  EXPECT_TRUE(accepted[0].Duplicate);

  FCore->PageEnded(FLink.FSent[0].Number, TOutboxState::kResult, "ok", 0, "", false, FNow);
  EXPECT_EQ(Only<TOwnerOutcome>(Replies(first)).size(), 1U);
  const auto told = Only<TOwnerOutcome>(Replies(retry));
  ASSERT_EQ(told.size(), 1U);
  EXPECT_EQ(told[0].Seq, 7);
  EXPECT_EQ(told[0].Result, "ok");

  // Once it has its outcome, a third try is told that outcome at once.
  const auto late = Client();
  Page(late, 3, "555", "db1/disk");
  FCore->Commit(FNow);
  EXPECT_EQ(Only<TOwnerOutcome>(Replies(late)).size(), 1U);
  EXPECT_EQ(FLink.FSent.size(), 1U);
}

struct EndCase {
  const char* name;
  TOutboxState state;
  bool linkEnded;
  bool sentAgain;  // on the next link
  TOwnerPageOutcome told;
};

class OwnerCoreEnds : public OwnerCoreTest, public testing::WithParamInterface<EndCase> {};

TEST_P(OwnerCoreEnds, APageWithoutResultWhenTheLinkEndsGoesOutAgainMarked) {
  const EndCase& e = GetParam();
  FLink.FReady = true;
  const auto c = Client();
  Page(c, 1, "555");
  FCore->Commit(FNow);
  ASSERT_EQ(FLink.FSent.size(), 1U);
  const int32_t number = FLink.FSent[0].Number;
  FCore->PageEnded(number, e.state, "", 0, "the link ended", e.linkEnded, FNow);
  FLink.FReady = false;
  FLink.FReady = true;
  FCore->LinkReady(FNow + 1000);
  if (e.sentAgain) {
    ASSERT_EQ(FLink.FSent.size(), 2U);
    EXPECT_EQ(FLink.FSent[1].Number, number);  // its own number
    EXPECT_EQ(FLink.FSent[1].Attempts, 2);     // and marked
    EXPECT_TRUE(Only<TOwnerOutcome>(Replies(c)).empty());
  } else {
    EXPECT_EQ(FLink.FSent.size(), 1U);
    const auto told = Only<TOwnerOutcome>(Replies(c));
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0].Outcome, e.told);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OwnerCoreEnds,
    testing::Values(
        EndCase{"LinkEnded", TOutboxState::kNoResult, true, true, TOwnerPageOutcome::kQueued},
        EndCase{"NoAnswerInTime", TOutboxState::kNoResult, false, false,
                TOwnerPageOutcome::kNoResult},
        EndCase{"RefusedByServer", TOutboxState::kNotSent, false, false,
                TOwnerPageOutcome::kNotSent}),
    [](const testing::TestParamInfo<EndCase>& p) { return p.param.name; });

TEST_F(OwnerCoreTest, AfterAKillTheNextOwnerSendsFramedPagesOnceMoreUnderTheirNumber) {
  FLink.FReady = true;
  const auto c = Client();
  Page(c, 1, "555");
  Page(c, 2, "556");
  FCore->Commit(FNow);
  ASSERT_EQ(FLink.FSent.size(), 2U);
  const int32_t first = FLink.FSent[0].Number;
  FCore->PageEnded(FLink.FSent[1].Number, TOutboxState::kResult, "ok", 0, "", false, FNow);

  Reopen();  // the owner died with page 1 on the link
  FLink.FReady = true;
  FCore->LinkReady(FNow);
  ASSERT_EQ(FLink.FSent.size(), 1U);
  EXPECT_EQ(FLink.FSent[0].Number, first);
  EXPECT_EQ(FLink.FSent[0].Attempts, 2);
  EXPECT_EQ(FOutbox->List(10).Waiting.size(), 1U);
}

TEST_F(OwnerCoreTest, TheLinkIsTriedAgainWithGrowingPauses) {
  const auto c = Client();
  Page(c, 1, "555");
  FCore->Commit(FNow);
  std::vector<int64_t> starts;
  for (int64_t t = 0; t <= 20'000; t += 100) {
    const int before = FLink.FStarts;
    FLink.FStarting = false;  // every start fails at once
    FCore->Tick(FNow + t);
    if (FLink.FStarts > before) starts.push_back(t);
  }
  ASSERT_GE(starts.size(), 4U);
  for (std::size_t i = 2; i < starts.size(); ++i) {
    EXPECT_GT(starts[i] - starts[i - 1], starts[i - 1] - starts[i - 2]) << i;
  }
  EXPECT_LE(starts.size(), 6U);  // 0, 1, 3, 7, 15 s: never a storm
}

TEST_F(OwnerCoreTest, AnExpiredPageIsToldAndNeverSent) {
  const auto c = Client();
  TOwnerPage page;
  page.Seq = 1;
  page.Address = "555";
  page.Text = "old news";
  page.AgeLimit = 1;
  FCore->Received(c, page, FNow);
  FCore->Commit(FNow);
  FCore->Tick(FNow + 61'000);
  FLink.FReady = true;
  FCore->LinkReady(FNow + 61'000);
  EXPECT_TRUE(FLink.FSent.empty());
  const auto told = Only<TOwnerOutcome>(Replies(c));
  ASSERT_EQ(told.size(), 1U);
  EXPECT_EQ(told[0].Outcome, TOwnerPageOutcome::kExpired);
}

TEST_F(OwnerCoreTest, AStopWaitsForThePagesOnTheLinkThenHandsOver) {
  FLink.FReady = true;
  const auto c = Client();
  Page(c, 1, "555");
  FCore->Commit(FNow);
  Replies(c);
  const auto stopper = Client();
  FCore->Received(stopper, TOwnerStop{}, FNow);
  EXPECT_TRUE(FCore->Leaving());
  EXPECT_FALSE(FCore->HandedOver());  // page 1 is on the link
  Page(c, 2, "556");                  // not taken any more: the next owner will
  FCore->Commit(FNow);
  EXPECT_EQ(FLink.FSent.size(), 1U);
  FCore->PageEnded(FLink.FSent[0].Number, TOutboxState::kResult, "ok", 0, "", false, FNow);
  EXPECT_TRUE(FCore->HandedOver());
  const auto replies = Replies(c);
  ASSERT_EQ(Only<TOwnerOutcome>(replies).size(), 1U);
  EXPECT_EQ(Only<TOwnerHandover>(replies).size(), 1U);
}

TEST_F(OwnerCoreTest, AHandoverThatWaitsTooLongLeavesThePageForTheNextOwner) {
  FLink.FReady = true;
  const auto c = Client();
  Page(c, 1, "555");
  FCore->Commit(FNow);
  FCore->Leave(FNow);
  FCore->Tick(FNow + TOwnerCore::kHandoverWaitMs);
  EXPECT_TRUE(FCore->HandedOver());
  const auto handover = Only<TOwnerHandover>(Replies(c));
  ASSERT_EQ(handover.size(), 1U);
  EXPECT_EQ(handover[0].Pages, 1);
}

TEST_F(OwnerCoreTest, AClientMustGreetFirstAndAConsoleOwnerIsNotStopped) {
  const auto rude = FCore->Connected();
  Page(rude, 1, "555");
  EXPECT_EQ(Only<TOwnerRefused>(Replies(rude)).size(), 1U);

  TOwnerCore console(*FOutbox, FLink, TOwnerKind::kConsole, 7);
  const auto c = console.Connected();
  console.Received(c, TOwnerHello{}, FNow);
  console.Received(c, TOwnerStop{}, FNow);
  EXPECT_FALSE(console.Leaving());
}

TEST_F(OwnerCoreTest, APageTheLinkRefusesForItsFieldsIsNotSent) {
  FLink.FReady = true;
  FLink.FRefuseNext = TOwnerLink::TRefusal{"its address holds \",\"", true};
  const auto c = Client();
  Page(c, 1, "5,5");
  FCore->Commit(FNow);
  const auto told = Only<TOwnerOutcome>(Replies(c));
  ASSERT_EQ(told.size(), 1U);
  EXPECT_EQ(told[0].Outcome, TOwnerPageOutcome::kNotSent);
}

TEST_F(OwnerCoreTest, APageTheLinkCannotTakeNowWaitsWithoutAnAttempt) {
  FLink.FReady = true;
  FLink.FRefuseNext = TOwnerLink::TRefusal{"the request buffer is full", false};
  const auto c = Client();
  Page(c, 1, "555");
  FCore->Commit(FNow);
  EXPECT_TRUE(FLink.FSent.empty());
  FCore->Tick(FNow + 10);
  ASSERT_EQ(FLink.FSent.size(), 1U);
  EXPECT_EQ(FLink.FSent[0].Attempts, 1);
}

}  // namespace
}  // namespace zv
