// A link context for the link's own tests: fixed values, a real log in a
// scratch program folder, a private dispatcher the test drives, and a stop
// request that frees the client the test installed at the next dispatch.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "carriers/carriers_console.h"
#include "link/link_context.h"
#include "link/msg_buffer.h"
#include "link/server_client.h"
#include "platform/message_queue.h"
#include "protocol/protocol.h"
#include "support/scratch_folder.h"
#include "support/sys_log.h"

namespace zv::testing {

class FakeLinkContext : public TZVLinkContext {
 public:
  explicit FakeLinkContext(int32_t connectionType = 2) : FConnectionType(connectionType) {}
  ~FakeLinkContext() override { Client.reset(); }

  const std::string& CurrentUserId() const override { return FUser; }
  const std::string& IPAddress() const override { return FIp; }
  int32_t ConnectionType() const override { return FConnectionType; }
  const std::string& ServerIP() const override { return Server; }
  void AssignServerIP(const std::string& value) override { Server = value; }
  int32_t ServerPort() const override { return Port; }
  int32_t ProtocolMax() const override { return 18; }
  int32_t SessionProtocol() const override { return FSession; }
  void SetSessionProtocol(int32_t value) override { FSession = value; }
  int32_t NextMsgId() override { return ++FMsgId; }
  TSysLog& SysLog() override { return FLog; }
  TZVProtocol& TcpProtocol() override { return FProtocol; }
  platform::MessageDispatcher& Dispatcher() override { return FDispatcher; }
  TZVMsgBuffer* TcpBuffer() override { return FBuffer.get(); }
  void SetTcpBuffer(std::unique_ptr<TZVMsgBuffer> buffer) override { FBuffer = std::move(buffer); }
  void FreeTcpBuffer() override { FBuffer.reset(); }
  TZVCarriersConsole& Carriers() override { return FCarriers; }
  void ReplaceCarriers(std::unique_ptr<TZVCarriersConsole> carriers) override {
    FCarriers = std::move(*carriers);
  }
  // Frees the client at the next Dispatch, as the console does in its loop.
  void RequestStop(int32_t code, const std::string& reason) override {
    ++Stops;
    StopCode = code;
    StopReason = reason;
    FStopQueue.Post([this] { Client.reset(); });
  }

  void Dispatch() { FDispatcher.DispatchPending(); }
  // The log's text so far.
  std::string LogText() const;

  std::unique_ptr<TZVServerClient> Client;
  std::string Server = "127.0.0.1";
  int32_t Port = 6022;
  int Stops = 0;
  int32_t StopCode = -1;
  std::string StopReason;

 private:
  testutil::TScratchFolder FFolder;  // before the log, which writes into it
  const int32_t FConnectionType;
  const std::string FUser = "TerminalAgent";
  const std::string FIp = "127.0.0.1";
  std::atomic<int32_t> FSession{18};
  std::atomic<int32_t> FMsgId{0};
  TSysLog FLog;
  TZVProtocol FProtocol;
  platform::MessageDispatcher FDispatcher;
  std::unique_ptr<TZVMsgBuffer> FBuffer;
  TZVCarriersConsole FCarriers;
  platform::MessageQueue FStopQueue{FDispatcher};
};

inline std::string FakeLinkContext::LogText() const {
  std::string text;
  for (int n = 1; n <= 10; ++n) {
    const auto path = FFolder.Log(n);
    if (!std::filesystem::exists(path)) continue;
    for (char16_t unit : testutil::ReadUtf16(path)) {
      text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
  }
  return text;
}

}  // namespace zv::testing
