// TZVSystemConsole: the console application object, one per process, reachable
// through the global SystemConsole. It owns the screen and prompt object, the
// carrier collection, the system log, the protocol object and, while the link
// is wanted, the server client; it holds the console's settings; and it is the
// context through which the server link and the log reach the shared values of
// the link.
//
// Everything here runs on the main thread, except NextMsgId (also called on the
// link's connect thread) and the reads of the link's shared values noted below.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/console_types.h"
#include "platform/terminal.h"

namespace zv {

class TSysLog;
class TZVCarriersConsole;
class TZVProtocol;
class TZVRemoteMsg;
class TZVServerClient;

class TZVSystemConsole {
 public:
  explicit TZVSystemConsole(std::unique_ptr<platform::Terminal> terminal);
  ~TZVSystemConsole();
  TZVSystemConsole(const TZVSystemConsole&) = delete;
  TZVSystemConsole& operator=(const TZVSystemConsole&) = delete;

  // Settings and carriers from their files; settings back to their file.
  void Load();
  void Save();

  // Ends the server link: frees the server client, if any.
  void Stop();
  // Installs the server client (the start command's work; tests install a fake).
  void SetClientServer(std::unique_ptr<TZVServerClient> client);
  // The next message number, stored at once. Any thread.
  int32_t NextMsgId();

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

  // Properties.
  TZVCarriersConsole& Carriers() { return *FCarriers; }
  const TZVCarriersConsole& Carriers() const { return *FCarriers; }
  TSysLog& SysLog() { return *FLog; }
  TZVProtocol& TcpProtocol() { return *FTcpProtocol; }
  TZVConsole& Console() { return *FConsole; }
  int32_t ProtocolMax() const { return FProtocolMax; }
  int32_t SessionProtocol() const { return FSessionProtocol; }          // any thread
  void SetSessionProtocol(int32_t value) { FSessionProtocol = value; }  // any thread
  TCmdMode CommandMode() const { return FCommandMode; }
  void SetCommandMode(TCmdMode value) { FCommandMode = value; }
  const std::string& CmdPrompt() const { return FCmdPrompt; }
  bool DebugMode() const { return FDebugMode; }                  // any thread
  const std::string& IPAddress() const { return FHostAddress; }  // any thread
  const std::string& ServerIP() const { return FServerAddress; }
  void AssignServerIP(const std::string& value) { FServerAddress = value; }
  int32_t ServerPort() const { return FServerPort; }
  const std::string& CurrentUserId() const { return FUserId; }  // any thread
  int32_t ConnectionType() const { return FConnectionType; }
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
  void LoadSettings();
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

  // Sending.
  bool ProcessMsgLine(const std::string& line);
  void SendMsg(const std::string& address, const std::string& text, const std::string& carrier,
               const std::string& priority, const std::string& subject, const std::string& age);
  static std::string ValueOrDefault(const std::string& value, const std::string& defaultValue);
  void WritePrompt();

  std::unique_ptr<TZVConsole> FConsole;
  std::unique_ptr<TZVCarriersConsole> FCarriers;
  std::unique_ptr<TSysLog> FLog;
  std::unique_ptr<TZVServerClient> FClientServer;
  std::unique_ptr<TZVProtocol> FTcpProtocol;
  int32_t FProtocolMax = 0;
  std::atomic<int32_t> FSessionProtocol{0};
  TCmdMode FCommandMode = TCmdMode::cmSet;
  std::atomic<int32_t> FMsgId{0};
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
  bool FDebugMode = false;
  TZVState FStatus = TZVState::ipsStopped;
};

// The one console object of the process; set by the entry right after it is
// created.
extern TZVSystemConsole* SystemConsole;

}  // namespace zv
