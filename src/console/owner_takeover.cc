#include "console/owner_takeover.h"

#include <unistd.h>

#include <chrono>
#include <exception>

#include "console/owner_host.h"
#include "outbox/outbox.h"
#include "owner/owner_client.h"
#include "owner/owner_wire.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

// The agent waits up to 5 s for the pages on its link; then it needs a moment
// to leave.
constexpr std::chrono::seconds kHandoverWait{8};

// Asks the owner on `stream` to hand over; true once it said so or left.
bool AskToHandOver(platform::LocalStream stream, std::string& error) {
  const auto deadline = Clock::now() + kHandoverWait;
  TOwnerClientStream owner(std::move(stream));
  owner.Send(EncodeOwnerLine(TOwnerHello{kOwnerWireVersion, TOwnerClientRole::kConsole,
                                         static_cast<int64_t>(::getpid()), ""}) +
                 EncodeOwnerLine(TOwnerTakeover{}),
             deadline);
  while (const std::optional<TOwnerReply> reply = owner.Next(deadline)) {
    if (const auto* refused = std::get_if<TOwnerRefused>(&*reply)) {
      error = refused->Reason;
      return false;
    }
    if (std::holds_alternative<TOwnerHandover>(*reply)) return true;
  }
  if (owner.Ended()) return true;
  error = "the agent did not hand over within " + std::to_string(kHandoverWait.count()) + " s";
  return false;
}

}  // namespace

TOwnership BecomeOwner(const std::string& home) {
  TOwnership own;
  try {
    own.Endpoint = platform::TryBecomeOwner(home);
    if (own.Endpoint) return own;
    std::optional<platform::LocalStream> stream =
        platform::ConnectToOwner(home, std::chrono::seconds(2));
    if (stream && !AskToHandOver(std::move(*stream), own.Error)) return own;
    // The lock is let go of when the agent's process ends.
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!own.Endpoint && Clock::now() < deadline) {
      own.Endpoint = platform::TryBecomeOwner(home);
      if (!own.Endpoint) ::usleep(20'000);
    }
    if (!own.Endpoint) {
      own.Error = "another process holds the home's owner lock";
      return own;
    }
  } catch (const std::exception& e) {
    own.Endpoint.reset();
    own.Error = e.what();
    return own;
  }
  // What the agent left is what waits in the outbox now.
  own.TakenOver = 0;
  try {
    own.TakenOver = static_cast<int>(
        TOutbox(TOwnerHost::OutboxPath(), TOutbox::TAccess::kReader).List(0).Waiting.size());
  } catch (const std::exception&) {
    // No outbox yet: nothing was left.
  }
  return own;
}

}  // namespace zv
