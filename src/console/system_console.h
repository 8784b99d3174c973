// TZVSystemConsole: the console application object, one per process; nothing
// reaches it through a global, whoever needs it is handed it. It owns the screen and prompt object,
// the carrier collection, the system log, the protocol object and, while the link is wanted, the
// server client; it holds the console's settings; and it is the context through which the server
// link and the log reach the shared values of the link.
//
// Everything here runs on the main thread, except NextMsgId (also called on the
// link's connect thread) and the reads of the link's shared values noted below.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/console_types.h"
#include "console/page_ledger.h"
#include "link/link_context.h"
#include "link/server_client.h"
#include "outbox/outbox_page.h"
#include "owner/owner_core.h"
#include "platform/terminal.h"
#include "protocol/msg_global.h"
#include "support/msg_numbering.h"

namespace zv {

namespace platform {
class MessageQueue;
}

class TSysLog;
class TZVCarriersConsole;
class TZVMsgBuffer;
class TZVProtocol;
class TZVRemoteMsg;

class TZVSystemConsole final : public TZVLinkContext {
 public:
  explicit TZVSystemConsole(std::unique_ptr<platform::Terminal> terminal);
  ~TZVSystemConsole() override;  // stops the link first
  TZVSystemConsole(const TZVSystemConsole&) = delete;
  TZVSystemConsole& operator=(const TZVSystemConsole&) = delete;

  // Settings and carriers from their files; settings back to their file.
  void Load();
  void Save();

  // Values given for one run (zvcc send), after Load. They replace the
  // stored ones for this run and are never saved; from then on no save of
  // this process writes a console setting: the exit save keeps only the
  // message numbering and the log's counters, and every save keeps what the
  // file holds for the other settings (an open console may change them).
  struct TRunSettings {
    std::optional<int32_t> ConnectionType;
    std::optional<std::string> ServerIP;  // host name or IPv4 address
    std::optional<int32_t> ServerPort;
    std::optional<int32_t> Carrier, Priority, Age;
    std::optional<std::string> Subject;
    std::optional<std::string> Prompt;
  };
  void UseRunSettings(const TRunSettings& run);

  // Creates the server client of the configured type, attaches the handlers
  // and starts it; the outcome arrives later as events.
  void Start();
  // Ends the server link: frees the server client, if any. A failure to send
  // the operator's logout notice is raised after the client is gone. Never
  // called from inside a client's handler: those ask with RequestStop.
  // `reason` is told with the pages left without a result ("the link ended"
  // when empty).
  void Stop(const std::string& reason = {});
  // The link asks to be ended: the stop runs on a later dispatch pass, unless
  // that link has gone by then.
  void RequestStop(int32_t code, const std::string& reason) override;
  // Installs the server client (tests install a fake) and attaches the handlers.
  void SetClientServer(std::unique_ptr<TZVServerClient> client);
  TZVServerClient* ClientServer() { return FClientServer.get(); }
  void LoadConsoleCarriers(TZVCarriersConsole& objLst);
  // The next message number (see support/msg_numbering.h). Any thread.
  int32_t NextMsgId() override;

  // What a script needs to know of the link (plain mode): a start has not yet
  // reached readiness, or failed, or stopped; how many messages handed to the
  // link still wait for their result; whether any message line of the run was
  // not sent or lost its result.
  bool LinkStarting() const;
  int32_t PendingResults() const { return static_cast<int32_t>(FLedger.Outstanding()); }
  bool AnyMessageFailed() const { return FLedger.AnyWithout(); }
  // Every message line's outcome this run.
  const TPageLedger& Ledger() const { return FLedger; }
  // Tells `observer` each page's outcome as it becomes known.
  void ObservePages(TPageLedger::TObserver observer) { FLedger.SetObserver(std::move(observer)); }
  // A page to `address` with `text` taken as they are (no line is split),
  // with the default carrier, priority, subject and age limit.
  void SendOrder(const std::string& address, const std::string& text);
  // A line that is no send order, told as a page not sent for `reason`.
  void RefuseLine(const std::string& line, const std::string& reason);
  // A page that the terminal refused and has told already, counted as not
  // sent for `reason`.
  void CountNotSent(TPage page, std::string reason) {
    FLedger.NotSent(std::move(page), std::move(reason));
  }
  // Message lines held until a start under way reaches readiness.
  std::size_t HeldOrderCount() const { return FHeldOrders.size(); }
  // Tells every held and outstanding page as ended for `reason`, as Stop
  // does, without touching the link: a run whose time is up tells its
  // outcomes before the link's stop waits for the server.
  void EndPages(const std::string& reason) {
    DropHeldOrders(reason);
    EndOutstandingPages(reason);
  }

  // The home's owner (console/owner_host.h) sends the outbox's pages through
  // this console's link. PagesGoOut: the link is up and ready and holds no
  // page of the operator's; LinkMayStart: no link, or one a failed start
  // left, and the operator has not stopped it. SendFromOutbox hands one page
  // over under `number`; its outcome goes to the observer given here, and
  // `ready` is called each time the link becomes ready.
  bool PagesGoOut() const;
  bool LinkMayStart() const;
  // The link as senders name it: "tcp HOST:PORT" or "local".
  std::string LinkText() const;
  static std::string LinkText(const TRunSettings& run);
  std::optional<TOwnerLink::TRefusal> SendFromOutbox(const TOutboxPage& page, int32_t number);
  void ObserveOwnerPages(TPageLedger::TObserver outcomes, std::function<void()> ready);

  // The interpreter: false only for the exit command.
  bool ReadCmdLine(const std::string& cmdLn);
  TCmdMode CheckMode(std::string_view cmdLine) const;

  // The login password encoding (see support/login_data.h).
  static std::string EncodeLoginData(const std::string& encodedStr, int encoding);
  static std::string DecodeLoginData(const std::string& encodedStr, int encoding);

  // Event handlers of the server client. ConnectInfoEvent with code 1 is also
  // the console's own way to write a plain line.
  void ConnectInfoEvent(int32_t resultCode, const std::string& resultMsg);
  void MsgResultEvent(const TZVRemoteMsg& rMsg);
  void MsgFailedEvent(int32_t msgNo, TMsgFailure failure, const std::string& reason);

  // Properties.
  TZVCarriersConsole& Carriers() override { return *FCarriers; }
  const TZVCarriersConsole& Carriers() const { return *FCarriers; }
  void ReplaceCarriers(std::unique_ptr<TZVCarriersConsole> carriers) override;
  TSysLog& SysLog() override { return *FLog; }
  TZVProtocol& TcpProtocol() override { return *FTcpProtocol; }
  platform::MessageDispatcher& Dispatcher() override;
  TZVMsgBuffer* TcpBuffer() override { return FTcpBuffer.get(); }
  void SetTcpBuffer(std::unique_ptr<TZVMsgBuffer> buffer) override;
  void FreeTcpBuffer() override;
  TZVConsole& Console() { return *FConsole; }
  int32_t ProtocolMax() const override { return FProtocolMax; }
  int32_t SessionProtocol() const override { return FSessionProtocol; }          // any thread
  void SetSessionProtocol(int32_t value) override { FSessionProtocol = value; }  // any thread
  TCmdMode CommandMode() const { return FCommandMode; }
  void SetCommandMode(TCmdMode value) { FCommandMode = value; }
  const std::string& CmdPrompt() const { return FCmdPrompt; }
  bool DebugMode() const { return FDebugMode; }                           // any thread
  const std::string& IPAddress() const override { return FHostAddress; }  // any thread
  const std::string& ServerIP() const override { return FServerAddress; }
  void AssignServerIP(const std::string& value) override { FServerAddress = value; }
  int32_t ServerPort() const override { return FServerPort; }
  const std::string& CurrentUserId() const override { return FUserId; }  // any thread
  int32_t ConnectionType() const override { return FConnectionType; }
  int32_t DefaultCarrierId() const { return FDefaultCarrier; }
  int32_t MsgAge() const { return FDefaultAge; }
  int32_t MsgPriority() const { return FDefaultPriority; }
  const std::string& MsgEmailSubject() const { return FDefaultSubject; }
  TZVState Status() const { return FStatus; }
  bool IsConnected() const;
  bool UserDisconnects() const;
  void SetUserDisconnects(bool value);

 private:
  // Settings.
  void LoadSettings(const std::function<void(const std::string&)>& report);
  void SaveSettings();
  void SetStrSetting(std::string_view key, std::string& field, const std::string& value);
  void SetIntSetting(std::string_view key, int32_t& field, int32_t value);
  void SetServerIP();
  void SetServerPort();
  void SetCmdPrompt();
  void SetMsgAge();
  void SetMsgSubject();
  void SetMsgSettings();
  void SetConnection();
  void SetDefaultCarrier();
  std::string GetCurrentValueStr(TZVDisplayType kind) const;

  // Interpreter.
  int CheckSwitch(std::string_view line) const;
  bool ProcessSetLine(const std::string& line);
  void RunSwitchCommand(std::string_view cmd, int sw);

  // Connection control and the client's events.
  void CreateClientServer();
  void SetClientEvents();
  void LogErrorEvent(int32_t resultCode, const std::string& resultMsg);
  void LoginEvent(TZVLoginResult logResult, const std::string& logMsg,
                  const std::string& accountId);
  void LoginRequestEvent(int32_t resultCode, const std::string& resultMsg);
  // A call to the local server inside a handler failed (a server that stopped
  // answering or left): the link ends with a word to the operator, not the
  // program. The stop is asked for, not run: the client stays until the
  // handler has returned.
  void EndLinkAfterFailedCall(const std::string& action, const std::string& description,
                              const std::exception& error);
  void LoadObjectsEvent(bool success, TZVEditObject objType, const std::string& resultMsg);
  void SysErrorEvent(int32_t resultCode, const std::string& resultMsg);
  void ServerNoticeEvent(int32_t resultCode, const std::string& resultMsg);
  void StopCommand();

  // Sending.
  struct TMsgOrder {
    std::string Address, Text, Carrier, Priority, Subject, Age;
  };
  bool ProcessMsgLine(const std::string& line);
  // The orders held while a start has not reached readiness: sent in order
  // once it has, or each told as not sent with `reason` when it ends first.
  void SendHeldOrders();
  void DropHeldOrders(const std::string& reason);
  // Names the pages that will get no result now that the link has ended.
  void EndOutstandingPages(const std::string& reason);
  void SendMsg(const std::string& address, const std::string& text, const std::string& carrier,
               const std::string& priority, const std::string& subject, const std::string& age);
  static std::string ValueOrDefault(const std::string& value, const std::string& defaultValue);
  void WritePrompt();

  std::unique_ptr<TZVConsole> FConsole;
  std::unique_ptr<TZVCarriersConsole> FCarriers;
  std::unique_ptr<TSysLog> FLog;
  std::unique_ptr<TZVServerClient> FClientServer;
  // Counts the clients created, so that a stop asked for by one never ends
  // its successor.
  uint64_t FLinkGeneration = 0;
  std::unique_ptr<TZVMsgBuffer> FTcpBuffer;
  std::unique_ptr<TZVProtocol> FTcpProtocol;
  int32_t FProtocolMax = 0;
  std::atomic<int32_t> FSessionProtocol{0};
  TCmdMode FCommandMode = TCmdMode::cmSet;
  std::unique_ptr<TMsgNumbering> FNumbering;
  std::string FHostAddress;
  std::string FUserId;
  std::string FServerAddress;
  int32_t FServerPort = 0;
  int32_t FDefaultCarrier = 0;
  int32_t FDefaultPriority = 0;
  int32_t FDefaultAge = 0;
  std::string FDefaultSubject;
  int32_t FConnectionType = 0;
  std::string FCmdPrompt;
  // The log always carries each item's debug detail: nothing in the program
  // turns it off.
  bool FDebugMode = true;
  bool FRunOnly = false;  // see UseRunSettings
  TZVState FStatus = TZVState::ipsStopped;
  // The link of this run, as a script sees it.
  bool FLinkReady = false;
  TPageLedger FLedger;
  std::vector<TMsgOrder> FHeldOrders;
  // The operator typed stop: the owner does not start the link again for the
  // outbox's pages until the operator starts it.
  bool FOperatorStopped = false;
  std::function<void()> FOnLinkReady;
  // Why the link ended, for the pages it leaves without a result.
  std::string FStopReason;
  // The console's own deferred work (the stops its links ask for); declared
  // last, so it goes first.
  std::unique_ptr<platform::MessageQueue> FOwnQueue;
};

}  // namespace zv
