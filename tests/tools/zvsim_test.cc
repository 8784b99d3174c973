#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "platform/tcp_socket.h"
#include "protocol/frame_reader.h"
#include "protocol/frame_writer.h"
#include "protocol/protocol.h"
#include "support/exceptions.h"
#include "support/helpers.h"
#include "support/login_data.h"
#include "zvsim/answers.h"
#include "zvsim/carrier_source.h"
#include "zvsim/options.h"
#include "zvsim/run.h"
#include "zvsim/server.h"
#include "zvsim/session.h"

namespace zv::sim {
namespace {

const TZVProtocol kProtocol;
constexpr char kAccount[] = "TerminalAgent";
constexpr char kIp[] = "127.0.0.1";
const std::string kEtx = "\x03";  // ends the text of a send order and of a send result

// The console's side: builds requests as the console does.
class TConsole : public TZVProtocolSession {
 public:
  int32_t NextMsgId() override { return ++FLastId; }
  int32_t SessionProtocol() const override { return kProtocolV12; }

  std::string Connect() {
    return kProtocol.CreateConnectMsg(*this, kAccount, kIp, kIp, 6022, false)->TcpMsg();
  }
  std::string Login(const std::string& user, const std::string& password) {
    return kProtocol
        .CreateLoginMsg(*this, user, EncodeLoginData(password, kLoginEncodingWide), kIp,
                        kLoginEncodingWide)
        ->TcpMsg();
  }
  std::string Load(TZVLoadResult kind = TZVLoadResult::sorCarrierSum) {
    return kProtocol.CreateLoadMsg(*this, kAccount, kIp, kind)->TcpMsg();
  }
  std::string Ready() { return kProtocol.CreateReadyMsg(*this, kAccount, kIp)->TcpMsg(); }
  std::string Logout() { return kProtocol.CreateLogoutMsg(*this, kAccount, kIp)->TcpMsg(); }
  std::string Send(const std::string& item, int32_t id = 0) {
    auto msg = kProtocol.CreateSendMsg(kAccount, kIp, {item}, kProtocolV12);
    msg->SetTransactionId(id);
    return kProtocol.CreateTcpMsg(*msg);
  }
  std::string Request(TTcpCommand command, int32_t result, const std::string& body) {
    auto msg = kProtocol.CreateBaseMsg(*this, kAccount, kIp, command);
    msg->SetProtocol(kProtocolV12);
    msg->SetMsgResult(result);
    msg->SetMsg(body);
    return kProtocol.CreateTcpMsg(*msg);
  }

 private:
  int32_t FLastId = 0;
};

std::unique_ptr<TZVRemoteMsg> Parse(const std::string& frame) {
  TFrameReader reader;
  reader.Append(frame.data(), frame.size());
  const std::optional<std::string> text = reader.Next();
  EXPECT_TRUE(text && !reader.HasBufferedBytes()) << "not one whole frame";
  return kProtocol.CreateMsgFromTcp(text.value_or(""), kIp);
}

// "CONNECT 2; LOGIN 1", with " p17" for answers in zVP 1.1, "raw", "abort", "close".
std::string Describe(const std::vector<TSimOutput>& outputs) {
  static constexpr const char* kOtherKinds[] = {"", "raw", "abort", "close"};
  std::string text;
  for (const TSimOutput& output : outputs) {
    if (!text.empty()) text += "; ";
    if (output.Kind != TSimOutputKind::okFrame) {
      text += kOtherKinds[static_cast<int>(output.Kind)];
      continue;
    }
    const auto msg = Parse(output.Bytes);
    text += msg->TcpCommandStr() + " " + std::to_string(msg->MsgResult());
    if (msg->Protocol() != kProtocolV12) text += " p" + std::to_string(msg->Protocol());
  }
  return text;
}

// One simulated server with its shared state.
struct TWorld {
  explicit TWorld(TSimOptions options = {}, const std::string& transcript = "")
      : Options(std::move(options)),
        Accounts(Options.Accounts),
        Transcript(transcript.empty() ? std::make_unique<TTranscript>()
                                      : std::make_unique<TTranscript>(transcript)) {}

  std::unique_ptr<TSimSession> Session(int32_t connection) {
    return std::make_unique<TSimSession>(Context, connection, kIp);
  }
  // A session taken through connect, login and (when `ready`) the carrier
  // load and readiness.
  std::unique_ptr<TSimSession> LoggedIn(int32_t connection, TConsole& console, bool ready) {
    auto session = Session(connection);
    session->OnFrame(console.Connect());
    EXPECT_EQ(Describe(session->OnFrame(console.Login(kAccount, kAccount))), "LOGIN 2");
    if (ready) {
      session->OnFrame(console.Load());
      session->OnFrame(console.Ready());
    }
    return session;
  }

  TSimOptions Options;
  TAccountBook Accounts;
  TZVCarriersConsole Carriers = BuiltInCarriers();
  std::unique_ptr<TTranscript> Transcript;
  TEventLog Log{true};
  TSimContext Context{Options, Accounts, Carriers, *Transcript, Log};
};

TEST(ZvsimSession, AnswersTheRoadOfAStartAndAMessage) {
  const auto transcript = std::filesystem::temp_directory_path() /
                          ("zvsim-transcript-" + std::to_string(std::random_device()()) + ".jsonl");
  TWorld world({}, transcript.string());
  TConsole console;
  auto session = world.Session(1);

  const std::string connect = console.Connect();
  const auto connectAnswer = session->OnFrame(connect);
  ASSERT_EQ(Describe(connectAnswer), "CONNECT 2; LOGIN 1");
  EXPECT_EQ(Parse(connectAnswer[1].Bytes)->TransactionId(), 1);
  EXPECT_EQ(Describe(session->OnFrame(console.Login(kAccount, kAccount))), "LOGIN 2");
  EXPECT_TRUE(session->LoggedIn());

  const auto load = session->OnFrame(console.Load());
  ASSERT_EQ(Describe(load), "LOAD 19");
  const auto list = Parse(load[0].Bytes);
  TZVCarriersConsole received;
  received.FromTcpStr(list->Msg(), list->FieldDelimit()[0], list->Protocol());
  EXPECT_EQ(received.DisplayNames(TZVTitleType::ttBoth),
            world.Carriers.DisplayNames(TZVTitleType::ttBoth));
  EXPECT_EQ(Describe(session->OnFrame(console.Ready())), "CONNECT 12");

  // The console's result splitter: the text before the first 0x03, then the
  // field list split at the reply's delimiter.
  const auto sent = session->OnFrame(
      console.Send("Hi, \"you\"" + kEtx + "7,3,555,4,120,Zorvane, Message,TerminalAgent", 42));
  ASSERT_EQ(Describe(sent), "MSG_SEND 0");
  const auto result = Parse(sent[0].Bytes);
  EXPECT_EQ(result->TransactionId(), 42);
  const std::size_t split = result->Msg().find(kEtx);
  EXPECT_EQ(result->Msg().substr(0, split),
            "Message 7 accepted for 555 through carrier 3 (Pager Network)");
  EXPECT_EQ(SplitDelimited(result->Msg().substr(split + 1), result->FieldDelimit()[0]),
            (TStringList{"555", "1", "Hi, \"you\"", "Contact 555"}));

  const auto refused =
      Parse(session->OnFrame(console.Send("Hi" + kEtx + "8,9,555,4,120,S,A"))[0].Bytes);
  EXPECT_EQ(refused->MsgResult(), kSendRefused);
  EXPECT_EQ(SplitDelimited(refused->Msg().substr(refused->Msg().find(kEtx) + 1), ',')[1], "0");

  std::ifstream lines(transcript);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(first,
            "{\"connection\":1,\"command\":\"CONNECT\",\"result\":1,\"id\":1,\"protocol\":18,"
            "\"account\":\"TerminalAgent\",\"body\":\"Connecting to Zorvane Server on "
            "127.0.0.1:6022\"}");
  EXPECT_NE(
      second.find("\"user\":\"TerminalAgent\",\"password\":\"TerminalAgent\",\"encoding\":1}"),
      std::string::npos)
      << second;
  std::filesystem::remove(transcript);
}

TEST(ZvsimSession, RefusesLoginsItMustRefuse) {
  struct TCase {
    const char* Name;
    std::vector<TSimAccount> Accounts;
    const char* User;
    const char* Password;
    TZVLoginResult Expected;
  } cases[] = {
      {"wrong password", {}, kAccount, "terminalagent", TZVLoginResult::slrLoginError},
      {"unknown account", {}, "Nobody", "Nobody", TZVLoginResult::slrLoginError},
      {"disabled", {{"Off", "pw", true}}, "Off", "pw", TZVLoginResult::slrAccountDisabled},
      {"replaced password, old",
       {{kAccount, "new", false}},
       kAccount,
       kAccount,
       TZVLoginResult::slrLoginError},
      {"replaced password, new",
       {{kAccount, "new", false}},
       kAccount,
       "new",
       TZVLoginResult::slrLoginOK},
      {"other account", {{"Second", "p:w", false}}, "Second", "p:w", TZVLoginResult::slrLoginOK},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSimOptions options;
    options.Accounts = c.Accounts;
    TWorld world(options);
    TConsole console;
    auto session = world.Session(1);
    session->OnFrame(console.Connect());
    const auto answer = session->OnFrame(console.Login(c.User, c.Password));
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(Parse(answer[0].Bytes)->MsgResult(), static_cast<int32_t>(c.Expected));
    EXPECT_EQ(session->LoggedIn(), c.Expected == TZVLoginResult::slrLoginOK);
  }
}

TEST(ZvsimSession, AnAccountIsLoggedInOnceUntilItsConnectionEndsOrLogsOut) {
  TWorld world;
  TConsole console;
  auto first = world.LoggedIn(1, console, true);
  auto second = world.Session(2);
  second->OnFrame(console.Connect());
  EXPECT_EQ(Describe(second->OnFrame(console.Login(kAccount, kAccount))), "LOGIN 6");

  // The console's stop: its connection closes, then the logout notice comes
  // on a fresh one and gets no answer.
  first.reset();
  EXPECT_EQ(Describe(world.Session(3)->OnFrame(console.Logout())), "");
  EXPECT_EQ(Describe(second->OnFrame(console.Login(kAccount, kAccount))), "LOGIN 2");

  // A logout notice frees the account even while its connection is open.
  world.Session(4)->OnFrame(console.Logout());
  EXPECT_FALSE(second->LoggedIn());
}

TEST(ZvsimSession, RejectsWhatItDoesNotTake) {
  TWorld world;
  TConsole console;
  auto fresh = world.Session(1);
  for (const std::string& request :
       {console.Load(), console.Ready(), console.Send("a" + kEtx + "1,3,5,4,1,s,u")}) {
    const auto answer = fresh->OnFrame(request);
    ASSERT_EQ(Describe(answer), "TCP_ERROR 2");
  }
  auto session = world.LoggedIn(2, console, false);
  struct TCase {
    std::string Request;
    const char* Expected;
  } cases[] = {
      {console.Request(TTcpCommand::tcpNewObject, 0, "x"), "TCP_ERROR 1"},
      {console.Load(TZVLoadResult::sorContact), "TCP_ERROR 1"},
      {console.Request(TTcpCommand::tcpConnect, kConnFailed, "x"), "TCP_ERROR 1"},
      {console.Request(TTcpCommand::tcpDeleteObject, 33, "0"), ""},
      {"garbage", "TCP_ERROR 3"},
  };
  for (const TCase& c : cases) EXPECT_EQ(Describe(session->OnFrame(c.Request)), c.Expected);
  EXPECT_EQ(Parse(session->OnFrame("garbage")[0].Bytes)->AccountId(), kServerAccountId);
}

TEST(ZvsimSession, MisbehavesAsTold) {
  struct TCase {
    const char* Name;
    void (*Set)(TSimOptions&);
    const char* Connect;
    const char* Load;
    const char* Ready;
  } cases[] = {
      {"as it should", [](TSimOptions&) {}, "CONNECT 2; LOGIN 1", "LOAD 19", "CONNECT 12"},
      {"protocol 17", [](TSimOptions& o) { o.Misbehaviour.Protocol17 = true; },
       "CONNECT 2 p17; LOGIN 1 p17", "LOAD 19 p17", "CONNECT 12 p17"},
      {"accepted", [](TSimOptions& o) { o.ConnectCode = kConnAccepted; }, "CONNECT 5; LOGIN 1",
       "LOAD 19", "CONNECT 12"},
      {"load fails", [](TSimOptions& o) { o.Misbehaviour.LoadFails = true; }, "CONNECT 2; LOGIN 1",
       "LOAD 20", "CONNECT 12"},
      {"flood and end",
       [](TSimOptions& o) {
         o.Misbehaviour.FloodCount = 2;
         o.Misbehaviour.EndCode = kConnAdminDisconnects;
       },
       "CONNECT 2; LOGIN 1", "LOAD 19", "CONNECT 12; MSG_SEND 0; MSG_SEND 0; CONNECT 9; close"},
      {"a notice that ends nothing", [](TSimOptions& o) { o.Misbehaviour.NoticeCode = kConnFailed; },
       "CONNECT 2; LOGIN 1", "LOAD 19", "CONNECT 12; CONNECT 3"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TSimOptions options;
    c.Set(options);
    TWorld world(options);
    TConsole console;
    auto session = world.Session(1);
    EXPECT_EQ(Describe(session->OnFrame(console.Connect())), c.Connect);
    session->OnFrame(console.Login(kAccount, kAccount));
    EXPECT_EQ(Describe(session->OnFrame(console.Load())), c.Load);
    EXPECT_EQ(Describe(session->OnFrame(console.Ready())), c.Ready);
  }

  TSimOptions refuse;
  refuse.Misbehaviour.RefuseConnection = true;
  TConsole console;
  EXPECT_EQ(Describe(TWorld(refuse).Session(1)->OnFrame(console.Connect())), "CONNECT 6");
  TSimOptions silent;
  silent.Misbehaviour.Silent = true;
  EXPECT_EQ(Describe(TWorld(silent).Session(1)->OnFrame(console.Connect())), "");
}

TEST(ZvsimSession, SpoilsTheFirstFrameOfAnAnswer) {
  struct TCase {
    TSpoil Spoil;
    const char* Shape;
    void (*Check)(const std::string& raw);
  } cases[] = {
      {TSpoil::spAbort, "abort", nullptr},
      {TSpoil::spAbortMidFrame, "raw; abort",
       [](const std::string& raw) {
         ASSERT_GE(raw.size(), 3u);
         const std::size_t length =
             static_cast<unsigned char>(raw[0]) << 8 | static_cast<unsigned char>(raw[1]);
         EXPECT_LT(raw.size(), 2 + length);
       }},
      {TSpoil::spEmptyFrame, "raw; LOGIN 1",
       [](const std::string& raw) { EXPECT_EQ(raw, std::string(2, '\0')); }},
      {TSpoil::spTopBitLength, "raw; LOGIN 1",
       [](const std::string& raw) {
         ASSERT_TRUE(raw[0] & 0x80);
         std::string cleared = raw;
         cleared[0] = static_cast<char>(cleared[0] & 0x7F);
         EXPECT_EQ(Describe({{TSimOutputKind::okFrame, cleared}}), "CONNECT 2");
       }},
      {TSpoil::spMalformedText, "raw; LOGIN 1",
       [](const std::string& raw) { EXPECT_THROW(Parse(raw), EZVTcpConnection); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Spoil));
    TSimOptions options;
    options.Misbehaviour.Spoils[TSimStage::stConnect] = c.Spoil;
    TWorld world(options);
    TConsole console;
    const auto answer = world.Session(1)->OnFrame(console.Connect());
    EXPECT_EQ(Describe(answer), c.Shape);
    if (c.Check) c.Check(answer[0].Bytes);
  }
}

TEST(ZvsimCarriers, TheListReachesAConsoleAsItIs) {
  const TZVCarriersConsole carriers = BuiltInCarriers();
  std::set<TZVAddressType> types;
  std::string names;
  for (const TZVCarrierConsole& carrier : carriers) {
    types.insert(carrier.AddressType());
    names += carrier.ObjectName();
  }
  EXPECT_EQ(types.size(), 5u);
  EXPECT_NE(names.find(','), std::string::npos);
  EXPECT_NE(names.find('"'), std::string::npos);
  EXPECT_NO_THROW(CheckCarrierListReadsBack(carriers, ','));

  TZVCarriersConsole broken;
  broken.Add(
      std::make_unique<TZVCarrierConsole>("1,A\x1E"
                                          "B,1,T,1,pager id,80,",
                                          ',', kProtocolV12));
  EXPECT_THROW(CheckCarrierListReadsBack(broken, ','), EZVException);
}

TEST(ZvsimTranscript, EveryTextBecomesValidJson) {
  struct TCase {
    std::string Text;
    const char* Json;
  } cases[] = {
      {"a\"b\\c", R"("a\"b\\c")"},
      {std::string("\x00\x02\x1F\r\n\x7F", 6), R"("\u0000\u0002\u001f\r\n\u007f")"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"\xFF\xC3", R"("\ufffd\ufffd")"},                      // stray and truncated bytes
      {"\xC0\x80", R"("\ufffd\ufffd")"},                      // overlong NUL
      {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},            // a surrogate
      {"\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},  // beyond U+10FFFF
  };
  for (const TCase& c : cases) EXPECT_EQ(JsonQuote(c.Text), c.Json);
}

TEST(ZvsimOptions, ReadsTheCommandLine) {
  const TParsedOptions good =
      ParseOptions({"--port=0", "--account", "Ops:se:cret", "--end-after-ready", "13", "--abort",
                    "load", "--split-frames", "20", "--quiet"});
  ASSERT_EQ(good.Outcome, TParsedOptions::TOutcome::poRun) << good.Error;
  EXPECT_EQ(good.Options.Port, 0);
  ASSERT_EQ(good.Options.Accounts.size(), 1u);
  EXPECT_EQ(good.Options.Accounts[0].Password, "se:cret");
  EXPECT_EQ(good.Options.Misbehaviour.EndCode, kConnTimeoutDisconnects);
  EXPECT_EQ(good.Options.Misbehaviour.Spoils.at(TSimStage::stLoad), TSpoil::spAbort);
  EXPECT_EQ(good.Options.Misbehaviour.SplitPauseMs, 20);
  EXPECT_EQ(ParseOptions({"--notice-after-ready", "0"}).Options.Misbehaviour.NoticeCode, 0);
  EXPECT_EQ(ParseOptions({"--delay", "5", "--help"}).Outcome, TParsedOptions::TOutcome::poHelp);
  const TParsedOptions bus = ParseOptions({"--dbus", "system", "--no-tcp"});
  EXPECT_EQ(bus.Options.Bus, platform::DBusBusKind::kSystem);
  EXPECT_FALSE(bus.Options.ServeTcp);

  // Each bad command line names the option at fault.
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--port", "65536"}, "--port"},
      {{"--end-after-ready", "8"}, "--end-after-ready"},
      {{"--notice-after-ready", "7"}, "--notice-after-ready"},
      {{"--notice-after-ready", "2"}, "--notice-after-ready"},
      {{"--connect-code", "6"}, "--connect-code"},
      {{"--account", "nopassword"}, "--account"},
      {{"--delay"}, "--delay"},
      {{"--quiet=1"}, "--quiet"},
      {{"--bogus"}, "--bogus"},
      {{"--abort", "later"}, "--abort"},
      {{"--empty-frame", "send", "--malformed", "send"}, "--malformed"},
      {{"--dbus", "user"}, "--dbus"},
      {{"--no-tcp"}, "--no-tcp"},
  };
  for (const auto& [args, name] : bad) {
    const TParsedOptions parsed = ParseOptions(args);
    EXPECT_EQ(parsed.Outcome, TParsedOptions::TOutcome::poError) << name;
    EXPECT_EQ(parsed.Error.find(name), 0u) << parsed.Error;
  }
}

TEST(ZvsimOptions, VersionHelpAndABadCommandLineFollowTheConventions) {
  const struct {
    std::vector<std::string> Args;
    int Status;
    std::string Out;
    std::string Err;
  } cases[] = {
      {{"--version", "--transcript", "/nonexistent/t"}, kExitOk, "zvsim " ZVSIM_VERSION "\n", ""},
      {{"--help"}, kExitOk, HelpText(), ""},
      {{"--bogus", "--version"},
       kExitUsage,
       "",
       "zvsim: --bogus is not an option\nTry 'zvsim --help' for more information.\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunSimulator(c.Args), c.Status) << c.Args[0];
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.Out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.Err);
  }
}

// Reads whole frames from `socket` until `count` have come, the stream ends
// or the deadline passes; what ended the stream goes to `end`.
std::vector<std::string> ReadFrames(platform::TcpSocket& socket, std::size_t count,
                                    std::string* end = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  TFrameReader reader;
  std::vector<std::string> texts;
  char buffer[4096];
  try {
    while (texts.size() < count && std::chrono::steady_clock::now() < deadline) {
      socket.WaitReadable(std::chrono::milliseconds(100));
      reader.Append(buffer, socket.ReadSome(buffer, sizeof buffer));
      while (auto text = reader.Next()) texts.push_back(*text);
    }
  } catch (const platform::SocketError& error) {
    if (end) *end = error.what();
  }
  return texts;
}

class TRunningServer {
 public:
  explicit TRunningServer(TSimOptions options) : FWorld(std::move(options)) {
    FWorld.Options.Port = 0;
    FServer = std::make_unique<TSimServer>(FWorld.Context);
    FThread = std::jthread([this] { FServer->Run(FStop); });
  }
  ~TRunningServer() { Stop(); }
  void Stop() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
  }
  platform::TcpSocket Connect() {
    platform::TcpSocket socket;
    socket.Connect(kIp, FServer->Port(), std::chrono::seconds(10));
    return socket;
  }

 private:
  TWorld FWorld;
  std::unique_ptr<TSimServer> FServer;
  std::atomic<bool> FStop{false};
  std::jthread FThread;
};

TEST(ZvsimServer, SendsLateAndSlowFramesWholeAndClosesInOrderOnStop) {
  TSimOptions options;
  options.Misbehaviour.ReplyDelayMs = 20;
  options.Misbehaviour.SplitPauseMs = 10;
  TRunningServer server(options);
  TConsole console;
  platform::TcpSocket first = server.Connect();
  platform::TcpSocket second = server.Connect();
  for (platform::TcpSocket* socket : {&first, &second}) {
    socket->WriteAll(BuildFrame(console.Connect()), std::chrono::seconds(10));
    const auto texts = ReadFrames(*socket, 2);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(kProtocol.CreateMsgFromTcp(texts[1], kIp)->TcpCommand(), TTcpCommand::tcpLogin);
  }
  server.Stop();
  std::string end;
  EXPECT_TRUE(ReadFrames(first, 1, &end).empty());
  EXPECT_EQ(end, "Connection closed by the server");
}

TEST(ZvsimServer, ResetsTheConnectionWhenToldToAbort) {
  TSimOptions options;
  options.Misbehaviour.Spoils[TSimStage::stConnect] = TSpoil::spAbortMidFrame;
  TRunningServer server(options);
  platform::TcpSocket socket = server.Connect();
  socket.WriteAll(BuildFrame(TConsole().Connect()), std::chrono::seconds(10));
  std::string end;
  EXPECT_TRUE(ReadFrames(socket, 1, &end).empty());
  EXPECT_EQ(end, platform::SocketError(ECONNRESET).what());
}

}  // namespace
}  // namespace zv::sim
