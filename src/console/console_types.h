// Small types shared by the console's files.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/msg_global.h"

namespace zv {

// The console's link state.
enum class TZVState { ipsStopped, ipsRunning };

// The mode of a typed line: a message to send, or a command.
enum class TCmdMode { cmMsg, cmSet };

// Which list a value prompt offers.
enum class TZVDisplayType { dtpConnection, dtpCarrier, dtpMsg };

// One connection type of the console.
struct TConConnection {
  int32_t Id = 0;
  std::string Name;
  std::string AType;
};

// The connection type `id` (1 or 2). Any other stored value gives a record
// named "Unknown" with that id, so screens never read outside the table.
TConConnection ConnectionTypes(int32_t id);
constexpr int kConnectionTypeCount = 2;

}  // namespace zv
