// The TCP/IP link's two worker threads, thin pumps around what the link does.
// The connect thread runs its link's connect once and ends. The client thread
// then moves bytes from the socket into the connection's session and the
// session's records on to the main thread, and queued requests on to the
// socket, until it is asked to end or meets an error. Neither ever waits for
// the main thread, so the main thread may wait for them.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zv {

namespace platform {
class TcpSocket;
}

class TRecordGate;
class TZVLinkSession;
class TZVMsgBuffer;
class TZVRemoteMsg;
struct TLinkRecord;

// What the client thread needs of its link; the link implements it for the
// thread alone. Every member is called on the client thread.
class TTcpPumpHost {
 public:
  virtual platform::TcpSocket& Socket() = 0;
  // The requests to write; null while the link has no buffer.
  virtual TZVMsgBuffer* Requests() = 0;
  // The places for records on their way to the main thread.
  virtual TRecordGate& Gate() = 0;
  // The session of the connection the thread serves.
  virtual std::unique_ptr<TZVLinkSession> NewSession() = 0;
  // Hands `record` to the main thread; the caller has taken a place for it.
  virtual void Deliver(TLinkRecord record) = 0;
  // Writes `requests` in order, in as few writes as may be.
  virtual void WriteRequests(std::vector<std::unique_ptr<TZVRemoteMsg>>& requests) = 0;
  // The connection cannot go on: the last call the thread makes. `message`
  // says why; `protocolError` when the server sent what cannot be read (a bad
  // frame, a malformed text, a broken carrier list), not when the socket failed.
  virtual void ConnectionLost(const std::string& message, bool protocolError) = 0;

 protected:
  ~TTcpPumpHost() = default;
};

class TTcpConnectThread {
 public:
  // `body` runs once on the thread; it reports its own errors.
  explicit TTcpConnectThread(std::function<void()> body) : FBody(std::move(body)) {}
  ~TTcpConnectThread();  // waits for the end
  TTcpConnectThread(const TTcpConnectThread&) = delete;
  TTcpConnectThread& operator=(const TTcpConnectThread&) = delete;

  void Start();

 private:
  std::function<void()> FBody;
  std::thread FThread;
};

class TTcpClientThread {
 public:
  explicit TTcpClientThread(TTcpPumpHost& host) : FHost(host) {}
  // Waits for the end: the owner calls Terminate and aborts the socket first.
  ~TTcpClientThread();
  TTcpClientThread(const TTcpClientThread&) = delete;
  TTcpClientThread& operator=(const TTcpClientThread&) = delete;

  void Start();
  // Any thread: the loop ends at its next check.
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

 private:
  void Execute();
  void Pump(TZVLinkSession& session);

  TTcpPumpHost& FHost;
  std::atomic<bool> FTerminated{false};
  std::thread FThread;
};

}  // namespace zv
