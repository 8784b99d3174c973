#include "owner/owner_backoff.h"

#include <algorithm>

namespace zv {

void TOwnerBackoff::Tried(int64_t now) {
  FLastPause = FPause;
  FNextTry = now + FPause;
  FPause = std::min(FPause * 2, kLongestPauseMs);
  ++FTries;
}

void TOwnerBackoff::Reset() {
  FNextTry = 0;
  FPause = kFirstPauseMs;
  FLastPause = 0;
  FTries = 0;
}

}  // namespace zv
