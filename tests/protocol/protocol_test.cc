#include "protocol/protocol.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(TcpCommandTextTest, EveryCommandReadsBackFromItsText) {
  for (int i = 0; i < kTcpCommandCount; ++i) {
    const auto cmd = static_cast<TTcpCommand>(i);
    EXPECT_EQ(TZVProtocol::StrToTcpCmd(TZVProtocol::TcpCmdToStr(cmd)), cmd) << i;
  }
  EXPECT_EQ(TZVProtocol::TcpCmdToStr(TTcpCommand::tcpDeleteObject), "OBJ_DEL");
  EXPECT_EQ(TZVProtocol::TcpCmdToStr(TTcpCommand::tcpSendMsgEsc), "SEND_ESCLT");
}

TEST(TcpCommandTextTest, LookupRules) {
  EXPECT_EQ(TZVProtocol::StrToTcpCmd("msg_send"), TTcpCommand::tcpSendMsg);
  EXPECT_EQ(TZVProtocol::StrToTcpCmd("Login"), TTcpCommand::tcpLogin);
  EXPECT_EQ(TZVProtocol::StrToTcpCmd(" LOGIN"), TTcpCommand::tcpInvalid);  // not trimmed
  EXPECT_EQ(TZVProtocol::StrToTcpCmd("TCP_ERROR"), TTcpCommand::tcpInvalid);
  EXPECT_EQ(TZVProtocol::StrToTcpCmd(""), TTcpCommand::tcpInvalid);
  EXPECT_EQ(TZVProtocol::StrToTcpCmd("LOADX"), TTcpCommand::tcpInvalid);
  // A command number read off the wire may name no command.
  EXPECT_EQ(TZVProtocol::TcpCmdToStr(static_cast<TTcpCommand>(11)), "TCP_ERROR");
  EXPECT_EQ(TZVProtocol::TcpCmdToStr(static_cast<TTcpCommand>(255)), "TCP_ERROR");
}

TEST(ProtocolVersionTest, OnlySeventeenAndEighteen) {
  EXPECT_TRUE(TZVProtocol::UsedInVersion(17));
  EXPECT_TRUE(TZVProtocol::UsedInVersion(18));
  for (int v : {0, 16, 19, 0x111, 0x112, -17}) EXPECT_FALSE(TZVProtocol::UsedInVersion(v)) << v;
}

}  // namespace
}  // namespace zv
