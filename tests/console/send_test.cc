#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "console/console_fixture.h"
#include "console/send_options.h"
#include "console/send_report.h"
#include "link/recording_client.h"
#include "platform/message_queue.h"
#include "support/file_size_limit.h"

namespace zv::testing {
namespace {

using ::testing::HasSubstr;

TSendOptions Parse(std::initializer_list<std::string> arguments) {
  return ParseSendOptions(std::vector<std::string>(arguments));
}

TEST(SendOptionsTest, ValidCommandLines) {
  TSendOptions o = Parse({"--carrier", "9", "--priority=2", "--subject", "Alert", "--age", "15",
                          "--server", "db1.example:6022", "--timeout=5", "--json", "--home", "h",
                          "555", "Disk full, on db1"});
  ASSERT_EQ(o.Action, TSendAction::kRun) << o.Error;
  EXPECT_EQ(o.Address, "555");
  EXPECT_EQ(o.Text, "Disk full, on db1");
  EXPECT_EQ(o.Run.Carrier, 9);
  EXPECT_EQ(o.Run.Priority, 2);
  EXPECT_EQ(o.Run.Subject, "Alert");
  EXPECT_EQ(o.Run.Age, 15);
  EXPECT_EQ(o.Run.ConnectionType, 2);
  EXPECT_EQ(o.Run.ServerIP, "db1.example");
  EXPECT_EQ(o.Run.ServerPort, 6022);
  EXPECT_EQ(o.Timeout, std::chrono::seconds(5));
  EXPECT_TRUE(o.Json);
  EXPECT_EQ(o.Home, "h");

  o = Parse({"--local", "-"});
  ASSERT_EQ(o.Action, TSendAction::kRun) << o.Error;
  EXPECT_TRUE(o.FromInput);
  EXPECT_EQ(o.Run.ConnectionType, 1);
  EXPECT_FALSE(o.Run.ServerIP.has_value());  // the stored values hold
  EXPECT_EQ(o.Timeout, std::chrono::seconds(30));

  o = Parse({"--", "-5", "--json"});  // after "--" nothing is an option
  ASSERT_EQ(o.Action, TSendAction::kRun) << o.Error;
  EXPECT_EQ(o.Address, "-5");
  EXPECT_EQ(o.Text, "--json");
  EXPECT_FALSE(o.Json);

  EXPECT_EQ(Parse({"555", "--help"}).Action, TSendAction::kHelp);
}

TEST(SendOptionsTest, EachUsageErrorIsNamed) {
  const struct {
    std::initializer_list<std::string> Args;
    const char* Error;
  } cases[] = {
      {{}, "no address given"},
      {{"", "text"}, "no address given"},
      {{"555"}, "no text given for '555'"},
      {{"555", "a", "b"}, "unexpected argument 'b'"},
      {{"-", "555"}, "takes no ADDRESS or TEXT"},
      {{"--bogus", "555", "x"}, "unknown option '--bogus'"},
      {{"--json=1", "555", "x"}, "option '--json' takes no value"},
      {{"555", "x", "--carrier"}, "option '--carrier' needs a value"},
      {{"--carrier", "0", "555", "x"}, "expects a whole number from 1 to 2147483647, not '0'"},
      {{"--priority", "7", "555", "x"}, "from 1 to 6, not '7'"},
      {{"--age", "1.5", "555", "x"}, "not '1.5'"},
      {{"--timeout", "$1F", "555", "x"}, "not '$1F'"},
      {{"--timeout", "99999999999", "555", "x"}, "not '99999999999'"},
      {{"--server", "host", "555", "x"}, "expects HOST:PORT"},
      {{"--server", ":6022", "555", "x"}, "expects HOST:PORT"},
      {{"--server", "::1:6022", "555", "x"}, "expects HOST:PORT"},
      {{"--server", "h:70000", "555", "x"}, "from 1 to 65535, not '70000'"},
      {{"--server", "h:1", "--local", "555", "x"}, "'--server' and '--local' exclude each other"},
      {{"--subject", "a,b", "555", "x"}, "a subject cannot hold ','"},
      {{"--home=", "555", "x"}, "option '--home' needs a folder"},
  };
  for (const auto& c : cases) {
    const TSendOptions o = ParseSendOptions(std::vector<std::string>(c.Args));
    EXPECT_EQ(o.Action, TSendAction::kUsageError) << c.Error;
    EXPECT_THAT(o.Error, HasSubstr(c.Error));
  }
}

TEST(SendReportTest, JsonLineShapePerOutcome) {
  const TPage page{7, "555", "Disk \"full\"\n\xff"};
  const struct {
    TPageOutcome Outcome;
    const char* Expected;
  } cases[] = {
      {{page, TPageOutcomeKind::kResult, "Accepted", 0, {}},
       R"({"number":7,"address":"555","text":"Disk \"full\"\n\ufffd","outcome":"result","result":"Accepted","code":0})"},
      {{page, TPageOutcomeKind::kNotSent, {}, 0, "the start failed"},
       R"({"number":7,"address":"555","text":"Disk \"full\"\n\ufffd","outcome":"not sent","reason":"the start failed"})"},
      {{page, TPageOutcomeKind::kNoResult, "ignored", 5, "the link ended"},
       R"({"number":7,"address":"555","text":"Disk \"full\"\n\ufffd","outcome":"no result","reason":"the link ended"})"},
  };
  for (const auto& c : cases) {
    const std::string line = OutcomeJson(c.Outcome);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(line), nlohmann::json::parse(c.Expected)) << line;
  }
  EXPECT_EQ(nlohmann::json::parse(OutcomeJson({page, TPageOutcomeKind::kResult, "x", 20, {}}))
                .at("code")
                .get<int>(),
            20);
}

TEST(SendReportTest, ExitStatusAndProgress) {
  TPageLedger ledger;
  EXPECT_EQ(SendExitStatus(ledger), 0);  // nothing asked, nothing missing
  ledger.Sent({1, "a", "x"});
  EXPECT_EQ(SendExitStatus(ledger), kSendStatusWithout);  // still outstanding
  ledger.MatchResult(1, "a", "x", "ok", 0);
  EXPECT_EQ(SendExitStatus(ledger), 0);
  ledger.NotSent({0, "b", "y"}, "refused");
  EXPECT_EQ(SendExitStatus(ledger), kSendStatusWithout);
  EXPECT_EQ(ProgressText({12, 1, 3}), "12 sent, 1 result, 3 without result");
}

// A line refused as too long is still a page: named by its address where
// its first bytes hold one.
TEST(SendReportTest, RefusedLinePageNamesTheAddress) {
  const struct {
    const char* Head;
    const char* Address;
  } cases[] = {{" 555 ,Disk full", "555"}, {"556;x", "556"}, {"no separator yet", ""}, {"", ""}};
  for (const auto& c : cases) {
    const TPage page = RefusedLinePage(c.Head);
    EXPECT_EQ(page.Number, 0) << c.Head;
    EXPECT_EQ(page.Address, c.Address) << c.Head;
    EXPECT_EQ(page.Text, "") << c.Head;
  }
}

TEST(PageLedgerTest, ObserverHearsEachOutcomeOnce) {
  TPageLedger ledger;
  std::vector<std::string> heard;
  ledger.SetObserver([&](const TPageOutcome& o) {
    heard.push_back(std::to_string(o.Page.Number) + ":" + std::to_string(static_cast<int>(o.Kind)) +
                    ":" + o.Result + o.Reason);
  });
  for (int32_t n : {1, 2, 3, 4}) ledger.Sent({n, "a", "t"});
  ledger.MatchResult(99, "a", "t", "ok", 0);  // by address and text: the oldest
  ledger.MatchResult(99, "b", "t", "stray", 0);
  ledger.EndWithoutResult(3, TPageOutcomeKind::kNotSent, "refused by the link");
  EXPECT_FALSE(ledger.EndWithoutResult(3, TPageOutcomeKind::kNoResult, "again"));
  ledger.EndAll("the link ended");
  EXPECT_EQ(heard, (std::vector<std::string>{"1:0:ok", "3:1:refused by the link",
                                             "2:2:the link ended", "4:2:the link ended"}));
  EXPECT_EQ(ledger.NotSentCount(), 1);
}

// Which outstanding page a reply answers. The pages: 5 to "555", 6 to "7",
// 7 to "556" with a long text; each reply meets them afresh.
TEST(PageLedgerTest, AReplyAnswersTheOnePageItAgreesWith) {
  const struct {
    int32_t Number;
    const char* Address;
    const char* Text;
    int32_t Takes;  // the page it answers, 0 for none
  } cases[] = {
      {5, "5", "Unsolicited result 5", 0},  // the number of a page for another address
      {5, "555", "db2 is DOWN", 0},         // ... or with another text
      {5, "555", "db1 is DOWN, again", 0},  // a longer text is another text
      {5, "555", "db1 is DOWN", 5},
      {5, "555", "", 5},  // no text to compare
      {5, "",
       "Accepted\x03"
       "555,0",
       5},                                        // no field list: the number decides
      {7, "556", "Disk full on", 7},              // a text cut short by the carrier
      {0, "555", "db1 is DOWN", 5},               // no number: address and text
      {0, "7", "changed by the server", 6},       // no number: the address alone
      {99, "7", "db2 is DOWN", 6},                // another number: address and text still
      {555, "555", "Unsolicited result 555", 0},  // ... but never the address alone
      {0, "", "Accepted", 0},                     // nothing to go by
      {0, "8", "db2 is DOWN", 0},
  };
  for (const auto& c : cases) {
    TPageLedger ledger;
    ledger.Sent({5, "555", "db1 is DOWN"});
    ledger.Sent({6, "7", "db2 is DOWN"});
    ledger.Sent({7, "556", "Disk full on db3"});
    const std::optional<TPage> taken = ledger.MatchResult(c.Number, c.Address, c.Text, "r", 0);
    EXPECT_EQ(taken ? taken->Number : 0, c.Takes) << c.Number << " " << c.Address << " " << c.Text;
    EXPECT_EQ(ledger.Answered(), c.Takes != 0 ? 1 : 0);
    EXPECT_EQ(ledger.Outstanding(), c.Takes != 0 ? 2u : 3u);
  }
}

// A flood of results for other addresses, numbered 1 to 50, answers none of
// the pages among those numbers; their own results still do.
TEST(PageLedgerTest, AFloodOfOtherResultsAnswersNoPage) {
  TPageLedger ledger;
  ledger.Sent({5, "555", "db1 is DOWN"});
  ledger.Sent({6, "7", "db2 is DOWN"});
  for (int32_t i = 1; i <= 50; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_FALSE(ledger.MatchResult(i, n, "Unsolicited result " + n, "flood", 0)) << i;
  }
  EXPECT_EQ(ledger.Outstanding(), 2u);
  EXPECT_EQ(ledger.MatchResult(0, "7", "db2 is DOWN", "own", 0)->Number, 6);
  EXPECT_EQ(ledger.MatchResult(5, "555", "db1 is DOWN", "own", 0)->Number, 5);
}

class RunSettingsTest : public ConsoleFixture {};

TEST_F(RunSettingsTest, RunValuesAreUsedButOnlyTheNumberingIsSaved) {
  TDataAccess::WriteToIni("ConsoleSys", "ServerIP", "10.0.0.1");
  TDataAccess::WriteToIni("ConsoleSys", "CmdPrompt", "Old >");
  TDataAccess::SaveIni();
  TZVSystemConsole::TRunSettings run;
  run.ConnectionType = 2;
  run.ServerIP = "127.0.0.1";
  run.ServerPort = 7000;
  run.Carrier = 9;
  Console().UseRunSettings(run);
  EXPECT_EQ(Console().ServerIP(), "127.0.0.1");
  EXPECT_EQ(Console().DefaultCarrierId(), 9);
  const int32_t number = Console().NextMsgId();

  // Another process (an open console) changes a setting meanwhile.
  TIniStore other = TIniStore::FromFile(TDataAccess::IniFilePath());
  other.SetValue("ConsoleSys", "CmdPrompt", "New >");
  std::ofstream(TDataAccess::IniFilePath(), std::ios::binary) << other.Render();
  Console().Save();

  Restart();
  EXPECT_EQ(TDataAccess::ReadFromIni("ConsoleSys", "ServerIP", ""), "10.0.0.1");
  EXPECT_EQ(TDataAccess::ReadFromIni("ConsoleSys", "CmdPrompt", ""), "New >");
  EXPECT_FALSE(TDataAccess::ReadFromIni("ConsoleSys", "ServerPort", "").size() > 0);
  EXPECT_FALSE(TDataAccess::ReadFromIni("ConsoleSys", "CarrierId", "").size() > 0);
  EXPECT_EQ(TDataAccess::ReadFromIni("ConsoleSys", "LastMsgNo", 0), number);
}

// A carrier cache that cannot be written (a full disk) costs one warning
// line; the link still confirms its readiness.
TEST_F(RunSettingsTest, FullDiskAtTheCarrierSaveCostsOneWarning) {
  TDataAccess::WriteToIni("ConsoleSys", "ConnectionId", 2);
  std::vector<TStringList> sent;
  auto client = std::make_unique<RecordingClient>(Console(), sent, 2);
  RecordingClient& ref = *client;
  Console().SetClientServer(std::move(client));
  ref.Login(2, "Welcome");
  {
    const testutil::TFileSizeLimit fullDisk(16);
    ref.OnLoadObjects(true, TZVEditObject::eoCarrier, "loaded");
  }
  EXPECT_EQ(ref.Ready, 1);
  platform::MessageDispatcher::Main().DispatchPending();
  const std::string warning = "The carriers could not be saved for the next start (";
  const std::size_t at = FScript.Output.find(warning);
  ASSERT_NE(at, std::string::npos) << FScript.Output;
  EXPECT_EQ(FScript.Output.find(warning, at + 1), std::string::npos);
  EXPECT_EQ(FScript.Output.find("ZVSettingsError.log"), std::string::npos);
}

}  // namespace
}  // namespace zv::testing
