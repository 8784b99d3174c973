// TOwnerHost: makes a console the owner of its home. It opens the home's
// outbox, puts the owner's core between the socket and the console's link,
// and hooks the pump into the main thread's dispatcher, so the one wait loop
// that serves the terminal and the link serves the home's senders too.
//
// Main thread only. The console outlives the host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "console/owner_link.h"
#include "outbox/outbox.h"
#include "owner/owner_core.h"
#include "owner/owner_server.h"
#include "platform/message_queue.h"
#include "platform/owner_endpoint.h"

namespace zv {

class TZVSystemConsole;

class TOwnerHost {
 public:
  static constexpr std::string_view kOutboxFileName = "zvcc-outbox.db";

  // Throws when the outbox cannot be opened (its text names the file).
  TOwnerHost(TZVSystemConsole& console, platform::OwnerEndpoint endpoint, TOwnerKind kind,
             TOwnerCore::TNoticeSink notices = {});
  ~TOwnerHost();
  TOwnerHost(const TOwnerHost&) = delete;
  TOwnerHost& operator=(const TOwnerHost&) = delete;

  // Milliseconds since the Unix epoch: the outbox's times outlive a process.
  static int64_t Now();
  static std::string OutboxPath();

  TOwnerCore& Core() { return *FCore; }
  TOwnerServer& Server() { return *FServer; }
  // Pages recovered from a dead owner when this one opened the outbox.
  int Recovered() const { return FRecovered; }
  int Waiting() const { return FCore->Waiting(); }
  // Runs the pump once now (it also runs on every dispatch).
  void Service() { FServer->Service(); }

 private:
  TZVSystemConsole& FConsole;
  TOutbox FOutbox;
  TConsoleOwnerLink FLink;
  std::unique_ptr<TOwnerCore> FCore;
  std::unique_ptr<TOwnerServer> FServer;
  std::unique_ptr<platform::MessageDispatcher::Watch> FWatch;
  int FRecovered = 0;
};

}  // namespace zv
