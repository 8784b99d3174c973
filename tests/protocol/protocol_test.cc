#include "protocol/protocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "protocol/frame_writer.h"
#include "support/exceptions.h"

namespace zv {
namespace {

class TFakeSession : public TZVProtocolSession {
 public:
  int32_t NextMsgId() override { return ++LastId; }
  int32_t SessionProtocol() const override { return Protocol; }

  int32_t LastId = 41;
  int32_t Protocol = kProtocolV12;
};

auto Fields(const TDateTime& t) {
  return std::tie(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
}

// Read as "now": not before `before` and not after the clock after the read.
void ExpectNow(const TDateTime& value, const TDateTime& before) {
  const TDateTime after = TDateTime::Now();
  EXPECT_LE(Fields(before), Fields(value));
  EXPECT_LE(Fields(value), Fields(after));
}

// A received text in protocol 18, field by field.
struct TTextParts {
  std::string Version = "12";
  std::string Command = "     LOGIN";
  std::string Result = "02";
  std::string Id = "0000002A";
  std::string Delimiter = ",";
  std::string Received = "7E830F0E0509";
  std::string Sent = "76BC1E000000";
  std::string Account = "TerminalAgent";
  std::string Body = "Login Accepted";

  std::string Text() const {
    return Version + Command + Result + Id + Delimiter + Received + "\x1F" + Sent + "\x1D" +
           Account + "\x02" + Body;
  }
};

const TZVProtocol kProtocol;

struct TBuilderCase {
  const char* Name;
  std::function<std::unique_ptr<TZVRemoteMsg>(TFakeSession&)> Build;
  TTcpCommand Command;
  int32_t Result;
  int32_t Id;
  int32_t Protocol;
  std::string Body;
};

// What a request and its reading back have in common.
void ExpectRequest(const TZVRemoteMsg& msg, const TBuilderCase& c) {
  EXPECT_EQ(msg.TcpCommand(), c.Command);
  EXPECT_EQ(msg.TcpCommandStr(), TZVProtocol::TcpCmdToStr(c.Command));
  EXPECT_EQ(msg.MsgResult(), c.Result);
  EXPECT_EQ(msg.TransactionId(), c.Id);
  EXPECT_EQ(msg.Protocol(), c.Protocol);
  EXPECT_EQ(msg.AccountId(), "TerminalAgent");
  EXPECT_EQ(msg.Msg(), c.Body);
  EXPECT_EQ(msg.FieldDelimit(), ",");
  EXPECT_TRUE(msg.DateSent().IsZero());
}

TEST(ProtocolBuildTest, EveryBuilderWritesItsRequestAndReadsBack) {
  const std::string acc = "TerminalAgent", ip = "192.168.1.7";
  const std::string text =
      "Gr\u00FC\u00DFe \"\u65E5\u672C\"\x03"
      "7,2,555";
  using S = TFakeSession;
  const TBuilderCase cases[] = {
      {"login", [&](S& s) { return kProtocol.CreateLoginMsg(s, acc, "C0FFEE", ip, 2); },
       TTcpCommand::tcpLogin, 0, 42, 18, "TerminalAgent,C0FFEE,2"},
      {"load",
       [&](S& s) { return kProtocol.CreateLoadMsg(s, acc, ip, TZVLoadResult::sorCarrierSum); },
       TTcpCommand::tcpLoad, 18, 42, 18, "Loading carrier objects from Zorvane Server"},
      {"send",
       [&](S&) {
         return kProtocol.CreateSendMsg(acc, ip, {text, "b,c"}, 17);
       },
       TTcpCommand::tcpSendMsg, 0, 0, 17, text + "\x1E" + "b,c"},
      {"quit", [&](S& s) { return kProtocol.CreateQuitMsg(s, acc, ip, 17); },
       TTcpCommand::tcpConnect, kConnRequesting, 42, 17, ""},
      {"connect",
       [&](S& s) { return kProtocol.CreateConnectMsg(s, acc, ip, "10.0.0.5", 6022, false); },
       TTcpCommand::tcpConnect, kConnConnect, 42, 18,
       "Connecting to Zorvane Server on 10.0.0.5:6022"},
      {"reconnect",
       [&](S& s) { return kProtocol.CreateConnectMsg(s, acc, ip, "10.0.0.5", 6022, true); },
       TTcpCommand::tcpConnect, kConnConnect, 42, 18, "Trying to reconnect to 10.0.0.5:6022"},
      {"logout", [&](S& s) { return kProtocol.CreateLogoutMsg(s, acc, ip); },
       TTcpCommand::tcpConnect, kConnUserDisconnects, 42, 18,
       "Account \"TerminalAgent\" logging out from Zorvane Server"},
      {"ready", [&](S& s) { return kProtocol.CreateReadyMsg(s, acc, ip); }, TTcpCommand::tcpConnect,
       kConnClientReady, 42, 18, "Client \"TerminalAgent\" on 192.168.1.7 ready to communicate."},
      {"delete all", [&](S& s) { return kProtocol.CreateDeleteAllMsg(s, acc, ip); },
       TTcpCommand::tcpDeleteObject, 33, 42, 18, "0"},
      {"delete old", [&](S& s) { return kProtocol.CreateDeleteOldMsg(s, acc, ip, 30); },
       TTcpCommand::tcpDeleteObject, 33, 42, 18, "1,30"},
      {"delete one", [&](S& s) { return kProtocol.CreateDeleteOneMsg(s, acc, ip, 77); },
       TTcpCommand::tcpDeleteObject, 33, 42, 18, "2,77"},
  };
  for (const TBuilderCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeSession session;
    const auto msg = c.Build(session);
    EXPECT_EQ(session.LastId, c.Id == 0 ? 41 : c.Id);  // one number per request, none for a send
    ExpectRequest(*msg, c);
    EXPECT_EQ(msg->AccountIP(), ip);
    EXPECT_EQ(msg->TcpMsg(), kProtocol.CreateTcpMsg(*msg));

    const auto back = kProtocol.CreateMsgFromTcp(msg->TcpMsg(), "10.9.9.9");
    ExpectRequest(*back, c);
    EXPECT_EQ(back->AccountIP(), "10.9.9.9");
    EXPECT_EQ(back->TcpMsg(), msg->TcpMsg());
    EXPECT_EQ(Fields(back->DateReceived()), Fields(msg->DateReceived()));
  }
}

TEST(ProtocolBuildTest, BaseMessagesLeaveProtocolAndTextToTheCaller) {
  TFakeSession session;
  const auto numbered = kProtocol.CreateBaseMsg(session, "acc", "ip", TTcpCommand::tcpLoad);
  const auto given = kProtocol.CreateBaseMsg("acc", "ip", TTcpCommand::tcpLoad, -5);
  EXPECT_EQ(numbered->TransactionId(), 42);
  EXPECT_EQ(given->TransactionId(), -5);
  for (const auto* msg : {numbered.get(), given.get()}) {
    EXPECT_EQ(msg->TcpCommandStr(), "LOAD");
    EXPECT_EQ(msg->Protocol(), 0);
    EXPECT_EQ(msg->TcpMsg(), "");
  }
}

TEST(ProtocolBuildTest, NoHeaderOutsideTheSpokenProtocols) {
  TFakeSession session;
  session.Protocol = 16;
  const auto login = kProtocol.CreateLoginMsg(session, "acc", "pw", "ip", 2);
  EXPECT_EQ(login->Msg(), "");
  EXPECT_EQ(login->TcpMsg(), "\x02");
  EXPECT_EQ(kProtocol.CreateSendMsg("acc", "ip", {"Hi"}, 19)->TcpMsg(), "\x02Hi");
}

TEST(ProtocolBuildTest, HeaderFieldsKeepTheirPlaces) {
  auto msg = kProtocol.CreateBaseMsg("acc", "ip", TTcpCommand::tcpLogin, 42);
  msg->SetProtocol(kProtocolV12);
  std::string text = kProtocol.CreateTcpMsg(*msg);
  EXPECT_EQ(text.substr(0, 22), "12     LOGIN000000002A");
  EXPECT_EQ(text.substr(36, 12), "76BC1E000000");  // the zero date as date sent

  msg->SetTcpCommand(TTcpCommand::tcpSendMsgEsc);
  msg->SetTransactionId(-1);
  msg->SetMsgResult(0x1FF);  // only the low byte fits the field
  text = kProtocol.CreateTcpMsg(*msg);
  EXPECT_EQ(text.substr(0, 22),
            "12SEND_ESCLT"
            "FF"
            "FFFFFFFF");
  EXPECT_EQ(kProtocol.CreateMsgFromTcp(text, "")->TransactionId(), -1);

  // Positions count characters, not bytes: a two-byte delimiter still leaves
  // the dates where the reader looks for them.
  msg->SetFieldDelimit("§;");
  msg->SetDateReceived(TDateTime{2024, 3, 15, 14, 5, 9, 0});
  const auto back = kProtocol.CreateMsgFromTcp(kProtocol.CreateTcpMsg(*msg), "");
  EXPECT_EQ(back->FieldDelimit(), "§");
  EXPECT_EQ(back->DateReceived(), msg->DateReceived());

  // A separator as delimiter (a received record may hold one) would move the
  // account id: the field gets the default instead.
  for (const char* separator : {"\x02", "\x1D", "\x1F"}) {
    msg->SetFieldDelimit(separator);
    msg->SetAccountId("acc");
    EXPECT_EQ(kProtocol.CreateTcpMsg(*msg).substr(22, 1), ",") << DebugText(separator);
    EXPECT_EQ(kProtocol.CreateMsgFromTcp(kProtocol.CreateTcpMsg(*msg), "")->AccountId(), "acc");
  }

  msg->SetFieldDelimit("");
  msg->SetTcpCommandStr("SEND_ESCLT_LONG");
  EXPECT_EQ(kProtocol.CreateTcpMsg(*msg).substr(2, 21), "SEND_ESCLTFFFFFFFFFF,");
}

TEST(ProtocolBuildTest, CarrierLoadExampleByteForByte) {
  TFakeSession session;
  session.LastId = 6;
  auto msg =
      kProtocol.CreateLoadMsg(session, "TerminalAgent", "10.0.0.2", TZVLoadResult::sorCarrierSum);
  msg->SetDateReceived(TDateTime{2024, 3, 15, 14, 5, 9, 0});
  const std::string text = kProtocol.CreateTcpMsg(*msg);
  const std::string expected =
      "12      LOAD1200000007,7E830F0E0509\x1F"
      "76BC1E000000\x1DTerminalAgent\x02"
      "Loading carrier objects from Zorvane Server";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(text.size(), 106u);
  EXPECT_EQ(BuildFrame(text), std::string("\x00\x6A", 2) + expected);
}

TEST(ProtocolParseTest, EveryFailureInCheckOrder) {
  const std::string prefix = "zVP protocol error\r\n";
  const std::string valid = TTextParts{}.Text();
  std::string noDate = valid, noClient = valid, noHeader = valid;
  noDate.erase(noDate.find('\x1F'), 1);
  noClient.erase(noClient.find('\x1D'), 1);
  noHeader.erase(noHeader.find('\x02'), 1);
  struct TCase {
    std::string Text;
    const char* Class;
    std::string Message;
  } cases[] = {
      {"", "EConversionError", "Cannot convert an empty hex string to integer"},
      {TTextParts{.Version = "Z1"}.Text(), "EConversionError",
       "'$Z1' is not a valid integer value"},
      {valid.substr(0, 23), "EZVTcpConnection",
       prefix + "Message header is corrupted. Required data are missing."},
      {"1", "EZVTcpConnection", prefix + "Message header is corrupted. Required data are missing."},
      {noDate, "EZVTcpConnection",
       prefix + "Message header is corrupted. A date separator (0x1F) is missing."},
      {noClient, "EZVTcpConnection",
       prefix + "Message header is corrupted. A client data separator (0x1D) is missing."},
      {noHeader, "EZVTcpConnection",
       prefix + "Message header is corrupted. A header separator (0x02) is missing."},
      {TTextParts{.Account = ""}.Text(), "EZVTcpConnection",
       prefix + "An account id is invalid or missing"},
      {TTextParts{.Sent = "\x02"
                          "6BC1E000000",
                  .Account = "acc"}
           .Text(),
       "EZVTcpConnection", prefix + "An account id is invalid or missing"},  // 0x02 before 0x1D
      {TTextParts{.Id = "0000002G"}.Text(), "EZVTcpConnection",
       prefix + "Message id is corrupted or missing"},
      {TTextParts{.Id = "-000002A"}.Text(), "EZVTcpConnection",
       prefix + "Message id is corrupted or missing"},
      {TTextParts{.Result = "0G"}.Text(), "EConversionError", "'$0G' is not a valid integer value"},
      {TTextParts{.Received = "7E8D0F0E0509"}.Text(), "EZVTcpConnection",
       prefix + "Error in date/time format: Invalid date or time value"},
      {TTextParts{.Sent = "7E8X0F0E0509"}.Text(), "EZVTcpConnection",
       prefix + "Error in date/time format: '$X' is not a valid integer value"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    try {
      kProtocol.CreateMsgFromTcp(c.Text, "ip");
      ADD_FAILURE() << "parsed";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.Class);
      EXPECT_EQ(e.what(), c.Message);
    }
  }
}

TEST(ProtocolParseTest, ReadingRules) {
  const TDateTime before = TDateTime::Now();
  // Any protocol digits read as a spoken protocol.
  for (const auto& [digits, version] : std::vector<std::pair<std::string, int32_t>>{
           {"00", 17}, {"10", 17}, {"11", 17}, {"12", 18}, {"13", 18}, {"ff", 18}}) {
    EXPECT_EQ(kProtocol.CreateMsgFromTcp(TTextParts{.Version = digits}.Text(), "")->Protocol(),
              version)
        << digits;
  }
  // A zero date field is "now"; the zero date's own digits are not.
  for (const char* zero : {"000000000000", "            ", ""}) {
    const auto msg =
        kProtocol.CreateMsgFromTcp(TTextParts{.Received = zero, .Sent = zero}.Text(), "");
    ExpectNow(msg->DateReceived(), before);
    ExpectNow(msg->DateSent(), before);
  }
  const auto dated = kProtocol.CreateMsgFromTcp(TTextParts{.Received = "76BC1E000000"}.Text(), "");
  EXPECT_TRUE(dated->DateReceived().IsZero());

  auto msg = kProtocol.CreateMsgFromTcp(TTextParts{.Command = "  msg_send", .Body = ""}.Text(), "");
  EXPECT_EQ(msg->TcpCommand(), TTcpCommand::tcpSendMsg);
  EXPECT_EQ(msg->MsgResult(), 2);
  EXPECT_EQ(msg->Msg(), "");

  msg = kProtocol.CreateMsgFromTcp(TTextParts{.Command = "   UNKNOWN"}.Text(), "");
  EXPECT_EQ(msg->TcpCommand(), TTcpCommand::tcpInvalid);
  EXPECT_EQ(msg->TcpCommandStr(), "TCP_ERROR");

  // The body runs from the first 0x02 to the end, separators included.
  msg = kProtocol.CreateMsgFromTcp(TTextParts{.Body = "a\x02"
                                                      "b\x1D"}
                                       .Text(),
                                   "");
  EXPECT_EQ(msg->Msg(),
            "a\x02"
            "b\x1D");
}

TEST(ProtocolParseTest, SeparatorsAreFoundWhereverTheyAre) {
  // 24 characters holding all three separators pass the header check; the
  // fields are then taken around the separators, not at fixed places.
  const std::string text = std::string(
                               "12\x1F\x1D"
                               "a\x02") +
                           "LOGIN " + "00" + "0000002A" + ",X";
  ASSERT_EQ(text.size(), 24u);
  const auto msg = kProtocol.CreateMsgFromTcp(text, "");
  EXPECT_EQ(msg->AccountId(), "a");
  EXPECT_EQ(msg->TransactionId(), 42);
  EXPECT_EQ(msg->TcpCommand(), TTcpCommand::tcpInvalid);
  EXPECT_EQ(msg->Msg(), "LOGIN 000000002A,X");
}

TEST(ProtocolParseTest, MalformedUtf8BecomesReplacementCharacters) {
  const auto msg = kProtocol.CreateMsgFromTcp(TTextParts{.Body = "ok\xFF\xC3"}.Text(), "");
  EXPECT_EQ(msg->Msg(), "ok\uFFFD\uFFFD");
  EXPECT_EQ(msg->TcpMsg(), TTextParts{.Body = "ok\uFFFD\uFFFD"}.Text());
}

TEST(ProtocolVersionTest, Versions) {
  EXPECT_TRUE(TZVProtocol::UsedInVersion(17));
  EXPECT_TRUE(TZVProtocol::UsedInVersion(18));
  for (int v : {0, 16, 19, 0x111, 0x112, -17}) EXPECT_FALSE(TZVProtocol::UsedInVersion(v)) << v;

  EXPECT_EQ(TZVProtocol::VersionToStr(17), "zVP 1.1");
  EXPECT_EQ(TZVProtocol::VersionToStr(18), "zVP 1.2");
  std::string error = "stale";
  EXPECT_TRUE(TZVProtocol::CheckVersion(18, error));
  EXPECT_EQ(error, "");
  EXPECT_FALSE(TZVProtocol::CheckVersion(19, error));
  EXPECT_EQ(error, "zVP protocol error. The server cannot handle \"zVP 1.3\" protocol.");

  std::vector<TZVVersionItem> items{{"old", 1}};
  TZVProtocol::GetStrings(items);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Text, "zVP 1.1");
  EXPECT_EQ(items[0].Version, 17);
  EXPECT_EQ(items[1].Text, "zVP 1.2");
  EXPECT_EQ(items[1].Version, 18);

  for (const auto& [v, normal] : std::vector<std::pair<int32_t, int32_t>>{
           {-1, 17}, {0, 17}, {17, 17}, {18, 18}, {19, 18}, {255, 18}}) {
    EXPECT_EQ(TZVProtocol::NormalizeVersion(v), normal) << v;
  }
  EXPECT_EQ(kProtocol.SetVersion("11rest", 200), "12rest");
  EXPECT_EQ(kProtocol.SetVersion("1", 5), "11");
  EXPECT_EQ(kProtocol.ReadVersion("0Frest"), 17);
}

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

}  // namespace
}  // namespace zv
