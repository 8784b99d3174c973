#include "outbox/outbox.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "outbox_fixture.h"

namespace zv {
namespace {

using testutil::kMinute;
using testutil::kT0;
using testutil::Order;

class OutboxPagesTest : public testutil::OutboxTest {};

// "2024-05-01 14:00:00": a digit wherever the shape has a 9.
bool IsDateTime(std::string_view text) {
  constexpr std::string_view kShape = "9999-99-99 99:99:99";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (kShape[i] == '9' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

TEST(OutboxStateTest, EveryStateHasOneTextAndReadsBack) {
  const std::vector<std::pair<TOutboxState, std::string>> table = {
      {TOutboxState::kQueued, "queued"},       {TOutboxState::kFramed, "framed"},
      {TOutboxState::kResult, "result"},       {TOutboxState::kNotSent, "not sent"},
      {TOutboxState::kNoResult, "no result"},  {TOutboxState::kExpired, "expired"},
      {TOutboxState::kCancelled, "cancelled"},
  };
  for (const auto& [state, text] : table) {
    EXPECT_EQ(OutboxStateText(state), text);
    EXPECT_EQ(OutboxStateFromText(text), state) << text;
  }
  EXPECT_FALSE(OutboxStateFromText("Queued"));
  EXPECT_FALSE(OutboxStateFromText(""));
}

TEST_F(OutboxPagesTest, AddKeepsEveryFieldAsGiven) {
  TOutboxOrder order = Order("555", "k-1", 30);
  order.Text = "a, b; \"c\"\r\n\xC3\xA4";
  order.Carrier = "9";
  order.Priority = "2";
  order.Subject = "Zorvane Message";
  order.Age = "30";
  order.Source = "agent";
  const TOutboxAdded added = Box().Add({order}, kT0).at(0);
  EXPECT_FALSE(added.Duplicate);
  const TOutboxPage page = Box().Get(added.Page.Id).value();
  const TOutboxOrder& stored = page;
  EXPECT_EQ(stored.Key, order.Key);
  EXPECT_EQ(stored.Text, order.Text);
  EXPECT_EQ(stored.Carrier, "9");
  EXPECT_EQ(stored.Priority, "2");
  EXPECT_EQ(stored.Subject, "Zorvane Message");
  EXPECT_EQ(stored.Age, "30");
  EXPECT_EQ(stored.AgeLimit, 30);
  EXPECT_EQ(stored.Source, "agent");
  EXPECT_EQ(page.State, TOutboxState::kQueued);
  EXPECT_EQ(page.Number, 0);
  EXPECT_EQ(page.Attempts, 0);
  EXPECT_EQ(page.Created, kT0);
  EXPECT_EQ(page.ExpiresAt, kT0 + 30 * kMinute);
}

// A second order under a key is the first page again while that page is
// within its own age limit, whatever became of it; then the key is free.
TEST_F(OutboxPagesTest, KeysMakeARetryTheSamePage) {
  struct TCase {
    const char* Name;
    std::vector<TOutboxOrder> First;  // added at kT0
    int64_t Later;                    // when Second is added
    std::vector<TOutboxOrder> Second;
    std::vector<bool> Duplicate;  // per order of Second
    std::size_t Pages;            // pages in the outbox afterwards
  };
  const std::vector<TCase> table = {
      {"same batch", {}, kT0, {Order("1", "k"), Order("2", "k")}, {false, true}, 1},
      {"across batches", {Order("1", "k")}, kT0 + 119 * kMinute, {Order("2", "k")}, {true}, 1},
      {"at the age limit", {Order("1", "k")}, kT0 + 120 * kMinute, {Order("2", "k")}, {false}, 2},
      {"the first page's limit rules",
       {Order("1", "k", 5)},
       kT0 + 6 * kMinute,
       {Order("2", "k", 600)},
       {false},
       2},
      {"empty keys are no keys", {Order("1")}, kT0, {Order("1"), Order("1")}, {false, false}, 3},
      {"other keys", {Order("1", "a")}, kT0, {Order("1", "b"), Order("1", "A")}, {false, false}, 3},
      {"in a batch after new pages",
       {Order("1", "k")},
       kT0 + kMinute,
       {Order("2"), Order("3", "k"), Order("4", "k")},
       {false, true, true},
       2},
  };
  for (std::size_t n = 0; n < table.size(); ++n) {
    const TCase& c = table[n];
    SCOPED_TRACE(c.Name);
    TOutbox box((FFolder.Path() / ("keys" + std::to_string(n) + ".db")).string());
    const std::vector<TOutboxAdded> first = box.Add(c.First, kT0);
    const std::vector<TOutboxAdded> second = box.Add(c.Second, c.Later);
    ASSERT_EQ(second.size(), c.Duplicate.size());
    for (std::size_t i = 0; i < second.size(); ++i) {
      EXPECT_EQ(second[i].Duplicate, c.Duplicate[i]) << "order " << i;
      if (second[i].Duplicate) {
        // The page that holds the key: the first with it, in either batch.
        const int64_t holder = !first.empty() ? first.at(0).Page.Id : second.at(0).Page.Id;
        EXPECT_EQ(second[i].Page.Id, holder) << "order " << i;
        EXPECT_EQ(second[i].Page.Address, box.Get(holder)->Address);
      }
    }
    EXPECT_EQ(box.List(100).Waiting.size(), c.Pages);
  }
}

TEST_F(OutboxPagesTest, AKeyHeldByAFinishedPageIsStillTaken) {
  const TOutboxPage page = AddOne(Order("1", "k"));
  ASSERT_TRUE(Box().MarkFramed(page.Id, 40, kT0));
  ASSERT_TRUE(Box().Finish(page.Id, TOutboxState::kResult, "Message sent", 0, "", kT0 + 1));
  const TOutboxAdded again = Box().Add({Order("1", "k")}, kT0 + 2).at(0);
  EXPECT_TRUE(again.Duplicate);
  EXPECT_EQ(again.Page.Id, page.Id);
  EXPECT_EQ(again.Page.State, TOutboxState::kResult);
  EXPECT_EQ(again.Page.Result, "Message sent");
}

TEST_F(OutboxPagesTest, ABadOrderRefusesTheWholeBatch) {
  const std::vector<std::pair<const char*, TOutboxOrder>> bad = {
      {"key of 256 bytes", Order("2", std::string(256, 'k'))},
      {"age limit 0", Order("2", "", 0)},
      {"age limit -5", Order("2", "", -5)},
  };
  for (const auto& [name, order] : bad) {
    SCOPED_TRACE(name);
    EXPECT_THROW(Box().Add({Order("1"), order}, kT0), EZVException);
    EXPECT_TRUE(Box().List(10).Waiting.empty());
  }
  EXPECT_FALSE(Box().Add({Order("1", std::string(255, 'k'), 1)}, kT0).at(0).Duplicate);
}

TEST_F(OutboxPagesTest, ABatchOfAThousandIsOneTransactionInOrder) {
  std::vector<TOutboxOrder> batch;
  for (int i = 0; i < 1000; ++i)
    batch.push_back(Order(std::to_string(i), "key" + std::to_string(i)));
  const int64_t before = Box().Commits();
  const std::vector<TOutboxAdded> added = Box().Add(batch, kT0);
  EXPECT_EQ(Box().Commits() - before, 1);
  ASSERT_EQ(added.size(), 1000u);
  for (std::size_t i = 1; i < added.size(); ++i) ASSERT_LT(added[i - 1].Page.Id, added[i].Page.Id);
  const TOutboxDue due = Box().Due(kT0, 2000);
  ASSERT_EQ(due.Pages.size(), 1000u);
  EXPECT_EQ(due.Pages.front().Address, "0");
  EXPECT_EQ(due.Pages.back().Address, "999");
}

TEST_F(OutboxPagesTest, ARepeatAfterRecoverKeepsItsNumber) {
  const TOutboxPage page = AddOne(Order("555"));
  const TOutboxPage framed = Box().MarkFramed(page.Id, 17, kT0 + 1).value();
  EXPECT_EQ(framed.Number, 17);
  EXPECT_EQ(framed.Attempts, 1);
  EXPECT_EQ(framed.State, TOutboxState::kFramed);
  EXPECT_EQ(framed.Framed, kT0 + 1);
  EXPECT_EQ(Box().FindFramedByNumber(17)->Id, page.Id);
  EXPECT_FALSE(Box().MarkFramed(page.Id, 18, kT0 + 2)) << "framed twice";
  EXPECT_TRUE(Box().Due(kT0 + 2, 10).Pages.empty()) << "a framed page is not due";

  // The owner dies before the result; the next one carries on.
  Reopen();
  EXPECT_EQ(Box().Recover(), 1);
  EXPECT_EQ(Box().Recover(), 0);
  const TOutboxPage queued = Box().Get(page.Id).value();
  EXPECT_EQ(queued.State, TOutboxState::kQueued);
  EXPECT_EQ(queued.Number, 17);
  EXPECT_EQ(queued.Attempts, 1);
  EXPECT_FALSE(Box().FindFramedByNumber(17));

  ASSERT_EQ(Box().Due(kT0 + 3, 10).Pages.at(0).Id, page.Id);
  const TOutboxPage repeat = Box().MarkFramed(page.Id, 99, kT0 + 4).value();
  EXPECT_EQ(repeat.Number, 17) << "a repeat goes out under its own number";
  EXPECT_EQ(repeat.Attempts, 2);
  EXPECT_EQ(Box().Get(page.Id)->Number, 17);
  EXPECT_FALSE(Box().FindFramedByNumber(99));
}

TEST_F(OutboxPagesTest, ANumberIsNeverStoredForTwoPages) {
  const TOutboxPage first = AddOne(Order("1"));
  const TOutboxPage second = AddOne(Order("2"));
  ASSERT_TRUE(Box().MarkFramed(first.Id, 7, kT0));
  ASSERT_TRUE(Box().Finish(first.Id, TOutboxState::kResult, "ok", 0, "", kT0));
  try {
    (void)Box().MarkFramed(second.Id, 7, kT0);
    ADD_FAILURE() << "a clash was accepted";
  } catch (const EZVStoreError& e) {
    EXPECT_NE(std::string(e.what()).find("already stored for page " + std::to_string(first.Id)),
              std::string::npos)
        << e.what();
  }
  const TOutboxPage untouched = Box().Get(second.Id).value();
  EXPECT_EQ(untouched.State, TOutboxState::kQueued);
  EXPECT_EQ(untouched.Number, 0);
  EXPECT_EQ(untouched.Attempts, 0);
  EXPECT_EQ(Box().Get(first.Id)->Number, 7);

  EXPECT_THROW((void)Box().MarkFramed(second.Id, 0, kT0), EZVStoreError);
  EXPECT_THROW((void)Box().MarkFramed(second.Id, -3, kT0), EZVStoreError);
  EXPECT_EQ(Box().MarkFramed(second.Id, 8, kT0)->Number, 8);
}

// Once finished, a page stays as it ended: no result, frame or cancel moves it.
TEST_F(OutboxPagesTest, FinishedPagesRefuseEveryChange) {
  const std::vector<std::pair<const char*, TOutboxState>> endings = {
      {"result", TOutboxState::kResult},       {"not sent", TOutboxState::kNotSent},
      {"no result", TOutboxState::kNoResult},  {"expired", TOutboxState::kExpired},
      {"cancelled", TOutboxState::kCancelled},
  };
  int32_t number = 1;
  for (const auto& [name, ending] : endings) {
    SCOPED_TRACE(name);
    const TOutboxPage page = AddOne(Order(name, "", 1), kT0);
    ASSERT_TRUE(Box().MarkFramed(page.Id, number++, kT0));
    ASSERT_EQ(Box().Recover(), 1);
    switch (ending) {
      case TOutboxState::kExpired:
        ASSERT_EQ(Box().Expire(kT0 + kMinute).size(), 1u);
        break;
      case TOutboxState::kCancelled:
        ASSERT_TRUE(Box().CancelById(page.Id, kT0));
        break;
      default:
        ASSERT_TRUE(Box().Finish(page.Id, ending, "r", 3, "why", kT0));
        break;
    }
    const TOutboxPage ended = Box().Get(page.Id).value();
    ASSERT_EQ(ended.State, ending);
    if (ending != TOutboxState::kExpired && ending != TOutboxState::kCancelled) {
      EXPECT_EQ(ended.Result, "r");
      EXPECT_EQ(ended.Code, 3);
      EXPECT_EQ(ended.Reason, "why");
    }
    EXPECT_EQ(ended.Finished, ending == TOutboxState::kExpired ? kT0 + kMinute : kT0);

    EXPECT_FALSE(Box().Finish(page.Id, TOutboxState::kResult, "late", 0, "", kT0 + 5));
    EXPECT_FALSE(Box().Finish(page.Id, TOutboxState::kNoResult, "", 0, "late", kT0 + 5));
    EXPECT_FALSE(Box().MarkFramed(page.Id, 1000 + number, kT0 + 5));
    EXPECT_FALSE(Box().CancelById(page.Id, kT0 + 5));
    EXPECT_FALSE(Box().CancelByNumber(ended.Number, kT0 + 5));
    EXPECT_EQ(Box().Recover(), 0);
    const TOutboxPage after = Box().Get(page.Id).value();
    EXPECT_EQ(after.State, ending);
    EXPECT_EQ(after.Result, ended.Result);
    EXPECT_EQ(after.Reason, ended.Reason);
    EXPECT_EQ(after.Finished, ended.Finished);
    EXPECT_EQ(after.Attempts, 1);
  }
  EXPECT_FALSE(Box().Finish(12345, TOutboxState::kResult, "", 0, "", kT0)) << "no such page";
  // Only an outcome finishes a page.
  const TOutboxPage waiting = AddOne(Order("w"));
  for (const TOutboxState state : {TOutboxState::kQueued, TOutboxState::kFramed,
                                   TOutboxState::kExpired, TOutboxState::kCancelled}) {
    EXPECT_THROW(Box().Finish(waiting.Id, state, "", 0, "", kT0), EZVException);
  }
  EXPECT_EQ(StateOf(waiting.Id), TOutboxState::kQueued);
}

TEST_F(OutboxPagesTest, DueExpiresOverduePagesAndKeepsTheOrder) {
  // Added in this order; age limits decide who is overdue at kT0 + 10 min.
  const std::vector<std::pair<std::string, int32_t>> pages = {{"a", 120}, {"b", 5}, {"c", 10},
                                                              {"d", 11},  {"e", 1}, {"f", 120}};
  std::vector<TOutboxOrder> batch;
  for (const auto& [address, limit] : pages) batch.push_back(Order(address, "", limit));
  const std::vector<TOutboxAdded> added = Box().Add(batch, kT0);
  // A framed page is on its way: its age limit is the server's business.
  ASSERT_TRUE(Box().MarkFramed(added[4].Page.Id, 50, kT0));

  const int64_t now = kT0 + 10 * kMinute;
  const TOutboxDue due = Box().Due(now, 2);
  std::vector<std::string> expired, sent;
  for (const auto& page : due.Expired) expired.push_back(page.Address);
  for (const auto& page : due.Pages) sent.push_back(page.Address);
  EXPECT_EQ(expired, (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(sent, (std::vector<std::string>{"a", "d"}));
  for (const auto& page : due.Expired) {
    EXPECT_EQ(page.State, TOutboxState::kExpired);
    EXPECT_EQ(page.Finished, now);
    EXPECT_EQ(Box().Get(page.Id)->Reason, page.Reason);
  }
  const std::string prefix = "age limit of 5 minutes ran out at ";
  EXPECT_EQ(due.Expired[0].Reason.substr(0, prefix.size()), prefix);
  EXPECT_TRUE(IsDateTime(due.Expired[0].Reason.substr(prefix.size()))) << due.Expired[0].Reason;
  EXPECT_EQ(StateOf(added[4].Page.Id), TOutboxState::kFramed);

  EXPECT_TRUE(Box().Expire(now).empty()) << "expired once";
  const std::vector<TOutboxPage> later = Box().Expire(now + kMinute);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].Address, "d");
  EXPECT_EQ(Box().Due(now + kMinute, 10).Pages.size(), 2u);  // a and f
}

TEST_F(OutboxPagesTest, OnlyAQueuedPageCanBeCancelled) {
  const TOutboxPage queued = AddOne(Order("1"));
  const TOutboxPage framed = AddOne(Order("2"));
  const TOutboxPage requeued = AddOne(Order("3"));
  ASSERT_TRUE(Box().MarkFramed(requeued.Id, 31, kT0));
  ASSERT_EQ(Box().Recover(), 1);
  ASSERT_TRUE(Box().MarkFramed(framed.Id, 30, kT0));

  EXPECT_FALSE(Box().CancelById(framed.Id, kT0 + 1));
  EXPECT_FALSE(Box().CancelByNumber(30, kT0 + 1));
  EXPECT_FALSE(Box().CancelByNumber(0, kT0 + 1)) << "0 is no number";
  EXPECT_FALSE(Box().CancelById(999, kT0 + 1));
  EXPECT_TRUE(Box().CancelById(queued.Id, kT0 + 1));
  EXPECT_TRUE(Box().CancelByNumber(31, kT0 + 2));

  EXPECT_EQ(StateOf(framed.Id), TOutboxState::kFramed);
  EXPECT_EQ(StateOf(queued.Id), TOutboxState::kCancelled);
  EXPECT_EQ(Box().Get(requeued.Id)->Finished, kT0 + 2);
  EXPECT_TRUE(Box().Due(kT0 + 3, 10).Pages.empty());
}

TEST_F(OutboxPagesTest, ListShowsWaitingPagesAndTheNewestOutcomesLast) {
  std::vector<int64_t> ids;
  for (int i = 0; i < 6; ++i) ids.push_back(AddOne(Order(std::to_string(i))).Id);
  ASSERT_TRUE(Box().MarkFramed(ids[1], 1, kT0));
  // Finished out of id order: the listing follows the time.
  ASSERT_TRUE(Box().Finish(ids[3], TOutboxState::kResult, "ok", 0, "", kT0 + 30));
  ASSERT_TRUE(Box().CancelById(ids[0], kT0 + 10));
  ASSERT_TRUE(Box().Finish(ids[5], TOutboxState::kNoResult, "", 0, "link ended", kT0 + 20));

  const TOutboxListing listing = Box().List(2);
  std::vector<int64_t> waiting, outcomes;
  for (const auto& page : listing.Waiting) waiting.push_back(page.Id);
  for (const auto& page : listing.Outcomes) outcomes.push_back(page.Id);
  EXPECT_EQ(waiting, (std::vector<int64_t>{ids[1], ids[2], ids[4]}));
  EXPECT_EQ(outcomes, (std::vector<int64_t>{ids[5], ids[3]}));
  EXPECT_EQ(Box().List(10).Outcomes.size(), 3u);
  EXPECT_FALSE(Box().Get(ids.back() + 1));
}

TEST_F(OutboxPagesTest, ForgetDeletesOnlyPagesFinishedBeforeTheTime) {
  const TOutboxPage old = AddOne(Order("old"));
  const TOutboxPage recent = AddOne(Order("recent"));
  const TOutboxPage waiting = AddOne(Order("waiting", "w", 100'000));
  ASSERT_TRUE(Box().CancelById(old.Id, kT0 + 1));
  ASSERT_TRUE(Box().CancelById(recent.Id, kT0 + 3));

  EXPECT_EQ(Box().Forget(kT0 + 1), 0) << "finished at the time itself stays";
  EXPECT_EQ(Box().Forget(kT0 + 2), 1);
  EXPECT_FALSE(Box().Get(old.Id));
  EXPECT_TRUE(Box().Get(recent.Id));
  EXPECT_EQ(Box().Forget(kT0 + TOutbox::kRetentionMs), 1);
  EXPECT_EQ(StateOf(waiting.Id), TOutboxState::kQueued) << "waiting pages are never forgotten";

  // Ids are never handed out again, not even the newest forgotten one's.
  ASSERT_TRUE(Box().CancelById(waiting.Id, kT0 + 4));
  ASSERT_EQ(Box().Forget(kT0 + 5), 1);
  EXPECT_GT(AddOne(Order("next")).Id, waiting.Id);
}

}  // namespace
}  // namespace zv
