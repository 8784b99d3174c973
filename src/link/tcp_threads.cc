#include "link/tcp_threads.h"

#include <array>
#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "link/link_session.h"
#include "link/msg_buffer.h"
#include "link/record_gate.h"
#include "platform/tcp_socket.h"
#include "protocol/remote_msg.h"

namespace zv {
namespace {

// How often an idle pump looks at its terminate flag; the socket's abort
// wakes it sooner.
constexpr std::chrono::milliseconds kIdleWait{1000};
constexpr std::size_t kReadChunk = 64 * 1024;
// Requests written in one go, at most.
constexpr std::size_t kMaxBatch = 64;

// What the server sent cannot be read; the pump ends with it.
class TProtocolFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

TTcpConnectThread::~TTcpConnectThread() {
  if (FThread.joinable()) FThread.join();
}

void TTcpConnectThread::Start() {
  FThread = std::thread([this] {
    try {
      FBody();
    } catch (...) {
      // The body reports what the operator is to see; nothing else is left.
    }
  });
}

TTcpClientThread::~TTcpClientThread() {
  FTerminated = true;
  if (FThread.joinable()) FThread.join();
}

void TTcpClientThread::Start() {
  FThread = std::thread([this] { Execute(); });
}

void TTcpClientThread::Execute() {
  std::string lost;
  bool protocolError = false;
  try {
    const std::unique_ptr<TZVLinkSession> session = FHost.NewSession();
    Pump(*session);
  } catch (const TProtocolFailure& e) {
    lost = e.what();
    protocolError = true;
  } catch (const std::exception& e) {
    lost = e.what();
  } catch (...) {
    lost = "Unknown error on the connection";
  }
  if (lost.empty()) return;
  FTerminated = true;
  try {
    FHost.ConnectionLost(lost, protocolError);
  } catch (...) {
  }
}

// Each pass hands on the session's next record when a place is free, else
// waits in one poll for input (only while no record is held back), a request
// or a place, and then reads what came and writes one request.
void TTcpClientThread::Pump(TZVLinkSession& session) {
  platform::TcpSocket& socket = FHost.Socket();
  TRecordGate& gate = FHost.Gate();
  std::optional<TLinkRecord> held;
  std::array<char, kReadChunk> chunk;
  while (!FTerminated) {
    if (!held) held = session.Next();
    if (held && held->Kind == TLinkRecord::TKind::lrLost) throw TProtocolFailure(held->Info.Msg);
    if (held && gate.TryTake()) {
      FHost.Deliver(std::move(*held));
      held.reset();
      if (session.HasRecord()) continue;
    }
    TZVMsgBuffer* buffer = FHost.Requests();
    const std::array<int, 2> others = {buffer ? buffer->ReadableFd() : -1, held ? gate.Fd() : -1};
    const bool wantInput = !held && !session.HasRecord();
    const auto woke = socket.WaitAny(kIdleWait, others, wantInput);
    if (woke == platform::TcpSocket::WaitResult::kAborted) return;
    if (woke == platform::TcpSocket::WaitResult::kReadable) {
      const std::size_t n = socket.ReadSome(chunk.data(), chunk.size());
      session.Append(chunk.data(), n);
    }
    if (FTerminated) return;
    if (buffer) {
      // What the main thread queued meanwhile goes out together.
      std::vector<std::unique_ptr<TZVRemoteMsg>> requests;
      while (requests.size() < kMaxBatch) {
        auto request = buffer->TryDequeue();
        if (!request) break;
        requests.push_back(std::move(request));
      }
      if (!requests.empty()) FHost.WriteRequests(requests);
    }
  }
}

}  // namespace zv
