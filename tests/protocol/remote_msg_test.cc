#include "protocol/remote_msg.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(RemoteMsgTest, NewRecordHoldsItsStartValues) {
  const TDateTime before = TDateTime::Now();
  const TZVRemoteMsg msg("acc", "10.0.0.1", 42);
  EXPECT_EQ(msg.AccountId(), "acc");
  EXPECT_EQ(msg.AccountIP(), "10.0.0.1");
  EXPECT_EQ(msg.TransactionId(), 42);
  EXPECT_EQ(msg.Priority(), 4);
  EXPECT_EQ(msg.AgeLimit(), 120);
  EXPECT_EQ(msg.FieldDelimit(), ",");
  EXPECT_EQ(msg.ContactName(), "N/A");
  EXPECT_EQ(msg.TcpCommand(), TTcpCommand::tcpInvalid);
  EXPECT_EQ(msg.TcpCommandStr(), "TCP_ERROR");
  EXPECT_TRUE(msg.DateSent().IsZero());
  EXPECT_FALSE(msg.DateReceived().IsZero());
  EXPECT_GE(msg.DateReceived().Year, before.Year);
  EXPECT_EQ(msg.AddressType(), TZVAddressType::atUnknown);
  EXPECT_EQ(msg.AddressTypeStr(), "unknown");
}

TEST(RemoteMsgTest, CommandAndItsTextAreSetSeparately) {
  TZVRemoteMsg msg("a", "b", 1);
  msg.SetTcpCommandStr("CUSTOM");
  msg.SetTcpCommand(TTcpCommand::tcpInvalid);  // unchanged command: the text stays
  EXPECT_EQ(msg.TcpCommandStr(), "CUSTOM");

  msg.SetTcpCommand(TTcpCommand::tcpLogin);
  EXPECT_EQ(msg.TcpCommandStr(), "LOGIN");

  msg.SetTcpCommandStr("anything");
  EXPECT_EQ(msg.TcpCommand(), TTcpCommand::tcpLogin);
  EXPECT_EQ(msg.TcpCommandStr(), "anything");
}

TEST(RemoteMsgTest, CopyFromKeepsTheTargetsIdentity) {
  TZVRemoteMsg src("srcAcc", "1.1.1.1", 7);
  src.SetProtocol(18);
  src.SetMsgResult(3);
  src.SetMsgAddress("555");
  src.SetPriority(1);
  src.SetAgeLimit(5);
  src.SetAddressType(TZVAddressType::atPager);
  src.SetDateReceived(TDateTime{2025, 12, 8, 10, 15, 2, 0});
  src.SetDateSent(TDateTime{2025, 12, 8, 10, 15, 3, 0});
  src.SetTcpCommand(TTcpCommand::tcpSendMsg);
  src.SetTcpCommandStr("MSG_SEND ");
  src.SetMsg("body");
  src.SetResultMsg("sent");
  src.SetTcpMsg("raw");
  src.SetFieldDelimit(";");
  src.SetContactName("Bob");
  src.SetTcpDataSize(99);

  TZVRemoteMsg dst("dstAcc", "2.2.2.2", 9);
  dst.SetTcpDataSize(12);
  dst.CopyFrom(src);

  EXPECT_EQ(dst.TransactionId(), 9);
  EXPECT_EQ(dst.AccountId(), "dstAcc");
  EXPECT_EQ(dst.AccountIP(), "2.2.2.2");
  EXPECT_EQ(dst.TcpDataSize(), 12);

  EXPECT_EQ(dst.Protocol(), 18);
  EXPECT_EQ(dst.MsgResult(), 3);
  EXPECT_EQ(dst.MsgAddress(), "555");
  EXPECT_EQ(dst.Priority(), 1);
  EXPECT_EQ(dst.AgeLimit(), 5);
  EXPECT_EQ(dst.AddressType(), TZVAddressType::atPager);
  EXPECT_EQ(dst.DateReceived(), src.DateReceived());
  EXPECT_EQ(dst.DateSent(), src.DateSent());
  EXPECT_EQ(dst.TcpCommand(), TTcpCommand::tcpSendMsg);
  EXPECT_EQ(dst.TcpCommandStr(), "MSG_SEND ");
  EXPECT_EQ(dst.Msg(), "body");
  EXPECT_EQ(dst.ResultMsg(), "sent");
  EXPECT_EQ(dst.TcpMsg(), "raw");
  EXPECT_EQ(dst.FieldDelimit(), ";");
  EXPECT_EQ(dst.ContactName(), "Bob");
}

}  // namespace
}  // namespace zv
