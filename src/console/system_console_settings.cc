// The console's settings (section ConsoleSys of the settings file), their
// interactive setters and the message numbering. Every interactive change is
// in the file before its setter returns.
#include <algorithm>

#include "carriers/carriers_console.h"
#include "console/system_console.h"
#include "link/server_client.h"
#include "protocol/msg_global.h"
#include "support/data_access.h"
#include "support/int_text.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kSection = "ConsoleSys";
constexpr int32_t kMaxPort = 65535;
constexpr std::size_t kMaxPromptLength = 15;

}  // namespace

void TZVSystemConsole::Load() {
  LoadSettings();
  FCarriers->LoadFromFile();
}

void TZVSystemConsole::LoadSettings() {
  FMsgId = TDataAccess::ReadFromIni(kSection, "LastMsgNo", 0);
  FCommandMode =
      TDataAccess::ReadFromIni(kSection, "CmdMode", 1) == 0 ? TCmdMode::cmMsg : TCmdMode::cmSet;
  FServerAddress = TDataAccess::ReadFromIni(kSection, "ServerIP", "127.0.0.1");
  FServerPort = TDataAccess::ReadFromIni(kSection, "ServerPort", 6022);
  FDefaultCarrier = TDataAccess::ReadFromIni(kSection, "CarrierId", 3);
  FConnectionType = TDataAccess::ReadFromIni(kSection, "ConnectionId", kConnectionLocal);
  FDefaultPriority = TDataAccess::ReadFromIni(kSection, "MsgPriority", kPriorityNormal);
  FDefaultAge = TDataAccess::ReadFromIni(kSection, "MsgAge", 120);
  FDefaultSubject =
      UnescapeText(TDataAccess::ReadFromIni(kSection, "MsgSubject", "Zorvane Message"));
  // Written before every line read: a prompt from the file shows its controls.
  FCmdPrompt = VisibleText(TDataAccess::ReadFromIni(kSection, "CmdPrompt", "Zorvane Send >"));
}

void TZVSystemConsole::Save() { SaveSettings(); }

void TZVSystemConsole::SaveSettings() {
  TDataAccess::WriteToIni(kSection, "CmdMode", FCommandMode == TCmdMode::cmMsg ? 0 : 1);
  TDataAccess::WriteToIni(kSection, "ServerIP", FServerAddress);
  TDataAccess::WriteToIni(kSection, "ServerPort", FServerPort);
  TDataAccess::WriteToIni(kSection, "CarrierId", FDefaultCarrier);
  TDataAccess::WriteToIni(kSection, "ConnectionId", FConnectionType);
  TDataAccess::WriteToIni(kSection, "MsgPriority", FDefaultPriority);
  TDataAccess::WriteToIni(kSection, "MsgAge", FDefaultAge);
  TDataAccess::WriteToIni(kSection, "MsgSubject", EscapeText(FDefaultSubject));
  TDataAccess::WriteToIni(kSection, "CmdPrompt", FCmdPrompt);
  TDataAccess::SaveIni();
}

int32_t TZVSystemConsole::NextMsgId() {
  const int32_t n = IncrementId(FMsgId);
  TDataAccess::WriteToIni(kSection, "LastMsgNo", n);
  // Saved with every message: atomic and whole after a kill, without waiting
  // for the disk each time.
  TDataAccess::SaveIni(TDataAccess::TFlush::kToSystem);
  return n;
}

void TZVSystemConsole::SetStrSetting(std::string_view key, std::string& field,
                                     const std::string& value) {
  field = value;
  TDataAccess::WriteToIni(kSection, key, std::string_view(value));
  TDataAccess::SaveIni();
}

void TZVSystemConsole::SetIntSetting(std::string_view key, int32_t& field, int32_t value) {
  field = value;
  TDataAccess::WriteToIni(kSection, key, value);
  TDataAccess::SaveIni();
}

void TZVSystemConsole::SetServerIP() {
  std::optional<std::string> rejected;
  std::string entry;
  while (true) {
    FConsole->ClearScreen();
    if (rejected) FConsole->WriteLn("\"" + *rejected + "\" is not a valid IP address");
    entry = FConsole->GetNewValue("Press <Enter>", "server IP address", FServerAddress);
    if (entry.empty() || IsDottedQuadAddress(entry)) break;
    rejected = entry;
  }
  if (entry.empty()) {
    FConsole->ClearScreen();
    return;
  }
  SetStrSetting("ServerIP", FServerAddress, entry);
}

void TZVSystemConsole::SetServerPort() {
  std::optional<std::string> rejected;
  std::optional<int32_t> value;
  while (true) {
    FConsole->ClearScreen();
    if (rejected) {
      FConsole->WriteLn("\"" + *rejected + "\" is not a valid port number (1 - " +
                        std::to_string(kMaxPort) + ")");
    }
    const std::string entry =
        FConsole->GetNewValue("Enter '0'", "server port", std::to_string(FServerPort));
    value = TryStrToInt(entry);
    if (value && *value <= kMaxPort) break;
    rejected = entry;
  }
  if (*value <= 0) {
    FConsole->ClearScreen();
    return;
  }
  SetIntSetting("ServerPort", FServerPort, *value);
}

void TZVSystemConsole::SetCmdPrompt() {
  std::optional<std::string> rejected;
  while (true) {
    FConsole->ClearScreen();
    if (rejected) {
      FConsole->WriteLn("Command prompt is to long(" + std::to_string(Utf16Length(*rejected)) +
                        " chars) - max length 15 characters");
    }
    const std::string entry = FConsole->GetNewValue("Press <Enter>", "command prompt", FCmdPrompt);
    if (entry.empty()) return;  // keeps the prompt; the screen stays as it is
    if (Utf16Length(entry) > kMaxPromptLength) {
      rejected = entry;
      continue;
    }
    const std::size_t mark = entry.find('>');
    const std::string prompt = mark != std::string::npos ? entry.substr(0, mark + 1) : entry + " >";
    SetStrSetting("CmdPrompt", FCmdPrompt, prompt);
    return;
  }
}

void TZVSystemConsole::SetMsgAge() {
  std::optional<std::string> rejected;
  std::optional<int32_t> value;
  while (true) {
    FConsole->ClearScreen();
    if (rejected) FConsole->WriteLn("\"" + *rejected + "\" is not a valid message age number");
    const std::string entry = FConsole->GetNewValue("Enter '0'", "message age limit",
                                                    std::to_string(FDefaultAge) + " minutes");
    value = TryStrToInt(entry);
    if (value) break;
    rejected = entry;
  }
  if (*value > 0) {
    SetIntSetting("MsgAge", FDefaultAge, *value);
  } else {
    FConsole->ClearScreen();
  }
}

void TZVSystemConsole::SetMsgSubject() {
  FConsole->ClearScreen();
  const std::string entry =
      FConsole->GetNewValue("Press <Enter>", "email subject", FDefaultSubject);
  if (entry.empty()) {
    FConsole->ClearScreen();
    return;
  }
  SetStrSetting("MsgSubject", FDefaultSubject, entry);
}

void TZVSystemConsole::SetMsgSettings() {
  const int32_t n =
      FConsole->NewId("Set Default Message settings", GetCurrentValueStr(TZVDisplayType::dtpMsg),
                      TZVDisplayType::dtpMsg, MakeBounds(0, kPriorityMax));
  if (n > 0) SetIntSetting("MsgPriority", FDefaultPriority, n);
  SetMsgSubject();
  SetMsgAge();
}

void TZVSystemConsole::SetConnection() {
  if (FClientServer && FClientServer->IsActive()) {
    ConnectInfoEvent(1,
                     "Cannot change a connection type while connected to the server.\r\n"
                     "Please, disconnect from the server and try again.");
    return;
  }
  const int32_t n = FConsole->NewId(
      "Set Connection", GetCurrentValueStr(TZVDisplayType::dtpConnection),
      TZVDisplayType::dtpConnection, MakeBounds(kConnectionLocal, kConnectionRemote));
  if (n <= 0) {
    FConsole->ClearScreen();
    return;
  }
  if (FConsole->IsNewValueConfirmed("connection id", n)) {
    SetIntSetting("ConnectionId", FConnectionType, n);
    if (n == kConnectionRemote) {
      SetServerIP();
      SetServerPort();
    }
  }
  FConsole->DisplayCurrentConnection();
}

void TZVSystemConsole::SetDefaultCarrier() {
  // For carriers the choice is checked against the collection, not the bounds.
  const int32_t n =
      FConsole->NewId("Set Default Carrier", GetCurrentValueStr(TZVDisplayType::dtpCarrier),
                      TZVDisplayType::dtpCarrier, MakeBounds(1, 23));
  if (n <= 0) {
    FConsole->ClearScreen();
    return;
  }
  if (FConsole->IsNewValueConfirmed("new carrier", n)) {
    SetIntSetting("CarrierId", FDefaultCarrier, n);
  }
  FConsole->DisplayDefaultCarrier();
}

std::string TZVSystemConsole::GetCurrentValueStr(TZVDisplayType kind) const {
  switch (kind) {
    case TZVDisplayType::dtpConnection: {
      const TConConnection c = ConnectionTypes(FConnectionType);
      return StrFormat("%d - %s (%s)", c.Id, c.Name.c_str(), c.AType.c_str());
    }
    case TZVDisplayType::dtpCarrier:
      if (const TZVCarrierConsole* c = FCarriers->FindObject(FDefaultCarrier)) {
        return c->ObjectIdStr() + " - " + c->CarrierTypeStr() + " (" + c->AddressTypeStr() + ")";
      }
      return std::to_string(FDefaultCarrier) + " - Unknown";
    case TZVDisplayType::dtpMsg:
      break;
  }
  return std::to_string(FDefaultPriority) + " - " + PriorityNames(FDefaultPriority);
}

}  // namespace zv
