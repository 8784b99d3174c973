// The TCP/IP link's two worker threads. The connect thread opens the
// connection once and ends, queueing ConnectionComplete for the main thread as
// its last act. The client thread then runs until it is asked to end or meets
// an error: each pass waits (in one poll) for a reply frame or a queued
// request, reads and dispatches at most one frame and writes at most one
// request. Neither ever waits for the main thread, so the main thread may wait
// for them.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace zv {

class TZVServerClientTcp;
class TZVRemoteMsg;

class TTcpConnectThread {
 public:
  explicit TTcpConnectThread(TZVServerClientTcp& tcpClient) : FRemoteClient(tcpClient) {}
  ~TTcpConnectThread();  // waits for the end
  TTcpConnectThread(const TTcpConnectThread&) = delete;
  TTcpConnectThread& operator=(const TTcpConnectThread&) = delete;

  void Start();

 private:
  void Execute();

  TZVServerClientTcp& FRemoteClient;
  std::thread FThread;
};

class TTcpClientThread {
 public:
  explicit TTcpClientThread(TZVServerClientTcp& tcpClient) : FRemoteClient(tcpClient) {}
  // Waits for the end: the owner calls Terminate and wakes the socket first.
  ~TTcpClientThread();
  TTcpClientThread(const TTcpClientThread&) = delete;
  TTcpClientThread& operator=(const TTcpClientThread&) = delete;

  void Start();
  // Any thread: the loop ends at its next check.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

  // A CONNECT reply that reports success: 2, 5 or 12 in the low byte.
  static bool IsConnectSuccess(int32_t code);

 private:
  void Execute();
  void ReadReply();
  void Dispatch(const TZVRemoteMsg& msg);

  TZVServerClientTcp& FRemoteClient;
  std::atomic<bool> FTerminated{false};
  std::thread FThread;
};

}  // namespace zv
