#include "zvsim/bus_server.h"

#include <utility>

#include "support/com_date.h"
#include "support/helpers.h"
#include "support/int_text.h"
#include "support/login_data.h"
#include "support/text.h"
#include "zvsim/answers.h"
#include "zvsim/bus_objects.h"

namespace zv::sim {
namespace {

using platform::DBusArgs;
using platform::DBusError;
using platform::DBusObjectPath;
using platform::DBusValue;

// Argument lists, by name and type code, as the interface states them.
using TArgList = std::vector<std::pair<std::string, std::string>>;

const TArgList kConnectArgs = {
    {"success", "b"}, {"connectionResult", "i"}, {"description", "s"}, {"accountId", "s"}};
const TArgList kLoginArgs = {
    {"success", "b"}, {"loginResult", "i"}, {"description", "s"}, {"accountId", "s"}};
const TArgList kMessageArgs = {{"transactionId", "i"}, {"accountId", "s"}, {"msgAddress", "s"},
                               {"resultStr", "s"},     {"msg", "s"},       {"contactName", "s"},
                               {"sendResult", "i"},    {"dateSent", "d"},  {"dateReceived", "d"},
                               {"addressType", "i"}};

const std::string& Text(const DBusArgs& args, std::size_t index) {
  return std::get<std::string>(args.at(index));
}
int32_t Int(const DBusArgs& args, std::size_t index) { return std::get<int32_t>(args.at(index)); }

std::string Joined(const std::vector<std::string>& items, char separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

}  // namespace

TSimBusServer::TSimBusServer(TSimContext& context, std::unique_ptr<platform::DBusConnection> bus)
    : FContext(context), FBus(std::move(bus)) {
  ExportObjects();
  FBus->RequestName(std::string(kBusName));
  FContext.Log.Event("serving " + std::string(kBusName) + " on the bus as " + FBus->UniqueName());
}

TSimBusServer::~TSimBusServer() {
  for (const auto& [account, connection] : FConnections) FContext.Accounts.Release(connection);
}

void TSimBusServer::ExportObjects() {
  using platform::DBusMethod;
  const auto bind = [this](TReply (TSimBusServer::*method)(const TArgs&)) {
    return [this, method](const TArgs& args) { return (this->*method)(args); };
  };
  const auto simple = [this](const char* command) {
    return [this, command](const TArgs&) -> TReply {
      Record(command, "", "", "");
      return Answer(std::nullopt, [] { return TArgs{true}; });
    };
  };
  platform::DBusInterface server{
      std::string(kServerInterface),
      {
          DBusMethod{"ConnectToServer",
                     {{"accountId", "s"}, {"ipAddress", "s"}},
                     {},
                     bind(&TSimBusServer::ConnectToServer)},
          DBusMethod{"Start", {}, {{"result", "b"}}, simple("Start")},
          DBusMethod{"Stop", {}, {{"result", "b"}}, simple("Stop")},
          DBusMethod{"Login",
                     {{"userName", "s"}, {"password", "s"}, {"ipAddress", "s"}, {"encoding", "i"}},
                     {},
                     bind(&TSimBusServer::Login)},
          DBusMethod{
              "Logout", {{"accountId", "s"}, {"ipAddress", "s"}}, {}, bind(&TSimBusServer::Logout)},
          DBusMethod{"ClientReady",
                     {{"accountId", "s"}, {"accountIp", "s"}, {"isReady", "b"}},
                     {},
                     bind(&TSimBusServer::ClientReady)},
          DBusMethod{"SendMsg",
                     {{"accountId", "s"}, {"accountIp", "s"}, {"msgData", "as"}},
                     {},
                     bind(&TSimBusServer::SendMsg)},
          DBusMethod{
              "CarrierById", {{"id", "i"}}, {{"carrier", "o"}}, bind(&TSimBusServer::CarrierById)},
          DBusMethod{"AccountById",
                     {{"accountId", "s"}},
                     {{"account", "o"}},
                     bind(&TSimBusServer::AccountById)},
      },
      {{"Carriers", "as", [this] { return Carriers(); }}},
      {{"OnConnect", kConnectArgs}, {"OnLogin", kLoginArgs}, {"OnZVMessage", kMessageArgs}},
  };
  FExports.push_back(FBus->Export(std::string(kServerPath), std::move(server)));

  for (const TZVCarrierConsole& carrier : FContext.Carriers) {
    // Ids need not be unique: the first carrier of an id is the one served.
    const auto [it, added] =
        FCarrierPaths.emplace(carrier.ObjectId(), CarrierPath(carrier.ObjectId()));
    if (added) FExports.push_back(FBus->Export(it->second, CarrierInterface(carrier)));
  }

  for (const std::string& name : FContext.Accounts.Names()) {
    const auto deleter = [this, name](const char* command) {
      return [this, name, command](const TArgs& args) { return Delete(name, command, args); };
    };
    platform::DBusInterface account{
        std::string(kAccountInterface),
        {
            DBusMethod{"DeleteAllMsgs", {}, {}, deleter("DeleteAllMsgs")},
            DBusMethod{"DeleteOldMsgs", {{"olderThenDays", "i"}}, {}, deleter("DeleteOldMsgs")},
            DBusMethod{"DeleteSelectedMsg", {{"msgId", "i"}}, {}, deleter("DeleteSelectedMsg")},
        },
        {},
        {},
    };
    FExports.push_back(FBus->Export(AccountPath(name), std::move(account)));
  }
}

bool TSimBusServer::Process() {
  if (FDropped || !FFailure.empty()) return false;
  bool more = true;
  while (more && !FDropped && FFailure.empty()) {
    try {
      more = FBus->Process();
    } catch (const DBusError& error) {
      FFailure = error.what();
      FContext.Log.Event("bus: the connection broke: " + FFailure);
    }
    // A signal that cannot go out is lost alone; a broken connection shows
    // in the next Process().
    for (const TPendingSignal& signal : FPending) {
      try {
        FBus->EmitSignal(std::string(kServerPath), std::string(kServerInterface), signal.Member,
                         signal.Args);
      } catch (const DBusError& error) {
        FContext.Log.Event("bus: cannot send " + signal.Member + ": " + error.what());
      }
    }
    if (!FPending.empty()) more = true;
    FPending.clear();
  }
  if (FDropped) FContext.Log.Event("bus: dropping off the bus as told");
  if (!FDropped && FFailure.empty()) return true;
  // Closed at once, so callers waiting for a reply learn that none will come.
  FExports.clear();
  FBus.reset();
  return false;
}

TSimBusServer::TReply TSimBusServer::Answer(std::optional<TSimStage> stage,
                                            const std::function<TArgs()>& answer) {
  const TMisbehaviour& misbehaviour = FContext.Options.Misbehaviour;
  if (misbehaviour.Silent) return std::nullopt;
  if (stage) {
    if (const auto it = misbehaviour.Spoils.find(*stage); it != misbehaviour.Spoils.end()) {
      FContext.Log.Event("bus: spoiling the answer to " + std::string(StageName(*stage)));
      if (it->second == TSpoil::spAbort) {
        FDropped = true;
        return std::nullopt;
      }
      // A stall is silence on a connection that stays open.
      if (it->second == TSpoil::spStallMidFrame) return std::nullopt;
      throw DBusError(std::string(kFailedError),
                      "Zorvane Server failed the " + std::string(StageName(*stage)) + " call");
    }
  }
  return answer();
}

void TSimBusServer::RequireLogin(const std::string& account, const std::string& what) const {
  const auto it = FConnections.find(account);
  if (it == FConnections.end() || FContext.Accounts.Holder(account) != it->second) {
    FContext.Log.Event("bus: rejected: " + what + " of " + account + " without a login");
    throw DBusError(std::string(kFailedError), "Log in before " + what);
  }
}

TSimBusServer::TReply TSimBusServer::ConnectToServer(const TArgs& args) {
  const std::string& account = Text(args, 0);
  Record("ConnectToServer", account, Text(args, 1), "");
  return Answer(TSimStage::stConnect, [&] {
    if (FContext.Options.Misbehaviour.RefuseConnection) {
      ConnectEvent(false, kConnExcess,
                   "Zorvane Server refuses the connection: too many connections", account);
      return TArgs{};
    }
    // A connect, first or again, starts the account's login over.
    if (LoggedIn(account)) FContext.Accounts.LogOut(account);
    ConnectEvent(true, FContext.Options.ConnectCode, "Connection to Zorvane Server accepted",
                 account);
    LoginEvent(TZVLoginResult::slrLoginRequest, "Zorvane Server requests a login", account);
    return TArgs{};
  });
}

TSimBusServer::TReply TSimBusServer::Login(const TArgs& args) {
  const std::string& user = Text(args, 0);
  const int32_t encoding = Int(args, 3);
  const std::string password = DecodeLoginData(Text(args, 1), encoding);
  Transcribe(TJsonLine()
                 .Add("connection", "dbus")
                 .Add("command", "Login")
                 .Add("account", user)
                 .Add("ip", Text(args, 2))
                 .Add("body", "")
                 .Add("user", user)
                 .Add("password", password)
                 .Add("encoding", encoding));
  return Answer(TSimStage::stLogin, [&] {
    const TZVLoginResult result = FContext.Accounts.LogIn(user, password, ConnectionOf(user));
    FContext.Log.Event("bus: login of " + user + ": " + LoginResultCaption(result));
    LoginEvent(result, LoginText(result, user), user);
    return TArgs{};
  });
}

TSimBusServer::TReply TSimBusServer::Logout(const TArgs& args) {
  const std::string& account = Text(args, 0);
  Record("Logout", account, Text(args, 1), "");
  return Answer(std::nullopt, [&] {
    FContext.Accounts.LogOut(account);
    FContext.Log.Event("bus: account " + account + " logged out");
    return TArgs{};
  });
}

TSimBusServer::TReply TSimBusServer::ClientReady(const TArgs& args) {
  const std::string& account = Text(args, 0);
  const bool ready = std::get<bool>(args.at(2));
  Record("ClientReady", account, Text(args, 1), ready ? "true" : "false");
  return Answer(TSimStage::stReady, [&] {
    RequireLogin(account, "confirming readiness");
    if (!ready) return TArgs{};
    ConnectEvent(true, kConnClientReady,
                 "Zorvane Server is ready for messages from \"" + account + "\"", account);
    const TMisbehaviour& misbehaviour = FContext.Options.Misbehaviour;
    if (misbehaviour.NoticeCode) {
      ConnectEvent(false, *misbehaviour.NoticeCode, NoticeText(*misbehaviour.NoticeCode), account);
    }
    for (int32_t i = 1; i <= misbehaviour.FloodCount; ++i) {
      ResultEvent(i, account, "zvsim",
                  StrFormat("Unsolicited result %d of %d", static_cast<int>(i),
                            static_cast<int>(misbehaviour.FloodCount)),
                  StrFormat("Unsolicited result %d", static_cast<int>(i)), 0, 0);
    }
    if (misbehaviour.EndCode != 0) {
      FContext.Log.Event(StrFormat("bus: ending the link of %s with code %d", account.c_str(),
                                   static_cast<int>(misbehaviour.EndCode)));
      FContext.Accounts.LogOut(account);
      ConnectEvent(false, misbehaviour.EndCode, EndText(misbehaviour.EndCode), account);
    }
    return TArgs{};
  });
}

TSimBusServer::TReply TSimBusServer::SendMsg(const TArgs& args) {
  const std::string& account = Text(args, 0);
  // The items joined as a send request over TCP/IP joins them, so that both
  // are read, and transcribed, alike.
  const std::string body = Joined(std::get<std::vector<std::string>>(args.at(2)), '\x1E');
  Record("SendMsg", account, Text(args, 1), body);
  return Answer(TSimStage::stSend, [&] {
    RequireLogin(account, "sending messages");
    const TSendOrder order = ReadSendOrder(body);
    const TSendAnswer answer = AnswerSendOrder(order, FContext.Carriers);
    FContext.Log.Event("bus: " + answer.Text);
    ResultEvent(StrToIntDef(order.Number, 0), account, order.Address, WithoutControls(answer.Text),
                order.Text, answer.Result,
                answer.Carrier ? static_cast<int32_t>(answer.Carrier->AddressType()) : 0);
    return TArgs{};
  });
}

TSimBusServer::TReply TSimBusServer::CarrierById(const TArgs& args) {
  const int32_t id = Int(args, 0);
  Record("CarrierById", "", "", std::to_string(id));
  return Answer(std::nullopt, [&] {
    const auto it = FCarrierPaths.find(id);
    if (it == FCarrierPaths.end()) {
      throw DBusError(std::string(kNoObjectError),
                      StrFormat("Cannot find carrier %d on Zorvane Server", static_cast<int>(id)));
    }
    return TArgs{DBusObjectPath{it->second}};
  });
}

TSimBusServer::TReply TSimBusServer::AccountById(const TArgs& args) {
  const std::string& account = Text(args, 0);
  Record("AccountById", account, "", "");
  return Answer(std::nullopt, [&] {
    if (!FContext.Accounts.Exists(account)) {
      throw DBusError(std::string(kNoObjectError),
                      "Cannot find account \"" + account + "\" on Zorvane Server");
    }
    return TArgs{DBusObjectPath{AccountPath(account)}};
  });
}

TSimBusServer::TReply TSimBusServer::Delete(const std::string& account, const std::string& command,
                                            const TArgs& args) {
  const std::string body = args.empty() ? "" : std::to_string(Int(args, 0));
  Record(command, account, "", body);
  return Answer(std::nullopt, [&] {
    FContext.Log.Event("bus: stored messages of " + account + " deleted (" + command +
                       (body.empty() ? "" : " " + body) + ")");
    return TArgs{};
  });
}

DBusValue TSimBusServer::Carriers() {
  Record("Carriers", "", "", "");
  const TMisbehaviour& misbehaviour = FContext.Options.Misbehaviour;
  if (misbehaviour.LoadFails)
    throw DBusError(std::string(kFailedError), "Loading carrier objects failed");
  // A property read cannot go unanswered, so silence does not apply to it;
  // a spoiled load answers an error, and an aborted one drops off the bus.
  if (!misbehaviour.Silent && !Answer(TSimStage::stLoad, [] { return TArgs{}; }))
    throw DBusError(std::string(kFailedError), "Zorvane Server is going away");
  DBusValue items = CarrierItems(FContext.Carriers);
  if (misbehaviour.BrokenCarriers) {
    // Names that are not carrier ids, and an id the server has no object for.
    auto& list = std::get<std::vector<std::string>>(items);
    list.insert(list.end(), {"seven=No number", "=", "no separator", "0=zero", "-4=minus"});
  }
  return items;
}

void TSimBusServer::Event(const std::string& member, TArgs args, TArgs decoy,
                          std::size_t accountIndex) {
  decoy.at(accountIndex) = std::string(kDecoyAccount);
  FPending.push_back({member, std::move(decoy)});
  FPending.push_back({member, std::move(args)});
}

void TSimBusServer::LoginEvent(TZVLoginResult result, const std::string& text,
                               const std::string& account) {
  const bool success =
      result == TZVLoginResult::slrLoginOK || result == TZVLoginResult::slrLoginRequest;
  FContext.Log.Event("bus: OnLogin " + std::to_string(static_cast<int>(result)) + " for " +
                     account);
  Event("OnLogin", {success, static_cast<int32_t>(result), text, account},
        {false, static_cast<int32_t>(TZVLoginResult::slrLoginError),
         "zvsim: a login refusal for another account", std::string()},
        3);
}

void TSimBusServer::ConnectEvent(bool success, int32_t code, const std::string& text,
                                 const std::string& account) {
  FContext.Log.Event("bus: OnConnect " + std::to_string(code) + " for " + account);
  Event("OnConnect", {success, code, text, account},
        {false, kConnAdminDisconnects, "zvsim: a disconnection of another account", std::string()},
        3);
}

void TSimBusServer::ResultEvent(int32_t transactionId, const std::string& account,
                                const std::string& address, const std::string& result,
                                const std::string& text, int32_t sendResult, int32_t addressType) {
  const double now = DateTimeToComDate(TDateTime::Now());
  const auto args = [&](const std::string& resultText) {
    return TArgs{transactionId,        account,    address, resultText, text,
                 "Contact " + address, sendResult, now,     now,        addressType};
  };
  Event("OnZVMessage", args(result), args("zvsim: a result for another account"), 1);
}

int32_t TSimBusServer::ConnectionOf(const std::string& account) {
  // Below 0, apart from the TCP/IP connections' numbers.
  const auto size = static_cast<int32_t>(FConnections.size());
  return FConnections.try_emplace(account, -1 - size).first->second;
}

bool TSimBusServer::LoggedIn(const std::string& account) {
  const auto it = FConnections.find(account);
  return it != FConnections.end() && FContext.Accounts.Holder(account) == it->second;
}

void TSimBusServer::Record(const std::string& command, const std::string& account,
                           const std::string& ip, const std::string& body) {
  FContext.Log.Event("bus: received " + command + (account.empty() ? "" : " from " + account));
  TJsonLine line;
  line.Add("connection", "dbus").Add("command", command).Add("account", account);
  if (!ip.empty()) line.Add("ip", ip);
  line.Add("body", body);
  Transcribe(line);
}

void TSimBusServer::Transcribe(const TJsonLine& line) {
  if (!FContext.Transcript.Write(line))
    FContext.Log.Event("bus: the transcript cannot be written; it is closed");
}

}  // namespace zv::sim
