// TZVServerClientTcp: the server client of the TCP/IP connection type. One
// TCP connection carries zVP frames. A connect thread opens it in the
// background; a client thread then pumps the server's frames through the
// connection's TZVLinkSession and writes queued requests. Login, logout and
// connect notices are written at once on the calling thread. Everything the
// operator is to see reaches the main thread as posted records, at most
// kMaxRecordsInFlight at a time: a server that writes faster than the console
// acts is held back by TCP's own flow control.
//
// Threads: the public operations run on the main thread. A stop aborts a
// connect in progress rather than waiting for it, and ends the client thread
// before the socket closes. Frame writes are serialised by FWriteLock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/record_gate.h"
#include "link/server_client.h"
#include "link/tcp_threads.h"
#include "platform/host_lookup.h"
#include "platform/tcp_socket.h"
#include "platform/thread_annotations.h"

namespace zv {

class TZVServerClientTcp : public TZVServerClient, private TTcpPumpHost {
 public:
  // How long a connect may take before it fails as timed out, as long as the
  // system's own default for an unanswered connect.
  static constexpr std::chrono::milliseconds kConnectTimeout{20000};
  // How long a stop may spend reaching the server to say that the operator
  // logs out: a stop acts within a second whatever the server does.
  static constexpr std::chrono::milliseconds kNoticeConnectTimeout{800};
  // How long a peer that takes no data may hold up a frame write.
  static constexpr std::chrono::milliseconds kWriteTimeout{10000};
  // Records handed to the main thread and not yet acted on, at most.
  static constexpr int32_t kMaxRecordsInFlight = 512;

  explicit TZVServerClientTcp(TZVLinkContext& context);
  ~TZVServerClientTcp() override;

  void StartZVServer() override;
  void StopZVServer() override;
  void LogIn(const std::string& userName, const std::string& ipAddress, int32_t encoded,
             std::string& password) override;
  void LogOut(const std::string& accountId) override;
  void ReConnect(const std::string& userName, const std::string& ipAddress) override;
  void ConfirmReady() override;
  void LoadClientCarriers(TZVCarriersConsole& objLst) override;
  void DeleteAllMsgs(const std::string& accountId) override;
  void DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) override;
  void DeleteSelectedMsg(const std::string& accountId, int32_t msgId) override;
  void SendMessage(const TStringList& msgData) override;

  // "address:port" of the server.
  std::string ServerName() const;
  // Ends the client thread and closes the socket; nothing in the program
  // calls it.
  void TestDisconnect();
  // What looks a host name up (a test's stand-in); set before StartZVServer.
  void SetHostResolver(platform::HostResolveFunction resolve) { FResolveHost = std::move(resolve); }

 private:
  // TTcpPumpHost, for the client thread.
  platform::TcpSocket& Socket() override { return FZVServer; }
  TZVMsgBuffer* Requests() override;
  TRecordGate& Gate() override { return FGate; }
  std::unique_ptr<TZVLinkSession> NewSession() override;
  void Deliver(TLinkRecord record) override;
  void WriteRequests(std::vector<std::unique_ptr<TZVRemoteMsg>>& requests) override;
  // Writes one request at once, on the calling thread.
  void WriteRequest(std::unique_ptr<TZVRemoteMsg> msg);
  void ConnectionLost(const std::string& message, bool protocolError) override;

  // Main thread: a record the client thread delivered.
  void Act(TLinkRecord& record);
  void DoConnect(uint64_t generation);  // connect thread
  // Connect thread: replaces the host name by its address, for the link and
  // (on the main thread) for the console. False when it does not resolve,
  // which is reported, or a stop came first.
  bool ResolveServerHost(uint64_t generation);
  // Main thread: the report of a host name that does not resolve.
  void ResolveFailed(const std::string& hostName, int error, const std::string& message);
  // Main thread, once the connect thread has ended.
  void ConnectionComplete();
  void DoDisconnect();
  // Aborts a connect in progress and waits for its thread, which then ends at
  // once. Main thread.
  void AbortConnect();
  void StopClientThread() REQUIRES(FLock);
  bool SocketConnected() const;
  void SendConnectInfo(TTcpCommand cmd, int32_t result, const std::string& text);
  void StartConnectThread();
  // Queues a finished request for the client thread. False (and logged) when
  // the buffer does not take it; `msg` then stays with the caller.
  bool QueueRequest(std::unique_ptr<TZVRemoteMsg>& msg);

  platform::Mutex FLock;       // guards the client thread's start and end
  platform::Mutex FWriteLock;  // one whole frame at a time
  platform::TcpSocket FZVServer;
  // Where the link connects: written by a start while no worker runs, then
  // by its connect thread alone (a host name becomes its address), read by
  // the workers it starts and by a stop once the connect thread has ended.
  platform::HostResolveFunction FResolveHost = platform::ResolveIPv4;
  std::string FServerHost;
  int32_t FServerPort = 0;
  std::string FServerName;
  TRecordGate FGate{kMaxRecordsInFlight};
  std::unique_ptr<TTcpClientThread> FClientThread GUARDED_BY(FLock);
  std::unique_ptr<TTcpConnectThread> FConnectThread;  // main thread only
  uint64_t FConnectGeneration = 0;                    // main thread only: connects started
  std::atomic<bool> FConnectionLost{false};
};

}  // namespace zv
