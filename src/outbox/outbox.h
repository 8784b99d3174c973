// TOutbox: the durable outbox of a home's owner, the one process that holds
// the server login and sends pages for every local sender. A page accepted
// by Add is on disk before Add returns, so a burst all goes out, an outage
// loses nothing, a retry under the same key never pages twice, and after a
// kill the next owner carries on from the file (Recover).
//
// The store hands out no message numbers and reads no clock: the owner draws
// numbers from its numbering and passes every time in (milliseconds since the
// Unix epoch), so the store's rules can be tested without waiting.
//
// The file is SQLite in WAL mode with synchronous=FULL: every call that
// changes pages is one transaction and one sync of the file, and other
// processes may read the file at any time (kReader) without holding the owner
// up. Every failure of SQLite is an EZVStoreError (an EZVFileError) with
// SQLite's text; a failed call leaves the file as it was before the call.
//
// Thread use: one thread, the owner's (or the reader's), makes every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outbox/outbox_page.h"
#include "outbox/sqlite_db.h"

namespace zv {

// What Add made of one order: a new page, or (Duplicate) the page that
// already holds the order's key.
struct TOutboxAdded {
  TOutboxPage Page;
  bool Duplicate = false;
};

// What Due found: the queued pages to send now, and those it expired on the
// way (so the owner can tell their senders).
struct TOutboxDue {
  std::vector<TOutboxPage> Pages;
  std::vector<TOutboxPage> Expired;
};

// For `zvcc outbox`: the waiting pages in the order they go out, and the most
// recent outcomes, oldest first (the newest last).
struct TOutboxListing {
  std::vector<TOutboxPage> Waiting;
  std::vector<TOutboxPage> Outcomes;
};

class TOutbox {
 public:
  enum class TAccess {
    kOwner,   // creates a missing file, writes
    kReader,  // reads a file the owner made; never changes it
  };

  // The file's name in the home's Settings folder.
  static constexpr const char* kFileName = "zvcc-outbox.db";
  // How long a call waits for a lock a reader's checkpoint or a second
  // owner holds before it fails as busy.
  static constexpr int kBusyTimeoutMs = 5000;
  static constexpr int64_t kMsPerMinute = 60'000;
  // How long finished pages are kept by default; the owner passes
  // now - kRetentionMs to Forget.
  static constexpr int64_t kRetentionMs = 7 * 24 * 60 * kMsPerMinute;

  // Opens the outbox file (`Settings/zvcc-outbox.db` of the home). A file that
  // is not an outbox, or is one of another version or damaged, is refused
  // with EZVFileFormat and left untouched, never replaced; a reader finds no
  // file as EZVNoFile.
  explicit TOutbox(std::string path, TAccess access = TAccess::kOwner);

  // Writes the new pages of `orders` in one transaction: all of them or, on a
  // failure, none. The result has one entry per order, in order. An order
  // whose non-empty key is held by a page not yet expired by time
  // (now < its ExpiresAt), whatever that page's state, is that page again
  // (Duplicate) and writes nothing; this holds within the batch too. A key of
  // more than TOutboxOrder::kMaxKeyBytes bytes or an age limit below one
  // minute refuses the whole batch (EZVException) before anything is written.
  std::vector<TOutboxAdded> Add(const std::vector<TOutboxOrder>& orders, int64_t now);

  // Just before the page is written to the link: a queued page becomes framed
  // under `number` (or under the number it already has: a repeat goes out
  // under its own number), one more attempt, framed at `now`; durable before
  // it returns. Answers the page as framed, whose Number is the one to write;
  // none when the page is not queued. A number that another page holds is
  // refused (EZVStoreError), never moved; so is a number below 1.
  std::optional<TOutboxPage> MarkFramed(int64_t id, int32_t number, int64_t now);

  // A framed page whose link ended before its result is queued again, with
  // its number and its attempts: it goes out once more as a repeat. False
  // when the page is not framed.
  bool Requeue(int64_t id);

  // The link did not take a page just framed (it could not take it now):
  // the page is queued again, keeping its number, and the attempt is not
  // counted. False when the page is not framed.
  bool Unframe(int64_t id);

  // The outcome of a queued or framed page: `state` is kResult, kNotSent or
  // kNoResult (any other is EZVException). False, and nothing changes, when
  // the page is not waiting (finished already, or absent).
  bool Finish(int64_t id, TOutboxState state, std::string_view result, int32_t code,
              std::string_view reason, int64_t now);

  // The framed page that went out under `number`, to match a result to.
  std::optional<TOutboxPage> FindFramedByNumber(int32_t number) const;

  // For a new owner, before its first Due: pages left framed (the last owner
  // died between framing and a result) are queued again with their number
  // and attempts, so they go out once more as repeats. How many.
  int Recover();

  // Up to `limit` queued pages in id order. Queued pages whose age limit has
  // run out (now >= ExpiresAt) are expired first and never returned as due.
  TOutboxDue Due(int64_t now, std::size_t limit);

  // Expires every queued page whose age limit has run out at `now` (state
  // kExpired, a reason that names the limit and when it ran out, finished at
  // `now`); answers them in id order. Framed pages are left to the server.
  std::vector<TOutboxPage> Expire(int64_t now);

  // A queued page becomes cancelled, finished at `now`; false (nothing
  // changes) for a page that is not queued, framed ones included: those are
  // on their way. By id, or by the number a requeued page keeps (never 0).
  bool CancelById(int64_t id, int64_t now);
  bool CancelByNumber(int32_t number, int64_t now);

  // The waiting pages and the newest `outcomes` finished ones.
  TOutboxListing List(std::size_t outcomes) const;
  std::optional<TOutboxPage> Get(int64_t id) const;

  // Deletes the finished pages finished before `before`; waiting pages stay
  // whatever their age. How many.
  int Forget(int64_t before);

  // Transactions this object has committed since it opened.
  int64_t Commits() const { return FDb.Commits(); }
  const std::string& Path() const { return FDb.Path(); }

 private:
  // "SELECT <the page's columns> FROM pages WHERE <where>", to bind and read.
  TSqliteStatement Query(const std::string& where, std::string_view doing) const;
  std::vector<TOutboxPage> ReadAll(TSqliteStatement& query, std::string_view doing) const;
  bool CancelWhere(const char* where, int64_t value, int64_t now);

  TSqliteDb FDb;
};

// The reason an expired page carries: "age limit of 120 minutes ran out at
// 2024-05-01 14:00:00" (local time).
std::string ExpiryReason(const TOutboxPage& page);

// A time of the outbox (milliseconds since the Unix epoch) as the operator
// reads it: "2024-05-01 14:00:00", local time.
std::string OutboxTimeText(int64_t msSinceEpoch);

}  // namespace zv
