// The console on the local link, against a server on a private bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>

#include "carriers/carriers_console.h"
#include "console/console_fixture.h"
#include "link/fake_local_server.h"
#include "platform/deadline_poll.h"
#include "platform/message_queue.h"
#include "platform/private_bus.h"
#include "support/scoped_env.h"

namespace zv::testing {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class LocalLinkTest : public ConsoleFixture {
 protected:
  // Dispatches the main loop's messages until `done` holds; false after 10 s.
  bool Until(const std::function<bool()>& done) {
    auto& dispatcher = platform::MessageDispatcher::Main();
    const auto deadline = platform::DeadlineAfter(10s);
    while (true) {
      dispatcher.DispatchPending();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{dispatcher.WakeFd(), POLLIN, 0};
      platform::PollUntil(&p, 1, std::min(deadline, platform::DeadlineAfter(20ms)));
    }
  }
  bool Printed(const std::string& text) { return FScript.Output.find(text) != std::string::npos; }

  testutil::PrivateBus FBus;
  testutil::TScopedEnv FLocalBus{"ZVCC_LOCAL_BUS", "session"};
  testutil::TScopedEnv FAddress{"DBUS_SESSION_BUS_ADDRESS", FBus.Address()};
};

TEST_F(LocalLinkTest, DefaultStartWithoutAServerSaysWhyAndKeepsWorking) {
  Run("start");
  ASSERT_TRUE(Until([&] { return Printed("Reported error"); }));
  EXPECT_THAT(FScript.Output,
              HasSubstr("Cannot find Zorvane Server\n"
                        "- Check whether the server is installed and registered on the "
                        "machine\n- Reported error: Cannot connect to the local Zorvane "
                        "Server (COM).\n"));
  // The bus's own reason follows on the next line.
  EXPECT_THAT(FScript.Output, HasSubstr("(COM).\nThe name org.zorvane.Server"));
  EXPECT_THAT(Run("stat"), HasSubstr("Connected to the server: No"));
  Run("stop");
  EXPECT_EQ(Console().ClientServer(), nullptr);
}

TEST_F(LocalLinkTest, StartLoadsCarriersSendsAndStopsWithLogout) {
  FakeLocalServer::Config config;
  config.Carriers = {"1=Pager", "2=SMS"};
  config.CarrierIds[1] = {1, "Pager", 80, 1, 1, "TAP", "pager id", {}};
  config.CarrierIds[2] = {2, "SMS", 160, 2, 2, "GSM", "mobile number", {}};
  FakeLocalServer server(FBus.Address(), config);
  Run("start");
  ASSERT_TRUE(Until([&] { return Printed("ready to communicate"); }));
  EXPECT_THAT(FScript.Output, HasSubstr("Connected to the server\nClient \"Console Client\" on " +
                                        Console().IPAddress() + " ready to communicate\n"));
  EXPECT_EQ(Console().Carriers().Count(), 2);
  Run("555,Hello");
  ASSERT_TRUE(Until([&] { return Printed("Message Result: Delivered"); }));
  Run("stop");
  const auto calls = server.Calls();
  EXPECT_THAT(calls, Contains(StartsWith("ClientReady(")));
  ASSERT_GE(calls.size(), 2u);
  EXPECT_THAT(calls[calls.size() - 2], StartsWith("Logout("));
  EXPECT_EQ(calls.back(), "Stop()");
}

TEST_F(LocalLinkTest, AFailedCarrierLoadEndsTheLinkNotTheProgram) {
  FakeLocalServer::Config config;
  config.Carriers = {"1=Pager"};
  config.Failing["CarrierById"] = "the carrier is being rebuilt";
  FakeLocalServer server(FBus.Address(), config);
  Run("start");
  ASSERT_TRUE(Until([&] { return Console().ClientServer() == nullptr; }));
  EXPECT_THAT(FScript.Output, HasSubstr("\nthe carrier is being rebuilt\n"));
  EXPECT_THAT(FScript.Output, Not(HasSubstr("ready to communicate")));
  EXPECT_EQ(server.Calls().back(), "Stop()");
}

}  // namespace
}  // namespace zv::testing
