#include "zvsim/connection.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>

#include "support/exceptions.h"

namespace zv::sim {
namespace {

// Nothing is due: wait for input this long before looking again. A stop ends
// the wait at once, so this only bounds the wait.
constexpr std::chrono::milliseconds kIdleWait(5000);
// A console that takes no bytes for this long has stopped reading.
constexpr std::chrono::milliseconds kWriteTimeout(10000);
constexpr std::size_t kReadChunk = 16384;

}  // namespace

TSimConnection::TSimConnection(TSimContext& context, int32_t number, platform::TcpSocket socket)
    : FContext(context), FNumber(number), FSocket(std::move(socket)), FThread([this] { Run(); }) {}

TSimConnection::~TSimConnection() {
  Stop();
  if (FThread.joinable()) FThread.join();
}

void TSimConnection::Run() noexcept {
  bool orderly = true;
  try {
    FSession.emplace(FContext, FNumber, FSocket.PeerAddress());
    for (;;) {
      auto wait = kIdleWait;
      if (!FSteps.empty()) {
        wait = std::clamp(
            std::chrono::ceil<std::chrono::milliseconds>(FSteps.front().Due - TClock::now()),
            std::chrono::milliseconds(0), kIdleWait);
      }
      const auto waited = FSocket.WaitReadable(wait);
      if (waited == platform::TcpSocket::WaitResult::kAborted) {
        FContext.Log.Event(FNumber, "the server stops: closing the connection");
        break;
      }
      if (waited == platform::TcpSocket::WaitResult::kReadable && !ReadAvailable()) break;
      if (!RunDueSteps(orderly)) break;
    }
  } catch (const std::exception& error) {
    FContext.Log.Event(FNumber, std::string("connection failed: ") + error.what());
  } catch (...) {
    FContext.Log.Event(FNumber, "connection failed");
  }
  FSession.reset();  // gives up its login before the console can log in again
  FSocket.Close(orderly);
  FContext.Log.Event(FNumber, orderly ? "connection closed" : "connection reset");
  FFinished = true;
}

bool TSimConnection::ReadAvailable() {
  char buffer[kReadChunk];
  try {
    for (;;) {
      const std::size_t got = FSocket.ReadSome(buffer, sizeof buffer);
      if (got == 0) return true;
      FReader.Append(buffer, got);
      while (std::optional<std::string> text = FReader.Next()) Schedule(FSession->OnFrame(*text));
    }
  } catch (const platform::SocketError& error) {
    FContext.Log.Event(FNumber, error.Errno() == ECONNABORTED
                                    ? std::string("the console closed the connection")
                                    : std::string("connection lost: ") + error.what());
  } catch (const EZVTcpConnection& error) {
    FSession->OnBrokenStream(error.what());
  }
  return false;
}

void TSimConnection::Schedule(std::vector<TSimOutput> outputs) {
  const TMisbehaviour& misbehaviour = FContext.Options.Misbehaviour;
  TClock::time_point due = TClock::now() + std::chrono::milliseconds(misbehaviour.ReplyDelayMs);
  if (!FSteps.empty()) due = std::max(due, FSteps.back().Due);
  for (TSimOutput& output : outputs) {
    switch (output.Kind) {
      case TSimOutputKind::okFrame:
        if (misbehaviour.SplitPauseMs) {
          const std::chrono::milliseconds pause(*misbehaviour.SplitPauseMs);
          bool first = true;
          for (std::string& piece : FramePieces(output.Bytes)) {
            if (!first) due += pause;
            first = false;
            FSteps.push_back({due, TStepKind::skWrite, std::move(piece)});
          }
        } else {
          FSteps.push_back({due, TStepKind::skWrite, std::move(output.Bytes)});
        }
        break;
      case TSimOutputKind::okRaw:
        FSteps.push_back({due, TStepKind::skWrite, std::move(output.Bytes)});
        break;
      case TSimOutputKind::okAbort:
        FSteps.push_back({due, TStepKind::skAbort, {}});
        break;
      case TSimOutputKind::okClose:
        FSteps.push_back({due, TStepKind::skClose, {}});
        break;
    }
  }
}

bool TSimConnection::RunDueSteps(bool& orderly) {
  while (!FSteps.empty() && FSteps.front().Due <= TClock::now()) {
    TStep step = std::move(FSteps.front());
    FSteps.pop_front();
    switch (step.Kind) {
      case TStepKind::skWrite:
        try {
          FSocket.WriteAll(step.Bytes, kWriteTimeout);
        } catch (const platform::SocketError& error) {
          FContext.Log.Event(FNumber, std::string("cannot send: ") + error.what());
          return false;
        }
        break;
      case TStepKind::skAbort:
        orderly = false;
        return false;
      case TStepKind::skClose:
        return false;
    }
  }
  return true;
}

}  // namespace zv::sim
