#include "console/page_ledger.h"

#include <algorithm>
#include <utility>

namespace zv {

void TPageLedger::Sent(TPage page) {
  if (page.Foreign) {
    ++FForeignOutstanding;
  } else {
    ++FTotal;
  }
  FOutstanding.push_back(std::move(page));
}

void TPageLedger::NotSent(TPage page, std::string reason) {
  ++FTotal;
  ++FNotSent;
  if (page.Number != 0) FWithout.push_back(page.Number);
  Tell({std::move(page), TPageOutcomeKind::kNotSent, {}, 0, std::move(reason)});
}

void TPageLedger::Tell(TPageOutcome outcome) const {
  const TObserver& observer = outcome.Page.Foreign ? FForeignObserver : FObserver;
  if (observer) observer(outcome);
}

std::optional<TPage> TPageLedger::Take(std::deque<TPage>::iterator it, TPageOutcome outcome) {
  if (it == FOutstanding.end()) return std::nullopt;
  TPage page = std::move(*it);
  FOutstanding.erase(it);
  if (page.Foreign) {
    --FForeignOutstanding;
  } else if (outcome.Kind == TPageOutcomeKind::kResult) {
    ++FAnswered;
  } else {
    if (outcome.Kind == TPageOutcomeKind::kNotSent) ++FNotSent;
    FWithout.push_back(page.Number);
  }
  outcome.Page = page;
  Tell(std::move(outcome));
  return page;
}

namespace {

// The number of a reply that carries none.
constexpr int32_t kNoNumber = 0;

bool Agrees(const TPage& page, std::string_view address, std::string_view text) {
  if (address.empty()) return true;  // no field list to compare
  if (address != page.Address) return false;
  return std::string_view(page.Text).substr(0, text.size()) == text;
}

}  // namespace

std::optional<TPage> TPageLedger::MatchResult(int32_t transactionId, std::string_view address,
                                              std::string_view text, std::string_view resultText,
                                              int32_t resultCode) {
  const TPageOutcome answered{
      {}, TPageOutcomeKind::kResult, std::string(resultText), resultCode, {}};
  if (transactionId != kNoNumber) {
    const auto it = std::find_if(FOutstanding.begin(), FOutstanding.end(),
                                 [&](const TPage& p) { return p.Number == transactionId; });
    if (it != FOutstanding.end()) {
      if (!Agrees(*it, address, text)) return std::nullopt;
      return Take(it, answered);
    }
  }
  if (address.empty()) return std::nullopt;
  auto it = std::find_if(FOutstanding.begin(), FOutstanding.end(),
                         [&](const TPage& p) { return p.Address == address && p.Text == text; });
  if (it == FOutstanding.end() && transactionId == kNoNumber) {
    it = std::find_if(FOutstanding.begin(), FOutstanding.end(),
                      [&](const TPage& p) { return p.Address == address; });
  }
  return Take(it, answered);
}

std::optional<TPage> TPageLedger::EndWithoutResult(int32_t number, TPageOutcomeKind kind,
                                                   std::string reason) {
  return Take(std::find_if(FOutstanding.begin(), FOutstanding.end(),
                           [&](const TPage& p) { return p.Number == number; }),
              {{}, kind, {}, 0, std::move(reason)});
}

std::vector<TPage> TPageLedger::EndAll(const std::string& reason) {
  std::deque<TPage> outstanding = std::move(FOutstanding);
  FOutstanding.clear();
  FForeignOutstanding = 0;
  std::vector<TPage> ended;
  for (TPage& page : outstanding) {
    if (!page.Foreign) {
      FWithout.push_back(page.Number);
      ended.push_back(page);
    }
    Tell({std::move(page), TPageOutcomeKind::kNoResult, {}, 0, reason, true});
  }
  return ended;
}

std::string TPageLedger::NumberList(const std::vector<TPage>& pages) {
  std::string list;
  for (const TPage& page : pages) {
    if (!list.empty()) list += ", ";
    list += std::to_string(page.Number);
  }
  return list;
}

std::string TPageLedger::Summary() const {
  std::vector<int32_t> without = FWithout;
  for (const TPage& page : FOutstanding) without.push_back(page.Number);
  std::sort(without.begin(), without.end());
  const int32_t withoutCount = FTotal - FAnswered;
  std::string text = std::to_string(FTotal) + (FTotal == 1 ? " message: " : " messages: ") +
                     std::to_string(FAnswered) + " with a result, " + std::to_string(withoutCount) +
                     " without";
  if (!without.empty()) {
    text += " (";
    for (std::size_t i = 0; i < without.size(); ++i) {
      if (i > 0) text += ", ";
      text += std::to_string(without[i]);
    }
    text += ")";
  }
  return text;
}

}  // namespace zv
