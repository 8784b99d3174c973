#include "owner/owner_wire.h"

#include <array>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

namespace zv {
namespace {

using TJson = nlohmann::ordered_json;

constexpr std::array<std::pair<TOwnerClientRole, std::string_view>, 2> kRoles{{
    {TOwnerClientRole::kSend, "send"},
    {TOwnerClientRole::kConsole, "console"},
}};
constexpr std::array<std::pair<TOwnerKind, std::string_view>, 2> kKinds{{
    {TOwnerKind::kConsole, "console"},
    {TOwnerKind::kAgent, "agent"},
}};
constexpr std::array<std::pair<TOwnerPageOutcome, std::string_view>, 6> kOutcomes{{
    {TOwnerPageOutcome::kResult, "result"},
    {TOwnerPageOutcome::kNotSent, "not sent"},
    {TOwnerPageOutcome::kNoResult, "no result"},
    {TOwnerPageOutcome::kQueued, "queued"},
    {TOwnerPageOutcome::kExpired, "expired"},
    {TOwnerPageOutcome::kCancelled, "cancelled"},
}};

template <class TEnum, std::size_t N>
std::string_view TextOf(const std::array<std::pair<TEnum, std::string_view>, N>& table,
                        TEnum value) {
  for (const auto& [entry, text] : table) {
    if (entry == value) return text;
  }
  return {};
}

TJson Typed(std::string_view type) {
  TJson line;
  line["t"] = type;
  return line;
}

std::string Line(const TJson& line) {
  return line.dump(-1, ' ', false, TJson::error_handler_t::replace) + "\n";
}

// The fields of each message, in the order a reader expects them.
TJson Encoded(const TOwnerHello& hello) {
  TJson line = Typed("hello");
  line["version"] = hello.Version;
  line["role"] = OwnerClientRoleText(hello.Role);
  line["pid"] = hello.Pid;
  line["link"] = hello.Link;
  return line;
}

TJson Encoded(const TOwnerPage& page) {
  TJson line = Typed("page");
  line["seq"] = page.Seq;
  line["address"] = page.Address;
  line["text"] = page.Text;
  line["carrier"] = page.Carrier;
  line["priority"] = page.Priority;
  line["subject"] = page.Subject;
  line["age"] = page.Age;
  line["age_limit"] = page.AgeLimit;
  line["key"] = page.Key;
  line["source"] = page.Source;
  return line;
}

TJson Encoded(const TOwnerWelcome& welcome) {
  TJson line = Typed("welcome");
  line["version"] = welcome.Version;
  line["owner"] = OwnerKindText(welcome.Owner);
  line["pid"] = welcome.Pid;
  return line;
}

TJson Encoded(const TOwnerRefused& refused) {
  TJson line = Typed("refused");
  line["reason"] = refused.Reason;
  return line;
}

TJson Encoded(const TOwnerAccepted& accepted) {
  TJson line = Typed("accepted");
  line["seq"] = accepted.Seq;
  line["id"] = accepted.Id;
  line["duplicate"] = accepted.Duplicate;
  line["expires"] = accepted.Expires;
  return line;
}

TJson Encoded(const TOwnerOutcome& outcome) {
  TJson line = Typed("outcome");
  line["seq"] = outcome.Seq;
  line["id"] = outcome.Id;
  line["number"] = outcome.Number;
  line["address"] = outcome.Address;
  line["text"] = outcome.Text;
  line["outcome"] = OwnerPageOutcomeText(outcome.Outcome);
  line["result"] = outcome.Result;
  line["code"] = outcome.Code;
  line["reason"] = outcome.Reason;
  line["attempts"] = outcome.Attempts;
  return line;
}

TJson Encoded(const TOwnerHandover& handover) {
  TJson line = Typed("handover");
  line["pages"] = handover.Pages;
  return line;
}

TJson Encoded(const TOwnerStatus& status) {
  TJson line = Typed("status");
  line["owner"] = OwnerKindText(status.Owner);
  line["pid"] = status.Pid;
  line["waiting"] = status.Waiting;
  line["link"] = status.Link;
  return line;
}

TJson Encoded(const TOwnerCancel& cancel) {
  TJson line = Typed("cancel");
  line["number"] = cancel.Number;
  line["id"] = cancel.Id;
  return line;
}

TJson Encoded(const TOwnerCancelled& cancelled) {
  TJson line = Typed("cancelled");
  line["done"] = cancelled.Done;
  line["reason"] = cancelled.Reason;
  return line;
}

TJson Encoded(const TOwnerEnd&) { return Typed("end"); }
TJson Encoded(const TOwnerTakeover&) { return Typed("takeover"); }
TJson Encoded(const TOwnerStop&) { return Typed("stop"); }
TJson Encoded(const TOwnerStatusQuery&) { return Typed("status"); }

// A line that is not a good message; caught where the line is decoded.
struct TBadLine {
  std::string Text;
};

// The fields of one message, read with the checks of their types.
class TFields {
 public:
  TFields(const TJson& object, std::string type) : FObject(object), FType(std::move(type)) {}

  const std::string& Type() const { return FType; }

  std::string Text(const char* name) const {
    const TJson& value = Field(name);
    if (!value.is_string()) Fail(name, "is not a text");
    return value.get<std::string>();
  }

  bool Flag(const char* name) const {
    const TJson& value = Field(name);
    if (!value.is_boolean()) Fail(name, "is not true or false");
    return value.get<bool>();
  }

  int64_t Integer(const char* name, int64_t lowest, int64_t highest) const {
    const TJson& value = Field(name);
    if (!value.is_number_integer()) Fail(name, "is not a whole number");
    // An unsigned value beyond the signed range is out of every range here.
    if (value.is_number_unsigned() &&
        value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      Fail(name, "is out of range");
    }
    const auto number = value.get<int64_t>();
    if (number < lowest || number > highest) {
      Fail(name,
           "is out of range (" + std::to_string(lowest) + " to " + std::to_string(highest) + ")");
    }
    return number;
  }

  int Int(const char* name, int lowest = 0) const {
    return static_cast<int>(Integer(name, lowest, std::numeric_limits<int>::max()));
  }

  int64_t Counter(const char* name) const {
    return Integer(name, 0, std::numeric_limits<int64_t>::max());
  }

  template <class TEnum, std::size_t N>
  TEnum Choice(const char* name,
               const std::array<std::pair<TEnum, std::string_view>, N>& table) const {
    const std::string text = Text(name);
    for (const auto& [entry, entryText] : table) {
      if (entryText == text) return entry;
    }
    Fail(name, "has the unknown value \"" + text + "\"");
  }

 private:
  const TJson& Field(const char* name) const {
    const auto found = FObject.find(name);
    if (found == FObject.end()) {
      throw TBadLine{"The \"" + FType + "\" message has no field \"" + name + "\""};
    }
    return *found;
  }

  [[noreturn]] void Fail(const char* name, const std::string& why) const {
    throw TBadLine{"The field \"" + std::string(name) + "\" of the \"" + FType + "\" message " +
                   why};
  }

  const TJson& FObject;
  std::string FType;
};

// The parser's text names the place and, for text that is not UTF-8, says
// so. Its tag for programs goes, and so does its echo of the bytes last read,
// which may be the very bytes that are not UTF-8.
std::string ParserText(std::string_view text) {
  if (text.substr(0, 1) == "[") {
    const std::size_t tagEnd = text.find("] ");
    if (tagEnd != std::string_view::npos) text.remove_prefix(tagEnd + 2);
  }
  return std::string(text.substr(0, text.find("; last read:")));
}

// The line as a JSON object with a text "t"; TBadLine otherwise.
TFields Fields(std::string_view line, TJson& storage) {
  try {
    storage = TJson::parse(line);
  } catch (const TJson::exception& error) {
    throw TBadLine{"The line is not JSON: " + ParserText(error.what())};
  }
  if (!storage.is_object()) throw TBadLine{"The line is not a JSON object"};
  const auto type = storage.find("t");
  if (type == storage.end()) throw TBadLine{"The message has no type (field \"t\")"};
  if (!type->is_string()) throw TBadLine{"The message's type (field \"t\") is not a text"};
  return TFields(storage, type->get<std::string>());
}

template <class TMessage>
TOwnerWireRead<TMessage> Decoded(std::string_view line, TMessage (*decode)(const TFields& fields)) {
  TOwnerWireRead<TMessage> read;
  try {
    TJson storage;
    read.Message = decode(Fields(line, storage));
  } catch (const TBadLine& bad) {
    read.Error = bad.Text;
  }
  return read;
}

[[noreturn]] void UnknownType(const TFields& fields) {
  throw TBadLine{"The message type \"" + fields.Type() + "\" is not known"};
}

TOwnerClientMessage DecodeClient(const TFields& f) {
  const std::string& type = f.Type();
  if (type == "hello") {
    return TOwnerHello{f.Int("version"), f.Choice("role", kRoles), f.Counter("pid"),
                       f.Text("link")};
  }
  if (type == "page") {
    TOwnerPage page;
    page.Seq = f.Counter("seq");
    page.Address = f.Text("address");
    page.Text = f.Text("text");
    page.Carrier = f.Text("carrier");
    page.Priority = f.Text("priority");
    page.Subject = f.Text("subject");
    page.Age = f.Text("age");
    page.AgeLimit = f.Int("age_limit");
    page.Key = f.Text("key");
    page.Source = f.Text("source");
    return page;
  }
  if (type == "end") return TOwnerEnd{};
  if (type == "takeover") return TOwnerTakeover{};
  if (type == "stop") return TOwnerStop{};
  if (type == "status") return TOwnerStatusQuery{};
  if (type == "cancel") return TOwnerCancel{f.Int("number"), f.Counter("id")};
  UnknownType(f);
}

TOwnerReply DecodeReply(const TFields& f) {
  const std::string& type = f.Type();
  if (type == "welcome") {
    return TOwnerWelcome{f.Int("version"), f.Choice("owner", kKinds), f.Counter("pid")};
  }
  if (type == "refused") return TOwnerRefused{f.Text("reason")};
  if (type == "accepted") {
    return TOwnerAccepted{f.Counter("seq"), f.Counter("id"), f.Flag("duplicate"),
                          f.Counter("expires")};
  }
  if (type == "outcome") {
    TOwnerOutcome outcome;
    outcome.Seq = f.Counter("seq");
    outcome.Id = f.Counter("id");
    outcome.Number = f.Int("number");
    outcome.Address = f.Text("address");
    outcome.Text = f.Text("text");
    outcome.Outcome = f.Choice("outcome", kOutcomes);
    outcome.Result = f.Text("result");
    // A server's result code is its own business, negative ones included.
    outcome.Code = f.Int("code", std::numeric_limits<int>::min());
    outcome.Reason = f.Text("reason");
    outcome.Attempts = f.Int("attempts");
    return outcome;
  }
  if (type == "handover") return TOwnerHandover{f.Int("pages")};
  if (type == "cancelled") return TOwnerCancelled{f.Flag("done"), f.Text("reason")};
  if (type == "status") {
    return TOwnerStatus{f.Choice("owner", kKinds), f.Counter("pid"), f.Int("waiting"),
                        f.Text("link")};
  }
  UnknownType(f);
}

TOwnerWireRead<TOwnerClientMessage> DecodeLine(std::string_view line, TOwnerClientMessage*) {
  return DecodeOwnerClientLine(line);
}
TOwnerWireRead<TOwnerReply> DecodeLine(std::string_view line, TOwnerReply*) {
  return DecodeOwnerReplyLine(line);
}

}  // namespace

std::string_view OwnerClientRoleText(TOwnerClientRole role) { return TextOf(kRoles, role); }
std::string_view OwnerKindText(TOwnerKind kind) { return TextOf(kKinds, kind); }
std::string_view OwnerPageOutcomeText(TOwnerPageOutcome outcome) {
  return TextOf(kOutcomes, outcome);
}

std::string EncodeOwnerLine(const TOwnerClientMessage& message) {
  return Line(std::visit([](const auto& each) { return Encoded(each); }, message));
}

std::string EncodeOwnerLine(const TOwnerReply& message) {
  return Line(std::visit([](const auto& each) { return Encoded(each); }, message));
}

TOwnerWireRead<TOwnerClientMessage> DecodeOwnerClientLine(std::string_view line) {
  return Decoded<TOwnerClientMessage>(line, DecodeClient);
}

TOwnerWireRead<TOwnerReply> DecodeOwnerReplyLine(std::string_view line) {
  return Decoded<TOwnerReply>(line, DecodeReply);
}

template <class TMessage>
std::optional<TOwnerWireRead<TMessage>> TOwnerWireReader<TMessage>::Next() {
  std::optional<TOwnerLineSplitter::TLine> line = FLines.Next();
  if (!line) return std::nullopt;
  if (line->TooLong) {
    TOwnerWireRead<TMessage> read;
    read.Error = "A line is longer than " + std::to_string(kMaxLineBytes) + " bytes";
    return read;
  }
  return DecodeLine(line->Text, static_cast<TMessage*>(nullptr));
}

template class TOwnerWireReader<TOwnerClientMessage>;
template class TOwnerWireReader<TOwnerReply>;

}  // namespace zv
