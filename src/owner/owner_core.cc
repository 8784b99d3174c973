#include "owner/owner_core.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "support/exceptions.h"

namespace zv {
namespace {

// Expiry and retention are checked this often, not on every pass: each is a
// query of the store.
constexpr int64_t kExpiryCheckMs = 1000;
constexpr std::size_t kDueBatch = 64;
// A number the outbox already holds (a numbering that repeated after a kill)
// is skipped; this many in a row is a numbering that does not move.
constexpr int kNumberTries = 16;

TOwnerPageOutcome WireOutcome(TOutboxState state) {
  switch (state) {
    case TOutboxState::kResult:
      return TOwnerPageOutcome::kResult;
    case TOutboxState::kNotSent:
      return TOwnerPageOutcome::kNotSent;
    case TOutboxState::kNoResult:
      return TOwnerPageOutcome::kNoResult;
    case TOutboxState::kExpired:
      return TOwnerPageOutcome::kExpired;
    case TOutboxState::kCancelled:
      return TOwnerPageOutcome::kCancelled;
    case TOutboxState::kQueued:
    case TOutboxState::kFramed:
      break;
  }
  return TOwnerPageOutcome::kQueued;
}

TOutboxOrder OrderOf(const TOwnerPage& page) {
  TOutboxOrder order;
  order.Key = page.Key;
  order.Address = page.Address;
  order.Text = page.Text;
  order.Carrier = page.Carrier;
  order.Priority = page.Priority;
  order.Subject = page.Subject;
  order.Age = page.Age;
  if (page.AgeLimit > 0) order.AgeLimit = page.AgeLimit;
  order.Source = page.Source.empty() ? "send" : page.Source;
  return order;
}

}  // namespace

TOwnerCore::TOwnerCore(TOutbox& outbox, TOwnerLink& link, TOwnerKind kind, int64_t pid)
    : FOutbox(outbox), FLink(link), FKind(kind), FPid(pid) {}

int TOwnerCore::Open(int64_t now, int64_t retentionMs) {
  const int recovered = FOutbox.Recover();
  if (recovered > 0) {
    FLink.Log("Outbox", std::to_string(recovered) +
                            (recovered == 1 ? " page was" : " pages were") +
                            " on the link without a result when the last owner ended; "
                            "they go out again, marked as repeats");
  }
  FOutbox.Forget(now - retentionMs);
  return recovered;
}

TOwnerCore::TClientId TOwnerCore::Connected() {
  const TClientId id = FNextClient++;
  FClients[id];
  return id;
}

void TOwnerCore::Send(TClientId client, const TOwnerReply& reply, bool close) {
  FOutput.push_back({client, EncodeOwnerLine(reply), close});
}

void TOwnerCore::Refuse(TClientId client, const std::string& reason) {
  Send(client, TOwnerRefused{reason}, true);
  Disconnected(client);
}

void TOwnerCore::ReceivedGarbage(TClientId client, const std::string& error) {
  Refuse(client, "not a message of this owner: " + error);
}

void TOwnerCore::Received(TClientId client, const TOwnerClientMessage& message, int64_t now) {
  const auto it = FClients.find(client);
  if (it == FClients.end()) return;  // already let go
  TClient& c = it->second;
  if (const auto* hello = std::get_if<TOwnerHello>(&message)) {
    if (hello->Version != kOwnerWireVersion) {
      Refuse(client, "this owner speaks version " + std::to_string(kOwnerWireVersion) +
                         ", not " + std::to_string(hello->Version));
      return;
    }
    const std::string link = FLinkText ? FLinkText() : std::string();
    if (!hello->Link.empty() && !link.empty() && hello->Link != link) {
      // Its pages are for another server than this owner's login.
      Refuse(client, "the home's owner sends through " + link + ", not " + hello->Link);
      return;
    }
    c.Greeted = true;
    c.Console = hello->Role == TOwnerClientRole::kConsole;
    Send(client, TOwnerWelcome{kOwnerWireVersion, FKind, FPid});
    return;
  }
  if (!c.Greeted) {
    Refuse(client, "a client says hello first");
    return;
  }
  if (const auto* page = std::get_if<TOwnerPage>(&message)) {
    if (FLeaving) {
      // The next owner takes it; the client sends it again there.
      return;
    }
    FPending.push_back({client, page->Seq, OrderOf(*page)});
    return;
  }
  if (std::holds_alternative<TOwnerEnd>(message)) return;  // the client waits on
  if (const auto* cancel = std::get_if<TOwnerCancel>(&message)) {
    Cancel(client, *cancel, now);
    return;
  }
  if (std::holds_alternative<TOwnerStatusQuery>(message)) {
    Send(client, TOwnerStatus{FKind, FPid, Waiting(), FLink.Ready() ? "ready" : "down"});
    return;
  }
  if (std::holds_alternative<TOwnerTakeover>(message) ||
      std::holds_alternative<TOwnerStop>(message)) {
    if (FKind == TOwnerKind::kConsole) {
      // An operator's console leaves when its operator says so.
      Refuse(client, "the home's owner is an open console; it serves until its operator quits");
      return;
    }
    FLeaveAskers.insert(client);
    Leave(now);
  }
}

TOwnerCancelled CancelPage(TOutbox& outbox, const TOwnerCancel& cancel, int64_t now,
                           std::optional<TOutboxPage>& withdrawn) {
  std::optional<TOutboxPage> page;
  if (cancel.Id != 0) {
    page = outbox.Get(cancel.Id);
  } else if (cancel.Number != 0) {
    for (const TOutboxPage& p : outbox.List(0).Waiting) {
      if (p.Number == cancel.Number) page = p;
    }
  }
  const std::string name = cancel.Id != 0 ? "Page #" + std::to_string(cancel.Id)
                                          : "Message " + std::to_string(cancel.Number);
  if (page && outbox.CancelById(page->Id, now)) {
    withdrawn = outbox.Get(page->Id);
    return {true, name + " to \"" + page->Address + "\" is withdrawn: it will not go out"};
  }
  return {false, name + " cannot be withdrawn: it is not waiting in the outbox (it has gone "
                        "out, has its outcome, or is not known)"};
}

void TOwnerCore::Cancel(TClientId client, const TOwnerCancel& cancel, int64_t now) {
  std::optional<TOutboxPage> withdrawn;
  const TOwnerCancelled answer = CancelPage(FOutbox, cancel, now, withdrawn);
  if (withdrawn) {
    FLink.Log("Outbox", answer.Reason);
    Tell(*withdrawn);
  }
  Send(client, answer);
}

void TOwnerCore::Disconnected(TClientId client) {
  FClients.erase(client);
  FLeaveAskers.erase(client);
  for (auto it = FWaiters.begin(); it != FWaiters.end();) {
    auto& waiters = it->second;
    waiters.erase(std::remove_if(waiters.begin(), waiters.end(),
                                 [&](const TWaiter& w) { return w.Client == client; }),
                  waiters.end());
    it = waiters.empty() ? FWaiters.erase(it) : std::next(it);
  }
  // Its pages received but not yet written are not accepted: it was never
  // told they were, so it does not count on them.
  FPending.erase(std::remove_if(FPending.begin(), FPending.end(),
                                [&](const TPending& p) { return p.Client == client; }),
                 FPending.end());
}

void TOwnerCore::Commit(int64_t now) {
  if (FPending.empty()) return;
  std::vector<TPending> pending = std::move(FPending);
  FPending.clear();
  std::vector<TOutboxOrder> orders;
  orders.reserve(pending.size());
  for (const TPending& p : pending) orders.push_back(p.Order);
  std::vector<TOutboxAdded> added;
  try {
    added = FOutbox.Add(orders, now);
  } catch (const std::exception& e) {
    FLink.Log("Outbox", std::string("Pages could not be kept: ") + e.what());
    for (const TPending& p : pending) {
      TOwnerOutcome outcome;
      outcome.Seq = p.Seq;
      outcome.Address = p.Order.Address;
      outcome.Text = p.Order.Text;
      outcome.Outcome = TOwnerPageOutcome::kNotSent;
      outcome.Reason = std::string("the outbox could not keep it: ") + e.what();
      Send(p.Client, outcome);
    }
    return;
  }
  for (std::size_t i = 0; i < pending.size() && i < added.size(); ++i) {
    const TPending& p = pending[i];
    const TOutboxPage& page = added[i].Page;
    Send(p.Client, TOwnerAccepted{p.Seq, page.Id, added[i].Duplicate, page.ExpiresAt});
    if (!IsWaiting(page.State)) {
      // A key whose page has its outcome already: that outcome, at once.
      Send(p.Client, OutcomeOf(page, p.Seq));
      continue;
    }
    FWaiters[page.Id].push_back({p.Client, p.Seq});
    if (!added[i].Duplicate && FNotices) FNotices({true, page});
  }
  Pump(now);
}

TOwnerOutcome TOwnerCore::OutcomeOf(const TOutboxPage& page, int64_t seq) const {
  TOwnerOutcome outcome;
  outcome.Seq = seq;
  outcome.Id = page.Id;
  outcome.Number = page.Number;
  outcome.Address = page.Address;
  outcome.Text = page.Text;
  outcome.Outcome = WireOutcome(page.State);
  outcome.Result = page.Result;
  outcome.Code = page.Code;
  outcome.Reason = page.Reason;
  outcome.Attempts = page.Attempts;
  return outcome;
}

void TOwnerCore::Tell(const TOutboxPage& page) {
  const auto it = FWaiters.find(page.Id);
  if (it != FWaiters.end()) {
    for (const TWaiter& w : it->second) Send(w.Client, OutcomeOf(page, w.Seq));
    FWaiters.erase(it);
  }
  if (FNotices) FNotices({false, page});
}

void TOwnerCore::LinkReady(int64_t now) {
  FBackoff.Reset();
  // Pages the last link took without answering go out again now: the server
  // may never have had them. (A link tells its readiness more than once; the
  // pages on it now are not among these.)
  int again = 0;
  for (const int64_t id : FLeftFramed) again += FOutbox.Requeue(id) ? 1 : 0;
  FLeftFramed.clear();
  if (again > 0) {
    FLink.Log("Outbox", std::to_string(again) +
                            (again == 1 ? " page goes" : " pages go") +
                            " out again: the link ended before its result");
  }
  Pump(now);
}

void TOwnerCore::PageEnded(int32_t number, TOutboxState state, const std::string& result,
                           int32_t code, const std::string& reason, bool linkEnded, int64_t now) {
  const auto it = FInFlight.find(number);
  if (it == FInFlight.end()) return;  // not a page of the outbox
  const int64_t id = it->second;
  FInFlight.erase(it);
  if (state == TOutboxState::kNoResult && linkEnded) {
    const std::optional<TOutboxPage> page = FOutbox.Get(id);
    if (page && page->Attempts < kMaxAttempts) {
      // Left framed: the next link's readiness (or the next owner) sends it
      // once more.
      FLeftFramed.push_back(id);
      if (FLeaving) FinishHandover(false);
      return;
    }
  }
  FOutbox.Finish(id, state, result, code, reason, now);
  if (const std::optional<TOutboxPage> page = FOutbox.Get(id)) Tell(*page);
  if (FLeaving) {
    FinishHandover(false);
    return;
  }
  Pump(now);
}

void TOwnerCore::Pump(int64_t now) {
  if (FLeaving) return;
  while (FLink.Ready() && FInFlight.size() < kMaxInFlight) {
    TOutboxDue due = FOutbox.Due(now, std::min(kDueBatch, kMaxInFlight - FInFlight.size()));
    for (const TOutboxPage& page : due.Expired) Tell(page);
    if (due.Pages.empty()) return;
    for (const TOutboxPage& page : due.Pages) {
      if (!FLink.Ready()) return;
      std::optional<TOutboxPage> framed;
      for (int tries = 0; !framed && tries < kNumberTries; ++tries) {
        const int32_t number = page.Number != 0 ? page.Number : FLink.NextNumber();
        try {
          framed = FOutbox.MarkFramed(page.Id, number, now);
          if (!framed) break;  // no longer queued (cancelled meanwhile)
        } catch (const EZVStoreError&) {
          if (page.Number != 0) throw;  // a page's own number is never changed
          FLink.Log("Outbox", "Message number " + std::to_string(number) +
                                  " is taken by another page; the next one is used");
        }
      }
      if (!framed) continue;
      const std::optional<TOwnerLink::TRefusal> refusal = FLink.Send(*framed, framed->Number);
      if (!refusal) {
        FInFlight[framed->Number] = framed->Id;
        continue;
      }
      if (refusal->Final) {
        FOutbox.Finish(framed->Id, TOutboxState::kNotSent, "", 0, refusal->Reason, now);
        if (const std::optional<TOutboxPage> done = FOutbox.Get(framed->Id)) Tell(*done);
        continue;
      }
      // The link could not take it now: back in the queue, the attempt not
      // counted, and nothing more this pass.
      FOutbox.Unframe(framed->Id);
      return;
    }
  }
}

void TOwnerCore::StartLinkIfDue(int64_t now) {
  if (FLeaving || FLink.Ready() || !FLink.MayStart() || !FBackoff.Due(now)) return;
  const int waiting = Waiting();
  if (waiting == 0) return;
  FBackoff.Tried(now);
  FLink.Log("Connecting",
            "Starting the link for " + std::to_string(waiting) +
                (waiting == 1 ? " waiting page" : " waiting pages") + "; if it fails, again in " +
                std::to_string(FBackoff.LastPauseMs() / 1000) + " s");
  FLink.Start();
}

void TOwnerCore::Tick(int64_t now) {
  if (FLeaving) {
    if (now >= FLeaveDeadline) FinishHandover(true);
    return;
  }
  if (now >= FNextExpiry) {
    FNextExpiry = now + kExpiryCheckMs;
    for (const TOutboxPage& page : FOutbox.Expire(now)) Tell(page);
    StartLinkIfDue(now);
  }
  Pump(now);
}

int64_t TOwnerCore::NextWake(int64_t now) const {
  if (FLeaving) return FLeaveDeadline;
  int64_t wake = std::max(FNextExpiry, now);
  if (!FLink.Ready()) wake = std::min(wake, std::max(FBackoff.NextTry(), now));
  return wake;
}

std::vector<TOwnerCore::TOutput> TOwnerCore::TakeOutput() {
  std::vector<TOutput> out = std::move(FOutput);
  FOutput.clear();
  return out;
}

int TOwnerCore::Waiting() const {
  return static_cast<int>(FOutbox.List(0).Waiting.size());
}

void TOwnerCore::Leave(int64_t now, int64_t waitMs) {
  if (FLeaving) return;
  FLeaving = true;
  FLeaveDeadline = now + waitMs;
  FLink.Log("Owner", "Handing over: the pages on the link get their results first, at most " +
                         std::to_string(waitMs) + " ms");
  FinishHandover(false);
}

void TOwnerCore::FinishHandover(bool force) {
  if (FHandedOver || !FLeaving) return;
  // The pages on the link get their results first; at the deadline they are
  // left framed, and the next owner sends them once more.
  if (!force && !FInFlight.empty()) return;
  std::map<TClientId, int> pages;
  for (const auto& [id, waiters] : FWaiters) {
    for (const TWaiter& w : waiters) ++pages[w.Client];
  }
  for (const auto& [client, c] : FClients) {
    (void)c;
    Send(client, TOwnerHandover{pages[client]}, true);
  }
  FClients.clear();
  FWaiters.clear();
  FPending.clear();
  FHandedOver = true;
}

}  // namespace zv
