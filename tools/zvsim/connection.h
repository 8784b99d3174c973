// TSimConnection: one accepted console connection, served on a thread of its
// own. It reads frames, hands their texts to its TSimSession and sends the
// answers when they are due: late by the reply delay, and in pieces when
// frames are split. Waiting for input and waiting for the next answer to fall
// due are one wait, so a slow answer never holds up reading, and a console
// that reads slowly holds up only its own connection.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <thread>

#include "platform/tcp_socket.h"
#include "protocol/frame_reader.h"
#include "zvsim/session.h"

namespace zv::sim {

class TSimConnection {
 public:
  // Starts serving `socket` at once.
  TSimConnection(TSimContext& context, int32_t number, platform::TcpSocket socket);
  // Stops serving (as Stop) and waits for the thread.
  ~TSimConnection();
  TSimConnection(const TSimConnection&) = delete;
  TSimConnection& operator=(const TSimConnection&) = delete;

  // Any thread: ends the service soon; the connection is then closed in order.
  void Stop() { FSocket.Abort(); }
  // The thread has ended and the socket is closed.
  bool Finished() const { return FFinished.load(); }

 private:
  using TClock = std::chrono::steady_clock;

  enum class TStepKind : uint8_t { skWrite, skAbort, skClose };
  struct TStep {
    TClock::time_point Due;
    TStepKind Kind;
    std::string Bytes;
  };

  void Run() noexcept;
  // Reads what has arrived and queues the answers; false when the console
  // has gone or its stream is broken.
  bool ReadAvailable();
  // Queues an answer produced now, in order after everything queued.
  void Schedule(std::vector<TSimOutput> outputs);
  // Carries out the steps that are due; false once the connection is over,
  // with `orderly` false when it is to be reset.
  bool RunDueSteps(bool& orderly);

  TSimContext& FContext;
  const int32_t FNumber;
  platform::TcpSocket FSocket;
  std::optional<TSimSession> FSession;  // the thread's own, while it runs
  TFrameReader FReader;
  std::deque<TStep> FSteps;  // in order of Due
  std::atomic<bool> FFinished{false};
  std::jthread FThread;  // last: starts once everything else is built
};

}  // namespace zv::sim
