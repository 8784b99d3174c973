// The read-only information screens of TZVConsole: the status block, the lists
// of connection types, carriers and priorities with their "current"
// counterparts, and the help texts.
#include <algorithm>
#include <string>
#include <vector>

#include "carriers/carriers_console.h"
#include "console/console.h"
#include "console/system_console.h"
#include "platform/file_read.h"
#include "protocol/msg_global.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

// What the screens show for a default carrier that is not in the collection
// (as before the first carrier list has arrived).
constexpr const char* kUnknownCarrier = "Unknown";
// A help file larger than this is not read.
constexpr std::size_t kMaxHelpFileBytes = 1024 * 1024;

std::string ConnectionRow(const TConConnection& c) {
  return "  " + PadRight(std::to_string(c.Id), 13) + PadRight(c.Name, 15) + PadRight(c.AType, 15);
}

// The carrier's texts come from the server or the carrier setup file. A text
// too long for its column goes on in the same column on the next lines, so
// each column stays under its header with a blank before the next one; the
// last column has no neighbour to run into and stays whole.
std::vector<std::string> CarrierRow(const std::string& id, const std::string& name,
                                    const std::string& type, const std::string& addressType) {
  struct TColumn {
    std::vector<std::string> Lines;
    std::size_t Width;
  };
  const TColumn columns[] = {{WrapToWidth(id, 12), 13},
                             {WrapToWidth(VisibleText(name), 18), 19},
                             {WrapToWidth(VisibleText(type), 14), 15},
                             {{VisibleText(addressType)}, 15}};
  std::size_t height = 0;
  for (const TColumn& column : columns) height = std::max(height, column.Lines.size());
  std::vector<std::string> rows;
  for (std::size_t line = 0; line < height; ++line) {
    std::string row = "  ";
    for (const TColumn& column : columns) {
      row += PadRight(line < column.Lines.size() ? column.Lines[line] : "", column.Width);
    }
    // A continuation line ends where its text does.
    if (line > 0) row.erase(row.find_last_not_of(' ') + 1);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string PriorityText(int32_t priority) {
  return PriorityNames(priority) + "(" + std::to_string(priority) + ")";
}

// The help file's bytes as UTF-8 text: a byte-order mark selects UTF-8 or
// UTF-16; without one the file is in the 8-bit code page (Windows-1252).
std::string DecodeHelpText(const std::string& bytes) {
  auto starts = [&](std::string_view mark) { return bytes.compare(0, mark.size(), mark) == 0; };
  if (starts(kUtf8Bom)) return bytes.substr(kUtf8Bom.size());
  const bool little = starts("\xFF\xFE");
  if (little || starts("\xFE\xFF")) return Utf16BytesToUtf8(bytes.substr(2), !little);
  return Windows1252ToUtf8(bytes);
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
    WriteLn("Server IP: " + VisibleText(FOwner.ServerIP()) +
            "; Server Port: " + std::to_string(FOwner.ServerPort()));
  }
  WriteLn(std::string("Connected to the server: ") + (FOwner.IsConnected() ? "Yes" : "No"));
  const TZVCarrierConsole* carrier = FOwner.Carriers().FindObject(FOwner.DefaultCarrierId());
  WriteLn("Default Carrier: " +
          (carrier ? VisibleText(carrier->ObjectName()) : std::string(kUnknownCarrier)) + " (" +
          std::to_string(FOwner.DefaultCarrierId()) + ")");
  WriteLn("Message Settings");
  WriteLn("Priority: " + PriorityText(FOwner.MsgPriority()) +
          "; Age Limit: " + std::to_string(FOwner.MsgAge()) +
          "; Email Subject: " + VisibleText(FOwner.MsgEmailSubject()));
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
    WriteLn("Server IP: " + VisibleText(FOwner.ServerIP()));
    WriteLn("Server Port: " + std::to_string(FOwner.ServerPort()));
  }
  WriteLn();
}

void TZVConsole::DisplayCarriers() {
  WriteLn();
  WriteLn("Available Carriers:");
  WriteCarrierHeader();
  for (const TZVCarrierConsole& c : FOwner.Carriers()) {
    for (const std::string& row :
         CarrierRow(c.ObjectIdStr(), c.ObjectName(), c.CarrierTypeStr(), c.AddressTypeStr())) {
      WriteLn(row);
    }
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
    for (const std::string& row :
         CarrierRow(c->ObjectIdStr(), c->ObjectName(), c->CarrierTypeStr(), c->AddressTypeStr())) {
      WriteLn(row);
    }
  } else {
    WriteLn(CarrierRow(std::to_string(FOwner.DefaultCarrierId()), kUnknownCarrier, "", "")[0]);
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
  WriteLn("Email Subject: " + VisibleText(FOwner.MsgEmailSubject()));
  WriteLn();
}

void TZVConsole::DisplayHelp(std::string_view fileName) {
  const std::string path = AppFilePath("Help", fileName);
  const platform::FileContents file = platform::ReadWholeFile(path, kMaxHelpFileBytes);
  if (file.Error != 0) throw FileOpenError(path, file.Error);
  const TStringList lines = SplitLines(DecodeHelpText(file.Bytes));
  ClearScreen();
  // A help file is not the program's own text: it may be edited by anyone.
  for (const std::string& line : lines) WriteLn(VisibleText(line));
  WriteLn();
}

}  // namespace zv
