#include "console/send_report.h"

#include <nlohmann/json.hpp>

#include "support/text.h"

namespace zv {

std::string OutcomeJson(const TPageOutcome& outcome) {
  // An ordered object keeps the fields in the order a reader expects them.
  nlohmann::ordered_json line;
  line["number"] = outcome.Page.Number;
  line["address"] = outcome.Page.Address;
  line["text"] = outcome.Page.Text;
  switch (outcome.Kind) {
    case TPageOutcomeKind::kResult:
      line["outcome"] = "result";
      line["result"] = outcome.Result;
      line["code"] = outcome.Code;
      break;
    case TPageOutcomeKind::kNotSent:
      line["outcome"] = "not sent";
      line["reason"] = outcome.Reason;
      break;
    case TPageOutcomeKind::kNoResult:
      line["outcome"] = "no result";
      line["reason"] = outcome.Reason;
      break;
  }
  // A server's text is not bound to be UTF-8.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string ProgressText(const TSendCounts& counts) {
  return std::to_string(counts.Sent) + " sent, " + std::to_string(counts.Results) +
         (counts.Results == 1 ? " result, " : " results, ") + std::to_string(counts.Without) +
         " without result";
}

TPage RefusedLinePage(std::string_view head) {
  const std::size_t end = head.find_first_of(",;");
  if (end == std::string_view::npos) return {0, {}, {}};
  return {0, Trim(head.substr(0, end)), {}};
}

int SendExitStatus(const TPageLedger& ledger) {
  return ledger.Answered() == ledger.Total() ? 0 : kSendStatusWithout;
}

}  // namespace zv
