#include "console/send_client.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "console/agent_run.h"
#include "console/message_line.h"
#include "outbox/outbox.h"
#include "owner/owner_client.h"
#include "platform/owner_endpoint.h"
#include "platform/spawn_detached.h"
#include "platform/terminal.h"
#include "support/text.h"

namespace zv {
namespace {

using Clock = std::chrono::steady_clock;

// How long a started agent may take to answer on its socket.
constexpr std::chrono::seconds kAgentStartWait{10};
constexpr std::chrono::milliseconds kConnectWait{2000};
// The agent "zvcc send" starts leaves after this long with nothing to do.
constexpr std::chrono::minutes kAgentIdle{10};
// The run stops waiting this long before its time-out, to tell the outcomes.
constexpr std::chrono::milliseconds kEndMargin{50};

bool WriteAll(std::FILE* stream, const std::string& text) {
  return std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
}

int64_t WallNow() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A key for a page its sender gave none: unique to this run and page, so the
// run can ask for its page again after the owner changed, never paging twice.
std::string RunKey(int64_t seq) {
  static const std::string run = "zvcc-send:" + std::to_string(::getpid()) + ":" +
                                 std::to_string(WallNow());
  return run + ":" + std::to_string(seq);
}

// One run's talk with the owner: connects (starting the agent when none
// runs), hands over the pages without an outcome and reads until every page
// has one, the owner hands over (then again), or the deadline.
class TClientRun {
 public:
  TClientRun(const TSendOptions& options, const std::string& home,
             std::vector<TClientPage>& pages, Clock::time_point started)
      : FOptions(options), FHome(home), FPages(pages),
        FDeadline(started + options.Timeout - kEndMargin) {}

  // False when the run could not reach any owner; FError says why.
  bool Run() {
    while (Open() < FPages.size() && Clock::now() < FDeadline) {
      std::optional<platform::LocalStream> stream = Connect();
      if (!stream) return false;
      if (!Talk(std::move(*stream))) return !FOutputFailed;
      // The owner went (it handed over, or died): its successor needs a moment
      // to take the home, and a tight loop would only spin.
      ::usleep(50'000);
    }
    return true;
  }

  const std::string& Error() const { return FError; }
  bool Refused() const { return FRefused; }
  bool OutputFailed() const { return FOutputFailed; }

 private:
  std::size_t Open() const {
    std::size_t done = 0;
    for (const TClientPage& p : FPages) done += p.Final ? 1 : 0;
    return done;
  }

  std::chrono::milliseconds Left() const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(FDeadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
  }

  std::optional<platform::LocalStream> Connect() {
    bool started = false;
    const auto startBy = Clock::now() + kAgentStartWait;
    while (true) {
      try {
        if (auto s = platform::ConnectToOwner(FHome, std::min(kConnectWait, Left()))) return s;
      } catch (const std::exception& e) {
        FError = e.what();
        return std::nullopt;
      }
      if (!started) {
        try {
          platform::SpawnDetached(platform::OwnProgramFile(),
                                  AgentArguments(FHome, FOptions.Run, kAgentIdle));
        } catch (const std::exception& e) {
          FError = e.what();
          return std::nullopt;
        }
        started = true;
      }
      if (Clock::now() >= startBy || Clock::now() >= FDeadline) {
        FError = "the agent of this home did not answer within " +
                 std::to_string(kAgentStartWait.count()) + " s";
        return std::nullopt;
      }
      ::usleep(20'000);
    }
  }

  // False when the run is over (every page has its outcome, the deadline, or
  // an owner that refused it); true when the owner went and another is to be
  // found.
  bool Talk(platform::LocalStream stream) {
    std::string out = EncodeOwnerLine(TOwnerHello{kOwnerWireVersion, TOwnerClientRole::kSend,
                                                  static_cast<int64_t>(::getpid()),
                                                  TZVSystemConsole::LinkText(FOptions.Run)});
    for (TClientPage& p : FPages) {
      if (!p.Final) out += EncodeOwnerLine(p.Wire);
    }
    out += EncodeOwnerLine(TOwnerEnd{});
    TOwnerClientStream owner(std::move(stream));
    // Should the owner go, or the time run out, what it said before (a
    // refusal, say) is still read.
    owner.Send(out, FDeadline);
    while (Open() < FPages.size()) {
      const std::optional<TOwnerReply> reply = owner.Next(FDeadline);
      if (!reply) return owner.Ended() && Clock::now() < FDeadline;
      if (!Handle(*reply)) return false;
    }
    return false;
  }

  // False when the owner refused the run.
  bool Handle(const TOwnerReply& reply) {
    if (const auto* accepted = std::get_if<TOwnerAccepted>(&reply)) {
      if (TClientPage* p = BySeq(accepted->Seq)) {
        p->Accepted = true;
        p->Id = accepted->Id;
        FExpires[accepted->Seq] = accepted->Expires;
      }
    } else if (const auto* outcome = std::get_if<TOwnerOutcome>(&reply)) {
      TClientPage* p = BySeq(outcome->Seq);
      if (p != nullptr && !p->Final && outcome->Outcome != TOwnerPageOutcome::kQueued) {
        p->Final = true;
        p->Outcome = *outcome;
        // The run's own words for its page, whatever the owner had.
        p->Outcome.Address = p->Wire.Address;
        p->Outcome.Text = p->Wire.Text;
        Tell(p->Outcome);
      }
    } else if (const auto* refused = std::get_if<TOwnerRefused>(&reply)) {
      FError = refused->Reason;
      FRefused = true;
      return false;
    }
    return true;
  }

  TClientPage* BySeq(int64_t seq) {
    if (seq < 1 || static_cast<std::size_t>(seq) > FPages.size()) return nullptr;
    return &FPages[static_cast<std::size_t>(seq - 1)];
  }

 public:
  void Tell(const TOwnerOutcome& outcome) {
    const std::string line =
        FOptions.Json ? ClientOutcomeJson(outcome) : VisibleText(ClientOutcomeText(outcome));
    if (!WriteAll(stdout, line + "\n")) FOutputFailed = true;
  }

  // The pages still waiting once the run ends are held by the owner and go
  // out later: each is told as queued, with until when it is tried.
  void TellQueued(const std::string& why) {
    for (TClientPage& p : FPages) {
      if (p.Final) continue;
      p.Final = true;
      p.Outcome.Seq = p.Wire.Seq;
      p.Outcome.Id = p.Id;
      p.Outcome.Address = p.Wire.Address;
      p.Outcome.Text = p.Wire.Text;
      if (!p.Accepted || FRefused) {
        p.Outcome.Outcome = TOwnerPageOutcome::kNotSent;
        p.Outcome.Reason = why;
      } else {
        p.Outcome.Outcome = TOwnerPageOutcome::kQueued;
        const auto expires = FExpires.find(p.Wire.Seq);
        p.Outcome.Reason =
            why + "; it waits in the outbox and is tried until " +
            (expires != FExpires.end() && expires->second > 0 ? OutboxTimeText(expires->second)
                                                              : std::string("its age limit"));
      }
      Tell(p.Outcome);
    }
  }

 private:
  const TSendOptions& FOptions;
  const std::string FHome;
  std::vector<TClientPage>& FPages;
  const Clock::time_point FDeadline;
  std::map<int64_t, int64_t> FExpires;
  std::string FError;
  bool FRefused = false;
  bool FOutputFailed = false;
};

}  // namespace

std::vector<TInputLine> ReadInputLines(int fd, std::size_t maxBytes) {
  std::vector<TInputLine> lines;
  TInputLine current;
  std::array<char, 65536> buffer{};
  while (true) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[static_cast<std::size_t>(i)];
      if (c == '\n') {
        if (!current.Text.empty() && current.Text.back() == '\r') current.Text.pop_back();
        lines.push_back(std::move(current));
        current = TInputLine{};
      } else if (current.Text.size() < maxBytes) {
        current.Text += c;
      } else {
        current.TooLong = true;
      }
    }
  }
  if (!current.Text.empty() || current.TooLong) lines.push_back(std::move(current));
  return lines;
}

std::vector<TClientPage> PagesOfRun(const TSendOptions& options,
                                    const std::vector<TInputLine>& lines) {
  std::vector<TClientPage> pages;
  auto add = [&](const TMessageLine& m) {
    TClientPage p;
    p.Wire.Seq = static_cast<int64_t>(pages.size()) + 1;
    p.Wire.Address = m.Address;
    p.Wire.Text = m.Text;
    p.Wire.Carrier = m.Carrier.empty() && options.Run.Carrier ? std::to_string(*options.Run.Carrier)
                                                             : m.Carrier;
    p.Wire.Priority = m.Priority.empty() && options.Run.Priority
                          ? std::to_string(*options.Run.Priority)
                          : m.Priority;
    p.Wire.Subject = m.Subject.empty() && options.Run.Subject ? *options.Run.Subject : m.Subject;
    p.Wire.Age = m.Age.empty() && options.Run.Age ? std::to_string(*options.Run.Age) : m.Age;
    p.Wire.Source = "send";
    if (!options.Key.empty()) {
      p.Wire.Key = options.FromInput ? options.Key + "#" + std::to_string(p.Wire.Seq) : options.Key;
    } else {
      p.Wire.Key = RunKey(p.Wire.Seq);
    }
    if (!m.Error.empty()) {
      p.Final = true;
      p.Outcome.Seq = p.Wire.Seq;
      p.Outcome.Address = m.Address;
      p.Outcome.Text = m.Text;
      p.Outcome.Outcome = TOwnerPageOutcome::kNotSent;
      p.Outcome.Reason = m.Error;
    }
    pages.push_back(std::move(p));
  };
  if (!options.FromInput) {
    TMessageLine m;
    m.Address = options.Address;
    m.Text = options.Text;
    add(m);
    return pages;
  }
  for (const TInputLine& line : lines) {
    if (line.TooLong) {
      TMessageLine m;
      m.Address = line.Text.substr(0, 40);
      m.Error = "the line is longer than the limit of " +
                std::to_string(platform::kMaxLineBytes) + " bytes";
      add(m);
      continue;
    }
    if (Trim(line.Text).empty()) continue;
    add(ParseMessageLine(line.Text));
  }
  return pages;
}

std::string ClientOutcomeJson(const TOwnerOutcome& outcome) {
  nlohmann::ordered_json line;
  line["number"] = outcome.Number;
  line["address"] = outcome.Address;
  line["text"] = outcome.Text;
  line["outcome"] = std::string(OwnerPageOutcomeText(outcome.Outcome));
  if (outcome.Outcome == TOwnerPageOutcome::kResult) {
    line["result"] = outcome.Result;
    line["code"] = outcome.Code;
  } else {
    line["reason"] = outcome.Reason;
  }
  if (outcome.Attempts > 1) line["attempts"] = outcome.Attempts;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string ClientOutcomeText(const TOwnerOutcome& o) {
  const std::string page = "Message " + std::to_string(o.Number) + " to \"" + o.Address + "\"";
  const std::string again =
      o.Attempts > 1 ? " (sent " + std::to_string(o.Attempts) + " times)" : std::string();
  switch (o.Outcome) {
    case TOwnerPageOutcome::kResult:
      return "Message Result: " + o.Result + again + "\n" + std::to_string(o.Number) + ", " +
             o.Address + ", " + o.Text;
    case TOwnerPageOutcome::kNotSent:
      return (o.Number == 0 ? "The message to \"" + o.Address + "\"" : page) +
             " was not sent: " + o.Reason;
    case TOwnerPageOutcome::kNoResult:
      return page + ": no result: " + o.Reason + again;
    case TOwnerPageOutcome::kQueued:
      return page + " is queued: " + o.Reason;
    case TOwnerPageOutcome::kExpired:
      return page + " expired: " + o.Reason;
    case TOwnerPageOutcome::kCancelled:
      return page + " was cancelled";
  }
  return page;
}

std::string ClientSummary(const std::vector<TClientPage>& pages) {
  int results = 0;
  std::string without;
  std::string queued;
  int withoutCount = 0;
  int queuedCount = 0;
  auto add = [](std::string& list, int32_t number) {
    if (number == 0) return;
    if (!list.empty()) list += ", ";
    list += std::to_string(number);
  };
  for (const TClientPage& p : pages) {
    if (p.Outcome.Outcome == TOwnerPageOutcome::kResult && p.Final) {
      ++results;
    } else if (p.Outcome.Outcome == TOwnerPageOutcome::kQueued) {
      ++queuedCount;
      add(queued, p.Outcome.Number);
    } else {
      ++withoutCount;
      add(without, p.Outcome.Number);
    }
  }
  std::string s = std::to_string(pages.size()) +
                  (pages.size() == 1 ? " message: " : " messages: ") + std::to_string(results) +
                  " with a result, " + std::to_string(withoutCount) + " without";
  if (!without.empty()) s += " (" + without + ")";
  if (queuedCount > 0) {
    s += ", " + std::to_string(queuedCount) + " queued";
    if (!queued.empty()) s += " (" + queued + ")";
  }
  return s;
}

int ClientExitStatus(const std::vector<TClientPage>& pages) {
  bool queued = false;
  for (const TClientPage& p : pages) {
    if (p.Outcome.Outcome == TOwnerPageOutcome::kQueued) {
      queued = true;
    } else if (!p.Final || p.Outcome.Outcome != TOwnerPageOutcome::kResult) {
      return 3;
    }
  }
  return queued ? kSendStatusQueued : 0;
}

int RunSendThroughOwner(const TSendOptions& options, const std::string& home,
                        std::vector<TClientPage>& pages, Clock::time_point started) {
  TClientRun run(options, home, pages, started);
  for (const TClientPage& p : pages) {
    if (p.Final) run.Tell(p.Outcome);  // lines refused before any owner saw them
  }
  const bool reached = run.Run();
  std::string why;
  if (run.Refused()) {
    why = "the home's owner refused it: " + run.Error();
  } else if (reached) {
    why = "the time-out of " + std::to_string(options.Timeout.count()) + " s passed";
  } else {
    why = "no owner of the home could take it (" + run.Error() + ")";
  }
  run.TellQueued(why);
  if (!pages.empty()) WriteAll(stderr, ClientSummary(pages) + "\n");
  if (run.OutputFailed()) {
    WriteAll(stderr, "zvcc send: the outcomes could not be written to standard output\n");
    return 1;
  }
  return ClientExitStatus(pages);
}

}  // namespace zv
