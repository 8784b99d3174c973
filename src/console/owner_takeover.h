// How an opening console becomes its home's owner: at once when no process
// owns the home, or by asking the running agent to hand over. The agent sends
// no new page, lets the pages on the link get their results, says how many
// wait, and leaves; the console then takes the lock and the outbox, with
// every page the agent had not sent.
#pragma once

#include <optional>
#include <string>

#include "platform/owner_endpoint.h"

namespace zv {

struct TOwnership {
  std::optional<platform::OwnerEndpoint> Endpoint;
  // An agent handed over: the pages of the outbox it left waiting (-1: no
  // agent ran).
  int TakenOver = -1;
  // Why the console could not become the owner ("" when it did).
  std::string Error;
};

// Main thread, before the console's main loop; waits at most a few seconds.
TOwnership BecomeOwner(const std::string& home);

}  // namespace zv
