#include "support/msg_numbering.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "support/data_access.h"
#include "support/int_text.h"
#include "support/setting_check.h"

namespace zv {
namespace {

constexpr int32_t kCycle = TMsgNumbering::kLastNumber;

// Numbers on the cycle 1..kLastNumber, with 0 (nothing handed out yet) at the
// place of kLastNumber: both are followed by 1.
int64_t Place(int32_t number) { return number % kCycle; }

// The later of two last numbers: the one the other reaches in less than half
// the cycle. `a` on a tie.
int32_t Later(int32_t a, int32_t b) {
  const int64_t ahead = (Place(b) - Place(a) + kCycle) % kCycle;
  return ahead != 0 && ahead < kCycle / 2 ? b : a;
}

// The number `count` places after `number`.
int32_t Advance(int32_t number, int32_t count) {
  return static_cast<int32_t>((Place(number) + count - 1) % kCycle + 1);
}

// What the file holds; a value the numbering would not load counts as none.
int32_t StoredLast(const TIniStore& onDisk, const std::string& section, const std::string& key) {
  const auto text = onDisk.Value(section, key);
  if (!text) return 0;
  const auto value = TryStrToInt(*text);
  return value && *value >= 0 && *value <= kCycle ? *value : 0;
}

}  // namespace

TMsgNumbering::TMsgNumbering(std::string section, std::string key)
    : FSection(std::move(section)), FKey(std::move(key)) {
  TDataAccess::ShareSaves([this](const TIniStore& onDisk) { Merge(onDisk); });
}

TMsgNumbering::~TMsgNumbering() { TDataAccess::ShareSaves(nullptr); }

void TMsgNumbering::SetWarningSink(TWarningSink sink) {
  platform::MutexLock lock(FSinkLock);
  FSink = std::move(sink);
}

void TMsgNumbering::Load() {
  std::string warning;
  const int32_t last = ReadCheckedInt(FSection, {FKey, 0, 0, kLastNumber}, warning);
  {
    platform::MutexLock lock(FStateLock);
    FLoaded = true;
    FLast = last;
    FLimit = last;  // no block of this process yet: the first number reserves one
  }
  if (!warning.empty()) Warn(warning);
}

int32_t TMsgNumbering::Next() {
  platform::MutexLock draw(FDrawLock);
  bool loaded = false;
  {
    platform::MutexLock lock(FStateLock);
    loaded = FLoaded;
  }
  if (!loaded) Load();
  {
    platform::MutexLock lock(FStateLock);
    if (FLast != FLimit) {
      // While saves fail, every number tries again: the first save that
      // succeeds records the blocks taken meanwhile, so that a kill after it
      // repeats nothing.
      if (!FSaveFailing) return FLast = Advance(FLast, 1);
    } else {
      FReserving = true;  // the next save's merge reserves the block
    }
  }
  std::string warning;
  try {
    TDataAccess::SaveIniNow(TDataAccess::TFlush::kToSystem);
    FSaveFailing = false;
  } catch (const std::exception& e) {
    if (!FSaveFailing) {
      FSaveFailing = true;
      warning = std::string("Message numbers could not be saved (") + e.what() +
                "); numbering goes on, but a number may repeat if zvcc is killed before a save "
                "succeeds";
    }
  }
  int32_t number = 0;
  {
    platform::MutexLock lock(FStateLock);
    if (FReserving) {
      // No save got as far as the merge: the block is taken in memory only.
      FReserving = false;
      FLimit = Advance(FLast, NextBlockSize());
      TDataAccess::WriteToIni(FSection, FKey, FLimit);
    }
    number = FLast = Advance(FLast, 1);
  }
  if (!warning.empty()) Warn(warning);
  return number;
}

int32_t TMsgNumbering::Last() const {
  platform::MutexLock lock(FStateLock);
  return FLast;
}

void TMsgNumbering::PrepareExitSave() {
  platform::MutexLock lock(FStateLock);
  FExitSave = true;
}

// Runs under the settings file's lock, on whichever thread saves.
void TMsgNumbering::Merge(const TIniStore& onDisk) {
  const int32_t onFile = StoredLast(onDisk, FSection, FKey);
  int32_t value = 0;
  {
    platform::MutexLock lock(FStateLock);
    if (!FLoaded) return;  // the store's value is still the file's
    if (FReserving) {
      // After everything handed out here and everything reserved anywhere;
      // the numbers in between belong to other processes.
      FReserving = false;
      FLast = Later(FLast, onFile);
      FLimit = Advance(FLast, NextBlockSize());
      value = FLimit;
    } else if (FExitSave) {
      FExitSave = false;
      if (Later(FLimit, onFile) == FLimit) {
        // Nobody reserved beyond this block: the rest of it is given back.
        FLimit = FLast;
        value = FLast;
      } else {
        value = onFile;
      }
    } else {
      value = Later(FLimit, onFile);
    }
  }
  if (value == 0 && !onDisk.Value(FSection, FKey)) return;  // nothing to keep yet
  TDataAccess::WriteToIni(FSection, FKey, value);
}

int32_t TMsgNumbering::NextBlockSize() {
  const int32_t doublings = ++FBlocks - kSteadyBlocks;
  if (doublings <= 0) return kBlockSize;
  if (doublings >= 6) return kMaxBlockSize;  // 32 << 5 already is
  return std::min(kMaxBlockSize, kBlockSize << doublings);
}

void TMsgNumbering::Warn(const std::string& line) {
  TWarningSink sink;
  {
    platform::MutexLock lock(FSinkLock);
    sink = FSink;
  }
  if (sink) sink(line);
}

}  // namespace zv
