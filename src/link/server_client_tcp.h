// TZVServerClientTcp: the server client of the TCP/IP connection type. One
// TCP connection carries zVP frames. A connect thread opens it in the
// background; a client thread then reads replies and writes queued requests.
// Login, logout and connect notices are written at once on the calling thread.
// Everything the operator is to see goes to the main thread as posted records.
//
// Threads: the public operations run on the main thread; DoConnect on the
// connect thread; ConnectionLost, DoLoadResult and PostMsgResult on the client
// thread; WriteRequest on whichever thread holds the request. FLock is held
// for a whole connect and a whole stop, so a stop waits for a connect in
// progress; frame writes are serialised by FWriteLock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "link/server_client.h"
#include "platform/tcp_socket.h"
#include "platform/thread_annotations.h"
#include "protocol/frame_reader.h"

namespace zv {

class TTcpClientThread;
class TTcpConnectThread;

class TZVServerClientTcp : public TZVServerClient {
 public:
  // How long a connect may take before it fails as timed out, as long as the
  // system's own default for an unanswered connect.
  static constexpr std::chrono::milliseconds kConnectTimeout{20000};
  // How long a peer that takes no data may hold up a frame write.
  static constexpr std::chrono::milliseconds kWriteTimeout{10000};

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
  platform::TcpSocket& Socket() { return FZVServer; }

  // Main thread, once the connect thread has ended.
  void ConnectionComplete();
  // The connect thread's last act: queues ConnectionComplete.
  void PostConnectionComplete();
  void TestDisconnect();

  // Worker-thread side.
  void DoConnect();                                 // connect thread
  void ConnectionLost(const std::string& message);  // client thread
  void WriteRequest(std::unique_ptr<TZVRemoteMsg> msg);
  void DoLoadResult(const TZVRemoteMsg& msg);     // client thread
  void PostMsgResult(const TZVRemoteMsg& msg);    // client thread
  TFrameReader& Reader() { return FReader; }      // client thread while it runs
  TZVLinkContext& Context() { return FContext; }

  // Splits a send result's body into the result text and the field list.
  static void SplitMsgResult(TZVRemoteMsg& msg, char delimiter);

 private:
  void DoDisconnect();
  void StopClientThread() REQUIRES(FLock);
  bool SocketConnected() const;
  void SendConnectInfo(TTcpCommand cmd, int32_t result, const std::string& text);
  void StartConnectThread();
  // Queues a finished request for the client thread. False (and logged) when
  // the buffer does not take it; `msg` then stays with the caller.
  bool QueueRequest(std::unique_ptr<TZVRemoteMsg>& msg);

  platform::Mutex FLock;       // held for a whole connect and a whole stop
  platform::Mutex FWriteLock;  // one whole frame at a time
  platform::TcpSocket FZVServer;
  // Where the link connects: written by a start while no worker runs, read by
  // the workers it starts.
  std::string FServerHost;
  int32_t FServerPort = 0;
  std::string FServerName;
  std::unique_ptr<TTcpClientThread> FClientThread GUARDED_BY(FLock);
  std::unique_ptr<TTcpConnectThread> FConnectThread;  // main thread only
  std::atomic<bool> FConnectionLost{false};
  TFrameReader FReader;
};

}  // namespace zv
