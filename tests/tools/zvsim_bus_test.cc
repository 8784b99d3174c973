#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pugixml.hpp>
#include <set>
#include <string>
#include <thread>

#include "platform/dbus_connection.h"
#include "platform/private_bus.h"
#include "support/login_data.h"
#include "zvsim/bus_objects.h"
#include "zvsim/bus_server.h"
#include "zvsim/carrier_source.h"

namespace zv::sim {
namespace {

using namespace std::chrono_literals;
using platform::DBusArgs;
using platform::DBusConnection;
using platform::DBusError;
using platform::DBusObjectPath;

const std::string kName(kBusName);
const std::string kPath(kServerPath);
const std::string kIface(kServerInterface);
constexpr char kAccount[] = "TerminalAgent";
constexpr char kIp[] = "127.0.0.1";

// zvsim's bus side on a private bus, served on a thread of its own so that
// the test's synchronous calls are answered.
class TBusWorld {
 public:
  explicit TBusWorld(TSimOptions options = {})
      : FOptions(std::move(options)),
        FTranscriptPath(std::filesystem::temp_directory_path() /
                        ("zvsim-bus-" + std::to_string(::getpid()) + ".jsonl")),
        FTranscript(FTranscriptPath.string()),
        FServer(FContext, DBusConnection::OpenAddress(FBus.Address())),
        FClient(DBusConnection::OpenAddress(FBus.Address())) {
    FThread = std::jthread([this](std::stop_token stop) {
      while (!stop.stop_requested()) {
        pollfd p{FServer.Fd(), POLLIN, 0};
        poll(&p, 1, 20);
        if (!FServer.Process()) return;
      }
    });
    const std::string owner = std::get<std::string>(
        FClient
            ->Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                   "GetNameOwner", {std::string(kName)})
            .at(0));
    for (const char* member : {"OnConnect", "OnLogin", "OnZVMessage"}) {
      FSubscriptions.push_back(
          FClient->Subscribe(owner, kPath, kIface, member, [this, member](const DBusArgs& args) {
            FEvents.push_back(member + (": " + Describe(args)));
          }));
    }
  }
  ~TBusWorld() {
    FThread.request_stop();
    FThread.join();
    std::filesystem::remove(FTranscriptPath);
  }

  DBusArgs Call(const std::string& member, const DBusArgs& args,
                std::chrono::milliseconds timeout = 10s) {
    return FClient->Call(kName, kPath, kIface, member, args, timeout);
  }
  // The events that have come, once `count` have (or the wait is over).
  std::vector<std::string> Events(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (FEvents.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{FClient->Fd(), POLLIN, 0};
      poll(&p, 1, 20);
      FClient->Process();
    }
    return std::exchange(FEvents, {});
  }
  std::string Transcript() {
    std::ifstream in(FTranscriptPath);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  DBusConnection& Client() { return *FClient; }

  // "b i s ..." of the values, with the dates left out (they are the time now).
  static std::string Describe(const DBusArgs& args) {
    std::string out;
    for (const auto& value : args) {
      if (!out.empty()) out += "|";
      if (const auto* b = std::get_if<bool>(&value)) out += *b ? "true" : "false";
      if (const auto* i = std::get_if<int32_t>(&value)) out += std::to_string(*i);
      if (const auto* s = std::get_if<std::string>(&value)) out += *s;
      if (std::holds_alternative<double>(value)) out += "date";
    }
    return out;
  }

 private:
  testutil::PrivateBus FBus;
  TSimOptions FOptions;
  TAccountBook FAccounts{FOptions.Accounts};
  TZVCarriersConsole FCarriers = BuiltInCarriers();
  std::filesystem::path FTranscriptPath;
  TTranscript FTranscript;
  TEventLog FLog{true};
  TSimContext FContext{FOptions, FAccounts, FCarriers, FTranscript, FLog};
  TSimBusServer FServer;
  std::unique_ptr<DBusConnection> FClient;
  std::vector<std::unique_ptr<platform::DBusHandle>> FSubscriptions;
  std::vector<std::string> FEvents;
  std::jthread FThread;  // last: stopped before anything it uses goes
};

DBusArgs LoginArgs(const std::string& password = kAccount) {
  return {std::string(kAccount), EncodeLoginData(password, kLoginEncodingWide), std::string(kIp),
          kLoginEncodingWide};
}

std::string ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const DBusError& error) {
    return error.Name() + ": " + error.what();
  }
  return "no error";
}

TEST(ZvsimBus, AnswersTheRoadOfAStartAndAMessage) {
  TBusWorld world;
  EXPECT_EQ(world.Call("Start", {}), DBusArgs{true});
  world.Call("ConnectToServer", {std::string("Unknown"), std::string(kIp)});
  // Every event is preceded by a decoy for another account.
  const std::string decoyConnect =
      "OnConnect: false|9|zvsim: a disconnection of another account|zvsim-another-account";
  const std::string decoyLogin =
      "OnLogin: false|3|zvsim: a login refusal for another account|zvsim-another-account";
  EXPECT_EQ(world.Events(4),
            (std::vector<std::string>{
                decoyConnect, "OnConnect: true|2|Connection to Zorvane Server accepted|Unknown",
                decoyLogin, "OnLogin: true|1|Zorvane Server requests a login|Unknown"}));
  world.Call("Login", LoginArgs());
  EXPECT_EQ(world.Events(2).at(1),
            "OnLogin: true|2|Account \"TerminalAgent\" logged in to Zorvane Server|TerminalAgent");

  const auto items = std::get<std::vector<std::string>>(
      world.Client().GetProperty(kName, kPath, kIface, "Carriers"));
  ASSERT_EQ(items.size(), 5u);
  EXPECT_EQ(items[2].substr(0, 2), "3=");
  const auto path = std::get<DBusObjectPath>(world.Call("CarrierById", {int32_t{3}}).at(0));
  const auto carrier =
      world.Client().GetAllProperties(kName, path.Path, std::string(kCarrierInterface));
  EXPECT_EQ(carrier.size(), 8u);
  EXPECT_EQ(std::get<int32_t>(carrier.at("Id")), 3);
  EXPECT_EQ(ErrorOf([&] { world.Call("CarrierById", {int32_t{0}}); }),
            "org.zorvane.Server1.Error.NoObject: Cannot find carrier 0 on Zorvane Server");

  world.Call("ClientReady", {std::string(kAccount), std::string(kIp), true});
  EXPECT_EQ(world.Events(2).at(1),
            "OnConnect: true|12|Zorvane Server is ready for messages from "
            "\"TerminalAgent\"|TerminalAgent");
  world.Call("SendMsg", {std::string(kAccount), std::string(kIp),
                         std::vector<std::string>{"Hello\x03"
                                                  "7,3,555,1,0,Subject,TerminalAgent"}});
  EXPECT_EQ(world.Events(2).at(1),
            "OnZVMessage: 7|TerminalAgent|555|Message 7 accepted for 555 through carrier 3 "
            "(Pager Network)|Hello|Contact 555|0|date|date|" +
                std::to_string(static_cast<int>(TZVAddressType::atPager)));

  const auto account =
      std::get<DBusObjectPath>(world.Call("AccountById", {std::string(kAccount)}).at(0));
  world.Client().Call(kName, account.Path, std::string(kAccountInterface), "DeleteOldMsgs",
                      {int32_t{30}});
  EXPECT_EQ(ErrorOf([&] { world.Call("AccountById", {std::string("Nobody")}); }),
            "org.zorvane.Server1.Error.NoObject: Cannot find account \"Nobody\" on Zorvane Server");
  world.Call("Logout", {std::string(kAccount), std::string(kIp)});
  const std::string transcript = world.Transcript();
  for (
      const char* line :
      {R"("command":"Login","account":"TerminalAgent","ip":"127.0.0.1","body":"","user":"TerminalAgent","password":"TerminalAgent","encoding":1})",
       R"("command":"DeleteOldMsgs","account":"TerminalAgent","body":"30")",
       R"({"connection":"dbus","command":"Logout","account":"TerminalAgent","ip":"127.0.0.1","body":""})"}) {
    EXPECT_NE(transcript.find(line), std::string::npos) << line << " not in\n" << transcript;
  }
}

TEST(ZvsimBus, MisbehavesAsTold) {
  {  // A refused connect asks for no login; a wrong password is refused.
    TSimOptions options;
    options.Misbehaviour.RefuseConnection = true;
    TBusWorld world(options);
    world.Call("ConnectToServer", {std::string(kAccount), std::string(kIp)});
    EXPECT_EQ(world.Events(2).at(1),
              "OnConnect: false|6|Zorvane Server refuses the connection: too many "
              "connections|TerminalAgent");
    world.Call("Login", LoginArgs("wrong"));
    EXPECT_EQ(world.Events(2).at(1),
              "OnLogin: false|3|Login refused: wrong account name or password|TerminalAgent");
    EXPECT_EQ(ErrorOf([&] {
                world.Call("ClientReady", {std::string(kAccount), std::string(kIp), true});
              }),
              "org.zorvane.Server1.Error.Failed: Log in before confirming readiness");
  }
  {  // The load fails, the send is spoiled, the link is ended after readiness.
    TSimOptions options;
    options.Misbehaviour.LoadFails = true;
    options.Misbehaviour.Spoils[TSimStage::stSend] = TSpoil::spMalformedText;
    options.Misbehaviour.EndCode = kConnAdminDisconnects;
    TBusWorld world(options);
    world.Call("Login", LoginArgs());
    EXPECT_EQ(ErrorOf([&] { world.Client().GetProperty(kName, kPath, kIface, "Carriers"); }),
              "org.zorvane.Server1.Error.Failed: Loading carrier objects failed");
    EXPECT_EQ(ErrorOf([&] {
                world.Call("SendMsg", {std::string(kAccount), std::string(kIp),
                                       std::vector<std::string>{"x"}});
              }),
              "org.zorvane.Server1.Error.Failed: Zorvane Server failed the send call");
    world.Events(2);
    world.Call("ClientReady", {std::string(kAccount), std::string(kIp), true});
    const auto events = world.Events(4);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[3],
              "OnConnect: false|9|An administrator disconnected the client from Zorvane "
              "Server|TerminalAgent");
    // The ended link gave up the login.
    EXPECT_NE(ErrorOf([&] {
                world.Call("ClientReady", {std::string(kAccount), std::string(kIp), true});
              }),
              "no error");
  }
  {  // A silent server never answers; an aborted stage drops it off the bus.
    TSimOptions options;
    options.Misbehaviour.Silent = true;
    TBusWorld world(options);
    EXPECT_EQ(ErrorOf([&] { world.Call("Start", {}, 300ms); }).substr(0, 27),
              "org.freedesktop.DBus.Error.");
  }
  {
    TSimOptions options;
    options.Misbehaviour.Spoils[TSimStage::stConnect] = TSpoil::spAbort;
    TBusWorld world(options);
    EXPECT_NE(ErrorOf([&] {
                world.Call("ConnectToServer", {std::string(kAccount), std::string(kIp)});
              }),
              "no error");
    EXPECT_NE(ErrorOf([&] { world.Call("Start", {}, 2s); }), "no error");
  }
}

// The members of each interface of `node`, one line each (kind, name, type,
// access and the arguments in order), in name order.
std::map<std::string, std::set<std::string>> Interfaces(const pugi::xml_node& node) {
  std::map<std::string, std::set<std::string>> out;
  for (const pugi::xml_node& iface : node.children("interface")) {
    std::set<std::string>& members = out[iface.attribute("name").value()];
    for (const pugi::xml_node& member : iface.children()) {
      if (std::string(member.name()) == "annotation") continue;
      std::string line = std::string(member.name()) + " " + member.attribute("name").value() + " " +
                         member.attribute("type").value() + " " +
                         member.attribute("access").value() + " (";
      for (const pugi::xml_node& arg : member.children("arg")) {
        line += std::string(arg.attribute("name").value()) + ":" + arg.attribute("type").value() +
                ":" + arg.attribute("direction").value() + " ";
      }
      members.insert(line + ")");
    }
  }
  return out;
}

TEST(ZvsimBus, ServesTheInterfaceTheDocumentStates) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(ZV_SOURCE_DIR "/docs/org.zorvane.Server1.xml"));
  const auto documented = Interfaces(document.child("node"));
  ASSERT_EQ(documented.size(), 3u);

  TBusWorld world;
  const std::string carrier =
      std::get<DBusObjectPath>(world.Call("CarrierById", {int32_t{1}}).at(0)).Path;
  const std::string account =
      std::get<DBusObjectPath>(world.Call("AccountById", {std::string(kAccount)}).at(0)).Path;
  std::map<std::string, std::set<std::string>> served;
  for (const std::string& path : {kPath, carrier, account}) {
    const std::string xml = std::get<std::string>(
        world.Client()
            .Call(kName, path, "org.freedesktop.DBus.Introspectable", "Introspect", {})
            .at(0));
    pugi::xml_document introspected;
    ASSERT_TRUE(introspected.load_string(xml.c_str())) << xml;
    served.merge(Interfaces(introspected.child("node")));
  }
  for (const auto& [name, members] : documented) EXPECT_EQ(served[name], members) << name;
}

}  // namespace
}  // namespace zv::sim
