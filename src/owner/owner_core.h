// TOwnerCore: what a home's owner does with the pages of its clients, free of
// I/O. It takes the clients' messages, keeps every page in the outbox before
// it says "accepted", hands the outbox's pages to the link in order while the
// link is ready, tries a link that is down again with a growing pause, and
// tells each waiting client its pages' outcomes. Sockets, the clock and the
// link itself belong to the pump around it (owner/owner_server.h), which
// reads what the core has to say with TakeOutput.
//
// Delivery is at least once: a page the link took and that got no result
// before the link ended (or the owner died) goes out once more under its own
// number when the link is back, and counts a second attempt, which its sender
// is told. Nothing the outbox accepted is dropped without an outcome.
//
// One thread makes every call: the owner's main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "outbox/outbox.h"
#include "owner/owner_backoff.h"
#include "owner/owner_wire.h"

namespace zv {

// What the owner needs of the link that carries its pages.
class TOwnerLink {
 public:
  virtual ~TOwnerLink() = default;

  // Pages handed over now go out at once: the login is up, the server ready.
  virtual bool Ready() const = 0;
  // The link is down, no start is under way, and the owner may start it (an
  // operator who stopped the link keeps it stopped).
  virtual bool MayStart() const = 0;
  virtual void Start() = 0;
  // The next message number of the home.
  virtual int32_t NextNumber() = 0;

  struct TRefusal {
    std::string Reason;
    // The page itself is at fault (a field the server would misread): it ends
    // as not sent. Otherwise the link could not take it now; it waits.
    bool Final = false;
  };
  // Hands `page` to the link under `number`; its outcome comes back later as
  // TOwnerCore::PageEnded with that number. A refusal is told at once and
  // nothing comes later.
  virtual std::optional<TRefusal> Send(const TOutboxPage& page, int32_t number) = 0;

  // A line for the owner's log.
  virtual void Log(const std::string& action, const std::string& text) = 0;
};

// Withdraws the queued page `cancel` names, answering what was done or why
// not; `withdrawn` is the page as it is now when it was. For the owner, and
// for "zvcc outbox --cancel" when no owner runs (holding the owner's lock).
TOwnerCancelled CancelPage(TOutbox& outbox, const TOwnerCancel& cancel, int64_t now,
                           std::optional<TOutboxPage>& withdrawn);

class TOwnerCore {
 public:
  using TClientId = uint64_t;

  // A line for one client; Close: the connection ends after it.
  struct TOutput {
    TClientId Client = 0;
    std::string Line;
    bool Close = false;
  };

  // What the owner's front end may show: a page from elsewhere arrived, or
  // got its outcome.
  struct TNotice {
    bool Arrived = false;  // else: its outcome
    TOutboxPage Page;
  };
  using TNoticeSink = std::function<void(const TNotice&)>;

  // How many pages may be on the link without an outcome at once; more wait
  // in the outbox, where a kill cannot cost them.
  static constexpr std::size_t kMaxInFlight = 256;
  // A page that got no result this many times is told as without result.
  static constexpr int32_t kMaxAttempts = 3;
  // How long a takeover or a stop waits for the pages on the link.
  static constexpr int64_t kHandoverWaitMs = 5000;

  TOwnerCore(TOutbox& outbox, TOwnerLink& link, TOwnerKind kind, int64_t pid);

  // Before anything else: pages left on the link by a dead owner go back to
  // the queue, finished pages older than `retentionMs` are forgotten. Answers
  // how many were queued again.
  int Open(int64_t now, int64_t retentionMs);

  void SetNoticeSink(TNoticeSink sink) { FNotices = std::move(sink); }
  // The link this owner's login is on, as clients name it ("tcp HOST:PORT",
  // "local"): a client whose pages are for another is refused.
  void SetLinkText(std::function<std::string()> link) { FLinkText = std::move(link); }

  TClientId Connected();
  void Received(TClientId client, const TOwnerClientMessage& message, int64_t now);
  // A line that was no message: the client is told and let go.
  void ReceivedGarbage(TClientId client, const std::string& error);
  void Disconnected(TClientId client);
  // Writes the pages received since the last call in one transaction and
  // answers them; the pump calls it once per pass, after reading every
  // client, so a burst costs one sync. A store that cannot be written refuses
  // the batch's pages (their clients are told; nothing was accepted).
  void Commit(int64_t now);

  // The link's events.
  void LinkReady(int64_t now);
  // `state`: kResult, kNotSent or kNoResult. `linkEnded`: no result because
  // the link ended (the page goes out again on the next link).
  void PageEnded(int32_t number, TOutboxState state, const std::string& result, int32_t code,
                 const std::string& reason, bool linkEnded, int64_t now);

  // Expiry, the link's start, the pages' way out. The pump calls it each
  // pass and no later than NextWake.
  void Tick(int64_t now);
  int64_t NextWake(int64_t now) const;

  std::vector<TOutput> TakeOutput();

  // The owner is asked to leave (a takeover or a stop) and has handed its
  // clients over: the pump ends the owner.
  bool Leaving() const { return FLeaving; }
  bool HandedOver() const { return FHandedOver; }
  // Pages waiting in the outbox (queued or on the link).
  int Waiting() const;
  std::size_t Clients() const { return FClients.size(); }
  // Pages of this owner on the link now.
  std::size_t InFlight() const { return FInFlight.size(); }

  // Asks the owner to leave, as a client's stop or a takeover does, and as
  // SIGTERM does for an agent: no new page goes out, the pages on the link
  // get their results (at most kHandoverWaitMs), then every client is told
  // "handover" and let go. Pages still waiting stay in the outbox for the
  // next owner.
  void Leave(int64_t now, int64_t waitMs = kHandoverWaitMs);

 private:
  struct TWaiter {
    TClientId Client = 0;
    int64_t Seq = 0;
  };
  struct TClient {
    bool Greeted = false;
    bool Console = false;
  };
  struct TPending {
    TClientId Client = 0;
    int64_t Seq = 0;
    TOutboxOrder Order;
  };

  void Send(TClientId client, const TOwnerReply& reply, bool close = false);
  void Cancel(TClientId client, const TOwnerCancel& cancel, int64_t now);
  void Refuse(TClientId client, const std::string& reason);
  void Tell(const TOutboxPage& page);
  void Pump(int64_t now);
  void StartLinkIfDue(int64_t now);
  void FinishHandover(bool force);
  TOwnerOutcome OutcomeOf(const TOutboxPage& page, int64_t seq) const;

  TOutbox& FOutbox;
  TOwnerLink& FLink;
  const TOwnerKind FKind;
  const int64_t FPid;
  TNoticeSink FNotices;
  std::function<std::string()> FLinkText;

  TClientId FNextClient = 1;
  std::map<TClientId, TClient> FClients;
  std::vector<TPending> FPending;
  // Who waits for which page's outcome, by outbox id.
  std::map<int64_t, std::vector<TWaiter>> FWaiters;
  // Outbox ids of the pages this owner put on the link, by number.
  std::map<int32_t, int64_t> FInFlight;
  // Pages whose link ended before their result: queued again when the next
  // link is ready.
  std::vector<int64_t> FLeftFramed;
  std::vector<TOutput> FOutput;
  TOwnerBackoff FBackoff;
  int64_t FNextExpiry = 0;
  bool FLeaving = false;
  bool FHandedOver = false;
  int64_t FLeaveDeadline = 0;
  std::set<TClientId> FLeaveAskers;
};

}  // namespace zv
