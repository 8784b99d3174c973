#include "link/link_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/fake_link_context.h"
#include "link/zvp_reply.h"
#include "protocol/msg_global.h"

namespace zv::testing {
namespace {

using Kind = TLinkRecord::TKind;

// A record as one line: its kind and what the main thread would act on.
std::string Show(const TLinkRecord& r) {
  switch (r.Kind) {
    case Kind::lrInfo:
      return "info " + std::to_string(static_cast<int>(r.Info.TcpCmd)) + " " +
             std::to_string(r.Info.CmdResult) + (r.Success ? " ok " : " failed ") + r.Info.Msg;
    case Kind::lrMsgResult:
      return "result " + std::to_string(r.Result->TransactionId()) + " " + r.Result->ResultMsg() +
             "|" + r.Result->MsgAddress() + "|" + r.Result->Msg() + "|" + r.Result->ContactName();
    case Kind::lrCarriers:
      return "carriers " + std::to_string(r.Carriers->Count());
    case Kind::lrLog:
      return "log " + r.Caption;
    case Kind::lrLost:
      return "lost";
  }
  return "?";
}

// Feeds `stream` in pieces of `piece` bytes (0: all at once), taking every
// record as soon as one is there, as the client thread does.
std::vector<std::string> Records(FakeLinkContext& context, const std::string& stream,
                                 std::size_t piece = 0) {
  TZVLinkSession session(context.TcpProtocol(), context, "10.0.0.9");
  std::vector<std::string> shown;
  const std::size_t step = piece == 0 ? stream.size() : piece;
  for (std::size_t at = 0; at < stream.size(); at += step) {
    session.Append(stream.data() + at, std::min(step, stream.size() - at));
    while (auto record = session.Next()) shown.push_back(Show(*record));
  }
  EXPECT_FALSE(session.HasRecord());
  return shown;
}

constexpr int kConnect = static_cast<int>(TTcpCommand::tcpConnect);
constexpr int kLogin = static_cast<int>(TTcpCommand::tcpLogin);
constexpr int kLoad = static_cast<int>(TTcpCommand::tcpLoad);

TEST(LinkSessionTest, FramesBecomeRecordsInOrderWhateverThePieces) {
  struct Case {
    const char* what;
    std::string stream;
    std::vector<std::string> records;
  };
  const std::string carriers =
      "1,Pager,1,TAP,1,pager id,80,\x1E"
      "2,SMS,2,GSM,2,mobile number,160,";
  const Case cases[] = {
      {"connect codes: 2, 5 and 12 are success",
       ZvpReply(TTcpCommand::tcpConnect, kConnConnected, "hello") +
           ZvpReply(TTcpCommand::tcpConnect, kConnClientReady, "ready") +
           ZvpReply(TTcpCommand::tcpConnect, kConnExcess, "too many"),
       {"info " + std::to_string(kConnect) + " 2 ok hello",
        "info " + std::to_string(kConnect) + " 12 ok ready",
        "info " + std::to_string(kConnect) + " 6 failed too many"}},
      {"a login request",
       ZvpReply(TTcpCommand::tcpLogin, 1, "log in"),
       {"info " + std::to_string(kLogin) + " 1 ok log in"}},
      {"a carrier list swaps in before its load notice, then the log item",
       ZvpReply(TTcpCommand::tcpLoad, 19, carriers),
       {"carriers 2",
        "info " + std::to_string(kLoad) +
            " 19 ok Carrier objects successfully loaded from Zorvane Server",
        "log Loading carrier objects"}},
      {"a refused load carries the server's reason, or a text of its own",
       ZvpReply(TTcpCommand::tcpLoad, 20, "no carriers today") +
           ZvpReply(TTcpCommand::tcpLoad, 20, ""),
       {"info " + std::to_string(kLoad) + " 20 failed no carriers today",
        "log Loading carrier objects",
        "info " + std::to_string(kLoad) +
            " 20 failed Error loading carrier objects from Zorvane Server",
        "log Loading carrier objects"}},
      {"send results split into result text and fields",
       ZvpReply(TTcpCommand::tcpSendMsg, 0,
                "Delivered\x03"
                "555,1,Hello,Ann",
                16) +
           ZvpReply(TTcpCommand::tcpSendMsg, 0, "556,1,Bye", 17),
       {"result 16 Delivered|555|Hello|Ann", "result 17 |556|Bye|N/A"}},
      {"a broken carrier list hands over the carriers before the bad record, then ends",
       ZvpReply(TTcpCommand::tcpLoad, 19,
                "1,A\x1E"
                "0,B") +
           ZvpReply(TTcpCommand::tcpConnect, kConnConnected, "never seen"),
       {"carriers 1", "lost"}},
      {"a frame of length 0 ends the session; nothing after it counts",
       ZvpReply(TTcpCommand::tcpLogin, 1, "first") + std::string("\0\0", 2) +
           ZvpReply(TTcpCommand::tcpLogin, 1, "never seen"),
       {"info " + std::to_string(kLogin) + " 1 ok first", "lost"}},
      {"a text without its header's separator ends the session",
       std::string("\0\x05"
                   "abcde",
                   7),
       {"lost"}},
  };
  for (const Case& c : cases) {
    for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{5}}) {
      FakeLinkContext context;
      EXPECT_EQ(Records(context, c.stream, piece), c.records) << c.what << ", pieces of " << piece;
    }
  }
}

TEST(LinkSessionTest, RepliesTellTheProtocolAndCarryThePeerAddress) {
  FakeLinkContext context;
  context.SetSessionProtocol(0);
  TZVLinkSession session(context.TcpProtocol(), context, "10.0.0.9");
  const std::string frame = ZvpReply(TTcpCommand::tcpSendMsg, 0,
                                     "ok\x03"
                                     "5,1,Hi",
                                     3);
  session.Append(frame.data(), frame.size() - 1);
  EXPECT_FALSE(session.HasRecord());
  EXPECT_FALSE(session.Next());
  session.Append(frame.data() + frame.size() - 1, 1);
  const auto record = session.Next();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->Result->AccountIP(), "10.0.0.9");
  EXPECT_EQ(context.SessionProtocol(), 18);
  EXPECT_FALSE(session.Ended());
}

}  // namespace
}  // namespace zv::testing
