// TPageLedger: the outcome of every message line of a run. A page the link
// took is outstanding until its result arrives or its fate is otherwise known
// (refused, unanswered, the link ended); each page's outcome counts once.
// It knows nothing of the link or the screen: the console tells it what
// happened and prints what it answers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

struct TPage {
  int32_t Number = 0;
  std::string Address;
  std::string Text;
  // A page of the home's outbox (another sender's), sent through this
  // console's link: its outcome goes to the owner, and it counts in none of
  // this run's figures.
  bool Foreign = false;
};

enum class TPageOutcomeKind { kResult, kNotSent, kNoResult };

// How one page ended, as told to the ledger's observer.
struct TPageOutcome {
  TPage Page;
  TPageOutcomeKind Kind = TPageOutcomeKind::kResult;
  std::string Result;  // kResult: the server's result text
  int32_t Code = 0;    // kResult: the server's send result
  std::string Reason;  // otherwise: why there is no result
  bool LinkEnded = false;  // kNoResult: the link ended before its result
};

class TPageLedger {
 public:
  // Called once for every page whose outcome becomes known, when it does.
  using TObserver = std::function<void(const TPageOutcome&)>;
  void SetObserver(TObserver observer) { FObserver = std::move(observer); }
  // Told the outcomes of the foreign pages (and only those).
  void SetForeignObserver(TObserver observer) { FForeignObserver = std::move(observer); }

  // The link took the page: it waits for its outcome.
  void Sent(TPage page);
  // A line that ended without reaching the server: refused by the console or
  // the link. The page's number is 0 for a line refused before it was
  // numbered.
  void NotSent(TPage page, std::string reason);

  // The outstanding page a message result answers, taken off the list and
  // counted as answered; none when the result answers no page (another
  // console's, a stray or hostile one): such a result satisfies nothing.
  //
  // A reply that carries a number (not 0) names its page: the outstanding
  // page of that number, unless the reply's address or text contradicts it;
  // then it answers nothing. A reply whose number is no outstanding page's
  // may still answer the oldest page with its very address and text. Only a
  // reply without a number falls back further, to the oldest page with its
  // address (its text may differ).
  //
  // An empty `address` means the reply carried no field list: neither its
  // address nor its `text` (over TCP/IP the whole reply body then) is
  // compared. A text agrees with the page's when it is equal, empty, or the
  // page's text cut short (a carrier may shorten a text).
  std::optional<TPage> MatchResult(int32_t transactionId, std::string_view address,
                                   std::string_view text, std::string_view resultText = {},
                                   int32_t resultCode = 0);
  // The outstanding page `number`, taken off the list and counted as ended
  // without a result (`kind` kNotSent when the link never sent it); none when
  // it is not outstanding.
  std::optional<TPage> EndWithoutResult(int32_t number, TPageOutcomeKind kind, std::string reason);
  // Every outstanding page, oldest first, taken off the list and counted as
  // ended without a result (LinkEnded). Answers this run's own pages.
  std::vector<TPage> EndAll(const std::string& reason);

  // This run's own pages still waiting (foreign ones are the owner's to count).
  std::size_t Outstanding() const { return FOutstanding.size() - FForeignOutstanding; }
  // Pages of the run: sent, answered, and those that ended otherwise.
  int32_t Total() const { return FTotal; }
  int32_t Answered() const { return FAnswered; }
  // Pages that never reached the server.
  int32_t NotSentCount() const { return FNotSent; }
  bool AnyWithout() const { return FTotal - FAnswered - static_cast<int32_t>(Outstanding()) > 0; }
  // "3 messages: 2 with a result, 1 without (15)"; pages still outstanding
  // count as without.
  std::string Summary() const;

  // "12, 15": the numbers of `pages`.
  static std::string NumberList(const std::vector<TPage>& pages);

 private:
  std::optional<TPage> Take(std::deque<TPage>::iterator it, TPageOutcome outcome);
  void Tell(TPageOutcome outcome) const;

  std::deque<TPage> FOutstanding;  // oldest first
  std::size_t FForeignOutstanding = 0;
  std::vector<int32_t> FWithout;   // numbered pages that ended without a result
  int32_t FTotal = 0;
  int32_t FAnswered = 0;
  int32_t FNotSent = 0;
  TObserver FObserver;
  TObserver FForeignObserver;
};

}  // namespace zv
