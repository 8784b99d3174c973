// TOwnerServer: the pump between the owner's socket and its core. It accepts
// the home's clients, reads their lines into the core, commits each pass's
// pages in one transaction and writes the core's answers back, never
// waiting: the owner's one wait loop polls Fd() beside its terminal and its
// dispatcher, and calls Service when it is readable or NextWake has come.
//
// One thread: the owner's main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "owner/owner_core.h"
#include "owner/owner_wire.h"
#include "platform/local_socket.h"
#include "platform/owner_endpoint.h"
#include "platform/unique_fd.h"

namespace zv {

class TOwnerServer {
 public:
  using TClock = std::function<int64_t()>;  // milliseconds since the Unix epoch

  // Bytes read from one client in one pass at most, so one busy client cannot
  // hold the others up; the rest waits for the next pass.
  static constexpr std::size_t kReadPerPass = 1 << 20;
  // A client that does not read its answers is let go past this.
  static constexpr std::size_t kMaxUnwritten = 16 << 20;

  TOwnerServer(platform::OwnerEndpoint endpoint, TOwnerCore& core, TClock clock);
  TOwnerServer(const TOwnerServer&) = delete;
  TOwnerServer& operator=(const TOwnerServer&) = delete;

  // Readable when a client or the listener has something; for the wait loop.
  int Fd() const { return FEpoll.Get(); }
  // Accepts, reads, commits, ticks the core and writes, without waiting.
  void Service();
  // When Service is due at the latest, in milliseconds since the epoch.
  int64_t NextWake() const;

  std::size_t Clients() const { return FClients.size(); }
  const platform::OwnerEndpoint& Endpoint() const { return FEndpoint; }

 private:
  struct TConnection {
    platform::LocalStream Stream;
    TOwnerClientReader Reader;
    std::string Unwritten;
    bool CloseWhenWritten = false;
    bool Writable = false;  // watched for writing
  };

  void Accept();
  // False when the client has gone.
  bool ReadFrom(TOwnerCore::TClientId id, TConnection& c, int64_t now);
  void Deliver();
  // False when the client has gone or is to be let go.
  bool Flush(TOwnerCore::TClientId id, TConnection& c);
  void Watch(int fd, uint32_t events, uint64_t key, bool modify);
  void Drop(TOwnerCore::TClientId id);

  platform::OwnerEndpoint FEndpoint;
  TOwnerCore& FCore;
  TClock FClock;
  platform::UniqueFd FEpoll;
  std::map<TOwnerCore::TClientId, TConnection> FClients;
};

}  // namespace zv
