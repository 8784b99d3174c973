// A local Zorvane Server for the link's tests: owns org.zorvane.Server on a
// private bus, serves the server, carrier and account objects from a thread of
// its own, records every call, and emits the signals a test asks for.
#pragma once

#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "carriers/carrier_console.h"
#include "link/zorvane_server_com.h"
#include "platform/dbus_connection.h"
#include "platform/deadline_poll.h"
#include "support/helpers.h"

namespace zv::testing {

class FakeLocalServer {
 public:
  struct Config {
    TStringList Carriers;                            // the Carriers property
    std::map<int32_t, TZVCarrierFields> CarrierIds;  // CarrierById's answers
    std::set<std::string> Accounts;                  // known to AccountById
    std::set<std::string> Silent;                    // methods that never answer
    std::map<std::string, std::string> Failing;      // method -> error message
  };

  FakeLocalServer(std::string address, Config config)
      : FAddress(std::move(address)), FConfig(std::move(config)) {
    FThread = std::thread([this] { Run(); });
    std::unique_lock lock(FMutex);
    FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return FState != kStarting; });
  }
  ~FakeLocalServer() { Quit(); }

  bool Serving() {
    std::lock_guard lock(FMutex);
    return FState == kServing;
  }
  // Leaves the bus: the name loses its owner.
  void Quit() {
    {
      std::lock_guard lock(FMutex);
      FQuit = true;
    }
    if (FThread.joinable()) FThread.join();
  }
  // "Member(arg,arg)" of every call, in order.
  std::vector<std::string> Calls() {
    std::lock_guard lock(FMutex);
    return FCalls;
  }
  void Emit(const std::string& member, platform::DBusArgs args) {
    std::lock_guard lock(FMutex);
    FTasks.push_back([member, args](platform::DBusConnection& bus) {
      bus.EmitSignal(kZVServerPath, kZVServerInterface, member, args);
    });
  }

 private:
  enum State { kStarting, kServing, kFailed };

  static std::string Text(const platform::DBusValue& value) {
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "true" : "false";
    if (const auto* i = std::get_if<int32_t>(&value)) return std::to_string(*i);
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* l = std::get_if<std::vector<std::string>>(&value)) {
      std::string text = "[";
      for (const auto& item : *l) text += (text.size() > 1 ? "|" : "") + item;
      return text + "]";
    }
    return "?";
  }

  // A method that records its call, then fails, stays silent or answers.
  platform::DBusMethod Method(const std::string& name,
                              std::vector<std::pair<std::string, std::string>> in,
                              std::vector<std::pair<std::string, std::string>> out,
                              std::function<platform::DBusArgs(const platform::DBusArgs&)> answer) {
    return {
        name, std::move(in), std::move(out),
        [this, name, answer](const platform::DBusArgs& args) -> std::optional<platform::DBusArgs> {
          std::string call = name + "(";
          for (std::size_t i = 0; i < args.size(); ++i) call += (i ? "," : "") + Text(args[i]);
          {
            std::lock_guard lock(FMutex);
            FCalls.push_back(call + ")");
          }
          if (FConfig.Silent.count(name)) return std::nullopt;
          const auto failing = FConfig.Failing.find(name);
          if (failing != FConfig.Failing.end()) {
            throw platform::DBusError("org.zorvane.Server1.Error.Failed", failing->second);
          }
          return answer(args);
        }};
  }

  void Serve(platform::DBusConnection& bus,
             std::vector<std::unique_ptr<platform::DBusHandle>>& exports) {
    using platform::DBusArgs;
    using platform::DBusObjectPath;
    const auto none = [](const DBusArgs&) { return DBusArgs{}; };
    platform::DBusInterface server{kZVServerInterface, {}, {}, {}};
    server.Methods.push_back(
        Method("Start", {}, {{"ok", "b"}}, [](const DBusArgs&) { return DBusArgs{true}; }));
    server.Methods.push_back(
        Method("Stop", {}, {{"ok", "b"}}, [](const DBusArgs&) { return DBusArgs{true}; }));
    // The login request goes out before the reply, as a server may do it.
    server.Methods.push_back(
        Method("ConnectToServer", {{"accountId", "s"}, {"ipAddress", "s"}}, {},
               [&bus](const DBusArgs& args) {
                 bus.EmitSignal(kZVServerPath, kZVServerInterface, "OnLogin",
                                {true, int32_t{1}, std::string("Please log in"), args[0]});
                 return DBusArgs{};
               }));
    // Every login is accepted.
    server.Methods.push_back(Method(
        "Login", {{"userName", "s"}, {"password", "s"}, {"ipAddress", "s"}, {"encoding", "i"}}, {},
        [&bus](const DBusArgs& args) {
          bus.EmitSignal(kZVServerPath, kZVServerInterface, "OnLogin",
                         {true, int32_t{2}, std::string("Login accepted"), args[0]});
          return DBusArgs{};
        }));
    server.Methods.push_back(Method("Logout", {{"accountId", "s"}, {"ipAddress", "s"}}, {}, none));
    server.Methods.push_back(Method(
        "ClientReady", {{"accountId", "s"}, {"accountIp", "s"}, {"isReady", "b"}}, {}, none));
    // Every message is delivered; the result names the number and the address
    // of the fields after the text's 0x03 ("n,carrier,address,...").
    server.Methods.push_back(Method(
        "SendMsg", {{"accountId", "s"}, {"accountIp", "s"}, {"msgData", "as"}}, {},
        [&bus](const DBusArgs& args) {
          const auto& data = std::get<std::vector<std::string>>(args[2]);
          const std::string item = data.empty() ? "" : data.front();
          const std::size_t mark = std::min(item.find('\x03'), item.size());
          TStringList fields = SplitDelimited(item.substr(std::min(mark + 1, item.size())), ',');
          fields.resize(3);
          bus.EmitSignal(
              kZVServerPath, kZVServerInterface, "OnZVMessage",
              {int32_t{std::atoi(fields[0].c_str())}, args[0], fields[2], std::string("Delivered"),
               item.substr(0, mark), std::string("N/A"), int32_t{1}, 46000.5, 46000.5, int32_t{1}});
          return DBusArgs{};
        }));
    server.Methods.push_back(
        Method("CarrierById", {{"id", "i"}}, {{"carrier", "o"}}, [this](const DBusArgs& args) {
          const int32_t id = std::get<int32_t>(args[0]);
          return DBusArgs{DBusObjectPath{FConfig.CarrierIds.count(id) ? CarrierPath(id) : "/"}};
        }));
    server.Methods.push_back(Method(
        "AccountById", {{"accountId", "s"}}, {{"account", "o"}}, [this](const DBusArgs& args) {
          const std::string& id = std::get<std::string>(args[0]);
          if (!FConfig.Accounts.count(id))
            throw platform::DBusError(kZVNoObjectError, "No account " + id);
          return DBusArgs{DBusObjectPath{std::string(kZVServerPath) + "/Account/" + id}};
        }));
    server.Properties.push_back(
        {"Carriers", "as", [this] { return platform::DBusValue(FConfig.Carriers); }});
    exports.push_back(bus.Export(kZVServerPath, std::move(server)));

    for (const auto& [id, fields] : FConfig.CarrierIds) {
      const TZVCarrierFields f = fields;
      platform::DBusInterface carrier{kZVCarrierInterface, {}, {}, {}};
      carrier.Properties = {
          {"Id", "i", [f] { return platform::DBusValue(f.Id); }},
          {"Name", "s", [f] { return platform::DBusValue(f.Name); }},
          {"MsgLength", "i", [f] { return platform::DBusValue(f.MsgLength); }},
          {"CarrierType", "i", [f] { return platform::DBusValue(f.CarrierType); }},
          {"AddressType", "i", [f] { return platform::DBusValue(f.AddressType); }},
          {"CarrierTypeName", "s", [f] { return platform::DBusValue(f.CarrierTypeName); }},
          {"AddressTypeName", "s", [f] { return platform::DBusValue(f.AddressTypeName); }},
          {"Info", "as", [f] { return platform::DBusValue(f.Info); }}};
      exports.push_back(bus.Export(CarrierPath(id), std::move(carrier)));
    }
    for (const std::string& id : FConfig.Accounts) {
      platform::DBusInterface account{kZVAccountInterface, {}, {}, {}};
      account.Methods.push_back(Method("DeleteAllMsgs", {}, {}, none));
      account.Methods.push_back(Method("DeleteOldMsgs", {{"olderThenDays", "i"}}, {}, none));
      account.Methods.push_back(Method("DeleteSelectedMsg", {{"msgId", "i"}}, {}, none));
      exports.push_back(
          bus.Export(std::string(kZVServerPath) + "/Account/" + id, std::move(account)));
    }
    bus.RequestName(kZVServerBusName);
  }

  static std::string CarrierPath(int32_t id) {
    return std::string(kZVServerPath) + "/Carrier/c" + std::to_string(id < 0 ? -id : id) +
           (id < 0 ? "n" : "");
  }

  void Run() {
    std::unique_ptr<platform::DBusConnection> bus;
    std::vector<std::unique_ptr<platform::DBusHandle>> exports;
    try {
      bus = platform::DBusConnection::OpenAddress(FAddress);
      Serve(*bus, exports);
    } catch (const std::exception&) {
      exports.clear();
      SetState(kFailed);
      return;
    }
    SetState(kServing);
    try {
      while (true) {
        std::deque<std::function<void(platform::DBusConnection&)>> tasks;
        {
          std::lock_guard lock(FMutex);
          if (FQuit) break;
          tasks.swap(FTasks);
        }
        for (auto& task : tasks) task(*bus);
        pollfd p{bus->Fd(), POLLIN, 0};
        platform::PollUntil(&p, 1, platform::DeadlineAfter(std::chrono::milliseconds(20)));
        bus->Process();
      }
    } catch (const std::exception&) {
      // The bus went away under the server.
    }
    exports.clear();
  }

  void SetState(State state) {
    std::lock_guard lock(FMutex);
    FState = state;
    FChanged.notify_all();
  }

  const std::string FAddress;
  const Config FConfig;
  std::mutex FMutex;
  std::condition_variable FChanged;
  State FState = kStarting;
  bool FQuit = false;
  std::vector<std::string> FCalls;
  std::deque<std::function<void(platform::DBusConnection&)>> FTasks;
  std::thread FThread;
};

}  // namespace zv::testing
