// The read-only information screens of TZVConsole: the status block, the lists
// of connection types, carriers and priorities with their "current"
// counterparts, and the help texts.
#include <cerrno>
#include <cstdio>
#include <memory>

#include "carriers/carriers_console.h"
#include "console/console.h"
#include "console/system_console.h"
#include "protocol/msg_global.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

// What the screens show for a default carrier that is not in the collection
// (as before the first carrier list has arrived).
constexpr const char* kUnknownCarrier = "Unknown";

std::string ConnectionRow(const TConConnection& c) {
  return "  " + PadRight(std::to_string(c.Id), 13) + PadRight(c.Name, 15) + PadRight(c.AType, 15);
}

std::string CarrierRow(const std::string& id, const std::string& name, const std::string& type,
                       const std::string& addressType) {
  return "  " + PadRight(id, 13) + PadRight(name, 19) + PadRight(type, 15) +
         PadRight(addressType, 15);
}

std::string PriorityText(int32_t priority) {
  return PriorityNames(priority) + "(" + std::to_string(priority) + ")";
}

// The help file's bytes as UTF-8 text: a byte-order mark selects UTF-8 or
// UTF-16; without one the file is in the 8-bit code page (Windows-1252).
std::string DecodeHelpText(const std::string& bytes) {
  auto starts = [&](std::string_view mark) { return bytes.compare(0, mark.size(), mark) == 0; };
  if (starts("\xEF\xBB\xBF")) return bytes.substr(3);
  const bool little = starts("\xFF\xFE");
  if (little || starts("\xFE\xFF")) return Utf16BytesToUtf8(bytes.substr(2), !little);
  return Windows1252ToUtf8(bytes);
}

std::string ReadWholeFile(const std::string& path) {
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) throw FileOpenError(path, errno != 0 ? errno : ENOENT);
  std::string bytes;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
  if (std::ferror(file.get())) throw FileOpenError(path, errno != 0 ? errno : EIO);
  return bytes;
}

}  // namespace

void TZVConsole::WriteRule(char c, int count) {
  WriteLn(std::string(static_cast<std::size_t>(count), c));
}

void TZVConsole::WriteConnectionHeader() {
  WriteLn(" " + PadRight("Id", 15) + PadRight("Name", 15) + PadRight("Type", 15));
  WriteRule('=', 44);
}

void TZVConsole::WriteCarrierHeader() {
  WriteLn(PadRight("Carrier Id", 15) + PadRight("Carrier Name", 19) + PadRight("Carrier Type", 15) +
          PadRight("Address Type", 15));
  WriteRule('=', 62);
}

void TZVConsole::DisplaySettings() {
  const TConConnection connection = ConnectionTypes(FOwner.ConnectionType());
  WriteLn("Status");
  WriteRule('-', 8);
  WriteLn("Connection: " + connection.Name + " (" + connection.AType + ")");
  if (FOwner.ConnectionType() == kConnectionRemote) {
    WriteLn("Server IP: " + FOwner.ServerIP() +
            "; Server Port: " + std::to_string(FOwner.ServerPort()));
  }
  WriteLn(std::string("Connected to the server: ") + (FOwner.IsConnected() ? "Yes" : "No"));
  const TZVCarrierConsole* carrier = FOwner.Carriers().FindObject(FOwner.DefaultCarrierId());
  WriteLn("Default Carrier: " + (carrier ? carrier->ObjectName() : std::string(kUnknownCarrier)) +
          " (" + std::to_string(FOwner.DefaultCarrierId()) + ")");
  WriteLn("Message Settings");
  WriteLn("Priority: " + PriorityText(FOwner.MsgPriority()) + "; Age Limit: " +
          std::to_string(FOwner.MsgAge()) + "; Email Subject: " + FOwner.MsgEmailSubject());
  WriteLn();
}

void TZVConsole::DisplayConnections() {
  WriteLn();
  WriteLn("Available Connections:");
  WriteConnectionHeader();
  for (int id = 1; id <= kConnectionTypeCount; ++id) WriteLn(ConnectionRow(ConnectionTypes(id)));
  WriteRule('-', 44);
  WriteLn();
}

void TZVConsole::DisplayCurrentConnection() {
  WriteLn();
  WriteLn("Current Connection:");
  WriteLn();
  WriteConnectionHeader();
  WriteLn(ConnectionRow(ConnectionTypes(FOwner.ConnectionType())));
  WriteRule('-', 44);
  if (FOwner.ConnectionType() == kConnectionRemote) {
    WriteLn("Server IP: " + FOwner.ServerIP());
    WriteLn("Server Port: " + std::to_string(FOwner.ServerPort()));
  }
  WriteLn();
}

void TZVConsole::DisplayCarriers() {
  WriteLn();
  WriteLn("Available Carriers:");
  WriteCarrierHeader();
  for (const TZVCarrierConsole& c : FOwner.Carriers()) {
    WriteLn(CarrierRow(c.ObjectIdStr(), c.ObjectName(), c.CarrierTypeStr(), c.AddressTypeStr()));
  }
  WriteRule('-', 62);
  WriteLn();
}

void TZVConsole::DisplayDefaultCarrier() {
  WriteLn();
  WriteLn("Current Default Carrier");
  WriteLn();
  WriteCarrierHeader();
  if (const TZVCarrierConsole* c = FOwner.Carriers().FindObject(FOwner.DefaultCarrierId())) {
    WriteLn(
        CarrierRow(c->ObjectIdStr(), c->ObjectName(), c->CarrierTypeStr(), c->AddressTypeStr()));
  } else {
    WriteLn(CarrierRow(std::to_string(FOwner.DefaultCarrierId()), kUnknownCarrier, "", ""));
  }
  WriteRule('-', 62);
  WriteLn();
}

void TZVConsole::DisplayMsgSettings() {
  WriteLn();
  WriteLn("Available Message Priorities:");
  WriteLn(PadRight("Priority Id", 15) + PadRight("Priority Name", 15));
  WriteRule('=', 29);
  for (int32_t i = kPriorityMin; i <= kPriorityMax; ++i) {
    WriteLn("  " + PadRight(std::to_string(i), 13) + PadRight(PriorityNames(i), 15));
  }
  WriteRule('-', 29);
  WriteLn();
}

void TZVConsole::DisplayCurrentMsgSettings() {
  WriteLn();
  WriteLn("Current Message Settings:");
  WriteLn();
  WriteLn("Priority: " + PriorityText(FOwner.MsgPriority()));
  WriteLn("Age Limit: " + std::to_string(FOwner.MsgAge()));
  WriteLn("Email Subject: " + FOwner.MsgEmailSubject());
  WriteLn();
}

void TZVConsole::DisplayHelp(std::string_view fileName) {
  const std::string path = AppFilePath("Help", fileName);
  const TStringList lines = SplitLines(DecodeHelpText(ReadWholeFile(path)));
  ClearScreen();
  for (const std::string& line : lines) WriteLn(line);
  WriteLn();
}

}  // namespace zv
