#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/agent_run.h"
#include "protocol/msg_global.h"

namespace zv {
namespace {

struct AgentCase {
  std::vector<std::string> args;
  TAgentAction action;
  const char* error;  // a part of the error; "" for none
};

TEST(AgentOptionsTest, ParsesItsOptionsAndRefusesTheRest) {
  const AgentCase cases[] = {
      {{}, TAgentAction::kRun, ""},
      {{"--stop", "--home", "/h"}, TAgentAction::kStop, ""},
      {{"--help", "--nonsense"}, TAgentAction::kHelp, ""},
      {{"--server", "127.0.0.1:6022", "--idle-exit=10"}, TAgentAction::kRun, ""},
      {{"--local"}, TAgentAction::kRun, ""},
      {{"--server", "host"}, TAgentAction::kUsageError, "HOST:PORT"},
      {{"--server", "host:0"}, TAgentAction::kUsageError, "HOST:PORT"},
      {{"--server=:6022"}, TAgentAction::kUsageError, "HOST:PORT"},
      {{"--server", "a:1", "--local"}, TAgentAction::kUsageError, "exclude each other"},
      {{"--idle-exit", "-1"}, TAgentAction::kUsageError, "minutes"},
      {{"--idle-exit"}, TAgentAction::kUsageError, "needs a value"},
      {{"--home="}, TAgentAction::kUsageError, "needs a folder"},
      {{"--stop=yes"}, TAgentAction::kUsageError, "unknown argument"},
      {{"stop"}, TAgentAction::kUsageError, "unknown argument 'stop'"},
  };
  for (const AgentCase& c : cases) {
    const TAgentOptions o = ParseAgentOptions(c.args);
    EXPECT_EQ(o.Action, c.action) << testing::PrintToString(c.args);
    EXPECT_NE(o.Error.find(c.error), std::string::npos) << o.Error;
    if (std::string(c.error).empty()) {
      EXPECT_EQ(o.Error, "");
    }
  }
  const TAgentOptions tcp =
      ParseAgentOptions({"--server", "pager.example:7000", "--idle-exit", "5"});
  EXPECT_EQ(tcp.Run.ConnectionType, kConnectionRemote);
  EXPECT_EQ(tcp.Run.ServerIP, "pager.example");
  EXPECT_EQ(tcp.Run.ServerPort, 7000);
  EXPECT_EQ(tcp.IdleExit.count(), 5);
}

TEST(AgentOptionsTest, TheAgentASendStartsHasTheSendsLink) {
  TZVSystemConsole::TRunSettings run;
  run.ConnectionType = kConnectionRemote;
  run.ServerIP = "127.0.0.1";
  run.ServerPort = 6022;
  const std::vector<std::string> args = AgentArguments("/h", run, std::chrono::minutes(10));
  const TAgentOptions back =
      ParseAgentOptions(std::vector<std::string>(args.begin() + 1, args.end()));
  EXPECT_EQ(back.Action, TAgentAction::kRun);
  EXPECT_EQ(back.Home, "/h");
  EXPECT_EQ(back.IdleExit.count(), 10);
  EXPECT_EQ(TZVSystemConsole::LinkText(back.Run), "tcp 127.0.0.1:6022");
  EXPECT_EQ(TZVSystemConsole::LinkText(TZVSystemConsole::TRunSettings{}), "");
}

}  // namespace
}  // namespace zv
