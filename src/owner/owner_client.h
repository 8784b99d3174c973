// A client's side of a connection to the home's owner: the lines it sends and
// the owner's answers as they come, each wait bounded by the caller's
// deadline. "zvcc send", "zvcc agent --stop", "zvcc outbox --cancel" and an
// opening console's takeover all talk to the owner through it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "owner/owner_wire.h"
#include "platform/local_socket.h"

namespace zv {

class TOwnerClientStream {
 public:
  using Clock = std::chrono::steady_clock;

  explicit TOwnerClientStream(platform::LocalStream stream) : FStream(std::move(stream)) {}

  // Writes `lines` (encoded messages) by `deadline`; false when the owner went
  // or the time ran out first. What the owner said before it went can still
  // be read.
  bool Send(const std::string& lines, Clock::time_point deadline);

  // The owner's next answer; none once the owner has gone (Ended) or
  // `deadline` has passed. Lines that are no answer of this version are
  // passed over: a later owner may say more.
  std::optional<TOwnerReply> Next(Clock::time_point deadline);
  bool Ended() const { return FEnded; }

 private:
  platform::LocalStream FStream;
  TOwnerReplyReader FReader;
  bool FEnded = false;
};

}  // namespace zv
