// Host name lookup. A resolver call cannot be interrupted and may wait for
// name servers for as long as its own configuration allows, so HostLookup
// runs it on a thread of its own: whoever waits for the answer can give up at
// any time (a stop, a deadline) and the lookup finishes unobserved.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace zv::platform {

// The first IPv4 address of `hostName` as a dotted quad (a dotted quad is its
// own answer). Waits for the resolver. Throws SocketError(kHostNotFound) with
// the resolver's text when there is none.
std::string ResolveIPv4(const std::string& hostName);

// What a lookup runs: ResolveIPv4, or a test's stand-in. Throws SocketError.
using HostResolveFunction = std::function<std::string(const std::string& hostName)>;

class HostLookup {
 public:
  // Starts looking `hostName` up. Throws SocketError when no thread can run it.
  explicit HostLookup(std::string hostName, HostResolveFunction resolve = ResolveIPv4);
  // Never waits: a lookup still running ends on its own and its answer is
  // dropped.
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Readable once the answer is in; for pollers.
  int Fd() const;
  // The address found once Fd() is readable; throws the lookup's SocketError
  // otherwise (EINPROGRESS before then).
  std::string Result() const;

 private:
  struct State;  // shared with the lookup's thread, which may outlive this
  std::shared_ptr<State> FState;
};

}  // namespace zv::platform
