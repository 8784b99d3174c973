// TSimServer: listens for consoles and serves each accepted connection on a
// thread of its own until told to stop. Its owner either lets Run() wait, or
// watches Fd() in a poll of its own and calls AcceptWaiting() and Reap().
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>

#include "platform/tcp_listener.h"
#include "zvsim/connection.h"
#include "zvsim/session.h"

namespace zv::sim {

class TSimServer {
 public:
  // Listens at once on the context's address and port; throws SocketError.
  explicit TSimServer(TSimContext& context);
  // Stops every connection and waits for them.
  ~TSimServer();
  TSimServer(const TSimServer&) = delete;
  TSimServer& operator=(const TSimServer&) = delete;

  // The port listened on (the one picked when 0 was asked for).
  uint16_t Port() const { return FListener.Port(); }

  // Accepts and serves consoles until `stop` is set (looked at every 100 ms at
  // the latest), then closes every connection in order and returns once all
  // have ended.
  void Run(const std::atomic<bool>& stop);

  // Readable while a console waits to be accepted.
  int Fd() const { return FListener.Fd(); }
  // Accepts every console waiting now, without waiting.
  void AcceptWaiting();
  // Frees the connections whose consoles have gone.
  void Reap();
  // Closes every connection in order and waits for them.
  void StopAll();

 private:
  TSimContext& FContext;
  platform::TcpListener FListener;
  std::list<std::unique_ptr<TSimConnection>> FConnections;
  int32_t FNextNumber = 1;
};

}  // namespace zv::sim
