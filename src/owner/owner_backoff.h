// When an owner with pages waiting tries a link that is down again: at once
// the first time, then after a pause that doubles from 1 s up to 60 s, so a
// server that is away for an hour costs it one try a minute, never a storm.
// A link that reached readiness starts the pauses afresh.
#pragma once

#include <cstdint>

namespace zv {

class TOwnerBackoff {
 public:
  static constexpr int64_t kFirstPauseMs = 1000;
  static constexpr int64_t kLongestPauseMs = 60000;

  // True when a try is due at `now`.
  bool Due(int64_t now) const { return now >= FNextTry; }
  // A try was made at `now`: the next one waits the current pause, and the
  // pause after it is longer.
  void Tried(int64_t now);
  // The link was ready: the next try, should it go down, is at once.
  void Reset();
  int64_t NextTry() const { return FNextTry; }
  // The pause before the next try after the one just made.
  int64_t LastPauseMs() const { return FLastPause; }
  int32_t Tries() const { return FTries; }

 private:
  int64_t FNextTry = 0;
  int64_t FPause = kFirstPauseMs;
  int64_t FLastPause = 0;
  int32_t FTries = 0;
};

}  // namespace zv
