#include "console/outbox_command.h"

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>
#include <optional>

#include "console/entry.h"
#include "console/home_folder.h"
#include "console/option_reader.h"
#include "console/owner_host.h"
#include "outbox/outbox.h"
#include "owner/owner_client.h"
#include "owner/owner_wire.h"
#include "platform/owner_endpoint.h"
#include "platform/program_folder.h"
#include "support/exceptions.h"
#include "support/text.h"

namespace zv {
namespace {

constexpr int kStatusFailed = 1;
constexpr int kStatusUsage = 2;
constexpr std::size_t kOutcomesShown = 50;
constexpr std::chrono::seconds kCancelWait{5};

struct TOutboxOptions {
  bool Help = false;
  bool Json = false;
  TOwnerCancel Cancel;  // what to withdraw; both 0: nothing
  std::string Home;
  std::string Error;
};

TOutboxOptions Parse(const std::vector<std::string>& arguments) {
  TOutboxOptions o;
  TOptionReader r(arguments);
  while (r.Next()) {
    const std::string& name = r.Name();
    if (name == "--help") {
      o.Help = true;
    } else if (name == "--json" && r.Bare()) {
      o.Json = true;
    } else if (name == "--home") {
      if (const auto v = r.Value()) {
        if (v->empty()) r.Fail("option '--home' needs a folder");
        o.Home = *v;
      }
    } else if (name == "--cancel") {
      if (const auto v = r.Value()) {
        // "17": the message number; "#5": the outbox id of a page not yet numbered.
        const bool byId = v->starts_with("#");
        const auto n = DecimalIn(byId ? v->substr(1) : *v, 1, 2147483647);
        if (!n) {
          r.Fail("option '--cancel' expects a message number or #ID, not '" + *v + "'");
        } else if (byId) {
          o.Cancel.Id = *n;
        } else {
          o.Cancel.Number = *n;
        }
      }
    } else {
      r.Fail("unknown argument '" + r.Argument() + "'");
    }
  }
  o.Error = r.Error();
  return o;
}

std::string Usage() {
  return "Usage: zvcc outbox [--json] [--home DIR]\n"
         "       zvcc outbox --cancel NUMBER|#ID [--home DIR]\n"
         "The pages of the home's outbox: those waiting, in the order they go out, and\n"
         "the recent outcomes (number, address, text, key, state, attempts, times).\n"
         "--json writes one JSON object a line. --cancel withdraws the page with that\n"
         "message number, or with that outbox id (#ID, for a page not yet numbered),\n"
         "if it has not gone out (status 1 when it has, or is not known).\n";
}

std::string TimeText(int64_t ms) { return ms <= 0 ? "-" : OutboxTimeText(ms); }

std::string Json(const TOutboxPage& p) {
  nlohmann::ordered_json line;
  line["id"] = p.Id;
  line["number"] = p.Number;
  line["address"] = p.Address;
  line["text"] = p.Text;
  line["key"] = p.Key;
  line["state"] = std::string(OutboxStateText(p.State));
  line["attempts"] = p.Attempts;
  line["source"] = p.Source;
  line["created"] = TimeText(p.Created);
  line["framed"] = TimeText(p.Framed);
  line["finished"] = TimeText(p.Finished);
  line["expires"] = TimeText(p.ExpiresAt);
  if (p.State == TOutboxState::kResult) {
    line["result"] = p.Result;
    line["code"] = p.Code;
  } else if (!p.Reason.empty()) {
    line["reason"] = p.Reason;
  }
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Row(const TOutboxPage& p) {
  std::string detail = p.State == TOutboxState::kResult ? p.Result : p.Reason;
  std::string row = PadRight("#" + std::to_string(p.Id), 7) +
                    PadRight(std::to_string(p.Number), 8) +
                    PadRight(std::string(OutboxStateText(p.State)), 11) +
                    PadRight(std::to_string(p.Attempts), 3) + TimeText(p.Created) + "  \"" +
                    p.Address + "\" " + p.Text;
  if (!p.Key.empty()) row += "  [key " + p.Key + "]";
  if (!detail.empty()) row += "  - " + detail;
  return VisibleText(row);
}

bool WriteAll(std::FILE* stream, const std::string& text) {
  return std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
}

int List(const TOutboxOptions& o) {
  TOutboxListing listing;
  try {
    listing = TOutbox(TOwnerHost::OutboxPath(), TOutbox::TAccess::kReader).List(kOutcomesShown);
  } catch (const EZVNoFile&) {
    // No page was ever kept in this home.
  }
  std::string out;
  if (o.Json) {
    for (const TOutboxPage& p : listing.Waiting) out += Json(p) + "\n";
    for (const TOutboxPage& p : listing.Outcomes) out += Json(p) + "\n";
  } else {
    out += std::to_string(listing.Waiting.size()) +
           (listing.Waiting.size() == 1 ? " page waits" : " pages wait") + "\n";
    for (const TOutboxPage& p : listing.Waiting) out += "  " + Row(p) + "\n";
    out += "Recent outcomes (" + std::to_string(listing.Outcomes.size()) + "):\n";
    for (const TOutboxPage& p : listing.Outcomes) out += "  " + Row(p) + "\n";
  }
  if (!WriteAll(stdout, out)) {
    WriteAll(stderr, "zvcc outbox: the listing could not be written\n");
    return kStatusFailed;
  }
  return 0;
}

int Cancel(const TOutboxOptions& o, const std::string& home) {
  // Only the owner writes the outbox: with one running it is asked, else this
  // process is the owner for the moment of the cancel.
  std::optional<platform::OwnerEndpoint> endpoint = platform::TryBecomeOwner(home);
  if (!endpoint) {
    std::optional<platform::LocalStream> stream = platform::ConnectToOwner(home, kCancelWait);
    if (!stream) throw EZVException("the home's owner does not answer");
    const auto deadline = std::chrono::steady_clock::now() + kCancelWait;
    TOwnerClientStream owner(std::move(*stream));
    owner.Send(EncodeOwnerLine(TOwnerHello{kOwnerWireVersion, TOwnerClientRole::kSend,
                                           static_cast<int64_t>(::getpid()), ""}) +
                   EncodeOwnerLine(o.Cancel),
               deadline);
    while (const std::optional<TOwnerReply> reply = owner.Next(deadline)) {
      if (const auto* done = std::get_if<TOwnerCancelled>(&*reply)) {
        WriteAll(stdout, done->Reason + "\n");
        return done->Done ? 0 : kStatusFailed;
      }
      if (const auto* refused = std::get_if<TOwnerRefused>(&*reply)) {
        throw EZVException(refused->Reason);
      }
    }
    throw EZVException("the home's owner did not answer the cancel");
  }
  TOutbox outbox(TOwnerHost::OutboxPath());
  std::optional<TOutboxPage> withdrawn;
  const TOwnerCancelled answer = CancelPage(outbox, o.Cancel, TOwnerHost::Now(), withdrawn);
  WriteAll(stdout, answer.Reason + "\n");
  return answer.Done ? 0 : kStatusFailed;
}

}  // namespace

int RunOutboxProgram(const std::vector<std::string>& arguments) {
  const TOutboxOptions o = Parse(arguments);
  if (o.Help) return WriteAll(stdout, Usage()) ? 0 : kStatusFailed;
  if (!o.Error.empty()) {
    WriteAll(stderr, "zvcc outbox: " + o.Error + "\nTry 'zvcc outbox --help'.\n");
    return kStatusUsage;
  }
  try {
    SetUpHome(o.Home);
    if (o.Cancel.Number != 0 || o.Cancel.Id != 0) return Cancel(o, platform::HomeFolder());
    return List(o);
  } catch (const std::exception& e) {
    WriteAll(stderr, "zvcc outbox: " + ErrorReport(e) + "\n");
    return kStatusFailed;
  }
}

}  // namespace zv
