#include "outbox/outbox.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>

#include "outbox/outbox_schema.h"
#include "platform/local_time.h"

namespace zv {
namespace {

std::string_view Text(TOutboxState state) { return OutboxStateText(state); }

void CheckOrder(const TOutboxOrder& order) {
  if (order.Key.size() > TOutboxOrder::kMaxKeyBytes) {
    throw EZVException("The key of the page to \"" + order.Address + "\" is " +
                       std::to_string(order.Key.size()) + " bytes long; at most " +
                       std::to_string(TOutboxOrder::kMaxKeyBytes) + " are allowed.");
  }
  if (order.AgeLimit < 1) {
    throw EZVException("The age limit of the page to \"" + order.Address + "\" is " +
                       std::to_string(order.AgeLimit) + " minutes; it must be 1 or more.");
  }
}

// A count for LIMIT, which SQLite takes as a signed 64-bit number.
int64_t Limit(std::size_t count) {
  return static_cast<int64_t>(
      std::min<std::size_t>(count, static_cast<std::size_t>(std::numeric_limits<int64_t>::max())));
}

}  // namespace

std::string OutboxTimeText(int64_t msSinceEpoch) {
  const std::tm local = platform::LocalTime(static_cast<std::time_t>(msSinceEpoch / 1000));
  char when[32] = {};
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  return when;
}

std::string ExpiryReason(const TOutboxPage& page) {
  return "age limit of " + std::to_string(page.AgeLimit) + " minutes ran out at " +
         OutboxTimeText(page.ExpiresAt);
}

TOutbox::TOutbox(std::string path, TAccess access)
    : FDb(std::move(path),
          access == TAccess::kOwner ? TSqliteDb::TAccess::kReadWrite
                                    : TSqliteDb::TAccess::kReadOnly,
          kBusyTimeoutMs) {
  outbox_schema::MakeReady(FDb, access == TAccess::kOwner);
}

TSqliteStatement TOutbox::Query(const std::string& where, std::string_view doing) const {
  return FDb.Prepare(
      std::string("SELECT ") + outbox_schema::kColumns + " FROM pages WHERE " + where, doing);
}

std::vector<TOutboxPage> TOutbox::ReadAll(TSqliteStatement& query, std::string_view doing) const {
  std::vector<TOutboxPage> pages;
  while (query.Step(doing)) pages.push_back(outbox_schema::ReadPage(FDb, query));
  return pages;
}

std::vector<TOutboxAdded> TOutbox::Add(const std::vector<TOutboxOrder>& orders, int64_t now) {
  constexpr std::string_view kDoing = "add pages to the outbox";
  std::for_each(orders.begin(), orders.end(), CheckOrder);
  std::vector<TOutboxAdded> added;
  if (orders.empty()) return added;
  added.reserve(orders.size());

  TSqliteTransaction transaction(FDb);
  // Inside the transaction the batch's own earlier pages are visible: a key
  // twice in one batch finds its first page like any other.
  TSqliteStatement live = Query("key = ?1 AND expires_at > ?2 ORDER BY id DESC LIMIT 1", kDoing);
  TSqliteStatement insert = FDb.Prepare(
      "INSERT INTO pages (key, address, text, carrier, priority, subject, age, age_limit, source, "
      "state, created, expires_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)",
      kDoing);
  for (const TOutboxOrder& order : orders) {
    if (!order.Key.empty()) {
      live.BindText(1, order.Key).BindInt(2, now);
      const bool found = live.Step(kDoing);
      if (found) added.push_back({outbox_schema::ReadPage(FDb, live), true});
      live.Reset();
      if (found) continue;
    }
    TOutboxPage page;
    static_cast<TOutboxOrder&>(page) = order;
    page.Created = now;
    page.ExpiresAt = now + int64_t{order.AgeLimit} * kMsPerMinute;
    insert.BindText(1, page.Key)
        .BindText(2, page.Address)
        .BindText(3, page.Text)
        .BindText(4, page.Carrier)
        .BindText(5, page.Priority)
        .BindText(6, page.Subject)
        .BindText(7, page.Age)
        .BindInt(8, page.AgeLimit)
        .BindText(9, page.Source)
        .BindText(10, Text(page.State))
        .BindInt(11, page.Created)
        .BindInt(12, page.ExpiresAt);
    insert.Run(kDoing);
    insert.Reset();
    page.Id = FDb.LastInsertId();
    added.push_back({std::move(page), false});
  }
  transaction.Commit();
  return added;
}

std::optional<TOutboxPage> TOutbox::MarkFramed(int64_t id, int32_t number, int64_t now) {
  constexpr std::string_view kDoing = "frame a page of the outbox";
  std::optional<TOutboxPage> page = Get(id);
  if (!page || page->State != TOutboxState::kQueued) return std::nullopt;
  const int32_t kept = page->Number != 0 ? page->Number : number;
  if (kept < 1) {
    throw EZVStoreError(FDb.ErrorText(kDoing, "Page " + std::to_string(id) +
                                                  " cannot go out under the message number " +
                                                  std::to_string(kept) + "."));
  }
  TSqliteStatement update = FDb.Prepare(
      "UPDATE pages SET number = ?1, attempts = attempts + 1, state = ?2, framed = ?3 "
      "WHERE id = ?4",
      kDoing);
  update.BindInt(1, kept).BindText(2, Text(TOutboxState::kFramed)).BindInt(3, now).BindInt(4, id);
  try {
    update.Run(kDoing);
  } catch (const EZVStoreError&) {
    if (FDb.LastErrorCode() != SQLITE_CONSTRAINT_UNIQUE) throw;
    TSqliteStatement holder = FDb.Prepare("SELECT id FROM pages WHERE number = ?1", kDoing);
    holder.BindInt(1, kept);
    const std::string other = holder.Step(kDoing) ? std::to_string(holder.Int(0)) : "?";
    throw EZVStoreError(FDb.ErrorText(kDoing, "The message number " + std::to_string(kept) +
                                                  " of page " + std::to_string(id) +
                                                  " is already stored for page " + other + "."));
  }
  page->Number = kept;
  ++page->Attempts;
  page->State = TOutboxState::kFramed;
  page->Framed = now;
  return page;
}

bool TOutbox::Unframe(int64_t id) {
  constexpr std::string_view kDoing = "queue a page of the outbox again";
  TSqliteStatement update = FDb.Prepare(
      "UPDATE pages SET state = ?1, attempts = attempts - 1 WHERE id = ?2 AND state = ?3",
      kDoing);
  update.BindText(1, Text(TOutboxState::kQueued))
      .BindInt(2, id)
      .BindText(3, Text(TOutboxState::kFramed));
  update.Run(kDoing);
  return FDb.Changes() > 0;
}

bool TOutbox::Finish(int64_t id, TOutboxState state, std::string_view result, int32_t code,
                     std::string_view reason, int64_t now) {
  if (state != TOutboxState::kResult && state != TOutboxState::kNotSent &&
      state != TOutboxState::kNoResult) {
    throw EZVException("A page cannot finish as \"" + std::string(Text(state)) + "\".");
  }
  constexpr std::string_view kDoing = "store the outcome of a page of the outbox";
  TSqliteStatement update = FDb.Prepare(
      "UPDATE pages SET state = ?1, result = ?2, code = ?3, reason = ?4, finished = ?5 "
      "WHERE id = ?6 AND state IN (?7, ?8)",
      kDoing);
  update.BindText(1, Text(state))
      .BindText(2, result)
      .BindInt(3, code)
      .BindText(4, reason)
      .BindInt(5, now)
      .BindInt(6, id)
      .BindText(7, Text(TOutboxState::kQueued))
      .BindText(8, Text(TOutboxState::kFramed));
  update.Run(kDoing);
  return FDb.Changes() == 1;
}

std::optional<TOutboxPage> TOutbox::FindFramedByNumber(int32_t number) const {
  constexpr std::string_view kDoing = "read the outbox";
  TSqliteStatement query = Query("number = ?1 AND state = ?2", kDoing);
  query.BindInt(1, number).BindText(2, Text(TOutboxState::kFramed));
  if (number == 0 || !query.Step(kDoing)) return std::nullopt;
  return outbox_schema::ReadPage(FDb, query);
}

int TOutbox::Recover() {
  constexpr std::string_view kDoing = "recover the framed pages of the outbox";
  TSqliteStatement update = FDb.Prepare("UPDATE pages SET state = ?1 WHERE state = ?2", kDoing);
  update.BindText(1, Text(TOutboxState::kQueued)).BindText(2, Text(TOutboxState::kFramed));
  update.Run(kDoing);
  return FDb.Changes();
}

bool TOutbox::Requeue(int64_t id) {
  constexpr std::string_view kDoing = "queue a page of the outbox again";
  TSqliteStatement update =
      FDb.Prepare("UPDATE pages SET state = ?1 WHERE id = ?2 AND state = ?3", kDoing);
  update.BindText(1, Text(TOutboxState::kQueued))
      .BindInt(2, id)
      .BindText(3, Text(TOutboxState::kFramed));
  update.Run(kDoing);
  return FDb.Changes() > 0;
}

std::vector<TOutboxPage> TOutbox::Expire(int64_t now) {
  constexpr std::string_view kDoing = "expire pages of the outbox";
  // The owner is the only writer, so nothing changes between this read and
  // the updates; reading first keeps a call that expires nothing from
  // writing (and syncing) at all.
  TSqliteStatement query = Query("state = ?1 AND expires_at <= ?2 ORDER BY id", kDoing);
  query.BindText(1, Text(TOutboxState::kQueued)).BindInt(2, now);
  std::vector<TOutboxPage> expired = ReadAll(query, kDoing);
  if (expired.empty()) return expired;

  TSqliteTransaction transaction(FDb);
  TSqliteStatement update =
      FDb.Prepare("UPDATE pages SET state = ?1, reason = ?2, finished = ?3 WHERE id = ?4", kDoing);
  for (TOutboxPage& page : expired) {
    page.State = TOutboxState::kExpired;
    page.Reason = ExpiryReason(page);
    page.Finished = now;
    update.BindText(1, Text(page.State))
        .BindText(2, page.Reason)
        .BindInt(3, now)
        .BindInt(4, page.Id);
    update.Run(kDoing);
    update.Reset();
  }
  transaction.Commit();
  return expired;
}

TOutboxDue TOutbox::Due(int64_t now, std::size_t limit) {
  constexpr std::string_view kDoing = "read the outbox";
  TOutboxDue due;
  due.Expired = Expire(now);
  TSqliteStatement query = Query("state = ?1 ORDER BY id LIMIT ?2", kDoing);
  query.BindText(1, Text(TOutboxState::kQueued)).BindInt(2, Limit(limit));
  due.Pages = ReadAll(query, kDoing);
  return due;
}

bool TOutbox::CancelWhere(const char* where, int64_t value, int64_t now) {
  constexpr std::string_view kDoing = "cancel a page of the outbox";
  TSqliteStatement update = FDb.Prepare(
      std::string("UPDATE pages SET state = ?1, finished = ?2 WHERE state = ?3 AND ") + where,
      kDoing);
  update.BindText(1, Text(TOutboxState::kCancelled))
      .BindInt(2, now)
      .BindText(3, Text(TOutboxState::kQueued))
      .BindInt(4, value);
  update.Run(kDoing);
  return FDb.Changes() == 1;
}

bool TOutbox::CancelById(int64_t id, int64_t now) { return CancelWhere("id = ?4", id, now); }

bool TOutbox::CancelByNumber(int32_t number, int64_t now) {
  return number != 0 && CancelWhere("number = ?4", number, now);
}

TOutboxListing TOutbox::List(std::size_t outcomes) const {
  constexpr std::string_view kDoing = "read the outbox";
  TOutboxListing listing;
  TSqliteStatement waiting = Query("state IN (?1, ?2) ORDER BY id", kDoing);
  waiting.BindText(1, Text(TOutboxState::kQueued)).BindText(2, Text(TOutboxState::kFramed));
  listing.Waiting = ReadAll(waiting, kDoing);
  TSqliteStatement finished =
      Query("state NOT IN (?1, ?2) ORDER BY finished DESC, id DESC LIMIT ?3", kDoing);
  finished.BindText(1, Text(TOutboxState::kQueued))
      .BindText(2, Text(TOutboxState::kFramed))
      .BindInt(3, Limit(outcomes));
  listing.Outcomes = ReadAll(finished, kDoing);
  std::reverse(listing.Outcomes.begin(), listing.Outcomes.end());
  return listing;
}

std::optional<TOutboxPage> TOutbox::Get(int64_t id) const {
  constexpr std::string_view kDoing = "read the outbox";
  TSqliteStatement query = Query("id = ?1", kDoing);
  query.BindInt(1, id);
  if (!query.Step(kDoing)) return std::nullopt;
  return outbox_schema::ReadPage(FDb, query);
}

int TOutbox::Forget(int64_t before) {
  constexpr std::string_view kDoing = "forget finished pages of the outbox";
  TSqliteStatement erase =
      FDb.Prepare("DELETE FROM pages WHERE state NOT IN (?1, ?2) AND finished < ?3", kDoing);
  erase.BindText(1, Text(TOutboxState::kQueued))
      .BindText(2, Text(TOutboxState::kFramed))
      .BindInt(3, before);
  erase.Run(kDoing);
  return FDb.Changes();
}

}  // namespace zv
