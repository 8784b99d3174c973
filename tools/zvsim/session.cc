#include "zvsim/session.h"

#include <utility>

#include "protocol/frame_writer.h"
#include "support/helpers.h"
#include "support/int_text.h"
#include "support/login_data.h"
#include "support/text.h"
#include "zvsim/answers.h"
#include "zvsim/carrier_source.h"

namespace zv::sim {
namespace {

// The first character of a received delimiter field ("," when empty).
char DelimiterOf(const TZVRemoteMsg& msg) {
  return msg.FieldDelimit().empty() ? ',' : msg.FieldDelimit().front();
}

// The login body: account id, delimiter, encoded password, delimiter,
// encoding number. The account is all that precedes the last two delimiters,
// so an account id holding the delimiter is read whole.
struct TLoginData {
  bool Complete = false;
  std::string User;
  std::string Password;  // decoded
  int32_t Encoding = kLoginEncodingNone;
};

TLoginData ReadLoginData(const std::string& body, char delimiter) {
  TLoginData data;
  const std::size_t last = body.rfind(delimiter);
  if (last == std::string::npos || last == 0) return data;
  const std::size_t middle = body.rfind(delimiter, last - 1);
  if (middle == std::string::npos) return data;
  data.Complete = true;
  data.User = body.substr(0, middle);
  data.Encoding = StrToIntDef(body.substr(last + 1), -1);
  data.Password = DecodeLoginData(body.substr(middle + 1, last - middle - 1), data.Encoding);
  return data;
}

}  // namespace

TSimSession::TSimSession(TSimContext& context, int32_t connection, std::string peer)
    : FContext(context), FConnection(connection), FPeer(std::move(peer)) {}

TSimSession::~TSimSession() { FContext.Accounts.Release(FConnection); }

bool TSimSession::LoggedIn() const {
  return !FAccount.empty() && FContext.Accounts.Holder(FAccount) == FConnection;
}

std::vector<TSimOutput> TSimSession::OnFrame(std::string_view text) {
  FOutputs.clear();
  if (FEnded) return {};
  FStage.reset();
  FStageFrameSent = false;
  std::unique_ptr<TZVRemoteMsg> request;
  try {
    request = FProtocol.CreateMsgFromTcp(text, FPeer);
  } catch (const std::exception& error) {
    RecordUnreadable(text, error.what());
    if (!FContext.Options.Misbehaviour.Silent) Reject(nullptr, kRejectMalformed, error.what());
    return std::move(FOutputs);
  }
  Record(*request);
  if (FContext.Options.Misbehaviour.Silent) return {};
  Dispatch(*request);
  return std::move(FOutputs);
}

void TSimSession::OnBrokenStream(std::string_view reason) {
  FContext.Log.Event(FConnection, "broken stream: " + std::string(reason));
  Transcribe(TJsonLine().Add("connection", FConnection).Add("error", reason).Add("body", ""));
  FEnded = true;
}

void TSimSession::Record(const TZVRemoteMsg& request) {
  TJsonLine line;
  line.Add("connection", FConnection)
      .Add("command", request.TcpCommandStr())
      .Add("result", request.MsgResult())
      .Add("id", request.TransactionId())
      .Add("protocol", request.Protocol())
      .Add("account", request.AccountId())
      .Add("body", request.Msg());
  std::string summary =
      StrFormat("received %s %d (id %d) from %s", request.TcpCommandStr().c_str(),
                static_cast<int>(request.MsgResult()), static_cast<int>(request.TransactionId()),
                request.AccountId().c_str());
  if (request.TcpCommand() == TTcpCommand::tcpLogin) {
    const TLoginData login = ReadLoginData(request.Msg(), DelimiterOf(request));
    line.Add("user", login.User).Add("password", login.Password).Add("encoding", login.Encoding);
  }
  FContext.Log.Event(FConnection, summary);
  Transcribe(line);
}

void TSimSession::RecordUnreadable(std::string_view text, std::string_view error) {
  FContext.Log.Event(FConnection, "unreadable text: " + std::string(error));
  Transcribe(TJsonLine().Add("connection", FConnection).Add("error", error).Add("body", text));
}

void TSimSession::Transcribe(const TJsonLine& line) {
  if (!FContext.Transcript.Write(line))
    FContext.Log.Event(FConnection, "the transcript cannot be written; it is closed");
}

void TSimSession::Dispatch(const TZVRemoteMsg& request) {
  switch (request.TcpCommand()) {
    case TTcpCommand::tcpConnect:
      OnConnect(request);
      return;
    case TTcpCommand::tcpLogin:
      OnLogin(request);
      return;
    case TTcpCommand::tcpLoad:
      OnLoad(request);
      return;
    case TTcpCommand::tcpSendMsg:
      OnSend(request);
      return;
    case TTcpCommand::tcpDeleteObject:
      FContext.Log.Event(FConnection, "stored messages deleted (" + request.Msg() + ")");
      return;
    default:
      Reject(&request, kRejectUnknown,
             "Zorvane Server does not take " + request.TcpCommandStr() + " requests");
  }
}

void TSimSession::OnConnect(const TZVRemoteMsg& request) {
  switch (request.MsgResult()) {
    case kConnConnect: {
      FStage = TSimStage::stConnect;
      if (FContext.Options.Misbehaviour.RefuseConnection) {
        Reply(request, TTcpCommand::tcpConnect, kConnExcess,
              "Zorvane Server refuses the connection: too many connections");
        return;
      }
      // A connect, first or again, starts the login over.
      FContext.Accounts.Release(FConnection);
      FAccount.clear();
      Reply(request, TTcpCommand::tcpConnect, FContext.Options.ConnectCode,
            "Connection to Zorvane Server accepted");
      Reply(request, TTcpCommand::tcpLogin, static_cast<int32_t>(TZVLoginResult::slrLoginRequest),
            "Zorvane Server requests a login");
      return;
    }
    case kConnUserDisconnects:
      // The console sends its logout notice on a fresh connection, so the
      // account may be held by another one.
      FContext.Accounts.LogOut(request.AccountId());
      if (FAccount == request.AccountId()) FAccount.clear();
      FContext.Log.Event(FConnection, "account " + request.AccountId() + " logged out");
      return;
    case kConnClientReady:
      FStage = TSimStage::stReady;
      OnReady(request);
      return;
    default:
      Reject(&request, kRejectUnknown,
             StrFormat("Zorvane Server does not take connection code %d",
                       static_cast<int>(request.MsgResult())));
  }
}

void TSimSession::OnLogin(const TZVRemoteMsg& request) {
  FStage = TSimStage::stLogin;
  const TLoginData login = ReadLoginData(request.Msg(), DelimiterOf(request));
  TZVLoginResult result = TZVLoginResult::slrLoginError;
  if (login.Complete) {
    result = FContext.Accounts.LogIn(login.User, login.Password, FConnection);
    if (result == TZVLoginResult::slrLoginOK) FAccount = login.User;
  }
  FContext.Log.Event(FConnection, "login of " + login.User + ": " + LoginResultCaption(result));
  Reply(request, TTcpCommand::tcpLogin, static_cast<int32_t>(result),
        login.Complete ? LoginText(result, login.User)
                       : "Login refused: the login data are incomplete");
}

void TSimSession::OnLoad(const TZVRemoteMsg& request) {
  FStage = TSimStage::stLoad;
  if (!LoggedIn()) {
    Reject(&request, kRejectNoLogin, "Log in before loading objects");
    return;
  }
  if (request.MsgResult() != static_cast<int32_t>(TZVLoadResult::sorCarrierSum)) {
    Reject(&request, kRejectUnknown,
           StrFormat("Zorvane Server does not load objects of kind %d",
                     static_cast<int>(request.MsgResult())));
    return;
  }
  constexpr auto kFailed = static_cast<int32_t>(TZVLoadResult::sorCarrierSumError);
  if (FContext.Options.Misbehaviour.LoadFails) {
    Reply(request, TTcpCommand::tcpLoad, kFailed, "Loading carrier objects failed");
    return;
  }
  std::string body = CarrierListBody(FContext.Carriers, DelimiterOf(request));
  if (FContext.Options.Misbehaviour.BrokenCarriers) {
    body = BrokenCarrierList(body, DelimiterOf(request));
  }
  Reply(request, TTcpCommand::tcpLoad, static_cast<int32_t>(TZVLoadResult::sorCarrierSumOk), body);
}

void TSimSession::OnReady(const TZVRemoteMsg& request) {
  if (!LoggedIn()) {
    Reject(&request, kRejectNoLogin, "Log in before confirming readiness");
    return;
  }
  Reply(request, TTcpCommand::tcpConnect, kConnClientReady,
        "Zorvane Server is ready for messages from \"" + FAccount + "\"");
  const TMisbehaviour& misbehaviour = FContext.Options.Misbehaviour;
  if (misbehaviour.NoticeCode) {
    Reply(request, TTcpCommand::tcpConnect, *misbehaviour.NoticeCode,
          NoticeText(*misbehaviour.NoticeCode));
  }
  for (int32_t i = 1; i <= misbehaviour.FloodCount && !FEnded; ++i) {
    const std::string fields = JoinDelimited(
        {std::to_string(i), "0", StrFormat("Unsolicited result %d", static_cast<int>(i)), "zvsim"},
        DelimiterOf(request));
    Reply(&request, TTcpCommand::tcpSendMsg, kSendAccepted,
          StrFormat("Unsolicited result %d of %d", static_cast<int>(i),
                    static_cast<int>(misbehaviour.FloodCount)) +
              kResultSeparator + fields,
          i);
  }
  if (misbehaviour.EndCode != 0 && !FEnded) {
    Reply(request, TTcpCommand::tcpConnect, misbehaviour.EndCode, EndText(misbehaviour.EndCode));
    FContext.Log.Event(FConnection, StrFormat("ending the link with code %d",
                                              static_cast<int>(misbehaviour.EndCode)));
    Emit(TSimOutputKind::okClose);
  }
}

void TSimSession::OnSend(const TZVRemoteMsg& request) {
  FStage = TSimStage::stSend;
  if (!LoggedIn()) {
    Reject(&request, kRejectNoLogin, "Log in before sending messages");
    return;
  }
  const TSendOrder order = ReadSendOrder(request.Msg());
  const TSendAnswer answer = AnswerSendOrder(order, FContext.Carriers);
  const auto addressType = answer.Carrier ? static_cast<int>(answer.Carrier->AddressType()) : 0;
  const std::string fields = JoinDelimited(
      {order.Address, std::to_string(addressType), order.Text, "Contact " + order.Address},
      DelimiterOf(request));
  FContext.Log.Event(FConnection, answer.Text);
  Reply(request, TTcpCommand::tcpSendMsg, answer.Result,
        WithoutControls(answer.Text) + kResultSeparator + fields);
}

void TSimSession::Reject(const TZVRemoteMsg* request, int32_t reason, const std::string& text) {
  FContext.Log.Event(FConnection, "rejected: " + text);
  Reply(request, TTcpCommand::tcpInvalid, reason, text, request ? request->TransactionId() : 0);
}

int32_t TSimSession::ReplyProtocol(const TZVRemoteMsg* request) const {
  if (FContext.Options.Misbehaviour.Protocol17) return kProtocolV11;
  return request ? request->Protocol() : kProtocolMax;
}

void TSimSession::Reply(const TZVRemoteMsg* request, TTcpCommand command, int32_t result,
                        const std::string& body, int32_t msgId) {
  if (FEnded) return;
  auto reply = FProtocol.CreateBaseMsg(
      request ? request->AccountId() : std::string(kServerAccountId), FPeer, command, msgId);
  reply->SetProtocol(ReplyProtocol(request));
  reply->SetMsgResult(result);
  if (request) reply->SetFieldDelimit(std::string(1, DelimiterOf(*request)));
  reply->SetMsg(body);
  std::string text = FProtocol.CreateTcpMsg(*reply);
  if (!FitsInFrame(text)) {
    // Never a corrupt frame: an answer too long for one is refused instead,
    // and a carrier load then fails as a load.
    FContext.Log.Event(FConnection,
                       StrFormat("an answer of %zu bytes does not fit in a frame", text.size()));
    if (command == TTcpCommand::tcpLoad) {
      reply->SetMsgResult(static_cast<int32_t>(TZVLoadResult::sorCarrierSumError));
      reply->SetMsg("The carrier list is too long for one zVP frame");
    } else {
      reply->SetTcpCommand(TTcpCommand::tcpInvalid);
      reply->SetMsgResult(kRejectTooLong);
      reply->SetMsg("The answer is too long for one zVP frame");
    }
    text = FProtocol.CreateTcpMsg(*reply);
  }
  const auto spoil = [&]() -> std::optional<TSpoil> {
    if (!FStage || FStageFrameSent) return std::nullopt;
    const auto& spoils = FContext.Options.Misbehaviour.Spoils;
    const auto it = spoils.find(*FStage);
    if (it == spoils.end()) return std::nullopt;
    return it->second;
  }();
  FStageFrameSent = true;
  FContext.Log.Event(FConnection, StrFormat("answer %s %d", reply->TcpCommandStr().c_str(),
                                            static_cast<int>(reply->MsgResult())));
  if (!spoil) {
    Emit(TSimOutputKind::okFrame, BuildFrame(text));
    return;
  }
  FContext.Log.Event(FConnection, "spoiling the answer to " + std::string(StageName(*FStage)));
  switch (*spoil) {
    case TSpoil::spAbort:
      Emit(TSimOutputKind::okAbort);
      return;
    case TSpoil::spAbortMidFrame:
      Emit(TSimOutputKind::okRaw, HalfFrame(BuildFrame(text)));
      Emit(TSimOutputKind::okAbort);
      return;
    case TSpoil::spEmptyFrame:
      Emit(TSimOutputKind::okRaw, EmptyFrame());
      return;
    case TSpoil::spTopBitLength:
      Emit(TSimOutputKind::okRaw, TopBitLengthFrame(BuildFrame(text)));
      return;
    case TSpoil::spMalformedText:
      Emit(TSimOutputKind::okRaw, BuildFrame(MalformedText(text)));
      return;
    case TSpoil::spStallMidFrame:
      Emit(TSimOutputKind::okRaw, HalfFrame(BuildFrame(text)));
      FEnded = true;  // the connection stays open, and nothing more comes
      return;
    case TSpoil::spOversized:
      Emit(TSimOutputKind::okRaw, OversizedFrame(text));
      return;
  }
}

void TSimSession::Emit(TSimOutputKind kind, std::string bytes) {
  if (FEnded) return;
  FOutputs.push_back({kind, std::move(bytes)});
  if (kind == TSimOutputKind::okAbort || kind == TSimOutputKind::okClose) FEnded = true;
}

}  // namespace zv::sim
