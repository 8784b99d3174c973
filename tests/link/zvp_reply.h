// A server's reply as it goes on the wire, for the link's tests.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/frame_writer.h"
#include "protocol/protocol.h"
#include "protocol/remote_msg.h"

namespace zv::testing {

inline std::string ZvpReply(TTcpCommand cmd, int32_t result, const std::string& body,
                            int32_t id = 0) {
  TZVRemoteMsg msg("TerminalAgent", "127.0.0.1", id);
  msg.SetTcpCommand(cmd);
  msg.SetMsgResult(result);
  msg.SetProtocol(18);
  msg.SetMsg(body);
  return BuildFrame(TZVProtocol().CreateTcpMsg(msg));
}

}  // namespace zv::testing
