#include "link/server_client_tcp.h"

#include <utility>

#include "carriers/carriers_console.h"
#include "link/link_context.h"
#include "link/link_session.h"
#include "link/msg_buffer.h"
#include "link/socket_error_text.h"
#include "platform/socket_error.h"
#include "protocol/frame_reader.h"
#include "protocol/frame_writer.h"
#include "protocol/protocol.h"
#include "protocol/remote_msg.h"
#include "support/date_time.h"
#include "support/exceptions.h"
#include "support/int_text.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr int32_t kBufferSize = 1000;
constexpr uint32_t kBufferTimeoutMs = 2000;
constexpr const char* kConnectThreadName = "TTcpConnectThread";

std::string Now() { return TimeStampText(TDateTime::Now()); }

// "address:port", as the operator's texts name a server.
std::string HostAndPort(const std::string& host, int32_t port) {
  return StrFormat("%s:%d", host.c_str(), port);
}

// An error text of several lines as one: a line that does not end a sentence
// introduces the next ("zVP protocol error: Message header is corrupted.").
std::string OneLine(const std::string& text) {
  std::string line;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      if (!line.empty()) line += line.back() == '.' || line.back() == ':' ? " " : ": ";
      line.append(text, start, end - start);
    }
    start = end + 1;
  }
  return line;
}

}  // namespace

TZVServerClientTcp::TZVServerClientTcp(TZVLinkContext& context)
    : TZVServerClient(context, kConnectionRemote) {}

TZVServerClientTcp::~TZVServerClientTcp() {
  try {
    DoDisconnect();
  } catch (const std::exception& e) {
    // The console stops the link before freeing the client and reports such
    // errors there; a failure here has nobody left to tell but the log.
    try {
      FContext.SysLog().LogItem("Logging Out", "Stopping the link failed", e.what());
    } catch (...) {
    }
  }
  // A connect thread still to be reaped has been aborted and waited for by
  // the stop; its ConnectionComplete is dropped with the queue.
  AbortConnect();
  {
    platform::MutexLock lock(FLock);
    if (FClientThread) {
      FClientThread->Terminate();
      FZVServer.Abort();
      FClientThread.reset();
    }
  }
  CloseQueue();
}

std::string TZVServerClientTcp::ServerName() const {
  return HostAndPort(FContext.ServerIP(), FContext.ServerPort());
}

bool TZVServerClientTcp::SocketConnected() const { return FZVServer.IsConnected(); }

void TZVServerClientTcp::StartZVServer() {
  if (IsActive()) return;
  if (SocketConnected()) {
    // A connection whose link is not up (a start the server failed, or left
    // unfinished): the server is asked to start over, so that a login
    // request, and then readiness or a refusal, follows. A connect in
    // progress is left alone.
    if (!FConnectThread) ReConnect(FLoginName, FContext.IPAddress());
    return;
  }
  FActive = true;
  FLoggedIn = false;
  if (!FConnectThread) {
    // No connect runs, so no worker touches the socket or the reader now.
    platform::MutexLock lock(FLock);
    if (FClientThread) {  // ended by a lost connection, not yet reaped
      FClientThread->Terminate();
      FZVServer.Abort();
      FClientThread.reset();
    }
    // A host name is looked up by the connect thread, where a stop can give
    // up on a resolver that does not answer.
    FServerHost = FContext.ServerIP();
    FServerPort = FContext.ServerPort();
    FServerName = ServerName();
    // Closing also ends an abort left by an earlier stop of the client thread.
    FZVServer.Close(false);
  }
  if (!FContext.TcpBuffer()) {
    FContext.SetTcpBuffer(
        std::make_unique<TZVMsgBuffer>(kBufferSize, "TcpBufferClient", kBufferTimeoutMs));
  }
  StartConnectThread();
}

bool TZVServerClientTcp::ResolveServerHost(uint64_t generation) {
  const std::string name = FServerHost;
  try {
    FServerHost = FZVServer.Resolve(name, kConnectTimeout, FResolveHost);
  } catch (const platform::SocketError& e) {
    if (e.Errno() == ECANCELED) return false;  // a stop asked for it: nothing to report
    // The error's parts cross, not the exception: copies of one may share
    // their text's buffer.
    PostToMain([this, generation, name, error = e.Errno(), message = std::string(e.what())] {
      if (generation == FConnectGeneration) ResolveFailed(name, error, message);
    });
    return false;
  }
  FServerName = HostAndPort(FServerHost, FServerPort);
  PostToMain([this, address = FServerHost] { FContext.AssignServerIP(address); });
  return true;
}

void TZVServerClientTcp::ResolveFailed(const std::string& hostName, int error,
                                       const std::string& message) {
  FActive = false;
  const std::string text = SocketErrorTextFor(error);
  FContext.SysLog().LogItem(StrFormat("Resolving host address (\"%s\") failed", hostName.c_str()),
                            text, message);
  PostInfo(FContext.CurrentUserId(),
           StrFormat("Resolving host address (\"%s\") failed%s%s", hostName.c_str(), "\r\n",
                     text.c_str()),
           message, TTcpCommand::tcpConnect, false, 0, kConnFailedStop);
}

void TZVServerClientTcp::StartConnectThread() {
  if (SocketConnected() || FConnectThread) return;
  FBusy = true;
  // A connect aborted by a stop still posts its completion; it must not reap
  // the thread of a later start.
  const uint64_t generation = ++FConnectGeneration;
  FConnectThread = std::make_unique<TTcpConnectThread>([this, generation] {
    DoConnect(generation);
    // The thread's last act: ConnectionComplete then reaps it.
    PostToMain([this, generation] {
      if (generation == FConnectGeneration) ConnectionComplete();
    });
  });
  FConnectThread->Start();
}

void TZVServerClientTcp::AbortConnect() {
  if (!FConnectThread) return;
  // A connect in progress fails at once with ECANCELED, which is not
  // reported; the abort lasts until the socket is next closed.
  FZVServer.Abort();
  FConnectThread.reset();
  FBusy = false;
}

void TZVServerClientTcp::DoConnect(uint64_t generation) {
  try {
    // No lock is held over the lookup or the connect: a stop aborts them
    // instead of waiting.
    if (!SocketConnected()) {
      if (!IsDottedQuadAddress(FServerHost) && !ResolveServerHost(generation)) return;
      const std::string info =
          StrFormat("Connecting to Zorvane Server on %s:%d", FServerHost.c_str(), FServerPort);
      const std::string debug =
          StrFormat("Sender: %s; Connect Timeout: %d; Started: %s", kConnectThreadName,
                    static_cast<int>(kConnectTimeout.count()), Now().c_str());
      PostInfo(FContext.CurrentUserId(), info, debug, TTcpCommand::tcpConnect, false, 0,
               kConnRequesting);
      FZVServer.Connect(FServerHost, static_cast<uint16_t>(FServerPort), kConnectTimeout);
      FContext.SetSessionProtocol(FContext.ProtocolMax());
      SendConnectInfo(TTcpCommand::tcpConnect, kConnConnect, info);
    }
    platform::MutexLock lock(FLock);
    if (!FClientThread) {
      FClientThread = std::make_unique<TTcpClientThread>(static_cast<TTcpPumpHost&>(*this));
      FClientThread->Start();
    }
    FUserDisconnects = false;
  } catch (const platform::SocketError& e) {
    if (e.Errno() == ECANCELED) return;  // a stop asked for it: nothing to report
    PostInfo(FContext.CurrentUserId(), SocketErrorTextFor(e.Errno()), e.what(),
             TTcpCommand::tcpConnect, false, 0, kConnFailedStop);
  }
}

void TZVServerClientTcp::ConnectionComplete() {
  FConnectThread.reset();  // it has posted this call as its last act
  FBusy = false;
  try {
    if (SocketConnected()) {
      PostInfo(FContext.CurrentUserId(), "Connection request to " + ServerName() + " completed",
               StrFormat("Sender: %s; Finished: %s", kConnectThreadName, Now().c_str()),
               TTcpCommand::tcpConnect, false, 0, kConnRequesting);
    }
  } catch (const std::exception& e) {
    FContext.SysLog().LogItem("Connection Thread Terminates",
                              "Connection request to " + ServerName() + " unsuccessful",
                              StrFormat("Sender: %s;Error: %s; Finished: %s", kConnectThreadName,
                                        e.what(), Now().c_str()));
  }
}

void TZVServerClientTcp::StopZVServer() { DoDisconnect(); }

void TZVServerClientTcp::TestDisconnect() {
  platform::MutexLock lock(FLock);
  StopClientThread();
}

void TZVServerClientTcp::DoDisconnect() {
  FLoggedIn = false;
  AbortConnect();
  platform::MutexLock lock(FLock);
  if (SocketConnected() || FServerDisconnect) {
    FServerDisconnect = false;
    StopClientThread();
    if (FUserDisconnects) {
      const std::string info = StrFormat("Account \"%s\" logging out from Zorvane Server",
                                         FContext.CurrentUserId().c_str());
      FContext.SysLog().LogItem("Logging Out", info, "User disconnects at: " + Now());
      try {
        FZVServer.Connect(FServerHost, static_cast<uint16_t>(FServerPort), kNoticeConnectTimeout);
      } catch (const platform::SocketError& e) {
        FContext.SetSessionProtocol(FContext.ProtocolMax());
        throw EZVTcpConnection(StrFormat("The logout notice could not be sent to %s: %s",
                                         FServerName.c_str(), e.what()));
      }
      SendConnectInfo(TTcpCommand::tcpConnect, kConnUserDisconnects, info);
      FZVServer.Close(true);
    }
  } else if (FConnectionLost) {
    StopClientThread();
    FConnectionLost = false;
  }
  FContext.SetSessionProtocol(FContext.ProtocolMax());
}

void TZVServerClientTcp::StopClientThread() {
  // The thread is woken first and joined before the socket closes, so no
  // descriptor is closed under a thread that still uses it.
  if (FClientThread) {
    FClientThread->Terminate();
    FZVServer.Abort();
    FClientThread.reset();
  }
  FZVServer.Close(!FConnectionLost);
  FContext.FreeTcpBuffer();
  FBusy = false;
}

void TZVServerClientTcp::ConnectionLost(const std::string& message, bool protocolError) {
  if (FUserDisconnects) return;
  FConnectionLost = true;
  std::string info = StrFormat("Connection to %s lost at %s", FServerName.c_str(), Now().c_str());
  if (!protocolError) {
    PostInfo(FContext.CurrentUserId(), info, message, TTcpCommand::tcpConnect, false, 0,
             kConnLost);
    return;
  }
  // The server's fault heads the line, the log's and the operator's alike,
  // and goes with the pages the loss leaves without a result.
  info += ": " + OneLine(message);
  PostInfo(FContext.CurrentUserId(), info, "", TTcpCommand::tcpConnect, false, 0, kConnLost);
}

void TZVServerClientTcp::SendConnectInfo(TTcpCommand cmd, int32_t result, const std::string& text) {
  if (!SocketConnected()) return;
  auto msg = std::make_unique<TZVRemoteMsg>(FContext.CurrentUserId(), FContext.IPAddress(),
                                            FContext.NextMsgId());
  msg->SetTcpCommand(cmd);
  msg->SetMsgResult(result);
  msg->SetAgeLimit(0);
  msg->SetMsg(text);
  msg->SetProtocol(FContext.SessionProtocol());
  msg->SetTcpMsg(FContext.TcpProtocol().CreateTcpMsg(*msg));
  WriteRequest(std::move(msg));
}

void TZVServerClientTcp::WriteRequest(std::unique_ptr<TZVRemoteMsg> msg) {
  std::vector<std::unique_ptr<TZVRemoteMsg>> one;
  one.push_back(std::move(msg));
  WriteRequests(one);
}

void TZVServerClientTcp::WriteRequests(std::vector<std::unique_ptr<TZVRemoteMsg>>& requests) {
  if (!SocketConnected()) return;
  std::string frames;
  for (const auto& msg : requests) {
    if (!msg) continue;
    try {
      frames += BuildFrame(msg->TcpMsg());
    } catch (const std::exception& e) {
      // Never a corrupt frame: a request too long to frame is refused whole.
      FContext.SysLog().LogItem("Request Refused", e.what(), msg->TcpMsg().substr(0, 200));
    }
  }
  if (frames.empty()) return;
  try {
    platform::MutexLock lock(FWriteLock);
    FZVServer.WriteAll(frames, kWriteTimeout);
  } catch (const std::exception& e) {
    ConnectionLost(e.what(), false);
  }
}

bool TZVServerClientTcp::QueueRequest(std::unique_ptr<TZVRemoteMsg>& msg) {
  TZVMsgBuffer* buffer = FContext.TcpBuffer();
  if (buffer && buffer->Enqueue(msg)) return true;
  FContext.SysLog().LogItem(
      "Request Not Sent", "The request buffer did not take a " + msg->TcpCommandStr() + " request",
      msg->TcpMsg());
  return false;
}

void TZVServerClientTcp::LogIn(const std::string& userName, const std::string& ipAddress,
                               int32_t encoded, std::string& password) {
  TZVServerClient::LogIn(userName, ipAddress, encoded, password);
  StartConnectThread();
  WriteRequest(FContext.TcpProtocol().CreateLoginMsg(FContext, userName, password,
                                                     FContext.IPAddress(), encoded));
}

void TZVServerClientTcp::LogOut(const std::string& accountId) {
  WriteRequest(FContext.TcpProtocol().CreateQuitMsg(FContext, accountId, FContext.IPAddress(),
                                                    FContext.SessionProtocol()));
}

void TZVServerClientTcp::ReConnect(const std::string& /*userName*/,
                                   const std::string& /*ipAddress*/) {
  SendConnectInfo(TTcpCommand::tcpConnect, kConnConnect, "Trying to reconnect to " + ServerName());
}

void TZVServerClientTcp::ConfirmReady() {
  auto msg = FContext.TcpProtocol().CreateReadyMsg(FContext, FContext.CurrentUserId(),
                                                   FContext.IPAddress());
  PostInfo(FContext.CurrentUserId(), msg->Msg(), msg->TcpMsg(), TTcpCommand::tcpConnect, true,
           msg->TransactionId(), kConnClientReady);
  QueueRequest(msg);
}

void TZVServerClientTcp::LoadClientCarriers(TZVCarriersConsole& /*objLst*/) {
  auto msg = FContext.TcpProtocol().CreateLoadMsg(
      FContext, FContext.CurrentUserId(), FContext.IPAddress(), TZVLoadResult::sorCarrierSum);
  FContext.SysLog().LogItem("Loading " + LoadResultObjectStr(TZVLoadResult::sorCarrierSum, true),
                            "Loading carries from Zorvane Server", msg->TcpMsg());
  QueueRequest(msg);
}

void TZVServerClientTcp::DeleteAllMsgs(const std::string& accountId) {
  auto msg = FContext.TcpProtocol().CreateDeleteAllMsg(FContext, accountId, FContext.IPAddress());
  QueueRequest(msg);
}

void TZVServerClientTcp::DeleteOldMsgs(const std::string& accountId, int32_t olderThenDays) {
  auto msg = FContext.TcpProtocol().CreateDeleteOldMsg(FContext, accountId, FContext.IPAddress(),
                                                       olderThenDays);
  QueueRequest(msg);
}

void TZVServerClientTcp::DeleteSelectedMsg(const std::string& accountId, int32_t msgId) {
  auto msg =
      FContext.TcpProtocol().CreateDeleteOneMsg(FContext, accountId, FContext.IPAddress(), msgId);
  QueueRequest(msg);
}

void TZVServerClientTcp::SendMessage(const TStringList& msgData) {
  auto msg = FContext.TcpProtocol().CreateSendMsg(FContext.CurrentUserId(), FContext.IPAddress(),
                                                  msgData, FContext.SessionProtocol());
  if (!FitsInFrame(msg->TcpMsg())) {
    FContext.SysLog().LogItem("Request Refused", "A message too long to send was refused",
                              msg->TcpMsg().substr(0, 200));
    throw EZVException(StrFormat("it takes %zu bytes on the wire and the server takes at most %zu",
                                 msg->TcpMsg().size(), kMaxFrameText));
  }
  if (!QueueRequest(msg)) throw EZVException("the link did not take it in time");
}

TZVMsgBuffer* TZVServerClientTcp::Requests() { return FContext.TcpBuffer(); }

std::unique_ptr<TZVLinkSession> TZVServerClientTcp::NewSession() {
  return std::make_unique<TZVLinkSession>(FContext.TcpProtocol(), FContext,
                                          FZVServer.PeerAddress());
}

void TZVServerClientTcp::Deliver(TLinkRecord record) {
  // std::function needs a copyable callable: the record travels in a shared_ptr.
  auto shared = std::make_shared<TLinkRecord>(std::move(record));
  PostToMain([this, shared] {
    // The place is given back whatever the handlers do; none of them frees
    // this client (a stop is only asked for).
    struct GiveBack {
      TRecordGate& Gate;
      ~GiveBack() { Gate.Give(); }
    } giveBack{FGate};
    Act(*shared);
  });
}

void TZVServerClientTcp::Act(TLinkRecord& record) {
  if (Ending()) return;  // what follows a result that ends the link is dropped
  switch (record.Kind) {
    case TLinkRecord::TKind::lrInfo:
      HandleInfo(record.Success, record.Info, TInfoSource::isServer);
      break;
    case TLinkRecord::TKind::lrMsgResult:
      DoMsgResult(*record.Result);
      break;
    case TLinkRecord::TKind::lrCarriers:
      FContext.ReplaceCarriers(std::move(record.Carriers));
      break;
    case TLinkRecord::TKind::lrLog:
      FContext.SysLog().LogItem(record.Caption, record.Info.Msg, record.Info.Debug);
      break;
    case TLinkRecord::TKind::lrLost:
      break;  // the client thread reports it as ConnectionLost
  }
}

}  // namespace zv
