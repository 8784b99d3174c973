// Connection control: the start and stop of the server link, and the console's
// handlers of the client's events. Every handler runs on the main thread while
// the prompt stands; one that ends the link asks for the stop, which runs on a
// later dispatch pass, never inside the client's own call.
#include "carriers/carriers_console.h"
#include "console/system_console.h"
#include "link/msg_buffer.h"
#include "link/server_client.h"
#include "link/server_client_com.h"
#include "link/server_client_tcp.h"
#include "platform/message_queue.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {

platform::MessageDispatcher& TZVSystemConsole::Dispatcher() {
  return platform::MessageDispatcher::Main();
}

void TZVSystemConsole::SetTcpBuffer(std::unique_ptr<TZVMsgBuffer> buffer) {
  FTcpBuffer = std::move(buffer);
}

void TZVSystemConsole::FreeTcpBuffer() { FTcpBuffer.reset(); }

void TZVSystemConsole::ReplaceCarriers(std::unique_ptr<TZVCarriersConsole> carriers) {
  *FCarriers = std::move(*carriers);
}

void TZVSystemConsole::Start() {
  const TZVServerClient* before = FClientServer.get();
  const bool wasReady = before != nullptr && before->IsActive() && FLinkReady;
  CreateClientServer();
  SetClientEvents();
  // A start on a link that is up and ready changes nothing; only a new or
  // idle client has readiness still to reach.
  if (!wasReady || FClientServer.get() != before) FLinkReady = false;
  FClientServer->StartZVServer();
}

void TZVSystemConsole::CreateClientServer() {
  if (FClientServer && FClientServer->ConnectionType() != (FConnectionType & 0xFF)) Stop();
  if (FClientServer) return;
  ++FLinkGeneration;
  if (FConnectionType == kConnectionRemote) {
    FClientServer = std::make_unique<TZVServerClientTcp>(*this);
  } else {
    FClientServer = std::make_unique<TZVServerClientCom>(*this);
  }
}

void TZVSystemConsole::SetClientServer(std::unique_ptr<TZVServerClient> client) {
  ++FLinkGeneration;
  FClientServer = std::move(client);
  SetClientEvents();
}

void TZVSystemConsole::SetClientEvents() {
  if (!FClientServer) return;
  TZVServerClient& client = *FClientServer;
  client.OnLogError = [this](int32_t code, const std::string& msg) { LogErrorEvent(code, msg); };
  client.OnLogin = [this](TZVLoginResult result, const std::string& msg,
                          const std::string& account) { LoginEvent(result, msg, account); };
  client.OnConnectInfo = [this](int32_t code, const std::string& msg) {
    ConnectInfoEvent(code, msg);
  };
  client.OnLoginRequest = [this](int32_t code, const std::string& msg) {
    LoginRequestEvent(code, msg);
  };
  client.OnLoadObjects = [this](bool success, TZVEditObject kind, const std::string& msg) {
    LoadObjectsEvent(success, kind, msg);
  };
  client.OnMsg = [this](const TZVRemoteMsg& msg) { MsgResultEvent(msg); };
  client.OnMsgFailed = [this](int32_t msgNo, TMsgFailure failure, const std::string& reason) {
    MsgFailedEvent(msgNo, failure, reason);
  };
  client.OnSysError = [this](int32_t code, const std::string& msg) { SysErrorEvent(code, msg); };
  client.OnServerNotice = [this](int32_t code, const std::string& msg) {
    ServerNoticeEvent(code, msg);
  };
}

void TZVSystemConsole::Stop(const std::string& stopReason) {
  std::unique_ptr<TZVServerClient> client = std::move(FClientServer);
  FStatus = TZVState::ipsStopped;
  // Pages still waiting for a result will not get one now: each is named.
  std::string reason = stopReason.empty() ? FStopReason : stopReason;
  if (reason.empty()) reason = "the link ended";
  FStopReason.clear();
  DropHeldOrders(reason);
  EndOutstandingPages(reason);
  // The stop runs before the client goes so that its error (the logout notice
  // could not be sent) reaches the caller; the client is freed either way.
  if (client) client->StopZVServer();
}

void TZVSystemConsole::RequestStop(int32_t /*code*/, const std::string& reason) {
  // Whatever the link still delivers before the stop runs is dropped: the
  // operator hears of one ending, not of what follows it.
  if (FClientServer) FClientServer->EndEvents();
  FOwnQueue->Post([this, generation = FLinkGeneration, reason] {
    if (!FClientServer || generation != FLinkGeneration) return;
    std::string shown = reason;
    for (char& c : shown) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    shown = Trim(VisibleText(shown));
    FStopReason = shown.empty() ? "the link ended" : "the link ended (" + shown + ")";
    try {
      Stop();
    } catch (const std::exception& e) {
      FLog->LogItem("Logging Out", "Stopping the link failed", e.what());
    }
  });
}

void TZVSystemConsole::StopCommand() {
  FOperatorStopped = true;
  SetUserDisconnects(true);
  if (FClientServer) FStopReason = "the link was stopped";
  try {
    Stop();
  } catch (const std::exception& e) {
    // The link is down either way; the operator learns that the server was
    // not told.
    FLog->LogItem("Logging Out", "The logout notice was not sent", e.what());
    FConsole->WriteLn(e.what());
  }
}

bool TZVSystemConsole::LinkStarting() const { return FClientServer != nullptr && !FLinkReady; }

void TZVSystemConsole::LoadConsoleCarriers(TZVCarriersConsole& /*objLst*/) {
  if (FClientServer) FClientServer->LoadClientCarriers(*FCarriers);
}

void TZVSystemConsole::LoginRequestEvent(int32_t /*resultCode*/, const std::string& /*resultMsg*/) {
  FClientServer->SetBusy(true);
  std::string password = FUserId;
  try {
    FClientServer->LogIn(FUserId, FHostAddress, 1, password);
  } catch (const std::exception& e) {
    EndLinkAfterFailedCall("Login Failed", "The login could not be sent", e);
  }
}

void TZVSystemConsole::EndLinkAfterFailedCall(const std::string& action,
                                              const std::string& description,
                                              const std::exception& error) {
  FLog->LogItem(action, description, error.what());
  FConsole->WriteLn(VisibleText(std::string("\r\n") + error.what()));
  WritePrompt();
  RequestStop(kConnFailedStop, error.what());
}

void TZVSystemConsole::LoginEvent(TZVLoginResult logResult, const std::string& /*logMsg*/,
                                  const std::string& /*accountId*/) {
  if (logResult != TZVLoginResult::slrLoginOK) return;
  FStatus = TZVState::ipsRunning;
  FClientServer->SetBusy(true);
  try {
    LoadConsoleCarriers(*FCarriers);
  } catch (const std::exception& e) {
    // The local server's carrier calls fail here, synchronously (a server that
    // stopped answering, a bad carrier object). The link never became ready.
    EndLinkAfterFailedCall("Loading Carriers Failed", "The carriers could not be loaded", e);
  }
}

void TZVSystemConsole::LogErrorEvent(int32_t /*resultCode*/, const std::string& resultMsg) {
  FClientServer->SetBusy(false);
  FConsole->WriteLn(VisibleText(resultMsg));
  WritePrompt();
}

void TZVSystemConsole::LoadObjectsEvent(bool success, TZVEditObject /*objType*/,
                                        const std::string& resultMsg) {
  if (!success) {
    FConsole->WriteLn(VisibleText("The carrier list could not be loaded: " + resultMsg +
                                  "; the list from the last connection is kept"));
  }
  FCarriers->SaveToFile();
  FClientServer->SetBusy(false);
  // The server hears that the console is ready before the pages held during
  // the start reach it: on the local link the ready line sends them.
  FClientServer->ConfirmReady();
  if (FConnectionType == kConnectionLocal) {
    ConnectInfoEvent(
        kConnClientReady,
        StrFormat("Client \"Console Client\" on %s ready to communicate", FHostAddress.c_str()));
  }
}

void TZVSystemConsole::ServerNoticeEvent(int32_t /*resultCode*/, const std::string& resultMsg) {
  // The link stays up and pages still go out: the operator reads the
  // server's words on a line of their own, and the prompt again.
  if (FConsole->CursorPos().X != 0) FConsole->WriteLn();
  FConsole->WriteLn(VisibleText(resultMsg));
  WritePrompt();
}

void TZVSystemConsole::SysErrorEvent(int32_t /*resultCode*/, const std::string& resultMsg) {
  FClientServer->SetBusy(false);
  FLog->LogItem("System Error", resultMsg, "");
  // The server refused what the console sent and ends the link: its text is
  // the only word of why.
  FConsole->WriteLn(VisibleText("\r\nThe server refused a request: " + resultMsg));
  WritePrompt();
  RequestStop(kConnFailedStop, resultMsg);
}

}  // namespace zv
