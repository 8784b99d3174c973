// What "zvcc send" reports: each page's outcome as a JSON line, the progress
// line of a long batch and the exit status of the run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "console/page_ledger.h"

namespace zv {

// One JSON object without a line end: number, address, text, outcome
// ("result", "not sent" or "no result"), then result and code for a result,
// reason otherwise. Bytes that are not UTF-8 are replaced, never refused.
std::string OutcomeJson(const TPageOutcome& outcome);

// The counts of a run so far.
struct TSendCounts {
  int32_t Sent = 0;     // taken by the link
  int32_t Results = 0;  // answered
  int32_t Without = 0;  // not sent or ended without a result
};
// "12 sent, 10 results, 1 without result".
std::string ProgressText(const TSendCounts& counts);

// The page of a message line refused as too long, known by its first bytes:
// numbered 0, its address the first field where the head holds a separator.
TPage RefusedLinePage(std::string_view head);

// 0 when every page of the run got a result, 3 otherwise.
int SendExitStatus(const TPageLedger& ledger);
inline constexpr int kSendStatusFailed = 1;
inline constexpr int kSendStatusUsage = 2;
inline constexpr int kSendStatusWithout = 3;

}  // namespace zv
