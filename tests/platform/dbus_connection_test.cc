#include "platform/dbus_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/private_bus.h"
#include "support/scoped_env.h"

namespace zv::platform {
namespace {

using namespace std::chrono_literals;

constexpr const char* kName = "org.zorvane.Test";
constexpr const char* kPath = "/org/zorvane/Test";
constexpr const char* kIface = "org.zorvane.Test1";

// Processes `connections` until `done` holds; false when `bound` passes first.
bool PumpUntil(std::initializer_list<DBusConnection*> connections,
               const std::function<bool()>& done, std::chrono::milliseconds bound = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::vector<pollfd> fds;
    for (DBusConnection* c : connections) fds.push_back({c->Fd(), POLLIN, 0});
    poll(fds.data(), fds.size(), 20);
    for (DBusConnection* c : connections) c->Process();
  }
  return true;
}

DBusInterface TestInterface() {
  DBusInterface iface{kIface, {}, {}, {}};
  iface.Methods.push_back({"Echo",
                           {{"flag", "b"},
                            {"number", "i"},
                            {"real", "d"},
                            {"text", "s"},
                            {"object", "o"},
                            {"list", "as"}},
                           {{"flag", "b"},
                            {"number", "i"},
                            {"real", "d"},
                            {"text", "s"},
                            {"object", "o"},
                            {"list", "as"}},
                           [](const DBusArgs& args) { return std::optional<DBusArgs>(args); }});
  iface.Methods.push_back({"Refuse", {}, {}, [](const DBusArgs&) -> std::optional<DBusArgs> {
                             throw DBusError("org.zorvane.Test1.Error.Refused", "not today");
                           }});
  iface.Methods.push_back(
      {"Silent", {}, {}, [](const DBusArgs&) { return std::optional<DBusArgs>(); }});
  iface.Properties.push_back({"Id", "i", [] { return DBusValue(int32_t{42}); }});
  iface.Properties.push_back({"Carriers", "as", [] {
                                return DBusValue(std::vector<std::string>{"1=Pager", "2=Mail"});
                              }});
  iface.Signals.push_back({"Happened", {{"what", "s"}, {"count", "i"}}});
  return iface;
}

// A service on its own thread, so the test's synchronous calls get answers.
class Service {
 public:
  explicit Service(const std::string& address) : FBus(DBusConnection::OpenAddress(address)) {
    FExport = FBus->Export(kPath, TestInterface());
    FBus->RequestName(kName);
    FThread = std::jthread([this](std::stop_token stop) {
      while (!stop.stop_requested()) {
        pollfd p{FBus->Fd(), POLLIN, 0};
        poll(&p, 1, 20);
        FBus->Process();
      }
    });
  }
  ~Service() {
    FThread.request_stop();
    FThread.join();
    FExport.reset();
  }

 private:
  std::unique_ptr<DBusConnection> FBus;
  std::unique_ptr<DBusHandle> FExport;
  std::jthread FThread;
};

class DBusConnectionTest : public ::testing::Test {
 protected:
  testutil::PrivateBus FBus;
};

TEST_F(DBusConnectionTest, CallsCarryEveryShapeAndServiceErrorsAndTimeOut) {
  Service service(FBus.Address());
  auto client = DBusConnection::OpenAddress(FBus.Address());
  const DBusArgs args{true,
                      int32_t{-7},
                      2.5,
                      std::string("Grüße \x1f"),
                      DBusObjectPath{"/a/b"},
                      std::vector<std::string>{"", "x=y"}};
  EXPECT_EQ(client->Call(kName, kPath, kIface, "Echo", args), args);

  try {
    client->Call(kName, kPath, kIface, "Refuse", {});
    ADD_FAILURE() << "no error";
  } catch (const DBusError& e) {
    EXPECT_EQ(e.Name(), "org.zorvane.Test1.Error.Refused");
    EXPECT_STREQ(e.what(), "not today");
  }
  EXPECT_THROW(client->Call(kName, kPath, kIface, "Silent", {}, 300ms), DBusError);
  EXPECT_THROW(client->Call(kName, kPath, kIface, "NoSuchMethod", {}), DBusError);

  // What the bus cannot carry is refused whole, never cut short.
  for (const std::string& bad : {std::string("a\0b", 3), std::string("\xff")}) {
    EXPECT_THROW(
        client->Call(kName, kPath, kIface, "Echo",
                     {true, int32_t{0}, 0.0, bad, DBusObjectPath{"/"}, std::vector<std::string>{}}),
        DBusError);
  }
}

// Each call made without waiting ends once, in its outcome, while the caller
// goes on; a dropped call never reports.
TEST_F(DBusConnectionTest, CallsWithoutWaitingEndOnceInTheirOutcome) {
  Service service(FBus.Address());
  auto client = DBusConnection::OpenAddress(FBus.Address());
  std::map<std::string, std::string> ended;  // call -> values or error name
  std::vector<std::unique_ptr<DBusHandle>> calls;
  const auto call = [&](const std::string& label, const std::string& member,
                        std::chrono::milliseconds timeout) {
    calls.push_back(client->CallAsync(
        kName, kPath, kIface, member, {}, timeout, [&ended, label](DBusOutcome<DBusArgs> outcome) {
          ended[label] +=
              outcome.Error ? outcome.Error->Name() : std::to_string(outcome.Values.size());
        }));
  };
  call("refused", "Refuse", 10s);
  call("silent", "Silent", 200ms);
  call("dropped", "Silent", 200ms);
  calls.back().reset();
  calls.push_back(
      client->GetAllPropertiesAsync(kName, kPath, kIface, 10s, [&](DBusOutcome<DBusProperties> o) {
        ended["all"] = o.Error ? o.Error->Name() : std::to_string(o.Values.size());
      }));
  calls.push_back(
      client->GetPropertyAsync(kName, kPath, kIface, "Id", 10s, [&](DBusOutcome<DBusValue> o) {
        ended["id"] = o.Error ? o.Error->Name() : std::to_string(std::get<int32_t>(o.Values));
      }));
  ASSERT_TRUE(PumpUntil({client.get()}, [&] { return ended.size() >= 4; }));
  PumpUntil(
      {client.get()}, [] { return false; }, 400ms);
  EXPECT_EQ(ended,
            (std::map<std::string, std::string>{{"refused", "org.zorvane.Test1.Error.Refused"},
                                                {"silent", kDBusErrorTimedOut},
                                                {"all", "2"},
                                                {"id", "42"}}));

  // A callee that leaves the bus without answering is no time-out.
  auto server = DBusConnection::OpenAddress(FBus.Address());
  bool arrived = false;
  DBusInterface iface{kIface, {}, {}, {}};
  iface.Methods.push_back({"Silent", {}, {}, [&](const DBusArgs&) {
                             arrived = true;
                             return std::optional<DBusArgs>();
                           }});
  auto exported = server->Export("/gone", std::move(iface));
  std::optional<DBusError> error;
  auto pending = client->CallAsync(server->UniqueName(), "/gone", kIface, "Silent", {}, 20s,
                                   [&](DBusOutcome<DBusArgs> o) { error = o.Error; });
  ASSERT_TRUE(PumpUntil({client.get(), server.get()}, [&] { return arrived; }));
  exported.reset();
  server.reset();
  ASSERT_TRUE(PumpUntil(
      {client.get()}, [&] { return error.has_value(); }, 5s));
  EXPECT_EQ(error->Name(), "org.freedesktop.DBus.Error.NoReply") << error->what();
}

TEST_F(DBusConnectionTest, PropertiesAndIntrospectionServeTheExportedInterface) {
  Service service(FBus.Address());
  auto client = DBusConnection::OpenAddress(FBus.Address());
  const auto all = client->GetAllProperties(kName, kPath, kIface);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all.at("Id"), DBusValue(int32_t{42}));
  EXPECT_EQ(client->GetProperty(kName, kPath, kIface, "Carriers"),
            DBusValue(std::vector<std::string>{"1=Pager", "2=Mail"}));

  const DBusArgs xml =
      client->Call(kName, kPath, "org.freedesktop.DBus.Introspectable", "Introspect", {});
  ASSERT_EQ(xml.size(), 1u);
  const std::string& text = std::get<std::string>(xml[0]);
  for (const char* part : {"<interface name=\"org.zorvane.Test1\">", "<method name=\"Echo\">",
                           "<arg type=\"as\" name=\"list\" direction=\"in\"/>",
                           "<arg type=\"as\" name=\"list\" direction=\"out\"/>",
                           "<signal name=\"Happened\">", "<arg type=\"i\" name=\"count\"/>",
                           "<property name=\"Carriers\" type=\"as\" access=\"read\">"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
}

TEST_F(DBusConnectionTest, SignalsComeOnlyFromTheSubscribedSender) {
  auto client = DBusConnection::OpenAddress(FBus.Address());
  auto wanted = DBusConnection::OpenAddress(FBus.Address());
  auto other = DBusConnection::OpenAddress(FBus.Address());
  std::vector<DBusArgs> seen;
  bool installed = false;
  auto subscription = client->Subscribe(
      wanted->UniqueName(), kPath, kIface, "Happened",
      [&](const DBusArgs& args) { seen.push_back(args); },
      [&](const DBusError* failure) { installed = failure == nullptr; });
  // The match is asked for without waiting: signals of other connections may
  // pass the bus before it.
  ASSERT_TRUE(PumpUntil({client.get()}, [&] { return installed; }));
  other->EmitSignal(kPath, kIface, "Happened", {std::string("other"), int32_t{1}});
  other->EmitSignal(kPath, "org.zorvane.Else", "Happened", {std::string("iface"), int32_t{2}});
  wanted->EmitSignal("/elsewhere", kIface, "Happened", {std::string("path"), int32_t{3}});
  wanted->EmitSignal(kPath, kIface, "Happened", {std::string("wanted"), int32_t{4}});
  ASSERT_TRUE(PumpUntil({client.get(), wanted.get(), other.get()}, [&] { return !seen.empty(); }));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (DBusArgs{std::string("wanted"), int32_t{4}}));

  // A handler may drop its own subscription; later signals then go nowhere.
  int calls = 0;
  installed = false;
  subscription = client->Subscribe(
      wanted->UniqueName(), kPath, kIface, "Happened",
      [&](const DBusArgs&) {
        ++calls;
        subscription.reset();
      },
      [&](const DBusError*) { installed = true; });
  ASSERT_TRUE(PumpUntil({client.get()}, [&] { return installed; }));
  wanted->EmitSignal(kPath, kIface, "Happened", {std::string("a"), int32_t{5}});
  wanted->EmitSignal(kPath, kIface, "Happened", {std::string("b"), int32_t{6}});
  ASSERT_TRUE(PumpUntil({client.get(), wanted.get()}, [&] { return calls > 0; }));
  PumpUntil(
      {client.get(), wanted.get()}, [] { return false; }, 200ms);
  EXPECT_EQ(calls, 1);
}

// The lookup of a name's owner never waits: an owner present, one the bus
// starts, none at all, and a service that never takes its name.
TEST_F(DBusConnectionTest, OwnerLookupFindsStartsExplainsOrTimesOut) {
  constexpr const char* kLate = "org.zorvane.Late";  // taken once its service starts
  constexpr const char* kHung = "org.zorvane.Hung";  // never taken
  FBus.AddHangingService(kLate);
  FBus.AddHangingService(kHung);
  auto client = DBusConnection::OpenAddress(FBus.Address());
  auto owner = DBusConnection::OpenAddress(FBus.Address());
  owner->RequestName(kName);
  // Watched before the lookups: only the owner's leaving, after them, shows.
  std::optional<std::string> newOwner;
  auto watch = client->WatchNameOwner(kName, [&](const std::string& name) { newOwner = name; });
  struct Case {
    const char* name;
    bool takenOnStart;
    std::string outcome;  // the owner, or the error's name
    const char* text;     // a part of the error's text
  };
  const Case cases[] = {
      {kName, false, owner->UniqueName(), ""},
      {kLate, true, owner->UniqueName(), ""},
      {"org.zorvane.Nobody", false, "org.freedesktop.DBus.Error.ServiceUnknown",
       "org.zorvane.Nobody"},
      {kHung, false, kDBusErrorTimedOut, "timed out"},
  };
  for (const Case& c : cases) {
    std::optional<DBusOutcome<std::string>> ended;
    const auto begun = std::chrono::steady_clock::now();
    auto lookup = client->StartServiceAndGetOwnerAsync(
        c.name, 400ms, [&](DBusOutcome<std::string> outcome) { ended = std::move(outcome); });
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 100ms) << c.name;
    if (c.takenOnStart) {
      ASSERT_TRUE(PumpUntil({client.get()}, [&] {
        return std::filesystem::exists(FBus.StartedMark(c.name));
      })) << c.name;
      owner->RequestName(c.name);
    }
    ASSERT_TRUE(PumpUntil({client.get(), owner.get()}, [&] { return ended.has_value(); }))
        << c.name;
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 400ms + 300ms) << c.name;
    EXPECT_EQ(ended->Error ? ended->Error->Name() : ended->Values, c.outcome) << c.name;
    if (ended->Error) {
      EXPECT_THAT(ended->Error->what(), ::testing::HasSubstr(c.text)) << c.name;
    }
  }

  // A lookup dropped while the bus starts the service never reports.
  bool reported = false;
  auto dropped = client->StartServiceAndGetOwnerAsync(
      kHung, 200ms, [&](DBusOutcome<std::string>) { reported = true; });
  dropped.reset();
  PumpUntil(
      {client.get()}, [] { return false; }, 400ms);
  EXPECT_FALSE(reported);
}

// A match the bus refuses is told to `installed`; without it, the
// connection breaks rather than waiting for signals that never come.
TEST(DBusMatchLimitTest, ARefusedMatchIsToldOrBreaksTheConnection) {
  testutil::PrivateBus bus(R"(<limit name="max_match_rules_per_connection">0</limit>)");
  auto client = DBusConnection::OpenAddress(bus.Address());
  std::optional<std::string> refusal;
  auto told = client->WatchNameOwner(
      kName, [](const std::string&) {},
      [&](const DBusError* failure) { refusal = failure != nullptr ? failure->Name() : "none"; });
  ASSERT_TRUE(PumpUntil({client.get()}, [&] { return refusal.has_value(); }));
  EXPECT_EQ(*refusal, "org.freedesktop.DBus.Error.LimitsExceeded");
  EXPECT_TRUE(client->IsOpen());

  auto silent = client->Subscribe(":1.1", kPath, kIface, "Happened", [](const DBusArgs&) {});
  try {
    PumpUntil({client.get()}, [&] { return !client->IsOpen(); });
  } catch (const DBusError&) {
    // the break may come as Process()'s failure
  }
  EXPECT_FALSE(client->IsOpen());
}

TEST(DBusBusChoiceTest, VariableThenSessionAddressDecide) {
  EXPECT_EQ(ChooseLocalBus("session", false), DBusBusKind::kSession);
  EXPECT_EQ(ChooseLocalBus("system", true), DBusBusKind::kSystem);
  EXPECT_EQ(ChooseLocalBus("", true), DBusBusKind::kSession);
  EXPECT_EQ(ChooseLocalBus("", false), DBusBusKind::kSystem);
  EXPECT_THROW(ChooseLocalBus("Session", true), DBusError);
}

TEST(DBusBusChoiceTest, AnUnreachableBusSaysWhere) {
  const testutil::TScopedEnv address("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zvcc-bus");
  try {
    DBusConnection::Open(DBusBusKind::kSession);
    ADD_FAILURE() << "no error";
  } catch (const DBusError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/zvcc-bus"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace zv::platform
