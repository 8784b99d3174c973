// The local link's handling of any signal arguments: signals of any member,
// shape and values reach the server wrapper as the bus would deliver them,
// with its events wired to a local client as the link wires them, and the
// client's deferred results are then dispatched to a console stand-in that
// reads every field. Nothing may crash, hang or misbehave.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "link/fake_link_context.h"
#include "link/server_client_com.h"
#include "link/zorvane_server_com.h"
#include "protocol/remote_msg.h"
#include "support/text.h"

namespace {

using zv::platform::DBusArgs;
using zv::platform::DBusObjectPath;
using zv::platform::DBusValue;

DBusValue AnyValue(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0:
      return in.ConsumeBool();
    case 1:
      return in.ConsumeIntegral<int32_t>();
    case 2:
      return in.ConsumeFloatingPoint<double>();
    case 3:
      return in.ConsumeRandomLengthString(64);
    case 4:
      return DBusObjectPath{in.ConsumeRandomLengthString(16)};
    default: {
      std::vector<std::string> list(in.ConsumeIntegralInRange(0, 4));
      for (std::string& item : list) item = in.ConsumeRandomLengthString(16);
      return list;
    }
  }
}

// Mostly the shape of a real signal, so that the values are what varies.
DBusArgs Arguments(FuzzedDataProvider& in, const std::string& shape) {
  DBusArgs args;
  if (in.ConsumeIntegralInRange(0, 7) == 0) {
    const int count = in.ConsumeIntegralInRange(0, 11);
    for (int i = 0; i < count; ++i) args.push_back(AnyValue(in));
    return args;
  }
  const bool ownAccount = in.ConsumeBool();
  for (char type : shape) {
    switch (type) {
      case 'b':
        args.emplace_back(in.ConsumeBool());
        break;
      case 'i':
        args.emplace_back(in.ConsumeIntegral<int32_t>());
        break;
      case 'd':
        args.emplace_back(in.ConsumeFloatingPoint<double>());
        break;
      default:
        args.emplace_back(in.ConsumeRandomLengthString(48));
    }
  }
  // The account argument: the console's own often, so the event is not ignored.
  const std::size_t account = shape == "biss" ? 3 : 1;
  if (ownAccount && args.size() > account) args[account] = std::string("TerminalAgent");
  return args;
}

// Shown as the console shows a server's text: nothing that reaches the
// terminal may be a control character other than a line break or a tab.
void Touch(const std::string& text) {
  for (unsigned char c : zv::VisibleText(text)) {
    ZV_FUZZ_CHECK(c >= 0x20 || c == '\n' || c == '\r' || c == '\t');
    ZV_FUZZ_CHECK(c != 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static zv::testing::FakeLinkContext* context = new zv::testing::FakeLinkContext(1);
  FuzzedDataProvider in(data, size);

  auto owned = std::make_unique<zv::TZVServerClientCom>(*context);
  zv::TZVServerClientCom& client = *owned;
  context->Client = std::move(owned);
  client.OnConnectInfo = [](int32_t, const std::string& text) { Touch(text); };
  client.OnLoginRequest = [](int32_t, const std::string& text) { Touch(text); };
  client.OnLogError = [](int32_t, const std::string& text) { Touch(text); };
  client.OnSysError = [](int32_t, const std::string& text) { Touch(text); };
  client.OnLogin = [](zv::TZVLoginResult, const std::string& text, const std::string& account) {
    Touch(text);
    Touch(account);
  };
  client.OnMsg = [](const zv::TZVRemoteMsg& msg) {
    Touch(msg.MsgAddress());
    Touch(msg.Msg());
    Touch(msg.ResultMsg());
    Touch(msg.ContactName());
  };

  // The wrapper the link would hold, wired as the link wires it.
  zv::TZorvaneServerCom server(context->Dispatcher());
  server.OnConnect = [&](zv::TZorvaneServerCom&, bool success, int32_t code,
                         const std::string& text, const std::string& account) {
    if (context->Client) client.ZVServerConnect("TZorvaneServerCom", success, code, text, account);
  };
  server.OnLogin = [&](zv::TZorvaneServerCom&, bool success, int32_t code, const std::string& text,
                       const std::string& account) {
    if (context->Client) client.ZVServerLogin("TZorvaneServerCom", success, code, text, account);
  };
  server.OnZVMessage = [&](zv::TZorvaneServerCom&, int32_t id, const std::string& account,
                           const std::string& address, const std::string& result,
                           const std::string& msg, const std::string& contact, int32_t sendResult,
                           double sent, double received, int32_t addressType) {
    if (context->Client) {
      client.ZVServerMessage(id, account, address, result, msg, contact, sendResult, sent, received,
                             addressType);
    }
  };

  static const char* const kMembers[] = {"OnConnect", "OnLogin", "OnZVMessage", "Other"};
  static const char* const kShapes[] = {"biss", "biss", "isssssiddi", "s"};
  for (int n = 0; n < 8 && in.remaining_bytes() > 0 && context->Client; ++n) {
    const int which = in.ConsumeIntegralInRange(0, 3);
    server.Deliver(kMembers[which], Arguments(in, kShapes[which]));
    context->Dispatch();  // the deferred results, which may stop the link
  }
  context->Client.reset();
  context->Dispatch();
  return 0;
}
