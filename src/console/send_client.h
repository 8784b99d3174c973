// "zvcc send" as a client of its home's owner: it hands its pages to the
// process that holds the home's server login (an open console or the agent),
// which keeps them in the outbox, and waits for each page's outcome, telling
// them as a direct run does (text or JSON lines, the summary, the status).
//
// When no owner runs it starts the agent in the background and hands its
// pages to it; with --no-agent it becomes the owner for its own run instead,
// serving any other send that comes meanwhile, and ends when their pages have
// their outcomes. An owner that ends or dies while the run waits is found
// again (or its successor): the pages are in the outbox, and the run asks
// for them again under their keys, so none is paged twice for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console/send_options.h"
#include "owner/owner_wire.h"

namespace zv {

// One page of the run, as the run knows it.
struct TClientPage {
  TOwnerPage Wire;
  bool Accepted = false;
  bool Final = false;  // its outcome is known
  int64_t Id = 0;
  TOwnerOutcome Outcome;
};

// Message lines of standard input (or `fd`), each without its line end; a
// line longer than `maxBytes` is kept as its first bytes with TooLong set.
struct TInputLine {
  std::string Text;
  bool TooLong = false;
};
std::vector<TInputLine> ReadInputLines(int fd, std::size_t maxBytes);

// The pages of a run, read from the command line or from message lines.
// Lines that are no pages are outcomes already ("not sent", number 0).
std::vector<TClientPage> PagesOfRun(const TSendOptions& options,
                                    const std::vector<TInputLine>& lines);

// The JSON line of one outcome (no line end): the fields of a direct run,
// "attempts" when the page went out more than once.
std::string ClientOutcomeJson(const TOwnerOutcome& outcome);
// The console's line for one outcome.
std::string ClientOutcomeText(const TOwnerOutcome& outcome);
// "3 messages: 2 with a result, 1 without (15)", and ", 1 queued (16)".
std::string ClientSummary(const std::vector<TClientPage>& pages);
// 0 every page got its result; 3 one was not sent, got no result or expired;
// 4 otherwise (some are still queued and will go out).
int ClientExitStatus(const std::vector<TClientPage>& pages);
inline constexpr int kSendStatusQueued = 4;

// Runs the send of `pages` through the owner of `home` (the home's folder):
// tells each outcome as it comes, the summary at the end, and answers the
// exit status.
int RunSendThroughOwner(const TSendOptions& options, const std::string& home,
                        std::vector<TClientPage>& pages,
                        std::chrono::steady_clock::time_point started);

}  // namespace zv
