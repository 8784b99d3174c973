// TZVProtocol: the builder and parser of zVP text. Its command-text lookups and
// the check of protocol numbers need no object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/msg_global.h"

namespace zv {

// Protocol numbers: high four bits the major, low four bits the minor version.
inline constexpr int32_t kProtocolV11 = 17;  // zVP 1.1
inline constexpr int32_t kProtocolV12 = 18;  // zVP 1.2

class TZVProtocol {
 public:
  // The wire text of `cmd`; "TCP_ERROR" for a value outside the command table.
  static std::string TcpCmdToStr(TTcpCommand cmd);
  // The command whose wire text equals `cmdStr` in ASCII upper case; tcpInvalid
  // when none does. `cmdStr` is not trimmed.
  static TTcpCommand StrToTcpCmd(std::string_view cmdStr);
  // Only zVP 1.1 and 1.2 are spoken.
  static bool UsedInVersion(int32_t iPPV);
};

}  // namespace zv
