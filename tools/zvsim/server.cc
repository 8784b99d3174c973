#include "zvsim/server.h"

#include <poll.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/deadline_poll.h"
#include "support/text.h"

namespace zv::sim {
namespace {

constexpr std::chrono::milliseconds kAcceptWait(100);

}  // namespace

TSimServer::TSimServer(TSimContext& context)
    : FContext(context), FListener(context.Options.Address, context.Options.Port) {}

TSimServer::~TSimServer() { StopAll(); }

void TSimServer::Run(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    pollfd listener{Fd(), POLLIN, 0};
    if (platform::PollUntil(&listener, 1, platform::DeadlineAfter(kAcceptWait)) > 0)
      AcceptWaiting();
    Reap();
  }
  StopAll();
}

void TSimServer::AcceptWaiting() {
  try {
    while (std::optional<platform::TcpSocket> socket = FListener.Accept()) {
      const int32_t number = FNextNumber++;
      FContext.Log.Event(number, "connection accepted from " + socket->PeerAddress());
      FConnections.push_back(
          std::make_unique<TSimConnection>(FContext, number, std::move(*socket)));
    }
  } catch (const std::exception& error) {
    // Out of descriptors or memory, say: the listener stays readable, so
    // back off for a while instead of failing at once again.
    FContext.Log.Event(std::string("cannot accept a connection: ") + error.what());
    std::this_thread::sleep_for(kAcceptWait);
  }
}

void TSimServer::Reap() {
  FConnections.remove_if([](const auto& connection) { return connection->Finished(); });
}

void TSimServer::StopAll() {
  for (const auto& connection : FConnections) connection->Stop();
  FConnections.clear();
}

}  // namespace zv::sim
