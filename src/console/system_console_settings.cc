// The console's settings (section ConsoleSys of the settings file), their
// interactive setters and the message numbering. Every interactive change is
// in the file before its setter returns; a file that cannot be written costs
// the record, never the run: the operator is told in one line and the value
// holds in memory.
#include <algorithm>
#include <functional>
#include <memory>
#include <type_traits>

#include "carriers/carriers_console.h"
#include "carriers/xml_carrier.h"
#include "console/page_check.h"
#include "console/system_console.h"
#include "link/server_client.h"
#include "platform/message_queue.h"
#include "protocol/msg_global.h"
#include "support/data_access.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/int_text.h"
#include "support/msg_numbering.h"
#include "support/setting_check.h"
#include "support/sys_log.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr std::string_view kSection = "ConsoleSys";
constexpr std::string_view kNumberingKey = "LastMsgNo";
constexpr int32_t kMaxPort = 65535;
constexpr std::size_t kMaxPromptLength = 15;
constexpr int32_t kNoUpperLimit = 2147483647;

// The stored values with a defined range: one out of it is reported at start
// and replaced by the default for the run, and the exit save leaves its text
// in the file until the operator sets the value.
constexpr TIntSetting kServerPort{"ServerPort", 6022, 1, kMaxPort};
constexpr TIntSetting kCarrierId{"CarrierId", 3, 1, kNoUpperLimit};
constexpr TIntSetting kConnectionId{"ConnectionId", kConnectionLocal, kConnectionLocal,
                                    kConnectionRemote};
constexpr TIntSetting kMsgPriority{"MsgPriority", kPriorityNormal, 1, kPriorityMax};
constexpr TIntSetting kMsgAge{"MsgAge", 120, 1, kNoUpperLimit};
// The prompt setter stores up to 15 characters and " >" after them.
constexpr TTextSetting kCmdPrompt{"CmdPrompt", "Zorvane Send >", kMaxPromptLength + 2};

// Saves a value the operator has just set; a file that cannot be written is
// told in one line, and the value holds for the run.
void SaveChangedSetting(TZVConsole& console, std::string_view key) {
  try {
    TDataAccess::SaveIni();
  } catch (const std::exception& e) {
    console.WriteLn(std::string(key) +
                    " is changed for this run but could not be saved: " + e.what());
  }
}

}  // namespace

void TZVSystemConsole::Load() {
  // Warnings of the log and the numbering may arise on any thread; they are
  // written on the main thread, after the first screen, in the order met.
  auto queue = std::make_shared<platform::MessageQueue>(Dispatcher());
  auto sink = [this, queue](const std::string& line) {
    queue->Post([this, line] { FConsole->WriteLn(line); });
  };
  FLog->SetWarningSink(sink);
  TXmlCarrier::SetWarningSink(sink);
  FNumbering = std::make_unique<TMsgNumbering>(std::string(kSection), std::string(kNumberingKey));
  FNumbering->SetWarningSink(sink);
  FNumbering->Load();
  LoadSettings(sink);
  try {
    FCarriers->LoadFromFile();
  } catch (const std::exception& e) {
    // The cache of the last connection's carriers; the server sends them again.
    sink(std::string("The carriers of the last connection were not loaded: ") + e.what());
  }
}

void TZVSystemConsole::LoadSettings(const std::function<void(const std::string&)>& report) {
  std::string warning;
  auto checked = [&](const auto& setting) {
    auto value = [&] {
      if constexpr (std::is_same_v<std::decay_t<decltype(setting)>, TIntSetting>) {
        return ReadCheckedInt(kSection, setting, warning);
      } else {
        return ReadCheckedText(kSection, setting, warning);
      }
    }();
    if (!warning.empty()) report(warning);
    return value;
  };
  FCommandMode =
      TDataAccess::ReadFromIni(kSection, "CmdMode", 1) == 0 ? TCmdMode::cmMsg : TCmdMode::cmSet;
  FServerAddress = TDataAccess::ReadFromIni(kSection, "ServerIP", "127.0.0.1");
  FServerPort = checked(kServerPort);
  FDefaultCarrier = checked(kCarrierId);
  FConnectionType = checked(kConnectionId);
  FDefaultPriority = checked(kMsgPriority);
  FDefaultAge = checked(kMsgAge);
  FDefaultSubject =
      UnescapeText(TDataAccess::ReadFromIni(kSection, "MsgSubject", "Zorvane Message"));
  // Written before every line read: a prompt from the file shows its controls.
  FCmdPrompt = VisibleText(checked(kCmdPrompt));
}

namespace {

// Puts what the file holds for the console's settings into the store, all but
// the message numbering, whose merge decides that value.
void KeepStoredSettings(const TIniStore& onDisk) {
  for (const TIniSection& section : onDisk.Sections()) {
    if (!SameTextAscii(section.Name, kSection)) continue;
    for (const std::string& line : section.Lines) {
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string_view key = std::string_view(line).substr(0, eq);
      if (SameTextAscii(key, kNumberingKey)) continue;
      TDataAccess::WriteToIni(kSection, key, std::string_view(line).substr(eq + 1));
    }
    return;  // the first section of the name is the one read
  }
}

}  // namespace

void TZVSystemConsole::UseRunSettings(const TRunSettings& run) {
  FRunOnly = true;
  if (FNumbering) {
    TDataAccess::ShareSaves([numbering = FNumbering.get()](const TIniStore& onDisk) {
      KeepStoredSettings(onDisk);
      numbering->Merge(onDisk);
    });
  }
  FConnectionType = run.ConnectionType.value_or(FConnectionType);
  FServerAddress = run.ServerIP.value_or(FServerAddress);
  FServerPort = run.ServerPort.value_or(FServerPort);
  FDefaultCarrier = run.Carrier.value_or(FDefaultCarrier);
  FDefaultPriority = run.Priority.value_or(FDefaultPriority);
  FDefaultAge = run.Age.value_or(FDefaultAge);
  FDefaultSubject = run.Subject.value_or(FDefaultSubject);
  FCmdPrompt = run.Prompt.value_or(FCmdPrompt);
}

// At exit: a failure is told, and the run still ends as it would have (the
// results of its messages are in; the operator's changes were saved when made).
void TZVSystemConsole::Save() {
  try {
    if (FNumbering) FNumbering->PrepareExitSave();
    if (FRunOnly) {
      FLog->StoreSettings();
      TDataAccess::SaveIni();
      return;
    }
    SaveSettings();
  } catch (const std::exception& e) {
    FConsole->WriteLn(std::string("The settings could not be saved: ") + e.what());
  }
}

void TZVSystemConsole::SaveSettings() {
  auto write = [](const auto& setting, const auto& value) {
    if (StoredValueValid(kSection, setting)) TDataAccess::WriteToIni(kSection, setting.Key, value);
  };
  TDataAccess::WriteToIni(kSection, "CmdMode", FCommandMode == TCmdMode::cmMsg ? 0 : 1);
  TDataAccess::WriteToIni(kSection, "ServerIP", FServerAddress);
  write(kServerPort, FServerPort);
  write(kCarrierId, FDefaultCarrier);
  write(kConnectionId, FConnectionType);
  write(kMsgPriority, FDefaultPriority);
  write(kMsgAge, FDefaultAge);
  TDataAccess::WriteToIni(kSection, "MsgSubject", EscapeText(FDefaultSubject));
  write(kCmdPrompt, std::string_view(FCmdPrompt));
  FLog->StoreSettings();
  TDataAccess::SaveIni();
}

int32_t TZVSystemConsole::NextMsgId() {
  if (!FNumbering) throw EZVException("No message number before the settings are loaded");
  return FNumbering->Next();
}

void TZVSystemConsole::SetStrSetting(std::string_view key, std::string& field,
                                     const std::string& value) {
  field = value;
  TDataAccess::WriteToIni(kSection, key, std::string_view(value));
  SaveChangedSetting(*FConsole, key);
}

void TZVSystemConsole::SetIntSetting(std::string_view key, int32_t& field, int32_t value) {
  field = value;
  TDataAccess::WriteToIni(kSection, key, value);
  SaveChangedSetting(*FConsole, key);
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
  std::string entry;
  std::string fault;
  while (true) {
    FConsole->ClearScreen();
    if (!fault.empty()) {
      FConsole->WriteLn(VisibleText("\"" + entry + "\" is not a valid email subject: it " + fault));
    }
    entry = FConsole->GetNewValue("Press <Enter>", "email subject", FDefaultSubject);
    // Stored, it would have every page refused: as typed now, and as it reads
    // back at the next start (unescaped).
    fault = FieldFault(entry);
    if (fault.empty()) fault = FieldFault(UnescapeText(entry));
    if (fault.empty()) break;
  }
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
    ConnectInfoEvent(kConnConnect,
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
