#include "link/tcp_threads.h"

#include <array>
#include <chrono>
#include <exception>
#include <optional>
#include <string>

#include "link/link_context.h"
#include "link/msg_buffer.h"
#include "link/server_client_tcp.h"
#include "platform/tcp_socket.h"
#include "protocol/frame_reader.h"
#include "protocol/protocol.h"
#include "protocol/remote_msg.h"
#include "support/exceptions.h"

namespace zv {
namespace {

constexpr std::chrono::milliseconds kReplyWait{1000};
constexpr std::size_t kReadChunk = 64 * 1024;

}  // namespace

TTcpConnectThread::~TTcpConnectThread() {
  if (FThread.joinable()) FThread.join();
}

void TTcpConnectThread::Start() { FThread = std::thread([this] { Execute(); }); }

void TTcpConnectThread::Execute() {
  try {
    FRemoteClient.DoConnect();
  } catch (...) {
    // Socket errors were posted by DoConnect; nothing else is reported.
  }
  try {
    FRemoteClient.PostConnectionComplete();
  } catch (...) {
    // Out of memory while posting: the client is freed without the call.
  }
}

TTcpClientThread::~TTcpClientThread() {
  FTerminated = true;
  if (FThread.joinable()) FThread.join();
}

void TTcpClientThread::Start() { FThread = std::thread([this] { Execute(); }); }

bool TTcpClientThread::IsConnectSuccess(int32_t code) {
  const int32_t low = code & 0xFF;
  return low == kConnConnected || low == kConnAccepted || low == kConnClientReady;
}

void TTcpClientThread::Execute() {
  while (!FTerminated) {
    try {
      ReadReply();
      if (FTerminated) break;
      // The pass's wait already covered the buffer: take a request only if one
      // is there now.
      if (TZVMsgBuffer* buffer = FRemoteClient.Context().TcpBuffer()) {
        if (auto obj = buffer->TryDequeue()) FRemoteClient.WriteRequest(std::move(obj));
      }
    } catch (const std::exception& e) {
      FTerminated = true;
      try {
        FRemoteClient.ConnectionLost(e.what());
      } catch (...) {
      }
    } catch (...) {
      FTerminated = true;
      try {
        FRemoteClient.ConnectionLost("Unknown error on the connection");
      } catch (...) {
      }
    }
  }
}

void TTcpClientThread::ReadReply() {
  platform::TcpSocket& socket = FRemoteClient.Socket();
  TFrameReader& reader = FRemoteClient.Reader();
  if (!reader.HasFrame()) {
    // Wait for input or for a request, whichever comes first. Errors of the
    // wait or the read (the peer closed, a reset) end the thread.
    TZVMsgBuffer* buffer = FRemoteClient.Context().TcpBuffer();
    const auto woke = socket.WaitReadable(kReplyWait, buffer ? buffer->ReadableFd() : -1);
    if (woke != platform::TcpSocket::WaitResult::kReadable) return;
    std::array<char, kReadChunk> chunk;
    const std::size_t n = socket.ReadSome(chunk.data(), chunk.size());
    if (n == 0) return;
    reader.Append(chunk.data(), n);
  }
  try {
    const std::optional<std::string> text = reader.Next();
    if (!text) return;
    const auto msg = FRemoteClient.Context().TcpProtocol().CreateMsgFromTcp(*text,
                                                                            socket.PeerAddress());
    msg->SetTcpDataSize(static_cast<int32_t>(text->size()));
    FRemoteClient.Context().SetSessionProtocol(msg->Protocol());
    Dispatch(*msg);
  } catch (const std::exception& e) {
    FRemoteClient.ConnectionLost(e.what());
  }
}

void TTcpClientThread::Dispatch(const TZVRemoteMsg& msg) {
  switch (msg.TcpCommand()) {
    case TTcpCommand::tcpInvalid:
      FRemoteClient.PostInfo(msg.AccountId(), msg.Msg(), msg.TcpMsg(), TTcpCommand::tcpInvalid,
                             false, msg.TransactionId(), msg.MsgResult());
      break;
    case TTcpCommand::tcpConnect:
      FRemoteClient.PostInfo(msg.AccountId(), msg.Msg(), msg.TcpMsg(), TTcpCommand::tcpConnect,
                             IsConnectSuccess(msg.MsgResult()), msg.TransactionId(),
                             msg.MsgResult());
      break;
    case TTcpCommand::tcpLogin:
      FRemoteClient.PostInfo(msg.AccountId(), msg.Msg(), msg.TcpMsg(), TTcpCommand::tcpLogin, true,
                             msg.TransactionId(), msg.MsgResult());
      break;
    case TTcpCommand::tcpLoad:
      FRemoteClient.DoLoadResult(msg);
      break;
    case TTcpCommand::tcpSendMsg:
    case TTcpCommand::tcpSendMsgEsc:
      FRemoteClient.PostMsgResult(msg);
      break;
    default:
      break;
  }
}

}  // namespace zv
