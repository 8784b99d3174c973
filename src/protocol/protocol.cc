#include "protocol/protocol.h"

#include <array>

#include "support/text.h"

namespace zv {
namespace {

constexpr std::array<std::string_view, kTcpCommandCount> kTcpCommandTexts = {
    "TCP_ERROR", "CONNECT",   "LOGIN",    "LOAD",     "OBJ_NEW",   "OBJ_SAVE",
    "OBJ_DEL",   "QUERY_RUN", "ACC_CHNG", "MSG_SEND", "SEND_ESCLT"};

}  // namespace

std::string TZVProtocol::TcpCmdToStr(TTcpCommand cmd) {
  const auto index = static_cast<std::size_t>(cmd);
  return std::string(index < kTcpCommandTexts.size() ? kTcpCommandTexts[index]
                                                     : kTcpCommandTexts[0]);
}

TTcpCommand TZVProtocol::StrToTcpCmd(std::string_view cmdStr) {
  const std::string upper = UpperCaseAscii(cmdStr);
  for (std::size_t i = 0; i < kTcpCommandTexts.size(); ++i) {
    if (upper == kTcpCommandTexts[i]) return static_cast<TTcpCommand>(i);
  }
  return TTcpCommand::tcpInvalid;
}

bool TZVProtocol::UsedInVersion(int32_t iPPV) {
  return iPPV == kProtocolV11 || iPPV == kProtocolV12;
}

}  // namespace zv
