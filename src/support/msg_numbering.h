// The message numbers of a settings folder, handed out from blocks reserved
// in the settings file: the stored value (LastMsgNo) is at or beyond every
// number handed out, so numbers never repeat after the program is killed at
// any moment, at the cost of a gap of at most one block. Only a block's
// reservation rewrites the file (and, after one could not be saved, each
// number until a save succeeds); a clean exit (PrepareExitSave, then the
// save) writes back the true last number, so an ordinary restart goes on
// without a gap.
//
// Several processes may share the folder: a block is reserved under the
// settings file's lock, after the value the file holds at that moment (see
// TDataAccess::ShareSaves), and no save of this process ever lowers the value
// below one another process may have reserved.
//
// Numbers run from 1 to kLastNumber; the number after kLastNumber is 1.
// Thread safety: every member may be called on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/thread_annotations.h"
#include "support/ini_store.h"

namespace zv {

class TMsgNumbering {
 public:
  using TWarningSink = std::function<void(const std::string& line)>;

  static constexpr int32_t kLastNumber = 2147483646;
  // A process's first kSteadyBlocks blocks hold kBlockSize numbers each; each
  // later one twice the one before, up to kMaxBlockSize: a long batch rewrites
  // the file a dozen times, not once per 32 pages, and a kill skips at most
  // one block.
  static constexpr int32_t kBlockSize = 32;
  static constexpr int32_t kSteadyBlocks = 4;
  static constexpr int32_t kMaxBlockSize = 1024;

  // Takes part in every save of the settings store while it lives (one
  // numbering per store). Hands out nothing until Load.
  TMsgNumbering(std::string section, std::string key);
  ~TMsgNumbering();
  TMsgNumbering(const TMsgNumbering&) = delete;
  TMsgNumbering& operator=(const TMsgNumbering&) = delete;

  // Where the one-line warnings go (a value out of range, a block that could
  // not be saved). Called on the thread that meets the problem, with no lock
  // of this object held; without a sink they are dropped.
  void SetWarningSink(TWarningSink sink);

  // Reads the last number from the store; a value outside 0..kLastNumber is
  // reported and taken as 0.
  void Load();

  // The next number. When the block is used up, a new one is reserved and
  // saved first; a block that cannot be saved is used all the same (numbering
  // goes on, with one warning until a save succeeds again), and every number
  // after it tries the save again until one succeeds.
  int32_t Next();

  // The last number handed out.
  int32_t Last() const;

  // The next save of the store writes the true last number, unless another
  // process reserved beyond this one's block meanwhile. For the clean exit.
  void PrepareExitSave();

  // The numbering's part of a shared save (see TDataAccess::ShareSaves), for
  // an owner that puts a merge of its own in place of the numbering's.
  void Merge(const TIniStore& onDisk);

 private:
  void Warn(const std::string& line);
  // The size of the block being reserved now, counting it.
  int32_t NextBlockSize() REQUIRES(FStateLock);

  const std::string FSection;
  const std::string FKey;
  platform::Mutex FDrawLock;  // one thread draws (and reserves) at a time
  mutable platform::Mutex FStateLock;
  int32_t FLast GUARDED_BY(FStateLock) = 0;    // the last number handed out
  int32_t FLimit GUARDED_BY(FStateLock) = 0;   // the last number of the reserved block
  int32_t FBlocks GUARDED_BY(FStateLock) = 0;  // blocks this process has reserved
  bool FLoaded GUARDED_BY(FStateLock) = false;
  bool FReserving GUARDED_BY(FStateLock) = false;
  bool FExitSave GUARDED_BY(FStateLock) = false;
  bool FSaveFailing GUARDED_BY(FDrawLock) = false;  // warned; quiet until a save succeeds
  platform::Mutex FSinkLock;
  TWarningSink FSink GUARDED_BY(FSinkLock);
};

}  // namespace zv
