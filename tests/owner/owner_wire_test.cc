#include "owner/owner_wire.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/owner_endpoint.h"

namespace zv {
namespace {

TOwnerPage SamplePage() {
  TOwnerPage page;
  page.Seq = 7;
  page.Address = "555";
  // A line end, quotes, a backslash and text beyond ASCII must all stay on one line.
  page.Text = "Hello \"you\"\\\nsecond line \xC3\xA9\xE2\x82\xAC";
  page.Carrier = "Pager";
  page.Priority = "High";
  page.Subject = "";
  page.Age = "";
  page.AgeLimit = 30;
  page.Key = "k-1";
  page.Source = "send";
  return page;
}

std::vector<TOwnerClientMessage> ClientMessages() {
  return {TOwnerHello{1, TOwnerClientRole::kSend, 4242, "tcp 127.0.0.1:6022"},
          TOwnerHello{1, TOwnerClientRole::kConsole, 1, ""},
          TOwnerCancel{17, 0},
          TOwnerCancel{0, 9000000000},
          SamplePage(),
          TOwnerPage{},
          TOwnerEnd{},
          TOwnerTakeover{},
          TOwnerStop{},
          TOwnerStatusQuery{}};
}

std::vector<TOwnerReply> Replies() {
  TOwnerOutcome outcome;
  outcome.Seq = 7;
  outcome.Id = 9000000000;
  outcome.Number = 2147483646;
  outcome.Address = "555";
  outcome.Text = "Hello\n";
  outcome.Outcome = TOwnerPageOutcome::kNotSent;
  outcome.Result = "";
  outcome.Code = -3;
  outcome.Reason = "the link is down";
  outcome.Attempts = 2;
  std::vector<TOwnerReply> replies = {
      TOwnerWelcome{1, TOwnerKind::kConsole, 10},
      TOwnerWelcome{1, TOwnerKind::kAgent, 11},
      TOwnerRefused{"another console owns this home"},
      TOwnerAccepted{7, 12, false, 1700000000000},
      TOwnerAccepted{8, 12, true, 0},
      TOwnerCancelled{true, "Message 17 was withdrawn"},
      TOwnerCancelled{false, "Message 18 has gone out"},
      TOwnerHandover{3},
      TOwnerStatus{TOwnerKind::kAgent, 99, 5, "connected to 10.0.0.1:5001"},
  };
  for (const auto kind :
       {TOwnerPageOutcome::kResult, TOwnerPageOutcome::kNotSent, TOwnerPageOutcome::kNoResult,
        TOwnerPageOutcome::kQueued, TOwnerPageOutcome::kExpired, TOwnerPageOutcome::kCancelled}) {
    outcome.Outcome = kind;
    replies.push_back(outcome);
  }
  return replies;
}

// Every line of both directions, without its '\n'.
std::vector<std::string> AllLines() {
  std::vector<std::string> lines;
  for (const auto& message : ClientMessages()) lines.push_back(EncodeOwnerLine(message));
  for (const auto& message : Replies()) lines.push_back(EncodeOwnerLine(message));
  for (auto& line : lines) line.pop_back();
  return lines;
}

// The error the line gives to a reader of its direction; "" when it decodes.
std::string ClientError(const std::string& line) { return DecodeOwnerClientLine(line).Error; }
std::string ReplyError(const std::string& line) { return DecodeOwnerReplyLine(line).Error; }

TEST(OwnerWireTest, EveryMessageSurvivesARoundTrip) {
  for (const auto& message : ClientMessages()) {
    const std::string line = EncodeOwnerLine(message);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    TOwnerClientReader reader;
    reader.Append(line);
    const auto read = reader.Next();
    ASSERT_TRUE(read) << line;
    EXPECT_EQ(read->Error, "") << line;
    EXPECT_TRUE(read->Message == message) << line;
    EXPECT_FALSE(reader.Next());
  }
  for (const auto& message : Replies()) {
    const std::string line = EncodeOwnerLine(message);
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    TOwnerReplyReader reader;
    reader.Append(line);
    const auto read = reader.Next();
    ASSERT_TRUE(read) << line;
    EXPECT_EQ(read->Error, "") << line;
    EXPECT_TRUE(read->Message == message) << line;
  }
}

TEST(OwnerWireTest, TheLinesCarryTheNamesOtherProgramsRead) {
  EXPECT_EQ(EncodeOwnerLine(TOwnerHello{1, TOwnerClientRole::kSend, 5, "local"}),
            "{\"t\":\"hello\",\"version\":1,\"role\":\"send\",\"pid\":5,\"link\":\"local\"}\n");
  EXPECT_EQ(EncodeOwnerLine(TOwnerEnd{}), "{\"t\":\"end\"}\n");
  EXPECT_EQ(EncodeOwnerLine(TOwnerAccepted{3, 4, true, 5}),
            "{\"t\":\"accepted\",\"seq\":3,\"id\":4,\"duplicate\":true,\"expires\":5}\n");
  EXPECT_EQ(EncodeOwnerLine(TOwnerHandover{2}), "{\"t\":\"handover\",\"pages\":2}\n");
  const struct {
    TOwnerPageOutcome Outcome;
    const char* Text;
  } outcomes[] = {
      {TOwnerPageOutcome::kResult, "result"},      {TOwnerPageOutcome::kNotSent, "not sent"},
      {TOwnerPageOutcome::kNoResult, "no result"}, {TOwnerPageOutcome::kQueued, "queued"},
      {TOwnerPageOutcome::kExpired, "expired"},    {TOwnerPageOutcome::kCancelled, "cancelled"},
  };
  for (const auto& c : outcomes) EXPECT_EQ(OwnerPageOutcomeText(c.Outcome), c.Text);
}

TEST(OwnerWireTest, EveryTruncationOfAMessageIsNoMessage) {
  for (const std::string& line : AllLines()) {
    for (std::size_t length = 0; length < line.size(); ++length) {
      const std::string cut = line.substr(0, length);
      // Without its line end a part is held, never given out.
      TOwnerClientReader waiting;
      waiting.Append(cut);
      EXPECT_FALSE(waiting.Next()) << cut;
      EXPECT_EQ(waiting.Pending(), length);
      // Ended early, it is an error, and the next good line still reads.
      TOwnerReplyReader reader;
      reader.Append(cut + "\n" + EncodeOwnerLine(TOwnerHandover{1}));
      const auto bad = reader.Next();
      ASSERT_TRUE(bad) << cut;
      EXPECT_FALSE(bad->Message) << cut;
      EXPECT_NE(bad->Error, "") << cut;
      const auto good = reader.Next();
      ASSERT_TRUE(good && good->Message) << cut;
      EXPECT_TRUE(*good->Message == TOwnerReply(TOwnerHandover{1}));
    }
  }
}

TEST(OwnerWireTest, MessagesAreFoundWhateverPiecesTheBytesComeIn) {
  const std::string bytes = EncodeOwnerLine(SamplePage()) + EncodeOwnerLine(TOwnerEnd{});
  // All at once, byte by byte, and in pieces of 7.
  for (const std::size_t piece : {bytes.size(), std::size_t{1}, std::size_t{7}}) {
    TOwnerClientReader reader;
    std::vector<TOwnerClientMessage> got;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      reader.Append(std::string_view(bytes).substr(at, piece));
      while (auto read = reader.Next()) {
        ASSERT_EQ(read->Error, "");
        got.push_back(*read->Message);
      }
    }
    ASSERT_EQ(got.size(), 2u) << piece;
    EXPECT_TRUE(got[0] == TOwnerClientMessage(SamplePage()));
    EXPECT_TRUE(got[1] == TOwnerClientMessage(TOwnerEnd{}));
    EXPECT_EQ(reader.Pending(), 0u);
  }
}

// A page line of exactly `length` bytes without its line end.
std::string PageLineOfLength(std::size_t length) {
  TOwnerPage page;
  std::string line = EncodeOwnerLine(page);
  line.pop_back();
  page.Text.assign(length - line.size(), 'x');
  line = EncodeOwnerLine(page);
  line.pop_back();
  return line;
}

TEST(OwnerWireTest, ALineBeyondTheLimitIsAnErrorAndTheNextOneReads) {
  constexpr std::size_t kMax = TOwnerClientReader::kMaxLineBytes;
  const std::string longest = PageLineOfLength(kMax);
  ASSERT_EQ(longest.size(), kMax);
  {
    TOwnerClientReader reader;
    reader.Append(longest + "\n");
    const auto read = reader.Next();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Error, "");
  }
  const std::string tooLong = PageLineOfLength(kMax + 1);
  const std::string next = EncodeOwnerLine(TOwnerStop{});
  {
    // Reported once the limit is passed, before the line ends; the rest of
    // the line is dropped as it comes, not held.
    TOwnerClientReader reader;
    reader.Append(tooLong.substr(0, kMax));
    EXPECT_FALSE(reader.Next());
    reader.Append(tooLong.substr(kMax, 1));
    const auto read = reader.Next();
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->Message);
    EXPECT_NE(read->Error.find("longer than"), std::string::npos) << read->Error;
    reader.Append(std::string(1000, 'y'));
    EXPECT_FALSE(reader.Next());
    EXPECT_EQ(reader.Pending(), 0u);
    reader.Append("zz\n" + next);
    const auto after = reader.Next();
    ASSERT_TRUE(after && after->Message);
    EXPECT_TRUE(*after->Message == TOwnerClientMessage(TOwnerStop{}));
  }
  {
    // The same when the whole line and the next come in one piece.
    TOwnerClientReader reader;
    reader.Append(tooLong + "\n" + next);
    const auto read = reader.Next();
    ASSERT_TRUE(read);
    EXPECT_NE(read->Error.find("longer than"), std::string::npos) << read->Error;
    const auto after = reader.Next();
    ASSERT_TRUE(after && after->Message);
  }
}

TEST(OwnerWireTest, LinesThatAreNoGoodMessageGiveAClearError) {
  const std::string page = EncodeOwnerLine(SamplePage());
  const struct {
    std::string Line;
    bool ToOwner;  // read by the owner (else by a client)
    const char* Error;
  } cases[] = {
      {"", true, "not JSON"},
      {"{\"t\":\"end\"", true, "not JSON"},
      {"nonsense", true, "not JSON"},
      {"[1,2]", true, "not a JSON object"},
      {"\"end\"", true, "not a JSON object"},
      {"{}", true, "no type (field \"t\")"},
      {"{\"t\":5}", true, "type (field \"t\") is not a text"},
      {"{\"t\":\"bogus\"}", true, "message type \"bogus\" is not known"},
      // Each direction knows only its own messages.
      {"{\"t\":\"welcome\",\"version\":1,\"owner\":\"agent\",\"pid\":1}", true,
       "\"welcome\" is not known"},
      {"{\"t\":\"hello\",\"version\":1,\"role\":\"send\",\"pid\":1}", false,
       "\"hello\" is not known"},
      {"{\"t\":\"hello\",\"version\":1,\"role\":\"send\"}", true,
       "\"hello\" message has no field \"pid\""},
      {"{\"t\":\"hello\",\"version\":\"1\",\"role\":\"send\",\"pid\":1}", true,
       "field \"version\" of the \"hello\" message is not a whole number"},
      {"{\"t\":\"hello\",\"version\":1.5,\"role\":\"send\",\"pid\":1}", true,
       "is not a whole number"},
      {"{\"t\":\"hello\",\"version\":1,\"role\":\"boss\",\"pid\":1}", true,
       "field \"role\" of the \"hello\" message has the unknown value \"boss\""},
      {"{\"t\":\"hello\",\"version\":1,\"role\":null,\"pid\":1}", true,
       "\"role\" of the \"hello\" message is not a text"},
      {"{\"t\":\"hello\",\"version\":1,\"role\":\"send\",\"pid\":-1}", true,
       "\"pid\" of the \"hello\" message is out of range"},
      {"{\"t\":\"hello\",\"version\":1,\"role\":\"send\",\"pid\":18446744073709551615}", true,
       "out of range"},
      {"{\"t\":\"page\",\"seq\":1}", true, "\"page\" message has no field \"address\""},
      {"{\"t\":\"accepted\",\"seq\":1,\"id\":2,\"duplicate\":1}", false,
       "\"duplicate\" of the \"accepted\" message is not true or false"},
      {"{\"t\":\"outcome\",\"seq\":1,\"id\":2,\"number\":3,\"address\":\"a\",\"text\":\"b\","
       "\"outcome\":\"sent\","
       "\"result\":\"\",\"code\":0,\"reason\":\"\",\"attempts\":1}",
       false, "\"outcome\" of the \"outcome\" message has the unknown value \"sent\""},
      {"{\"t\":\"handover\",\"pages\":4294967296}", false,
       "\"pages\" of the \"handover\" message is out of range"},
      {"{\"t\":\"status\",\"owner\":\"agent\",\"pid\":1,\"waiting\":0,\"link\":[]}", false,
       "\"link\" of the \"status\" message is not a text"},
      // Text that is not UTF-8 is refused, not thrown.
      {"{\"t\":\"refused\",\"reason\":\"\xC3\x28\"}", false, "not JSON"},
      {"{\"t\":\"end\"}{\"t\":\"end\"}", true, "not JSON"},
      {std::string(100000, '[') + std::string(100000, ']'), true, "not a JSON object"},
  };
  for (const auto& c : cases) {
    const std::string error = c.ToOwner ? ClientError(c.Line) : ReplyError(c.Line);
    EXPECT_NE(error.find(c.Error), std::string::npos) << c.Line.substr(0, 200) << "\n -> " << error;
  }
  // A good line of the same shape reads, and fields a later version may add are ignored.
  EXPECT_EQ(ClientError(page.substr(0, page.size() - 1)), "");
  EXPECT_EQ(ClientError("{\"t\":\"end\",\"later\":[1,{\"x\":2}]}"), "");
  EXPECT_EQ(ReplyError("{\"code\":-5,\"t\":\"refused\",\"reason\":\"r\"}"), "");
}

TEST(OwnerWireTest, TextThatIsNotUtf8IsReplacedWhenEncoded) {
  TOwnerPage page = SamplePage();
  page.Text = "ok \xFF\xC3 end";
  const std::string line = EncodeOwnerLine(page);
  const auto read = DecodeOwnerClientLine(std::string_view(line).substr(0, line.size() - 1));
  ASSERT_TRUE(read.Message) << read.Error;
  EXPECT_EQ(std::get<TOwnerPage>(*read.Message).Text, "ok \xEF\xBF\xBD\xEF\xBF\xBD end");
}

TEST(OwnerWireTest, TheOwnersRefusalOfAnotherUserIsARefusedMessage) {
  const std::string line = platform::ForeignUserRefusalLine(::geteuid());
  ASSERT_EQ(line.back(), '\n');
  TOwnerReplyReader reader;
  reader.Append(line);
  const auto read = reader.Next();
  ASSERT_TRUE(read && read->Message) << line;
  const auto& refused = std::get<TOwnerRefused>(*read->Message);
  EXPECT_EQ(refused.Reason.rfind("this owner serves only user ", 0), 0u) << refused.Reason;
  EXPECT_GT(refused.Reason.size(), std::string("this owner serves only user ").size());
}

}  // namespace
}  // namespace zv
